#include "ui/hud.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "core/process_flags.h"
#include "core/replay_state.h"
#include "nodes/node_manager.h"
#include "platform/registry.h"
#include "support/test_support.h"
#include "support/ui_fixture.h"
#include "support/worldnodes_support.h"
#include "ui/camera_tour.h"
#include "ui/fading_text_list.h"
#include "ui/status_line.h"

using namespace irr;
using namespace tessel;
using namespace tessel::test;

namespace {

// A HUD at the default 1000 x 600 from the real media, with a settings file of our own.
std::unique_ptr<UiFixture> buildWith(const TempDir& dir, const std::string& settings) {
    writeFile(dir.file("tessel.conf"), "[Software\\Ashgrove\\Tessel]\n" + settings);
    setenv("TESSEL_CONFIG", dir.file("tessel.conf").c_str(), 1);
    auto ui = std::make_unique<UiFixture>(true, false);
    cRegistry registry;
    buildHud(ui->device, registry, ui->state);
    return ui;
}

// A HUD text as the engine finds it, by its identifier.
gui::IGUIElement* element(const UiFixture& ui, s32 id) {
    gui::IGUIElement* e = ui.gui->getRootGUIElement()->getElementFromId(id);
    EXPECT_NE(e, nullptr) << id;
    return e;
}

// Hidden means moved to (-10, -10, -10, -10); the engine keeps every element at least 1 x 1.
bool hidden(gui::IGUIElement* e) {
    const core::rect<s32> r = e->getRelativePosition();
    return r.UpperLeftCorner == core::position2d<s32>(-10, -10) && r.getWidth() <= 1;
}

TEST(Hud, ElementsStandInOrderAndEveryColourRoleIsTinted) {
    for (const char* transparency : {"0", "yes"}) {
        TempDir dir;
        auto ui = buildWith(dir, std::string("transparency=") + transparency + "\n");
        const core::list<gui::IGUIElement*>& all = ui->gui->getRootGUIElement()->getChildren();
        auto it = all.begin();
        EXPECT_EQ((*it)->getType(), gui::EGUIET_IN_OUT_FADER);
        ++it;
        EXPECT_EQ((*it)->getRelativePosition(), core::rect<s32>(20, 548, 52, 580));
        for (int k = 0; k < 7; ++k) ++it;
        EXPECT_EQ((*it)->getType(), gui::EGUIET_IMAGE);  // logo, after the seven buttons
        EXPECT_GT((*it)->getRelativePosition().getWidth(), 0);
        EXPECT_EQ((*++it)->getID(), kInfoTextId);
        EXPECT_EQ((*++it)->getID(), kInfoBoxId);
        EXPECT_TRUE(hidden(element(*ui, kInfoBoxId)));

        ASSERT_NE(ui->state.messages, nullptr);
        ASSERT_GT(ui->state.messages->lineCount(), 1);  // the HUD font loaded
        EXPECT_EQ(*++it, ui->state.messages->line(0));
        EXPECT_EQ(narrow(ui->state.messages->line(0)->getText()), "Click to enter environment");
        EXPECT_EQ(narrow(ui->state.messages->line(1)->getText()), "For Help Press F1");
        EXPECT_EQ(ui->state.messages->line(0)->getRelativePosition().UpperLeftCorner,
                  core::position2d<s32>(780, 10));
        EXPECT_EQ(ui->state.messages->line(0)->getOverrideFont(), ui->gui->getSkin()->getFont());

        const u32 alpha = std::string(transparency) == "0" ? 255 : 150;
        for (s32 i = 0; i < gui::EGDC_COUNT; ++i)
            EXPECT_EQ(ui->gui->getSkin()->getColor(static_cast<gui::EGUI_DEFAULT_COLOR>(i)),
                      video::SColor(alpha, 105, 155, 106));
    }
}

TEST(Hud, InfoPanelShowsAtOnceAndLingers30FramesAfterTheLastHit) {
    TempDir dir;
    auto ui = buildWith(dir, "");
    cNodeManager& manager = test::freshNodeWorld();
    manager.addLocalNode("10.0.0.2");
    manager.findOrAddNode("203.0.113.9", 0);
    const int pickId = kNodePickBit | 1001;
    manager.updateNode(1, [pickId](SNetNode& n) {
        n.pickId = pickId;
        n.hostName = "far.example";
    });
    ui->smgr->addCameraSceneNode(0, core::vector3df(0, 0, 0), core::vector3df(0, 0, 100), 0);
    ui->smgr->addCubeSceneNode(50, 0, pickId, core::vector3df(0, 0, 1000));
    ui->drawScene();
    gui::IGUIElement* infoText = element(*ui, kInfoTextId);
    gui::IGUIElement* infoBox = element(*ui, kInfoBoxId);
    ASSERT_TRUE(infoText && infoBox);
    auto frames = [&](int n) {
        for (int i = 0; i < n; ++i)
            updateInfoPanel(ui->device, ui->state, manager, test::testConnections());
    };

    ui->setCursor(500, 300);
    ui->state.flags.enteredEnvironment = 0;  // not entered: nothing shows
    frames(1);
    EXPECT_TRUE(hidden(infoText));
    ui->state.flags.enteredEnvironment = 1;
    frames(1);
    EXPECT_EQ(infoBox->getRelativePosition(), core::rect<s32>(510, 323, 720, 385));
    EXPECT_EQ(infoText->getRelativePosition(), core::rect<s32>(512, 325, 718, 383));
    EXPECT_EQ(narrow(infoText->getText()), "Foreign Node:\n\nfar.example\n203.0.113.9");

    ui->setCursor(5, 5);
    frames(30);
    EXPECT_FALSE(hidden(infoText));
    ui->setCursor(500, 300);  // back within the 30 frames: the count starts again
    frames(1);
    ui->setCursor(5, 5);
    frames(30);
    EXPECT_FALSE(hidden(infoText));
    frames(1);  // the 31st frame without a hit
    EXPECT_TRUE(hidden(infoText));
    EXPECT_TRUE(hidden(infoBox));
    EXPECT_EQ(narrow(infoText->getText()), "");

    ui->setCursor(500, 300);
    ui->state.tour.active = 1;
    frames(1);
    EXPECT_TRUE(hidden(infoText));
    ui->state.tour.active = 0;

    // A located host's lines below the address: the box grows until every line shows.
    manager.updateNode(1, [](SNetNode& n) {
        n.location.rangeWording = "documentation range";
        n.locateState = 2;
    });
    frames(1);
    EXPECT_EQ(narrow(infoText->getText()),
              "Foreign Node:\n\nfar.example\n203.0.113.9\ndocumentation range");
    gui::IGUIFont* font = ui->gui->getSkin()->getFont();
    const core::rect<s32> shown = infoText->getRelativePosition();
    EXPECT_EQ(shown.UpperLeftCorner, core::position2d<s32>(512, 325));
    EXPECT_GE(shown.getHeight(), 5 * s32(font->getDimension(L"Ag").Height));
    EXPECT_EQ(infoBox->getRelativePosition().LowerRightCorner.Y, shown.LowerRightCorner.Y + 2);
    // The widest lines the panel is given fit its 206 pixels.
    for (const wchar_t* line : {L"country: United Kingdom (GB)", L"network: AS209242 CLOUDF...",
                                L"country: Bosnia-and-... (BA)"})
        EXPECT_LE(font->getDimension(line).Width, 206u) << narrow(line);
}

TEST(Hud, ReplayLineShowsTheSourceItsClockProgressAndSpeed) {
    setenv("TZ", "UTC", 1);
    tzset();
    ReplayState& replay = replayState();
    replay.active = true;
    replay.source = "demo.pcap";
    replay.captureClockUs = 1796731238'000000;  // 2026-12-08 12:00:38 UTC
    replay.progressPermille = 845;
    replay.speed = 2;
    TempDir dir;
    auto ui = buildWith(dir, "");
    gui::IGUIElement* line = element(*ui, kReplayLineId);
    ASSERT_NE(line, nullptr);
    updateReplayLine();
    EXPECT_TRUE(line->isVisible());
    EXPECT_EQ(narrow(line->getText()), "demo.pcap  2026-12-08 12:00:38  84%  x2");

    replay.paused = true;
    replay.speed = 0.25;
    updateReplayLine();
    EXPECT_EQ(narrow(line->getText()), "demo.pcap  2026-12-08 12:00:38  84%  x0.25  paused");

    replay.source = "standard input";  // a stream has no progress
    replay.progressPermille = -1;
    replay.paused = false;
    replay.finished = true;
    updateReplayLine();
    EXPECT_EQ(narrow(line->getText()), "standard input  2026-12-08 12:00:38  x0.25  finished");

    replay.active = false;
    replay.paused = false;
    replay.finished = false;
    replay.speed = 1;
}

TEST(Hud, StatusLineCountsWhatIsNotShownAndSaysOnceThatTheNodeListIsFull) {
    TempDir dir;
    auto ui = buildWith(dir, "");
    EXPECT_TRUE(statusLineShown());
    StatusFigures f;
    f.packetsPerSecond = 12345;
    f.kernelDropsKnown = true;
    f.kernelDrops = 7;
    f.notIP = 1200;
    f.otherProtocol = 1;
    f.truncated = 8;
    f.malformed = 2;
    f.fragments = 3;
    f.impactsMerged = 40;
    f.impactsCapped = 5;
    f.nodes = kNodeListLimit;
    f.nodeListFull = true;
    f.beams = 6;
    ui->state.flags.captureFilter = "icmp";
    showStatus(f, ui->state.flags, ui->state.messages.get());
    showStatus(f, ui->state.flags, ui->state.messages.get());
    ui->state.flags.captureFilter.clear();
    EXPECT_EQ(statusLineText(),
              "12,345 packets/s  kernel drops 7  not shown: 1,200 not IP, 1 other IP, 8 "
              "truncated, 2 malformed, 3 fragments\n"
              "impacts merged 40, capped 5   nodes 999/999 full   beams 6   filter: icmp");
    EXPECT_TRUE(statusDropsRed());
    EXPECT_EQ(narrow(ui->state.messages->line(0)->getText()),
              "Node list full (999 hosts): new hosts are not shown");
    EXPECT_EQ(narrow(ui->state.messages->line(1)->getText()), "Click to enter environment");
    toggleStatusLine(ui->state.flags);
    EXPECT_FALSE(statusLineShown());
    toggleStatusLine(ui->state.flags);
}

}  // namespace
