#pragma once
#include <string>
#include <vector>

namespace tessel {

// The configured adapter's addresses as dotted text. Filled once by adapter discovery on the
// main thread before any worker thread starts; read-only afterwards (so readers need no lock).
extern std::vector<std::string> localAddresses;
extern std::vector<std::string> netMasks;
extern std::vector<std::string> gatewayAddresses;

}  // namespace tessel
