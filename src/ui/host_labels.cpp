#include "ui/host_labels.h"

#include <algorithm>

#include "core/wide_text.h"
#include "nodes/info_text.h"
#include "nodes/node_manager.h"

namespace tessel {

using namespace irr;

LabelMode nextLabelMode(LabelMode mode) {
    switch (mode) {
        case LabelMode::Busiest:
            return LabelMode::AllInView;
        case LabelMode::AllInView:
            return LabelMode::None;
        default:
            return LabelMode::Busiest;
    }
}

const char* labelModeName(LabelMode mode) {
    switch (mode) {
        case LabelMode::Busiest:
            return "busiest";
        case LabelMode::AllInView:
            return "all";
        default:
            return "none";
    }
}

const char* labelModeMessage(LabelMode mode) {
    switch (mode) {
        case LabelMode::Busiest:
            return "Labels: busiest hosts";
        case LabelMode::AllInView:
            return "Labels: all hosts in view";
        default:
            return "Labels: none";
    }
}

std::string nodeLabelText(const SNetNode& node) {
    constexpr std::size_t kLongest = 40;  // a name past this is cut, so one label stays short
    if (node.hostName.empty() || node.hostName == "(failed to resolve)")
        return fittedAddress(node.address);
    if (node.hostName.size() <= kLongest) return node.hostName;
    return node.hostName.substr(0, kLongest - 3) + "...";
}

void cBusyHosts::count(const std::vector<TrafficRecord>& records, std::uint32_t nowMs) {
    expire(nowMs);
    if (records.empty()) return;
    std::unordered_map<std::string, STally> pass;
    for (const TrafficRecord& r : records) {
        // The record keeps the IP total length with its two bytes swapped.
        const std::uint64_t bytes = std::uint64_t(((r.size & 0xFF) << 8) | ((r.size >> 8) & 0xFF));
        for (const std::string* address : {&r.src, &r.dst}) {
            STally& t = pass[*address];
            t.packets += 1;
            t.bytes += bytes;
        }
    }
    SPass kept{nowMs, {}};
    kept.tallies.reserve(pass.size());
    for (auto& [address, tally] : pass) {
        STally& total = totals_[address];
        total.packets += tally.packets;
        total.bytes += tally.bytes;
        kept.tallies.emplace_back(address, tally);
    }
    passes_.push_back(std::move(kept));
    stale_ = true;
}

void cBusyHosts::expire(std::uint32_t nowMs) {
    while (!passes_.empty() && nowMs - passes_.front().atMs > kWindowMs) {
        for (const auto& [address, tally] : passes_.front().tallies) {
            auto it = totals_.find(address);
            if (it == totals_.end()) continue;
            it->second.packets -= tally.packets;
            it->second.bytes -= tally.bytes;
            if (it->second.packets == 0) totals_.erase(it);
        }
        passes_.pop_front();
        stale_ = true;
    }
}

const std::vector<std::string>& cBusyHosts::busiest(std::size_t n, std::uint32_t nowMs) {
    expire(nowMs);
    if (!stale_ && busiestFor_ == n) return busiest_;
    std::vector<std::pair<const std::string*, STally>> all;
    all.reserve(totals_.size());
    for (const auto& [address, tally] : totals_) all.emplace_back(&address, tally);
    const auto busier = [](const auto& a, const auto& b) {
        if (a.second.packets != b.second.packets) return a.second.packets > b.second.packets;
        if (a.second.bytes != b.second.bytes) return a.second.bytes > b.second.bytes;
        return *a.first < *b.first;
    };
    const std::size_t kept = std::min(n, all.size());
    std::partial_sort(all.begin(), all.begin() + std::ptrdiff_t(kept), all.end(), busier);
    busiest_.clear();
    for (std::size_t i = 0; i < kept; ++i) busiest_.push_back(*all[i].first);
    busiestFor_ = n;
    stale_ = false;
    return busiest_;
}

void cHostLabels::refresh(const cNodeManager& nodes) {
    const std::vector<SNetNode> all = nodes.copyAllNodes();
    spots_.clear();
    pickIds_.clear();
    byAddress_.clear();
    host_ = gateway_ = SIZE_MAX;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const SNetNode& node = all[i];
        if (node.needsSceneNode != 0) continue;  // no cube yet
        if (i == 0 && node.isLocal == 1) host_ = spots_.size();
        if (node.isGateway == 1 && gateway_ == SIZE_MAX) gateway_ = spots_.size();
        const std::string text = nodeLabelText(node);
        byAddress_.emplace(node.address, spots_.size());
        spots_.push_back(
            SLabelCandidate{node.address, text, toWideCut(text), toVector(node.position)});
        pickIds_.push_back(node.pickId);
    }
    // The pointers into spots_ stay valid until the next refresh.
    chosen_.clear();
    isChosen_.assign(spots_.size(), 0);
}

std::size_t cHostLabels::pin(std::size_t spot) {
    if (spot >= spots_.size() || isChosen_[spot]) return 0;
    isChosen_[spot] = 1;
    chosen_.push_back(&spots_[spot]);
    return 1;
}

void cHostLabels::draw(const SSceneContext& context, LabelMode mode, int selectedPickId,
                       std::uint32_t nowMs) {
    if (mode == LabelMode::None || !context.guiEnvironment) {
        labels_.clear();
        return;
    }
    for (const SLabelCandidate* c : chosen_) isChosen_[std::size_t(c - spots_.data())] = 0;
    chosen_.clear();
    std::size_t pinned = 0;
    if (selectedPickId != 0)
        for (std::size_t i = 0; i < pickIds_.size(); ++i)
            if (pickIds_[i] == selectedPickId) {
                pinned += pin(i);
                break;
            }
    pinned += pin(host_);
    pinned += pin(gateway_);
    std::size_t limit = kAllInView;
    if (mode == LabelMode::Busiest) {
        // Ask for a few more than are labelled: this host and the gateway are among the busiest.
        for (const std::string& address : busy_.busiest(kBusiest + pinned, nowMs)) {
            if (chosen_.size() >= pinned + kBusiest) break;
            const auto it = byAddress_.find(address);
            if (it != byAddress_.end()) pin(it->second);
        }
        limit = kBusiest;
    } else {
        for (std::size_t i = 0; i < spots_.size(); ++i)
            if (!isChosen_[i]) chosen_.push_back(&spots_[i]);
    }
    hudRectangles(context.guiEnvironment, &hud_);
    labels_.draw(context.videoDriver, context.sceneManager,
                 context.guiEnvironment->getBuiltInFont(), chosen_, pinned, limit, hud_);
}

void hudRectangles(gui::IGUIEnvironment* gui, std::vector<core::rect<s32>>* out) {
    out->clear();
    if (!gui) return;
    for (gui::IGUIElement* e : gui->getRootGUIElement()->getChildren()) {
        if (!e->isVisible() || e->getType() == gui::EGUIET_IN_OUT_FADER) continue;
        core::rect<s32> r = e->getAbsolutePosition();
        if (e->getType() == gui::EGUIET_STATIC_TEXT && e->getChildren().empty()) {
            const auto* text = static_cast<gui::IGUIStaticText*>(e);
            if (!text->isDrawBackgroundEnabled() && !text->isDrawBorderEnabled()) {
                // A bare text shows only its letters, from the upper left (the HUD aligns none
                // otherwise): the rest of its rectangle stays free for labels.
                const wchar_t* t = text->getText();
                if (!t || !*t) continue;
                constexpr s32 kMargin = 2;
                core::rect<s32> letters(r.UpperLeftCorner.X - kMargin,
                                        r.UpperLeftCorner.Y - kMargin,
                                        r.UpperLeftCorner.X + text->getTextWidth() + kMargin,
                                        r.UpperLeftCorner.Y + text->getTextHeight() + kMargin);
                letters.clipAgainst(r);
                r = letters;
            }
        }
        if (r.getWidth() <= 0 || r.getHeight() <= 0) continue;
        out->push_back(r);
    }
}

}  // namespace tessel
