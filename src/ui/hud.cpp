#include "ui/hud.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "core/process_flags.h"
#include "core/replay_state.h"
#include "core/wide_text.h"
#include "nodes/connection_list.h"
#include "nodes/info_text.h"
#include "nodes/node_manager.h"
#include "platform/local_time.h"
#include "platform/registry.h"
#include "scene/particle_impacts.h"
#include "ui/camera_tour.h"
#include "ui/fading_text_list.h"
#include "ui/legend.h"
#include "ui/status_line.h"
#include "ui/toolbar.h"
#include "ui/ui_state.h"

namespace tessel {

using namespace irr;

namespace {

// In the order of ToolbarCommand; the engine identifiers are 101 to 107.
struct ToolbarButton {
    const char* icon;
    const wchar_t* tooltip;
};
const ToolbarButton kToolbar[TB_COUNT] = {
    {"Media/icon-exit.png", L"Exit Tessel"},
    {"Media/icon-demo.png", L"Toggle Demo Mode"},
    {"Media/icon-graph.png", L"Show Stats Graph"},
    {"Media/icon-log.png", L"Toggle Logging"},
    {"Media/icon-screenshot.png", L"Capture Screenshot"},
    {"Media/icon-config.png", L"View Config"},
    {"Media/icon-help.png", L"Help!"},
};
constexpr s32 kFirstButtonId = 101;

const core::rect<s32> kHidden(-10, -10, -10, -10);
// The information panel's least line pitch.
constexpr s32 kPanelLineHeight = 15;

// Engine-owned elements; main thread only.
gui::IGUIInOutFader* startFader = nullptr;
gui::IGUIStaticText* infoText = nullptr;
gui::IGUIStaticText* infoBox = nullptr;
gui::IGUIStaticText* impactLine = nullptr;
gui::IGUIStaticText* replayLine = nullptr;
int infoIdleFrames = 0;
int infoNodePickId = 0;  // the cube whose text the panel shows; 0: none, or a beam's

// The replay timeline: empty while not replaying a file. Its slices are read again every
// kTimelineRefresh frames, not every frame.
core::rect<s32> timelineRect;
constexpr int kTimelineRefresh = 30;
int timelineAge = kTimelineRefresh;
ReplayTimeline::View timelineView;

// What the replay line shows now.
struct ReplayShown {
    std::int64_t second;  // of the capture's clock; -1: none yet
    int percent;          // -1: a stream
    double speed;
    bool paused, finished;
    bool operator==(const ReplayShown& o) const {
        return second == o.second && percent == o.percent && speed == o.speed &&
               paused == o.paused && finished == o.finished;
    }
};
constexpr ReplayShown kNothingShown{-2, -2, 0, false, false};
ReplayShown replayShown = kNothingShown;

void openInfoPanel(const ProcessFlags& flags, const std::string& text, int nodePickId) {
    const s32 cx = flags.windowWidth / 2, cy = flags.windowHeight / 2;
    // Four lines keep the box as it always was; more (a foreign host's location, this host's
    // programs) make it tall enough for every line in the font it is drawn in.
    const s32 lines = static_cast<s32>(std::count(text.begin(), text.end(), '\n')) + 1;
    s32 pitch = kPanelLineHeight;
    if (gui::IGUIFont* font = infoText->getActiveFont())
        pitch = std::max<s32>(pitch, static_cast<s32>(font->getDimension(L"Ag").Height));
    const s32 grow = lines > 4 ? std::max<s32>(0, lines * pitch - 58) : 0;
    infoBox->setRelativePosition(core::rect<s32>(cx + 10, cy + 23, cx + 220, cy + 85 + grow));
    infoText->setRelativePosition(core::rect<s32>(cx + 12, cy + 25, cx + 218, cy + 83 + grow));
    infoText->setText(toWideCut(text).c_str());
    infoIdleFrames = 0;
    infoNodePickId = nodePickId;
}

gui::IGUIStaticText* addPanelText(gui::IGUIEnvironment* gui, s32 id) {
    gui::IGUIStaticText* t = gui->addStaticText(L"", kHidden, false, true, 0, id, true);
    t->setOverrideColor(video::SColor(255, 225, 225, 225));
    return t;
}

}  // namespace

video::SColor guiTintFor(const std::string& transparency) {
    return video::SColor(transparency == "0" ? 255 : 150, 105, 155, 106);
}

std::string speedText(double speed) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", speed);
    return text;
}

void updateReplayLine() {
    const ReplayState& replay = replayState();
    if (!replayLine || !replay.active) return;
    // The text is made again only when a part of it changed, not every frame.
    const std::int64_t clockUs = replay.captureClockUs.load();
    const int permille = replay.progressPermille.load();
    const ReplayShown now{clockUs < 0 ? -1 : clockUs / 1000000, permille < 0 ? -1 : permille / 10,
                          replay.speed.load(), replay.paused.load(), replay.finished.load()};
    if (now == replayShown) return;
    replayShown = now;
    std::string text = replay.source;
    if (now.second >= 0)
        text += "  " + formatLocalTimeC("%Y-%m-%d %H:%M:%S", std::time_t(now.second), 64);
    if (now.percent >= 0) text += "  " + std::to_string(now.percent) + "%";
    text += "  x" + speedText(now.speed);
    if (now.paused) text += "  paused";
    if (now.finished) text += "  finished";
    const std::wstring wide = toWideCut(text);
    replayLine->setText(wide.c_str());
}

void drawReplayTimeline(video::IVideoDriver* driver) {
    if (timelineRect.getWidth() <= 0 || !driver) return;
    const ReplayState& replay = replayState();
    if (++timelineAge >= kTimelineRefresh) {
        timelineView = replay.timeline.read(timelineRect.getWidth() / 2);
        timelineAge = 0;
    }
    const core::rect<s32>& r = timelineRect;
    driver->draw2DRectangle(video::SColor(120, 0, 0, 0), r);
    const ReplayTimeline::View& view = timelineView;
    if (view.firstUs < 0) return;
    // The traffic of each slice, two pixels wide, from the bottom.
    const s32 height = r.getHeight() - 2;
    for (std::size_t i = 0; i < view.buckets.size(); ++i) {
        const s32 x = r.UpperLeftCorner.X + s32(i) * 2;
        const s32 top = r.LowerRightCorner.Y - 1 - s32(view.buckets[i] * float(height));
        if (top < r.LowerRightCorner.Y - 1)
            driver->draw2DRectangle(video::SColor(200, 105, 155, 106),
                                    core::rect<s32>(x, top, x + 2, r.LowerRightCorner.Y - 1));
    }
    // While the file is still indexed, its known part ends in a dim edge.
    if (!view.complete)
        driver->draw2DRectangle(video::SColor(160, 225, 225, 225),
                                core::rect<s32>(r.LowerRightCorner.X - 1, r.UpperLeftCorner.Y,
                                                r.LowerRightCorner.X, r.LowerRightCorner.Y));
    const std::int64_t clock = replay.captureClockUs.load();
    const std::int64_t spanUs = view.lastUs - view.firstUs;
    if (clock < 0 || spanUs <= 0) return;
    const double at = std::clamp(double(clock - view.firstUs) / double(spanUs), 0.0, 1.0);
    const s32 x = r.UpperLeftCorner.X + s32(at * (r.getWidth() - 2));
    driver->draw2DRectangle(video::SColor(255, 255, 255, 255),
                            core::rect<s32>(x, r.UpperLeftCorner.Y, x + 2, r.LowerRightCorner.Y));
}

bool replayTimelineFraction(core::position2d<s32> at, double* fraction) {
    if (timelineRect.getWidth() <= 0 || !timelineRect.isPointInside(at)) return false;
    *fraction = double(at.X - timelineRect.UpperLeftCorner.X) / double(timelineRect.getWidth() - 1);
    return true;
}

namespace {

void sayAsk(const SUiState& ui, SeekAsk ask, std::int64_t targetUs) {
    switch (ask) {
        case SeekAsk::Asked:
            ui.post("Seek to " +
                    formatLocalTimeC("%Y-%m-%d %H:%M:%S", std::time_t(targetUs / 1000000), 64));
            break;
        case SeekAsk::NotSeekable:
            ui.post("Cannot seek: replaying standard input");
            break;
        case SeekAsk::NotIndexed:
            ui.post("Cannot seek yet: the file is being indexed");
            break;
        case SeekAsk::NotReplaying:
            break;
    }
}

}  // namespace

void seekReplayTo(const SUiState& ui, std::int64_t targetUs) {
    sayAsk(ui, askReplaySeek(replayState(), &targetUs), targetUs);
}

void seekReplayBy(const SUiState& ui, std::int64_t deltaUs) {
    std::int64_t target = 0;
    sayAsk(ui, askReplaySeekBy(replayState(), deltaUs, &target), target);
}

std::string groupedNumber(long long value) {
    std::string digits = std::to_string(value < 0 ? -value : value);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return value < 0 ? "-" + out : out;
}

int infoPanelNodePickId() { return infoNodePickId; }

void updateImpactLine(u32 nowMs) {
    if (!impactLine) return;
    const ImpactRates rates = recentImpactRates(nowMs);
    const bool capped = rates.drawnPerSecond < rates.totalPerSecond;
    impactLine->setVisible(capped);
    if (!capped) return;
    const std::string text = "showing " + groupedNumber(rates.drawnPerSecond) + " of " +
                             groupedNumber(rates.totalPerSecond) + " packets/s";
    const std::wstring wide = toWideCut(text);
    if (wide != impactLine->getText()) impactLine->setText(wide.c_str());
}

void buildHud(IrrlichtDevice* device, cRegistry& registry, SUiState& ui) {
    video::IVideoDriver* driver = device->getVideoDriver();
    gui::IGUIEnvironment* gui = device->getGUIEnvironment();
    const s32 w = ui.flags.windowWidth, h = ui.flags.windowHeight;

    startFader = gui->addInOutFader(0, 0, -1);
    startFader->setColor(video::SColor(255, 0, 0, 0));

    for (int k = 0; k < TB_COUNT; ++k) {
        gui::IGUIButton* button =
            gui->addButton(toolbarButtonRect(k, h), 0, kFirstButtonId + k, L"", 0);
        button->setImage(driver->getTexture(kToolbar[k].icon));
        button->setToolTipText(kToolbar[k].tooltip);
    }

    video::ITexture* logo = driver->getTexture("Media/tessel5logo.png");
    gui->addImage(logo, core::position2d<s32>(10, 10), true, 0, -1, 0);

    gui::IGUISkin* skin = gui->getSkin();
    gui::IGUIFont* hudFont = gui->getFont("Media/fonthaettenschweiler.bmp");
    if (hudFont) skin->setFont(hudFont);

    infoText = addPanelText(gui, kInfoTextId);
    infoBox = addPanelText(gui, kInfoBoxId);
    infoIdleFrames = 0;
    infoNodePickId = 0;

    ui.messages = std::make_unique<CFadingTextList>(
        gui, hudFont, core::rect<s32>(w - 220, 10, w - 10, h - 100), 255, 10, true);
    ui.messages->addMessage("For Help Press F1");
    ui.messages->addMessage("Click to enter environment");

    // Above the toolbar, hidden until the scene draws fewer packets than arrive.
    impactLine = gui->addStaticText(L"", core::rect<s32>(20, h - 76, 420, h - 58), false, false, 0,
                                    -1, false);
    impactLine->setOverrideColor(video::SColor(255, 225, 225, 225));
    impactLine->setVisible(false);
    // Above it, while replaying: what is played, and where it stands.
    replayLine = gui->addStaticText(L"", core::rect<s32>(20, h - 94, 620, h - 76), false, false, 0,
                                    kReplayLineId, false);
    replayLine->setOverrideColor(video::SColor(255, 225, 225, 225));
    replayLine->setVisible(replayState().active);
    replayShown = kNothingShown;
    // Above the replay line, while replaying a file: its timeline.
    timelineRect = replayState().active && replayState().seekable
                       ? core::rect<s32>(20, h - 112, std::max(120, std::min(620, w - 240)), h - 96)
                       : core::rect<s32>();
    timelineAge = kTimelineRefresh;
    buildStatusLine(gui, ui.flags);
    buildLegend(device);

    // Every colour role of this engine's skin, not only the ones the original engine had.
    const video::SColor tint = guiTintFor(registry.readValue("transparency", "1"));
    for (s32 i = 0; i < gui::EGDC_COUNT; ++i)
        skin->setColor(static_cast<gui::EGUI_DEFAULT_COLOR>(i), tint);
}

void startHudFade() {
    if (startFader) startFader->fadeIn(3500);
}

void updateInfoPanel(IrrlichtDevice* device, const SUiState& ui, const cNodeManager& nodes,
                     const cConnectionList& connections, const cProgramTable* programs) {
    if (!infoText || !infoBox) return;
    std::string text;
    int nodePickId = 0;
    if (ui.flags.enteredEnvironment == 1 && !ui.tour.active) {
        const core::position2d<s32> cursor = device->getCursorControl()->getPosition();
        scene::ISceneCollisionManager* collision =
            device->getSceneManager()->getSceneCollisionManager();
        if (scene::ISceneNode* node =
                collision->getSceneNodeFromScreenCoordinatesBB(cursor, kNodePickBit)) {
            text = nodeInfoText(nodes, node->getID(), programs);
            nodePickId = node->getID();
        } else if (scene::ISceneNode* beam =
                       collision->getSceneNodeFromScreenCoordinatesBB(cursor, kBeamPickBit)) {
            text = beamInfoText(nodes, connections, beam->getID(), programs);
        }
    }

    if (text.empty() && ui.find.panelPickId() != 0) {
        nodePickId = ui.find.panelPickId();
        text = nodeInfoText(nodes, nodePickId, programs);
    }

    if (!text.empty()) {
        openInfoPanel(ui.flags, text, nodePickId);
    } else if (infoIdleFrames > 30) {
        infoBox->setRelativePosition(kHidden);
        infoText->setRelativePosition(kHidden);
        infoText->setText(L"");
        infoIdleFrames = 0;
        infoNodePickId = 0;
    }
    ++infoIdleFrames;
}

void showNodeInfo(const SUiState& ui, const cNodeManager& nodes, int pickId) {
    if (!infoText || !infoBox) return;
    const std::string text = nodeInfoText(nodes, pickId);
    if (!text.empty()) openInfoPanel(ui.flags, text, pickId);
}

std::string infoPanelText() {
    if (!infoText || infoText->getRelativePosition() == kHidden) return "";
    const std::string shown = narrowText(infoText->getText());
    std::string text;
    std::size_t start = 0;
    while (start <= shown.size()) {
        std::size_t end = shown.find('\n', start);
        if (end == std::string::npos) end = shown.size();
        if (end > start) text += (text.empty() ? "" : " / ") + shown.substr(start, end - start);
        start = end + 1;
    }
    return text;
}

}  // namespace tessel
