#pragma once
// Capture files with frames at chosen times, in either of the two formats a replay reads.
#include <cstdint>
#include <string>
#include <vector>

#include "support/capture_frames.h"

namespace tessel::test {

struct TimedFrame {
    std::int64_t atUs = 0;  // time stamp, microseconds since the epoch
    Bytes bytes;            // an Ethernet frame
};

// Writes `frames` as a classic pcap file or as pcapng (a section header, one Ethernet interface,
// an enhanced packet block per frame, with a statistics block after every 100th so that the
// index meets blocks that hold no frame). False when it cannot be written.
bool writeTimedCapture(const std::string& path, const std::vector<TimedFrame>& frames, bool pcapng);

}  // namespace tessel::test
