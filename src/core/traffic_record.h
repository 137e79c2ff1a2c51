#pragma once
#include <string>

namespace tessel {

// One recorded packet, the same value all the way: packet decoding makes it, the intel writer
// writes it as an "anode" line, the intel reader reads it back, the hand-off channel carries it
// and the scene makes its sprite. Decoding fills ports and size from 16-bit fields; read back,
// the numbers are whatever atoi-style reading of the file's text gives (a hand-edited file may
// hold "-5" or "70000", and the sprite uses that), so they are plain ints.
struct TrafficRecord {
    int tcp = 0;
    int udp = 0;
    int icmp = 0;
    std::string src;
    std::string dst;
    int srcport = 0;
    int dstport = 0;
    int size = 0;  // IP total length with its two bytes swapped
};

}  // namespace tessel
