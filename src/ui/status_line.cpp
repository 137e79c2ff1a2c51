#include "ui/status_line.h"

#include <algorithm>

#include "core/process_flags.h"
#include "core/replay_state.h"
#include "core/wide_text.h"
#include "nodes/node_manager.h"
#include "ui/fading_text_list.h"
#include "ui/hud.h"

namespace tessel {

using namespace irr;

namespace {

// Under the logo, left of the message list's column.
constexpr s32 kLeft = 12, kTop = 96, kRowHeight = 18, kGap = 14, kRightMargin = 230;
// Without a font (no media) a character is taken to be this wide.
constexpr s32 kFallbackCharWidth = 7;
const video::SColor kTextColour(255, 225, 225, 225);
const video::SColor kAlarmColour(255, 255, 80, 64);
const video::SColor kBandColour(150, 0, 0, 0);

enum Part { kRate, kDrops, kNotShown, kSecondRow, kFeedRow, kPartCount };
gui::IGUIStaticText* g_parts[kPartCount] = {};
std::string g_texts[kPartCount];
gui::IGUIEnvironment* g_gui = nullptr;
bool g_shown = true;
bool g_dropsRed = false;
bool g_announcedFull = false;

s32 widthOf(const std::wstring& text) {
    gui::IGUIFont* font = g_gui && g_gui->getSkin() ? g_gui->getSkin()->getFont() : nullptr;
    return font ? s32(font->getDimension(text.c_str()).Width)
                : s32(text.size()) * kFallbackCharWidth;
}

// The parts of the first row stand one after the other, each as wide as its text.
void place(s32 windowWidth) {
    s32 x = kLeft;
    const s32 right = windowWidth - kRightMargin;
    for (int p = 0; p < kPartCount; ++p) {
        if (!g_parts[p]) continue;
        const std::wstring wide = toWideCut(g_texts[p]);
        g_parts[p]->setText(wide.c_str());
        const bool second = p == kSecondRow || p == kFeedRow;
        const s32 left = second ? kLeft : x;
        const s32 top = kTop + (p == kSecondRow ? kRowHeight : p == kFeedRow ? 2 * kRowHeight : 0);
        const s32 width = widthOf(wide);
        g_parts[p]->setRelativePosition(core::rect<s32>(
            left, top, std::max(left + 1, std::min(right, left + width + 4)), top + kRowHeight));
        g_parts[p]->setVisible(g_shown && !g_texts[p].empty());
        if (!second && !g_texts[p].empty()) x += width + kGap;
    }
}

std::string count(std::uint64_t n) { return groupedNumber(static_cast<long long>(n)); }

// "sFlow 120 datagrams/s from 3 exporters, sampling 1/64 1/256, lost 0, malformed 0"
std::string feedRow(const StatusFigures& f) {
    const FeedReading& feed = f.feed;
    std::string row = feed.name + " " + count(std::uint64_t(std::max(0LL, f.datagramsPerSecond))) +
                      " datagrams/s from " + count(feed.exporters) +
                      (feed.exporters == 1 ? " exporter" : " exporters") + ", sampling";
    if (feed.rates.empty()) row += " -";
    for (std::uint32_t rate : feed.rates) row += " 1/" + count(rate);
    if (feed.moreRates) row += " ...";
    row += ", lost " + count(feed.lost) + ", malformed " + count(feed.malformed);
    if (feed.templates)
        row += ", waiting " + count(feed.waiting) + ", evicted " + count(feed.evicted);
    return row;
}

}  // namespace

void buildStatusLine(gui::IGUIEnvironment* gui, const ProcessFlags& flags) {
    g_gui = gui;
    g_shown = true;
    g_announcedFull = false;
    for (int p = 0; p < kPartCount; ++p) {
        g_texts[p].clear();
        g_parts[p] = gui->addStaticText(L"", core::rect<s32>(kLeft, kTop, kLeft + 1, kTop + 1),
                                        false, false, 0, -1, false);
        g_parts[p]->setOverrideColor(kTextColour);
        // A dark band keeps light text readable over the light sky.
        g_parts[p]->setBackgroundColor(kBandColour);
        g_parts[p]->setDrawBackground(true);
    }
    showStatus(StatusFigures(), flags, nullptr);
}

void showStatus(const StatusFigures& f, const ProcessFlags& flags, CFadingTextList* messages) {
    const std::string& captureFilter = flags.captureFilter;
    const bool feed = !f.feed.name.empty();
    g_texts[kRate] = (feed ? "~" : "") + count(std::uint64_t(std::max(0LL, f.packetsPerSecond))) +
                     (feed ? " packets/s estimated" : " packets/s");
    g_dropsRed = f.kernelDropsKnown && f.kernelDrops > 0;
    g_texts[kDrops] =
        f.kernelDropsKnown ? (feed ? "socket drops " : "kernel drops ") + count(f.kernelDrops) : "";
    g_texts[kFeedRow] = feed ? feedRow(f) : "";
    g_texts[kNotShown] = "not shown: " + count(f.notIP) + " not IP, " + count(f.otherProtocol) +
                         " other IP, " + count(f.truncated) + " truncated, " + count(f.malformed) +
                         " malformed, " + count(f.fragments) + " fragments";
    std::string second = "impacts merged " + groupedNumber(f.impactsMerged) + ", capped " +
                         groupedNumber(f.impactsCapped) + "   nodes " + groupedNumber(f.nodes) +
                         "/" + groupedNumber(kNodeListLimit) + (f.nodeListFull ? " full" : "") +
                         "   beams " + groupedNumber(f.beams) + "   " +
                         (captureFilter.empty() ? "no filter" : "filter: " + captureFilter);
    const ReplayState& replay = replayState();
    if (replay.active) {
        second += "   replay x" + speedText(replay.speed.load());
        if (replay.paused.load()) second += " paused";
        if (replay.finished.load()) second += " finished";
    }
    g_texts[kSecondRow] = second;
    if (g_parts[kDrops]) g_parts[kDrops]->setOverrideColor(g_dropsRed ? kAlarmColour : kTextColour);
    place(flags.windowWidth);
    if (f.nodeListFull && !g_announcedFull) {
        g_announcedFull = true;
        if (messages)
            messages->addMessage("Node list full (" + groupedNumber(kNodeListLimit) +
                                 " hosts): new hosts are not shown");
    }
}

void toggleStatusLine(const ProcessFlags& flags) {
    g_shown = !g_shown;
    place(flags.windowWidth);
}

bool statusLineShown() { return g_shown; }
bool statusDropsRed() { return g_dropsRed; }

std::string statusLineText() {
    std::string first;
    for (int p : {kRate, kDrops, kNotShown})
        if (!g_texts[p].empty()) first += (first.empty() ? "" : "  ") + g_texts[p];
    return first + "\n" + g_texts[kSecondRow] +
           (g_texts[kFeedRow].empty() ? "" : "\n" + g_texts[kFeedRow]);
}

}  // namespace tessel
