#pragma once
#include <cstdint>
#include <string>

namespace tessel {

// Where a host's address belongs: its country and its network (autonomous system), as the
// location data says. A plain value, looked up once per host off the main thread and kept with
// the node.
struct HostLocation {
    std::string countryCode;     // "US"; empty when the data has none
    std::string countryName;     // "United States"; empty when the data has none
    std::uint32_t asNumber = 0;  // 0 when the data has none
    std::string asName;          // "GOOGLE"; empty when the data has none
    bool anycast = false;
    // Non-empty for an address outside the public Internet: "private network", "link-local",
    // "loopback", "documentation", and the like. Then the other fields stay empty.
    std::string rangeWording;
    // True when no location data could be read at all (no database installed or configured).
    bool noData = false;
};

}  // namespace tessel
