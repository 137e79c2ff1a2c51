#include "ui/find_field.h"

#include <algorithm>

#include "core/wide_text.h"
#include "nodes/node_manager.h"
#include "nodes/node_search.h"

namespace tessel {

using namespace irr;

namespace {

// Long enough for any address or host name.
constexpr std::size_t kMaxFindText = 64;

}  // namespace

std::string matchCountText(int count) {
    if (count == 0) return "no match";
    return std::to_string(count) + (count == 1 ? " match" : " matches");
}

void cFindField::open(gui::IGUIEnvironment* gui, s32 windowWidth) {
    open_ = true;
    text_.clear();
    matches_.clear();
    current_ = -1;
    if (!line_ && gui) {
        // Centred, and clear of the message list along the right edge (220 wide).
        const s32 middle = windowWidth / 2;
        const s32 half = std::max<s32>(60, std::min<s32>(180, windowWidth - 230 - middle));
        line_ = gui->addStaticText(L"", core::rect<s32>(middle - half, 10, middle + half, 30), true,
                                   false, 0, -1, true);
        line_->setOverrideColor(video::SColor(255, 225, 225, 225));
    }
    show();
}

void cFindField::close() {
    open_ = false;
    current_ = -1;
    panelPickId_ = 0;
    show();
}

void cFindField::type(char c, const cNodeManager& nodes) {
    if (text_.size() >= kMaxFindText) return;
    text_ += c;
    search(nodes);
}

void cFindField::erase(const cNodeManager& nodes) {
    if (text_.empty()) return;
    text_.pop_back();
    search(nodes);
}

bool cFindField::first(const cNodeManager& nodes) {
    // Hosts named since the last key count too.
    search(nodes);
    current_ = matches_.empty() ? -1 : 0;
    show();
    return current_ >= 0;
}

bool cFindField::step(int step) {
    const int n = matchCount();
    if (n == 0) return false;
    current_ = current_ < 0 ? (step > 0 ? 0 : n - 1) : ((current_ + step) % n + n) % n;
    show();
    return true;
}

std::string cFindField::currentAddress() const {
    return current_ >= 0 && current_ < matchCount() ? matches_[std::size_t(current_)] : "";
}

void cFindField::search(const cNodeManager& nodes) {
    const std::vector<SNetNode> all = nodes.copyAllNodes();
    matches_.clear();
    for (int index : matchingNodes(all, text_)) matches_.push_back(all[std::size_t(index)].address);
    current_ = -1;
    panelPickId_ = 0;
    show();
}

void cFindField::show() {
    if (!line_) return;
    line_->setVisible(open_);
    if (!open_) return;
    std::string shown = "Find: " + text_ + "_";
    if (!text_.empty()) {
        shown += "   " + matchCountText(matchCount());
        if (current_ >= 0) shown += " (" + std::to_string(current_ + 1) + ")";
    }
    line_->setText(toWideCut(shown).c_str());
}

}  // namespace tessel
