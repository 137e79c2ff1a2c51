#pragma once
#include <cstdint>
#include <string>

namespace tessel {

// One recorded packet, as packet decoding makes it and the intel writer writes it.
struct TrafficRecord {
    int tcp = 0;
    int udp = 0;
    int icmp = 0;
    std::string src;
    std::string dst;
    std::uint16_t srcport = 0;
    std::uint16_t dstport = 0;
    std::uint16_t size = 0;  // IP total length with its two bytes swapped
};

// One "anode" element as read back: numbers are whatever atoi-style conversion gives, so they
// are plain ints (a hand-edited file may hold anything).
struct IntelAnode {
    std::string src;
    std::string dst;
    int srcport = 0;
    int dstport = 0;
    int size = 0;
    int tcp = 0;
    int udp = 0;
    int icmp = 0;
};

}  // namespace tessel
