#pragma once
#include <irrlicht.h>

#include <cstdint>
#include <string>

namespace tessel {

class CFadingTextList;
struct ProcessFlags;

// What the status line shows, gathered by the render loop (which alone sees the capture, the node
// list and the scene) at most twice a second. Plain values.
struct StatusFigures {
    long long packetsPerSecond = 0;
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
