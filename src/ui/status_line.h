#pragma once
#include <irrlicht.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tessel {

class CFadingTextList;
struct ProcessFlags;

// What the status line shows, gathered by the render loop (which alone sees the capture, the node
// list and the scene) at most twice a second. Plain values.
// A flow collector's counters, read at one moment.
struct FeedReading {
    std::string name;        // "sFlow", "NetFlow/IPFIX"; empty for a capture
    bool templates = false;  // NetFlow/IPFIX: data sets wait for their templates
    std::uint64_t datagrams = 0, exporters = 0, samples = 0, malformed = 0, foreign = 0,
                  skipped = 0, lost = 0, waiting = 0, evicted = 0, socketDrops = 0,
                  framesDropped = 0, framesWaiting = 0, estimatedPackets = 0, estimatedBytes = 0;
    std::vector<std::uint32_t> rates;  // the sampling rates seen (1 in N)
    bool moreRates = false;
};

struct StatusFigures {
    long long packetsPerSecond = 0;  // a feed: the estimate, samples x their rates
    FeedReading feed;
    long long datagramsPerSecond = 0;
    bool kernelDropsKnown = false;  // a live capture: the kernel counts what it dropped
    std::uint64_t kernelDrops = 0;  // ps_drop + ps_ifdrop since start
    // Frames not shown since start, by reason: not IP at all, IP but not TCP, UDP or ICMP,
    // captured short of the fields read, with contradicting lengths, later fragments.
    std::uint64_t notIP = 0, otherProtocol = 0, truncated = 0, malformed = 0, fragments = 0;
    long long impactsMerged = 0, impactsCapped = 0;  // since start
    int nodes = 0;
    bool nodeListFull = false;  // some address found the node list full
    int beams = 0;
};

// Two rows under the logo. The kernel's drops stand in a part of their own, red when not 0.
// Shown from the start; T hides and shows it. Main thread.
// `flags` gives the window's width and the capture filter.
void buildStatusLine(irr::gui::IGUIEnvironment* gui, const ProcessFlags& flags);
// New figures; also says once in `messages` (may be null) that the node list is full.
void showStatus(const StatusFigures& figures, const ProcessFlags& flags, CFadingTextList* messages);
void toggleStatusLine(const ProcessFlags& flags);
bool statusLineShown();
// Both rows as they read now, one line each (the scene dump).
std::string statusLineText();
bool statusDropsRed();

}  // namespace tessel
