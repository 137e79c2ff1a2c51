#pragma once
#include <cstdint>
#include <string>

#include "scene/scene_context.h"

namespace tessel {

// One recorded packet: the content of one intel file.
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

// Capture thread: writes one file "intel/anode.<draw><draw>.xml".
void writeIntelFile(const TrafficRecord& record);
// Main thread, every 26 frames: every waiting file becomes particle impacts and is deleted.
void loadIntelFiles(SSceneContext& context);

}  // namespace tessel
