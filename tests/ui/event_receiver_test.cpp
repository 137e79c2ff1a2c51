#include "ui/event_receiver.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "core/event_log.h"
#include "core/process_flags.h"
#include "core/replay_state.h"
#include "support/test_support.h"
#include "support/ui_fixture.h"
#include "ui/frame_requests.h"

using namespace irr;
using namespace tessel;
using namespace tessel::test;

namespace {

// The user camera as the world makes it (id 1), 1000 x 600 window, the toolbar row at
// 548 < y < 580.
struct ReceiverTest : ::testing::Test {
    UiFixture ui;
    scene::ICameraSceneNode* camera = nullptr;
    MyEventReceiver* receiver = nullptr;

    void SetUp() override {
        ASSERT_NE(ui.device, nullptr);
        camera = ui.smgr->addCameraSceneNode(0, core::vector3df(0, 0, 0),
                                             core::vector3df(0, 0, 100), 1, true);
        camera->setInputReceiverEnabled(false);
        receiver = new MyEventReceiver(ui.device, nullptr, camera, ui.smgr, ui.gui, ui.state);
    }
    void TearDown() override { delete receiver; }

    bool clickAt(u32 time, int x, int y) {
        ui.setTime(time);
        ui.setCursor(x, y);
        return receiver->OnEvent(leftClickEvent());
    }
    bool release(EKEY_CODE key) { return receiver->OnEvent(keyEvent(key, false)); }
};

TEST_F(ReceiverTest, DoubleClickWindowIs200msOfTheLastRecordedClick) {
    EXPECT_FALSE(clickAt(1000, 500, 300));
    EXPECT_EQ(ui.state.flags.enteredEnvironment, 1);
    EXPECT_TRUE(camera->isInputReceiverEnabled());
    clickAt(1200, 500, 300);  // exactly 200 ms: double click
    EXPECT_EQ(ui.state.flags.enteredEnvironment, 1);
    clickAt(1350, 500, 300);  // third quick click: double click of the second
    EXPECT_EQ(ui.state.flags.enteredEnvironment, 1);
    clickAt(1551, 500, 300);  // 201 ms
    EXPECT_EQ(ui.state.flags.enteredEnvironment, 0);
    EXPECT_FALSE(camera->isInputReceiverEnabled());
    clickAt(1551, 500, 300);  // the same millisecond is ignored
    EXPECT_EQ(ui.state.flags.enteredEnvironment, 0);
}

TEST_F(ReceiverTest, ToolbarHitsAreStrictlyInsideTheButtonsAndKeepTheClickTime) {
    // Edges: y = h - 52, y = h - 20, x = 20, x = 52 are scene clicks.
    EXPECT_FALSE(clickAt(1000, 140, 548));
    EXPECT_FALSE(clickAt(2000, 140, 580));
    EXPECT_FALSE(clickAt(3000, 20, 560));
    EXPECT_FALSE(clickAt(4000, 52, 560));
    EXPECT_EQ(ui.logging(), 0);
    EXPECT_EQ(ui.state.flags.enteredEnvironment, 0);

    EXPECT_TRUE(clickAt(5000, 132, 549));  // log button, x 132..162
    EXPECT_EQ(ui.logging(), 1);
    EXPECT_EQ(ui.newestMessage(), "Logging Traffic");
    EXPECT_TRUE(clickAt(5100, 162, 579));  // no double click: toolbar clicks are not recorded
    EXPECT_EQ(ui.newestMessage(), "Stopped Logging");

    // A button within 200 ms of a scene click runs nothing.
    clickAt(6000, 500, 300);
    EXPECT_FALSE(clickAt(6150, 140, 560));
    EXPECT_EQ(ui.logging(), 0);

    EXPECT_TRUE(clickAt(9000, 21, 560));  // exit
    EXPECT_FALSE(ui.device->run());
}

TEST_F(ReceiverTest, DoubleClickOnANodeFliesHalfwayToItAndThenLetsGo) {
    ui.smgr->addCubeSceneNode(50, 0, 0x01000000 | 1000, core::vector3df(0, 0, 1000));
    ui.drawScene();
    clickAt(1000, 500, 300);
    clickAt(1100, 500, 300);
    ASSERT_EQ(camera->getAnimators().size(), 1u);
    ui.setTime(1300);
    ui.drawScene();
    EXPECT_NEAR(camera->getPosition().Z, 500.0f, 1.0f);
    // Arrived, the flight lets go: the wheel moves the camera on instead of being pulled back.
    ui.state.tour.endFinishedFlight();
    EXPECT_EQ(camera->getAnimators().size(), 0u);
    EXPECT_TRUE(receiver->OnEvent(wheelEvent(1.0f)));
    ui.drawScene();
    EXPECT_NEAR(camera->getPosition().Z, 375.0f, 1.0f);  // 125 towards the target (z 100)

    // Empty space: nothing to fly to, not even the camera itself.
    clickAt(2000, 5, 5);
    clickAt(2100, 5, 5);
    EXPECT_EQ(camera->getAnimators().size(), 0u);
}

TEST_F(ReceiverTest, KeysActOnReleaseOnlyAndSpaceIsAlwaysConsumed) {
    EXPECT_FALSE(receiver->OnEvent(keyEvent(KEY_KEY_L, true)));
    EXPECT_FALSE(receiver->OnEvent(keyEvent(KEY_KEY_L, true)));  // auto-repeat
    EXPECT_EQ(ui.logging(), 0);
    EXPECT_TRUE(release(KEY_KEY_L));
    EXPECT_EQ(ui.logging(), 1);
    // A focused button would be clicked by Space.
    EXPECT_TRUE(receiver->OnEvent(keyEvent(KEY_SPACE, true)));
    EXPECT_TRUE(release(KEY_SPACE));
    EXPECT_FALSE(release(KEY_KEY_Z));

    EXPECT_TRUE(release(KEY_KEY_M));  // camera input only
    EXPECT_TRUE(camera->isInputReceiverEnabled());
    EXPECT_EQ(ui.state.flags.enteredEnvironment, 0);
    EXPECT_TRUE(release(KEY_KEY_1));
    EXPECT_EQ(camera->getPosition(), core::vector3df(7500, 7500, 7500));
    EXPECT_EQ(camera->getTarget(), core::vector3df(5000, -3250, 5000));
    EXPECT_FLOAT_EQ(camera->getFarValue(), 20000.0f);
    EXPECT_TRUE(release(KEY_ESCAPE));
    EXPECT_FALSE(ui.device->run());
}

TEST_F(ReceiverTest, HelpAndPauseCycleAndAFailedScreenshotSaysSo) {
    gui::IGUIElement* root = ui.gui->getRootGUIElement();
    const u32 base = root->getChildren().size();
    EXPECT_TRUE(release(KEY_F1));
    EXPECT_EQ(ui.state.flags.helpState, 3);
    EXPECT_EQ((*root->getChildren().getLast())->getRelativePosition().UpperLeftCorner,
              core::position2d<s32>(244, 44));
    EXPECT_TRUE(release(KEY_F1));
    EXPECT_EQ(ui.state.flags.helpState, 1);
    EXPECT_TRUE(clickAt(1000, 250, 560));  // help button, then F1: one shared state
    EXPECT_TRUE(release(KEY_F1));
    EXPECT_EQ(ui.state.flags.helpState, 1);
    EXPECT_EQ(root->getChildren().size(), base);

    EXPECT_TRUE(release(KEY_KEY_P));
    EXPECT_EQ(ui.state.flags.pauseState, 3);
    EXPECT_EQ(ui.newestMessage(), "Paused (VHS pause quality)");
    EXPECT_TRUE(pausePicturePending());

    TempDir dir;
    ScopedCwd cwd(dir.path());
    EXPECT_TRUE(release(KEY_KEY_S));
    serviceFrameRequests(ui.device->getVideoDriver(),
                         ui.state.messages.get());  // the NULL driver takes no pictures
    EXPECT_EQ(ui.newestMessage(), "Screenshot Failed");
    EXPECT_FALSE(pausePicturePending());
    EXPECT_EQ(pausePictureGeneration(), 0);
    EXPECT_TRUE(release(KEY_KEY_P));
    EXPECT_EQ(ui.state.flags.pauseState, 1);
}

TEST_F(ReceiverTest, PlusAndMinusChangeAReplaysSpeedWithinBoundsAndPStopsItsClock) {
    ReplayState& replay = replayState();
    EXPECT_TRUE(release(KEY_PLUS));  // live: nothing changes
    EXPECT_EQ(replay.speed.load(), 1.0);
    replay.active = true;
    EXPECT_TRUE(release(KEY_PLUS));
    EXPECT_TRUE(release(KEY_ADD));
    EXPECT_EQ(replay.speed.load(), 4.0);
    EXPECT_EQ(ui.newestMessage(), "Replay speed x4");
    for (int i = 0; i < 12; ++i) release(KEY_SUBTRACT);
    EXPECT_TRUE(release(KEY_MINUS));
    EXPECT_EQ(replay.speed.load(), ReplayState::kSlowest);
    EXPECT_EQ(ui.newestMessage(), "Replay speed x0.01");
    for (int i = 0; i < 20; ++i) release(KEY_PLUS);
    EXPECT_EQ(replay.speed.load(), ReplayState::kFastest);
    EXPECT_TRUE(release(KEY_KEY_P));
    EXPECT_TRUE(replay.paused.load());
    EXPECT_TRUE(release(KEY_KEY_P));
    EXPECT_FALSE(replay.paused.load());
    replay.active = false;
    replay.speed = 1.0;
}

// [ ] { } and Home ask the replay thread for a seek, from where the replay stands or from the seek
// still waiting, kept within the indexed span; standard input says it cannot.
TEST_F(ReceiverTest, SeekKeysAskForMomentsWithinTheSpanAndStandardInputSaysItCannot) {
    ReplayState& replay = replayState();
    auto typed = [&](wchar_t c, EKEY_CODE key = KEY_OEM_4, bool shift = false) {
        SEvent e = keyEvent(key, false);
        e.KeyInput.Char = c;
        e.KeyInput.Shift = shift;
        return receiver->OnEvent(e);
    };
    constexpr std::int64_t s = 1000000;
    replay.active = true;
    EXPECT_TRUE(typed(L']'));
    EXPECT_EQ(ui.newestMessage(), "Cannot seek: replaying standard input");
    EXPECT_EQ(replay.seekToUs.load(), ReplayState::kNoSeek);

    replay.seekable = true;
    replay.timeline.publish(100 * s, 400 * s, {1, 2, 3}, true);
    replay.captureClockUs.store(200 * s);
    EXPECT_TRUE(typed(L']', KEY_OEM_6));
    EXPECT_EQ(replay.seekToUs.load(), 210 * s);
    EXPECT_TRUE(typed(L']', KEY_OEM_6));  // before the replay thread took the first
    EXPECT_EQ(replay.seekToUs.load(), 220 * s);
    EXPECT_TRUE(typed(L'{', KEY_OEM_4, true));
    EXPECT_EQ(replay.seekToUs.load(), 160 * s);
    EXPECT_TRUE(typed(0, KEY_OEM_6, true));  // no character: the US key with Shift
    EXPECT_EQ(replay.seekToUs.load(), 220 * s);
    EXPECT_TRUE(typed(0, KEY_OEM_4));
    EXPECT_EQ(replay.seekToUs.load(), 210 * s);
    EXPECT_TRUE(release(KEY_HOME));
    EXPECT_EQ(replay.seekToUs.load(), 100 * s);
    EXPECT_TRUE(typed(L'['));
    EXPECT_EQ(replay.seekToUs.load(), 100 * s);
    for (int i = 0; i < 6; ++i) typed(L'}', KEY_OEM_6, true);
    EXPECT_EQ(replay.seekToUs.load(), 400 * s);
    EXPECT_NE(ui.newestMessage().find("Seek to "), std::string::npos) << ui.newestMessage();

    replay.active = replay.seekable = false;
    replay.seekToUs.store(ReplayState::kNoSeek);
    replay.captureClockUs.store(-1);
    replay.timeline.clear();
}

TEST_F(ReceiverTest, WheelAndQADollyTheActiveCameraInItsParentsSpace) {
    camera->setTarget(core::vector3df(0, 0, 100000));
    camera->updateAbsolutePosition();
    EXPECT_TRUE(receiver->OnEvent(wheelEvent(1.0f)));
    EXPECT_NEAR(camera->getPosition().Z, 125.0f, 0.01f);

    scene::ISceneNode* parent = ui.smgr->addEmptySceneNode(0, 0);
    parent->setPosition(core::vector3df(1000, 0, 0));
    parent->updateAbsolutePosition();
    camera->setParent(parent);
    camera->setPosition(core::vector3df(0, 0, 0));
    camera->updateAbsolutePosition();
    camera->setTarget(core::vector3df(1000, 0, -100));
    EXPECT_TRUE(release(KEY_KEY_Q));
    EXPECT_NEAR(camera->getPosition().X, 0.0f, 0.01f);
    EXPECT_NEAR(camera->getPosition().Z, -1250.0f, 0.01f);

    ui.smgr->setActiveCamera(nullptr);
    EXPECT_FALSE(receiver->OnEvent(wheelEvent(-1.0f)));
}

TEST_F(ReceiverTest, EngineLogTextAndFlagGoToTheEventLog) {
    TempDir dir;
    ScopedCwd cwd(dir.path());
    auto eventLog = std::make_unique<cLog>();
    ui.state.log = eventLog.get();
    SEvent log;
    log.EventType = EET_LOG_TEXT_EVENT;
    log.LogEvent.Text = "engine says hello";
    log.LogEvent.Level = ELL_INFORMATION;
    EXPECT_FALSE(receiver->OnEvent(log));
    EXPECT_TRUE(release(KEY_KEY_F));
    EXPECT_EQ(ui.newestMessage(), "Flag!");
    ui.state.log = nullptr;
    eventLog.reset();  // buffered until closed
    std::string text = readFile(dir.file("log.txt"));
    EXPECT_NE(text.find(" - engine says hello\r\n"), std::string::npos);
    EXPECT_NE(text.find(" - FLAG!\r\n"), std::string::npos);
}

using ReceiverDeathTest = ReceiverTest;

TEST_F(ReceiverDeathTest, ConfigKeyStartsTheToolAndEndsAtOnce) {
    setenv("TESSEL_CONFIG_TOOL", "/bin/true", 1);
    EXPECT_EXIT(release(KEY_KEY_I), ::testing::ExitedWithCode(0), "");
}

}  // namespace
