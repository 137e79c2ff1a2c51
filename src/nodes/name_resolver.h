#pragma once
#include <atomic>
#include <functional>
#include <string>

namespace tessel {

// Starts one host-name resolution pass on a new detached thread (main loop, every 26 frames).
void startResolverThread();
// One pass over the node list; a second pass while one runs returns at once. Never holds the
// node-list lock during a look-up.
void resolvePendingNames();

// 1 while a pass runs.
extern std::atomic<int> resolverBusy;

// Reverse look-up of a dotted IPv4 address: the host's official name, or the empty text when
// there is none. Called on the resolver thread; may block.
using ReverseLookup = std::function<std::string(const std::string& address)>;
// getnameinfo with NI_NAMEREQD.
std::string systemReverseLookup(const std::string& address);
// Replaces the look-up (tests); an empty function restores systemReverseLookup. Set it while no
// pass runs.
void setReverseLookup(ReverseLookup lookup);

}  // namespace tessel
