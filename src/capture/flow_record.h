#pragma once
#include <cstdint>

namespace tessel {

// One flow as a NetFlow v5/v9 or IPFIX exporter reports it, in plain values.
struct FlowRecord {
    int ipVersion = 4;                        // 4 or 6
    std::uint8_t src[16] = {}, dst[16] = {};  // IPv4 in the first four bytes
    std::uint16_t srcPort = 0, dstPort = 0;   // ICMP: type << 8 | code in dstPort, as exported
    std::uint8_t protocol = 0;                // IP protocol number
    std::uint8_t tcpFlags = 0;                // OR of the flow's TCP flags
    std::uint64_t packets = 0, octets = 0;    // as exported (total or delta)
    // The flow's first and last packet, Unix time in milliseconds; both 0 when the record did
    // not say (taken as the export time).
    std::int64_t startMs = 0, endMs = 0;
    std::uint32_t samplingInterval = 0;  // 1 in N packets was seen; 0 when not exported
};

}  // namespace tessel
