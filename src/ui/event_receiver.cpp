#include "ui/event_receiver.h"

#include <ctime>

#include "core/event_log.h"
#include "core/fatal_exit.h"
#include "core/hand_off.h"
#include "core/irr_ptr.h"
#include "core/process_flags.h"
#include "core/replay_state.h"
#include "nodes/node_manager.h"
#include "platform/local_time.h"
#include "platform/process.h"
#include "scene/scene_context.h"
#include "scene/world.h"
#include "ui/camera_tour.h"
#include "ui/fading_text_list.h"
#include "ui/frame_requests.h"
#include "ui/hud.h"
#include "ui/legend.h"
#include "ui/status_line.h"
#include "ui/toolbar.h"
#include "ui/ui_state.h"

namespace tessel {

using namespace irr;

namespace {

gui::IGUIImage* addOverlay(IrrlichtDevice* device, const char* texture, s32 x, s32 y) {
    video::ITexture* t = device->getVideoDriver()->getTexture(texture);
    return device->getGUIEnvironment()->addImage(t, core::position2d<s32>(x, y), true, 0, -1);
}

void takeScreenshot(std::time_t now) {
    requestScreenshot(formatLocalTimeC("screenshot-%Y%m%d%H%M%S.jpg", now, 64));
}

[[noreturn]] void runConfigTool() { endAfterFatal("", true); }

// How far from a found host's centre the camera stops (its cube is at most 300 wide), and how
// long it takes to get there.
constexpr f32 kFoundHostDistance = 600.0f;
constexpr u32 kFoundHostFlightMs = 1000;

}  // namespace

MyEventReceiver::MyEventReceiver(IrrlichtDevice* d, scene::ISceneNode* t,
                                 scene::ICameraSceneNode* c, scene::ISceneManager* s,
                                 gui::IGUIEnvironment* g, SUiState& state)
    : device(d), terrain(t), camera(c), sceneManager(s), guiEnvironment(g), ui(state) {}

MyEventReceiver::~MyEventReceiver() = default;

void MyEventReceiver::toggleStatsGraph() {
    if (!device) return;
    ProcessFlags& flags = ui.flags;
    if (flags.statsGraphShown == 0) {
        statsGridImage = addOverlay(device, "Media/statsgrid.png", flags.windowWidth - 266,
                                    flags.windowHeight - 138);
        flags.statsGraphShown = 1;
    } else {
        if (statsGridImage) statsGridImage->remove();
        statsGridImage = nullptr;
        flags.statsGraphShown = 0;
    }
}

void MyEventReceiver::toggleLogging() {
    if (!ui.channel) return;
    const bool on = !ui.channel->tracing();
    ui.channel->setTracing(on);
    ui.post(on ? "Logging Traffic" : "Stopped Logging");
}

void MyEventReceiver::toggleHelp() {
    if (!device) return;
    ProcessFlags& flags = ui.flags;
    flags.helpState += 1;
    if (flags.helpState == 2) {
        helpImage = addOverlay(device, "Media/help.png", flags.windowWidth / 2 - 256,
                               flags.windowHeight / 2 - 256);
        flags.helpState = 3;
    } else if (flags.helpState > 2) {
        if (helpImage) helpImage->remove();
        helpImage = nullptr;
        flags.helpState = 1;
    }
}

void MyEventReceiver::togglePause() {
    int& pauseState = ui.flags.pauseState;
    pauseState += 1;
    if (pauseState == 2) {
        // The picture is taken from the next finished frame; until then the loop keeps drawing
        // the scene.
        requestPausePicture();
        pauseState = 3;
        ui.post("Paused (VHS pause quality)");
    } else if (pauseState > 2) {
        pauseState = 1;
    }
    // A replay's clock stands still while paused.
    replayState().paused.store(pauseState > 2);
}

// Doubles or halves the replay's speed (nothing while capturing live).
void MyEventReceiver::changeReplaySpeed(double factor) {
    ReplayState& replay = replayState();
    if (!replay.active) return;
    const double speed = clampReplaySpeed(replay.speed.load() * factor);
    replay.speed.store(speed);
    ui.post("Replay speed x" + speedText(speed));
}

// [ and ] go 10 s back and forward in a replay, { and } 60 s. The character decides where the
// keyboard's layout gives one; otherwise the US keys with Shift.
bool MyEventReceiver::onSeekKey(const SEvent::SKeyInput& key) {
    constexpr std::int64_t kShortUs = 10'000'000, kLongUs = 60'000'000;
    std::int64_t delta = 0;
    switch (key.Char) {
        case L'[':
            delta = -kShortUs;
            break;
        case L']':
            delta = kShortUs;
            break;
        case L'{':
            delta = -kLongUs;
            break;
        case L'}':
            delta = kLongUs;
            break;
        default:
            if (key.Key == KEY_OEM_4) delta = key.Shift ? -kLongUs : -kShortUs;
            if (key.Key == KEY_OEM_6) delta = key.Shift ? kLongUs : kShortUs;
            break;
    }
    if (delta == 0) return false;
    seekReplayBy(ui, delta);
    return true;
}

void MyEventReceiver::toggleTour() {
    ui.tour.toggleTour(camera, device ? device->getTimer()->getTime() : 0, ui.flags,
                       ui.messages.get());
}

void MyEventReceiver::cycleLabels() {
    ui.labelMode = nextLabelMode(ui.labelMode);
    ui.post(labelModeMessage(ui.labelMode));
}

bool MyEventReceiver::moveCameraAlongView(f32 step) {
    scene::ICameraSceneNode* active = sceneManager ? sceneManager->getActiveCamera() : nullptr;
    if (!active) return false;
    const core::vector3df from = active->getAbsolutePosition();
    core::vector3df direction = active->getTarget() - from;
    if (direction.getLengthSQ() > 0.0f) direction.normalize();
    core::vector3df to = from + direction * step * 125.0f;
    if (scene::ISceneNode* parent = active->getParent()) {
        core::matrix4 inverse;
        if (parent->getAbsoluteTransformation().getInverse(inverse)) inverse.transformVect(to);
    }
    active->setPosition(to);
    return true;
}

void MyEventReceiver::setView(const core::vector3df& position) {
    if (!camera) return;
    camera->setPosition(position);
    camera->setTarget(kViewTarget);
    camera->setFarValue(kViewFar);
}

bool MyEventReceiver::onLeftButton() {
    if (!device) return false;
    const u32 now = device->getTimer()->getTime();
    if (now == lastClickTime) return false;
    const core::position2d<s32> cursor = device->getCursorControl()->getPosition();

    // The double-click test comes first, so a quick second click on the toolbar runs nothing.
    if (lastClickTime != 0 && now <= lastClickTime + 200u) {
        scene::ISceneManager* smgr = device->getSceneManager();
        scene::ISceneNode* hit =
            smgr->getSceneCollisionManager()->getSceneNodeFromScreenCoordinatesBB(cursor,
                                                                                  kNodePickBit);
        scene::ICameraSceneNode* active = smgr->getActiveCamera();
        if (hit && camera && active) {
            const core::vector3df midpoint =
                (active->getAbsolutePosition() + hit->getAbsolutePosition()) * 0.5f;
            ui.tour.flyTo(camera, midpoint, 100);
        }
        lastClickTime = now;
        return false;
    }

    double fraction = 0;
    if (replayTimelineFraction(cursor, &fraction)) {
        const ReplayTimeline::View span = replayState().timeline.read(0);
        seekReplayTo(ui,
                     span.firstUs + std::int64_t(fraction * double(span.lastUs - span.firstUs)));
        lastClickTime = now;
        return true;
    }

    const int button = toolbarButtonAt(cursor, ui.flags.windowHeight);
    if (button != TB_NONE) {
        runToolbarCommand(button);
        return true;
    }

    int& entered = ui.flags.enteredEnvironment;
    if (entered == 1) {
        if (camera) camera->setInputReceiverEnabled(false);
        entered = 0;
    } else {
        if (camera) camera->setInputReceiverEnabled(true);
        entered = 1;
    }
    lastClickTime = now;
    return false;
}

void MyEventReceiver::runToolbarCommand(int button) {
    switch (button) {
        case TB_EXIT:
            if (device) device->closeDevice();
            break;
        case TB_TOUR:
            toggleTour();
            break;
        case TB_GRAPH:
            toggleStatsGraph();
            break;
        case TB_LOG:
            toggleLogging();
            break;
        case TB_SCREENSHOT:
            takeScreenshot(eventTime);
            break;
        case TB_CONFIG:
            runConfigTool();
        case TB_HELP:
            toggleHelp();
            break;
        default:
            break;
    }
}

bool MyEventReceiver::onKeyReleased(EKEY_CODE key) {
    switch (key) {
        case KEY_ESCAPE:
            if (device) device->closeDevice();
            return true;
        case KEY_SPACE:
            return true;
        case KEY_KEY_1:
            setView(core::vector3df(7500.0f, 7500.0f, 7500.0f));
            return true;
        case KEY_KEY_2:
            setView(core::vector3df(10000.0f, 2500.0f, 0.0f));
            return true;
        case KEY_KEY_3:
            setView(core::vector3df(10000.0f, 2500.0f, 10000.0f));
            return true;
        case KEY_KEY_4:
            setView(core::vector3df(0.0f, 2500.0f, 10000.0f));
            return true;
        case KEY_KEY_C:
            setView(core::vector3df(0.0f, 2500.0f, 0.0f));
            return true;
        case KEY_KEY_A:
            moveCameraAlongView(-10.0f);
            return true;
        case KEY_KEY_Q:
            moveCameraAlongView(10.0f);
            return true;
        case KEY_KEY_D:
            toggleTour();
            return true;
        case KEY_KEY_F:
            if (ui.log) ui.log->logEvent("FLAG!");
            ui.post("Flag!");
            return true;
        case KEY_KEY_G:
            toggleStatsGraph();
            return true;
        case KEY_KEY_I:
            runConfigTool();
        case KEY_KEY_L:
            toggleLogging();
            return true;
        case KEY_KEY_T:
            toggleStatusLine(ui.flags);
            return true;
        case KEY_KEY_K:
            toggleLegend();
            return true;
        case KEY_KEY_N:
            cycleLabels();
            return true;
        case KEY_KEY_M:
            if (camera) camera->setInputReceiverEnabled(!camera->isInputReceiverEnabled());
            return true;
        case KEY_KEY_P:
            togglePause();
            return true;
        case KEY_KEY_R:
            openWithDesktop("readme.txt");
            return true;
        case KEY_KEY_S:
            takeScreenshot(eventTime);
            return true;
        case KEY_KEY_V:
            openWithDesktop("log.txt");
            return true;
        case KEY_KEY_W:
            if (ui.log) ui.log->wipeLog();
            ui.post("Wiped Log");
            return true;
        case KEY_F1:
            toggleHelp();
            return true;
        case KEY_HOME:
            seekReplayTo(ui, 0);  // kept within the span: its start
            return true;
        case KEY_PLUS:
        case KEY_ADD:
            changeReplaySpeed(2.0);
            return true;
        case KEY_MINUS:
        case KEY_SUBTRACT:
            changeReplaySpeed(0.5);
            return true;
        default:
            return false;
    }
}

// While the field is open every key is its own: none reaches the scene's commands, the GUI or
// the camera. Text and moves act on the press, so a key held down repeats; Esc closes on the
// release, so that the release does not reach the quit below.
bool MyEventReceiver::onFindKey(const SEvent::SKeyInput& key) {
    cFindField& find = ui.find;
    if (!find.isOpen()) {
        const bool slash = key.Char == L'/' || key.Key == KEY_DIVIDE;
        if (!key.PressedDown || !(slash || (key.Key == KEY_KEY_F && key.Control))) return false;
        find.open(guiEnvironment, ui.flags.windowWidth);
        return true;
    }
    if (!key.PressedDown) {
        if (key.Key == KEY_ESCAPE) find.close();
        return true;
    }
    if (!ui.nodes) return true;
    if (key.Key == KEY_RETURN) {
        if (find.first(*ui.nodes)) flyToFoundHost();
    } else if (key.Key == KEY_TAB) {
        if (find.step(key.Shift ? -1 : 1)) flyToFoundHost();
    } else if (key.Key == KEY_BACK) {
        find.erase(*ui.nodes);
    } else if (key.Char >= L' ' && key.Char < 127 && !key.Control) {
        find.type(static_cast<char>(key.Char), *ui.nodes);
    }
    return true;
}

// The camera flies straight towards the current match and stops before it, looking at it, and
// the host's panel opens. A tour under way ends first, so the user's camera is the one shown.
void MyEventReceiver::flyToFoundHost() {
    ui.find.pinPanel(0);
    const std::string address = ui.find.currentAddress();
    if (!camera || !ui.nodes || address.empty()) return;
    for (const SNetNode& node : ui.nodes->copyAllNodes()) {
        if (node.address != address) continue;
        if (ui.tour.active) toggleTour();
        const core::vector3df host = toVector(node.position);
        const core::vector3df from = camera->getPosition();
        core::vector3df to = from;
        if (from.getDistanceFrom(host) > kFoundHostDistance)
            to = host + (from - host).normalize() * kFoundHostDistance;
        camera->setTarget(host);
        camera->setFarValue(kViewFar);
        ui.tour.flyTo(camera, to, kFoundHostFlightMs);
        ui.find.pinPanel(node.pickId);
        showNodeInfo(ui, *ui.nodes, node.pickId);
        return;
    }
}

bool MyEventReceiver::OnEvent(const SEvent& event) {
    eventTime = std::time(nullptr);
    switch (event.EventType) {
        case EET_LOG_TEXT_EVENT:
            // Engine log text can arrive before the device pointer is published; it needs
            // nothing but the log.
            if (event.LogEvent.Text && ui.log) ui.log->logEvent(event.LogEvent.Text);
            return false;
        case EET_MOUSE_INPUT_EVENT:
            if (event.MouseInput.Event == EMIE_MOUSE_WHEEL)
                return moveCameraAlongView(event.MouseInput.Wheel);
            if (event.MouseInput.Event == EMIE_LMOUSE_PRESSED_DOWN) return onLeftButton();
            return false;
        case EET_KEY_INPUT_EVENT:
            if (onFindKey(event.KeyInput)) return true;
            // A focused GUI button is clicked by Space: keep the key from the GUI either way.
            if (event.KeyInput.Key == KEY_SPACE) return true;
            if (event.KeyInput.PressedDown) return false;
            if (onSeekKey(event.KeyInput)) return true;
            return onKeyReleased(event.KeyInput.Key);
        default:
            return false;
    }
}

}  // namespace tessel
