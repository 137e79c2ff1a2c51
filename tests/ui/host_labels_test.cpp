// Names over the cubes on a real NULL-driver device with the real HUD: they keep clear of the HUD
// and of each other, and label the hosts each mode names.
#include "ui/host_labels.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "core/adapter_addresses.h"
#include "nodes/connection_list.h"
#include "nodes/node_manager.h"
#include "platform/registry.h"
#include "scene/node_objects.h"
#include "scene/world.h"
#include "support/test_support.h"
#include "support/ui_fixture.h"
#include "ui/hud.h"
#include "ui/legend.h"
#include "ui/toolbar.h"

using namespace irr;
using namespace tessel;
using namespace tessel::test;

namespace {

std::string foreign(int i) {
    return std::to_string(11 + i % 200) + "." + std::to_string((i / 200) % 250) + "." +
           std::to_string(i % 251) + "." + std::to_string(1 + i % 7);
}

// The HUD at 1000 x 600 with the legend shown, the world's camera at its home view, and 400
// hosts with their cubes.
class LabelWorld : public ::testing::Test {
  protected:
    void SetUp() override {
        writeFile(dir.file("tessel.conf"), "[Software\\Ashgrove\\Tessel]\n");
        setenv("TESSEL_CONFIG", dir.file("tessel.conf").c_str(), 1);
        ui = std::make_unique<UiFixture>(true, false);
        cRegistry registry;
        buildHud(ui->device, registry, ui->state);
        if (!legendShown()) toggleLegend();
        camera = ui->smgr->addCameraSceneNode(nullptr, kHomePosition, kViewTarget);
        camera->setFarValue(kViewFar);
        nodes.addLocalNode("10.0.0.10");
        nodes.addGatewayNode("10.0.0.1");
        for (int i = 2; i < 400; ++i) nodes.findOrAddNode(foreign(i), 0);
        context.camera = camera;
        context.sceneManager = ui->smgr;
        context.guiEnvironment = ui->gui;
        context.videoDriver = ui->device->getVideoDriver();
        context.timer = ui->device->getTimer();
        context.nodes = &nodes;
        context.connections = &connections;
        // A few hosts stand right under the HUD's elements, seen from here.
        ui->drawScene();
        scene::ISceneCollisionManager* collision = ui->smgr->getSceneCollisionManager();
        int moved = 300;  // none of the hosts the tests make busy
        for (const core::rect<s32>& r : hud()) {
            const core::line3df ray = collision->getRayFromScreenCoordinates(r.getCenter(), camera);
            const core::vector3df at = ray.start + ray.getVector().normalize() * 2500.0f -
                                       core::vector3df(0, cNodeLabels::kLift, 0);
            nodes.updateNode(moved++, [&](SNetNode& n) { n.position = Vec3{at.X, at.Y, at.Z}; });
        }
        createNodeObjects(context);
        ui->drawScene();
    }
    void TearDown() override {
        if (legendShown()) toggleLegend();
    }

    std::vector<core::rect<s32>> hud() const {
        std::vector<core::rect<s32>> r;
        hudRectangles(ui->gui, &r);
        return r;
    }
    std::set<std::string> drawnAddresses(const cHostLabels& labels) const {
        std::set<std::string> out;
        for (const SDrawnLabel& l : labels.drawn()) out.insert(l.address);
        return out;
    }

    TempDir dir;
    std::unique_ptr<UiFixture> ui;
    scene::ICameraSceneNode* camera = nullptr;
    AdapterAddresses adapter;
    cNodeManager nodes{adapter};
    cConnectionList connections;
    SSceneContext context;
};

bool covers(const std::vector<core::rect<s32>>& rects, const core::rect<s32>& r) {
    for (const core::rect<s32>& h : rects)
        if (h.isPointInside(r.UpperLeftCorner) &&
            h.isPointInside(r.LowerRightCorner - core::position2d<s32>(1, 1)))
            return true;
    return false;
}

TEST_F(LabelWorld, LabelsKeepClearOfTheHudAndOfEachOther) {
    const std::vector<core::rect<s32>> rects = hud();
    // The rectangles stand for what the HUD shows: toolbar, legend, message lines.
    EXPECT_TRUE(covers(rects, toolbarButtonRect(0, 600)));
    EXPECT_TRUE(covers(rects, toolbarButtonRect(TB_COUNT - 1, 600)));
    EXPECT_TRUE(covers(rects, core::rect<s32>(10, 138, 240, 300))) << "the legend";
    EXPECT_TRUE(covers(rects, core::rect<s32>(800, 12, 900, 20))) << "the newest message";

    // Unhindered, the labels of this view would fall on the HUD: the check below means something.
    std::vector<SLabelCandidate> all;
    for (const SNetNode& n : nodes.copyAllNodes())
        all.push_back(SLabelCandidate{n.address, n.address, toWideCut(n.address),
                                      core::vector3df(n.position.X, n.position.Y, n.position.Z)});
    std::vector<const SLabelCandidate*> pointers;
    for (const SLabelCandidate& c : all) pointers.push_back(&c);
    cNodeLabels bare;
    bare.draw(context.videoDriver, ui->smgr, ui->gui->getBuiltInFont(), pointers, 0, 400, {});
    int onHud = 0;
    for (const SDrawnLabel& l : bare.drawn())
        for (const core::rect<s32>& h : rects) onHud += h.isRectCollided(l.box);
    EXPECT_GT(onHud, 0);

    cHostLabels labels;
    labels.refresh(nodes);
    labels.draw(context, LabelMode::AllInView, 0, 20000);
    const std::vector<SDrawnLabel>& drawn = labels.drawn();
    EXPECT_GE(drawn.size(), 3u);
    EXPECT_LE(drawn.size(), cHostLabels::kAllInView);
    for (std::size_t i = 0; i < drawn.size(); ++i) {
        SCOPED_TRACE(drawn[i].address);
        const core::rect<s32>& box = drawn[i].box;
        EXPECT_TRUE(core::rect<s32>(0, 0, 1000, 600).isPointInside(box.UpperLeftCorner));
        EXPECT_TRUE(core::rect<s32>(0, 0, 1001, 601).isPointInside(box.LowerRightCorner));
        for (const core::rect<s32>& h : rects) EXPECT_FALSE(h.isRectCollided(box));
        for (std::size_t j = 0; j < i; ++j) EXPECT_FALSE(drawn[j].box.isRectCollided(box));
    }
    // This host and the gateway stand in view and come first.
    ASSERT_GE(drawn.size(), 2u);
    EXPECT_EQ(drawn[0].address, "10.0.0.10");
    EXPECT_EQ(drawn[1].address, "10.0.0.1");
}

TEST_F(LabelWorld, ModesLabelTheBusiestTheSelectedAndNone) {
    // Names: a resolved one, one that failed (the address then), none yet.
    nodes.updateNode(foreign(2), [](SNetNode& n) { n.hostName = "busy.example"; });
    nodes.updateNode(foreign(3), [](SNetNode& n) { n.hostName = "(failed to resolve)"; });
    cHostLabels labels;
    labels.refresh(nodes);
    labels.draw(context, LabelMode::AllInView, 0, 1000);
    const std::set<std::string> inView = drawnAddresses(labels);

    // Hosts 2..39 talk to this host, host i 100 - i times: 2..13 are the twelve busiest.
    std::vector<TrafficRecord> records;
    for (int i = 2; i < 40; ++i)
        for (int k = 0; k < 100 - i; ++k) {
            TrafficRecord r;
            r.udp = 1;
            r.src = foreign(i);
            r.dst = "10.0.0.10";
            r.size = 0x3c00;  // 60 bytes, swapped
            records.push_back(r);
        }
    labels.countRecords(records, 1000);
    labels.draw(context, LabelMode::Busiest, 0, 3000);
    std::set<std::string> allowed = {"10.0.0.10", "10.0.0.1"};
    for (int i = 2; i < 14; ++i) allowed.insert(foreign(i));
    std::set<std::string> got = drawnAddresses(labels);
    EXPECT_TRUE(got.count("10.0.0.10"));
    EXPECT_TRUE(got.count("10.0.0.1"));
    int busy = 0;
    for (const std::string& a : got) {
        EXPECT_TRUE(allowed.count(a)) << a;
        busy += a != "10.0.0.10" && a != "10.0.0.1";
    }
    EXPECT_GT(busy, 0);
    for (const SDrawnLabel& l : labels.drawn()) {
        if (l.address == foreign(2)) {
            EXPECT_EQ(l.text, "busy.example");
        }
        if (l.address == foreign(3)) {
            EXPECT_EQ(l.text, foreign(3));
        }
    }

    // The host of the open information panel is labelled though it is quiet.
    std::string quiet;
    for (const std::string& a : inView)
        if (!allowed.count(a)) quiet = a;
    ASSERT_FALSE(quiet.empty());
    SNetNode record;
    for (const SNetNode& n : nodes.copyAllNodes())
        if (n.address == quiet) record = n;
    labels.draw(context, LabelMode::Busiest, record.pickId, 3000);
    EXPECT_TRUE(drawnAddresses(labels).count(quiet));
    EXPECT_EQ(labels.drawn().front().address, quiet);

    // Five seconds after the last records only the hosts that are always labelled remain.
    labels.draw(context, LabelMode::Busiest, 0, 1000 + cBusyHosts::kWindowMs + 1);
    EXPECT_EQ(drawnAddresses(labels), (std::set<std::string>{"10.0.0.10", "10.0.0.1"}));

    labels.draw(context, LabelMode::None, 0, 7000);
    EXPECT_TRUE(labels.drawn().empty());
    EXPECT_EQ(nextLabelMode(nextLabelMode(nextLabelMode(LabelMode::Busiest))), LabelMode::Busiest);
}

}  // namespace
