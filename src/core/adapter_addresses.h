#pragma once
#include <string>
#include <vector>

#include "core/address_range.h"

namespace tessel {

// An IPv6 address of this host with its on-link prefix length.
struct LocalIPv6 {
    std::string address;
    int prefixLength = 0;
};

// The configured adapter's addresses as text. Owned by the run (runTessel), filled once on the
// main thread by adapter discovery or the replay's inference before any worker thread starts,
// read-only afterwards (so readers need no lock). The node list reads it.
struct AdapterAddresses {
    std::vector<std::string> localAddresses;
    std::vector<std::string> netMasks;
    std::vector<std::string> gatewayAddresses;
    // Its IPv6 side: this host's IPv6 addresses (global, temporary, link-local) and the IPv6
    // default router. On a dual-stack adapter they stand for the same two nodes as the IPv4
    // address and gateway; on an IPv6-only adapter the first of them is the local address itself.
    std::vector<LocalIPv6> localIPv6Addresses;
    std::string gatewayIPv6Address;
    // Ranges that are local besides this host's subnets: a flow feed, which has no subnet of
    // its own, takes the private ranges and what the user adds.
    std::vector<AddressRange> localRanges;
};

}  // namespace tessel
