#pragma once
// The crafted capture files of tests/captures: frames no test host sends on demand (truncated
// snapshots, IP options, fragments, VLAN tags, bad header lengths, every link type). Shared by
// the replay test, which checks the committed files against this table, and by
// tests/captures/make_captures.cpp, which rewrites them.
#include <cstdint>
#include <string>
#include <vector>

#include "support/capture_frames.h"

namespace tessel::test {

struct CaptureFrame {
    Bytes bytes;                   // what was captured
    std::uint32_t wireLength = 0;  // the length on the wire; 0: bytes.size()
};

struct CraftedCapture {
    std::string file;  // name inside tests/captures
    int linkType = 0;  // DLT_*
    int snapLength = 65535;
    std::vector<CaptureFrame> frames;
};

std::vector<CraftedCapture> craftedCaptures();

// Writes a classic libpcap file (microsecond stamps, one second apart from a fixed epoch, so the
// bytes depend on the frames only). False when it cannot be written.
bool writeCaptureFile(const std::string& path, const CraftedCapture& capture);

}  // namespace tessel::test
