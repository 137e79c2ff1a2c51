#pragma once
#include <string>
#include <vector>

namespace tessel {

// The configured adapter's addresses as dotted text. Filled once by adapter discovery on the
// main thread before any worker thread starts; read-only afterwards (so readers need no lock).
extern std::vector<std::string> localAddresses;
extern std::vector<std::string> netMasks;
extern std::vector<std::string> gatewayAddresses;

// Its IPv6 side: this host's IPv6 addresses (global, temporary, link-local) with their on-link
// prefix lengths, and the IPv6 default router. On a dual-stack adapter they stand for the same
// two nodes as the IPv4 address and gateway; on an IPv6-only adapter the first of them is the
// local address itself.
struct LocalIPv6 {
    std::string address;
    int prefixLength = 0;
};
extern std::vector<LocalIPv6> localIPv6Addresses;
extern std::string gatewayIPv6Address;

}  // namespace tessel
