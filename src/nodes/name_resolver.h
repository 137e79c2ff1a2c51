#pragma once
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "nodes/host_locator.h"

namespace tessel {

class cNodeManager;

// Reverse look-up of an address: the host's official name, or the empty text when there is
// none. Called on the resolver thread; may block.
using ReverseLookup = std::function<std::string(const std::string& address)>;
// getnameinfo with NI_NAMEREQD.
std::string systemReverseLookup(const std::string& address);

// The resolver: one long-lived thread ("tessel-resolve") that gives the node list's foreign nodes
// their host names and, when it has a location look-up, their country and network. Owned by the run
// (runTessel) and woken by the render loop every 26 frames; the main thread never waits on a
// look-up. Never holds the node list's lock during a look-up.
class cNameResolver {
  public:
    // `nodes` outlives the resolver. `lookup` is the look-up to use (tests inject one, so that no
    // query leaves the process). `locate` (may be empty: no locations) is the run's
    // cHostLocator, or a test's stand-in; what it uses outlives the resolver. The thread starts
    // with start().
    explicit cNameResolver(cNodeManager& nodes, ReverseLookup lookup = systemReverseLookup,
                           LocationLookup locate = LocationLookup());
    // Stops and joins the thread.
    ~cNameResolver();
    cNameResolver(const cNameResolver&) = delete;
    cNameResolver& operator=(const cNameResolver&) = delete;

    // Starts the thread (main thread). False when no thread could be had: then no names are
    // looked up, and the rest of the program runs on.
    bool start();
    // Asks for a pass (main thread, every 26 frames). Returns at once; a request made while a
    // pass runs is served by one more pass after it.
    void wake();
    // Stops and joins the thread (main thread, at shutdown). The worker looks at the stop between
    // look-ups, so the join waits for at most the one look-up under way: getnameinfo cannot be
    // cancelled, and is bounded by the system resolver's own time-outs (resolv.conf's timeout
    // and attempts).
    void stop();

    // One pass over the node list on the calling thread (the worker, or a test): every foreign
    // node not yet looked up, including nodes added while the pass runs. The locations, which
    // are read from local files, come first, so that a slow name service does not hold them
    // up. Returns early when a stop was asked for.
    void resolvePending();
    // True while a pass runs.
    bool busy() const { return busy_.load(); }

  private:
    void run();
    // Locates node `index` when it is foreign and not yet located.
    void locateAt(int index);

    cNodeManager& nodes_;
    ReverseLookup lookup_;
    LocationLookup locate_;
    std::mutex lock_;
    std::condition_variable wakeUp_;
    bool wanted_ = false;  // under lock_
    std::atomic<bool> stopping_{false};
    std::atomic<bool> busy_{false};
    std::thread thread_;
};

}  // namespace tessel
