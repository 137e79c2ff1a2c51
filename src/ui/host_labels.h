#pragma once
#include <irrlicht.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/traffic_record.h"
#include "scene/node_labels.h"
#include "scene/scene_context.h"

namespace tessel {

class cNodeManager;
struct SNetNode;

// Which hosts carry a label (key N cycles them): this host, the gateway, the host of the open
// information panel and the busiest hosts; every host in view; none.
enum class LabelMode { Busiest, AllInView, None };
LabelMode nextLabelMode(LabelMode mode);
// "busiest", "all", "none" (the scene dump).
const char* labelModeName(LabelMode mode);
// What the message list says when the mode changes to `mode`.
const char* labelModeMessage(LabelMode mode);

// What a host's label says: its name, or its address (a long IPv6 one shortened) while it has
// none; a name that failed to resolve is none.
std::string nodeLabelText(const SNetNode& node);

// Packets (and bytes) of the records that reached the scene in the last kWindowMs, per address,
// counted where the render loop takes the records. Main thread.
class cBusyHosts {
  public:
    static constexpr std::uint32_t kWindowMs = 5000;

    void count(const std::vector<TrafficRecord>& records, std::uint32_t nowMs);
    // The `n` addresses with the most packets (then bytes) of the window ending at `nowMs`,
    // busiest first.
    const std::vector<std::string>& busiest(std::size_t n, std::uint32_t nowMs);

  private:
    struct STally {
        std::uint64_t packets = 0, bytes = 0;
    };
    struct SPass {
        std::uint32_t atMs;
        std::vector<std::pair<std::string, STally>> tallies;
    };
    void expire(std::uint32_t nowMs);

    std::deque<SPass> passes_;
    std::unordered_map<std::string, STally> totals_;
    std::vector<std::string> busiest_;
    std::size_t busiestFor_ = 0;
    bool stale_ = true;
};

// The render loop's labels: counts the records, keeps a copy of the node list's labels (taken
// afresh at each scene pass), chooses the hosts for the mode and draws them between the scene and
// the GUI, clear of every HUD element. Main thread.
class cHostLabels {
  public:
    static constexpr std::size_t kBusiest = 12;    // busiest hosts labelled
    static constexpr std::size_t kAllInView = 64;  // nearest hosts labelled in "all in view"

    void countRecords(const std::vector<TrafficRecord>& records, std::uint32_t nowMs) {
        busy_.count(records, nowMs);
    }
    // The hosts that have a cube, their label texts and places; after every scene pass.
    void refresh(const cNodeManager& nodes);
    // `selectedPickId`: the cube whose information panel is open (0 for none).
    void draw(const SSceneContext& context, LabelMode mode, int selectedPickId,
              std::uint32_t nowMs);
    void clear() { labels_.clear(); }
    const std::vector<SDrawnLabel>& drawn() const { return labels_.drawn(); }

  private:
    std::size_t pin(std::size_t spot);

    cBusyHosts busy_;
    cNodeLabels labels_;
    std::vector<SLabelCandidate> spots_;
    std::vector<int> pickIds_;  // beside spots_
    std::unordered_map<std::string, std::size_t> byAddress_;
    std::size_t host_ = SIZE_MAX, gateway_ = SIZE_MAX;
    std::vector<const SLabelCandidate*> chosen_;
    std::vector<char> isChosen_;  // beside spots_
    std::vector<irr::core::rect<irr::s32>> hud_;
};

// The screen rectangles of the HUD's visible elements (toolbar, logo, panels, message lines,
// status line, legend, graph grid, help card), which labels keep clear of. The start-up fader,
// which covers the window, is not one.
void hudRectangles(irr::gui::IGUIEnvironment* gui, std::vector<irr::core::rect<irr::s32>>* out);

}  // namespace tessel
