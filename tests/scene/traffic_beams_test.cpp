#include "scene/traffic_beams.h"

#include <gtest/gtest.h>

#include "core/adapter_addresses.h"
#include "nodes/connection_list.h"
#include "nodes/node_manager.h"
#include "support/test_support.h"
#include "support/worldnodes_support.h"

namespace tessel {
namespace {

using irr::core::vector3df;

class BeamTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::prepareRunFolder(dir.path());  // services.txt for the service names
        cwd = std::make_unique<test::ScopedCwd>(dir.path());
        device = test::createNullDevice();
        ASSERT_NE(device, nullptr);
        context.sceneManager = device->getSceneManager();
        context.videoDriver = device->getVideoDriver();
        test::testAdapter().localAddresses = {"192.168.0.5"};
        test::testAdapter().netMasks = {"255.255.255.0"};
    }
    void TearDown() override {
        test::testConnections().clear();
        if (device) device->drop();
    }
    void withGateway() {
        manager.addLocalNode("192.168.0.5");
        manager.addGatewayNode("192.168.0.1");
    }
    vector3df positionOf(const std::string& address) {
        SNetNode n;
        EXPECT_TRUE(manager.copyNodeAt(test::nodeIndexOf(manager, address), &n));
        return toVector(n.position);
    }
    CSampleSceneNode* beamAt(std::size_t i) {
        return static_cast<CSampleSceneNode*>(beamOf(context, test::testConnections().at(i)));
    }
    cNodeManager& manager = test::freshNodeWorld();
    SSceneContext context = test::testSceneContext();
    irr::scene::ISceneManager* smgr() { return device->getSceneManager(); }

    test::TempDir dir;
    std::unique_ptr<test::ScopedCwd> cwd;
    irr::IrrlichtDevice* device = nullptr;
};

TEST_F(BeamTest, SpikeGeometryBoundingBoxAndMaterial) {
    CSampleSceneNode* beam = new CSampleSceneNode(smgr()->getRootSceneNode(), smgr(), 5,
                                                  vector3df(0, 0, 0), vector3df(100, 50, -30));
    beam->drop();
    EXPECT_EQ(beam->vertex(0).Pos, vector3df(20, 0, 0));
    EXPECT_EQ(beam->vertex(1).Pos, vector3df(20, -20, 20));
    EXPECT_EQ(beam->vertex(2).Pos, vector3df(20, -20, -20));
    EXPECT_EQ(beam->vertex(3).Pos, vector3df(120, 50, -30));
    EXPECT_EQ(beam->vertex(5).Pos, vector3df(120, 30, -50));
    EXPECT_EQ(beam->vertex(0).TCoords, irr::core::vector2df(1, 0));
    EXPECT_EQ(beam->vertex(2).TCoords, irr::core::vector2df(0, 1));
    EXPECT_EQ(beam->vertex(4).Normal, vector3df(1, 1, 1));
    EXPECT_EQ(beam->vertex(4).Color, irr::video::SColor(0xFFFFFFFF));
    // Vertices 4 and 5 are not drawn but span the box.
    EXPECT_EQ(beam->getBoundingBox().MinEdge, vector3df(20, -20, -50));
    EXPECT_EQ(beam->getBoundingBox().MaxEdge, vector3df(120, 50, 20));
    // Through the base-class interface: the engine must see one material.
    irr::scene::ISceneNode* asNode = beam;
    EXPECT_EQ(asNode->getMaterialCount(), 1u);
    EXPECT_FALSE(asNode->getMaterial(0).Lighting);
    EXPECT_EQ(CSampleSceneNode::kIndices[3 * 3 + 2], 1);  // fourth triangle (2, 0, 1)
    EXPECT_EQ(beam->getPosition(), vector3df(0, 0, 0));
    smgr()->drawAll();  // renders through the NULL driver without fault
}

TEST_F(BeamTest, ConnectionsAreDrawnFromTheGatewayAndClosedOnlyByTheOpener) {
    withGateway();
    startTrafficBeam(context, "192.168.0.5", "192.168.0.9", 1025, 80);
    ASSERT_EQ(test::testConnections().size(), 1u);
    const STrafficBeam& r = test::testConnections().at(0);
    EXPECT_EQ(r.pickId, 1999 | 0x02000000);
    EXPECT_EQ(r.service, "http");
    irr::scene::ISceneNode* beam = beamOf(context, r);
    ASSERT_NE(beam, nullptr);
    EXPECT_EQ(beam->getID(), r.pickId);
    EXPECT_EQ(smgr()->getSceneNodeFromId(r.pickId), beam);
    // Both local, yet drawn from the gateway to the destination.
    EXPECT_EQ(beamAt(0)->vertex(0).Pos, positionOf("192.168.0.1") + vector3df(20, 0, 0));
    EXPECT_EQ(beamAt(0)->vertex(3).Pos, positionOf("192.168.0.9") + vector3df(20, 0, 0));
    irr::video::ITexture* texture = beam->getMaterial(0).getTexture(0);
    ASSERT_NE(texture, nullptr);
    EXPECT_NE(std::string(texture->getName().getPath().c_str()).find("laserbeam"),
              std::string::npos);

    // Known in either direction: nothing added.
    startTrafficBeam(context, "192.168.0.5", "192.168.0.9", 1025, 80);
    startTrafficBeam(context, "192.168.0.9", "192.168.0.5", 80, 1025);
    EXPECT_EQ(test::testConnections().size(), 1u);

    beam->grab();                                                    // to see it leave the scene
    endConnection(context, "192.168.0.9", "192.168.0.5", 80, 1025);  // the responder's FIN
    EXPECT_EQ(test::testConnections().size(), 1u);
    endConnection(context, "192.168.0.5", "192.168.0.9", 1025, 80);
    EXPECT_TRUE(test::testConnections().empty());
    EXPECT_EQ(beam->getParent(), nullptr);
    beam->drop();
}

TEST_F(BeamTest, WithoutGatewayFromSourceAndIdentifiersCanRepeat) {
    manager.addLocalNode("192.168.0.5");
    startTrafficBeam(context, "192.168.0.5", "8.8.8.8", 40000, 53);
    startTrafficBeam(context, "192.168.0.7", "192.168.0.5", 40001, 22);
    ASSERT_EQ(test::testConnections().size(), 2u);
    EXPECT_EQ(beamAt(0)->vertex(0).Pos, positionOf("192.168.0.5") + vector3df(20, 0, 0));
    EXPECT_EQ(beamAt(1)->vertex(0).Pos, positionOf("192.168.0.7") + vector3df(20, 0, 0));
    EXPECT_EQ(beamAt(1)->vertex(3).Pos, positionOf("192.168.0.5") + vector3df(20, 0, 0));
    EXPECT_EQ(test::testConnections().at(1).pickId, 2000 | 0x02000000);
    endConnection(context, "192.168.0.5", "8.8.8.8", 40000, 53);
    startTrafficBeam(context, "192.168.0.5", "1.1.1.1", 40002, 443);
    ASSERT_EQ(test::testConnections().size(), 2u);
    EXPECT_EQ(test::testConnections().at(1).pickId,
              test::testConnections().at(0).pickId);  // (1 + 1999) again
    EXPECT_EQ(test::testConnections().findByPickId(test::testConnections().at(1).pickId),
              &test::testConnections().at(0));
}

TEST_F(BeamTest, RecordsWithoutBeamBlockRepeatsAndGoWithTheirConnection) {
    withGateway();
    for (int i = 2; i < kNodeListLimit; ++i)
        manager.findOrAddNode(
            "10." + std::to_string(i / 256) + "." + std::to_string(i % 256) + ".1", 0);
    ASSERT_EQ(manager.nodeCount(), kNodeListLimit);
    startTrafficBeam(context, "192.168.0.5", "77.77.77.77", 5000, 80);
    ASSERT_EQ(test::testConnections().size(), 1u);
    EXPECT_EQ(beamOf(context, test::testConnections().at(0)), nullptr);
    EXPECT_EQ(test::testConnections().at(0).pickId, 0);
    startTrafficBeam(context, "77.77.77.77", "192.168.0.5", 80,
                     5000);  // still blocks a second record
    EXPECT_EQ(test::testConnections().size(), 1u);
    endConnection(context, "77.77.77.77", "192.168.0.5", 80, 5000);  // not the opener
    EXPECT_EQ(test::testConnections().size(), 1u);
    // The opener's FIN ends it like any other: it would otherwise stay for the rest of the run.
    endConnection(context, "192.168.0.5", "77.77.77.77", 5000, 80);
    EXPECT_TRUE(test::testConnections().empty());
}

TEST_F(BeamTest, AFullConnectionListRefusesAndCountsNewConnections) {
    STrafficBeam record;
    record.source = "10.0.0.1";
    record.destination = "10.0.0.2";
    record.destinationPort = 80;
    for (std::size_t i = 0; i < cConnectionList::kLimit; ++i) {
        record.sourcePort = int(i);
        ASSERT_TRUE(test::testConnections().append(record));
    }
    startTrafficBeam(context, "10.0.0.3", "10.0.0.4", 1, 2);
    EXPECT_EQ(test::testConnections().size(), cConnectionList::kLimit);
    EXPECT_EQ(test::testConnections().refused(), 1u);
    EXPECT_EQ(test::nodeIndexOf(manager, "10.0.0.3"), -1);  // refused before anything is made
    EXPECT_TRUE(test::testConnections().isEndpoint("10.0.0.2"));
    endConnection(context, "10.0.0.1", "10.0.0.2", 7, 80);
    startTrafficBeam(context, "10.0.0.3", "10.0.0.4", 1, 2);
    EXPECT_NE(test::testConnections().find("10.0.0.4", "10.0.0.3", 2, 1), nullptr);
}

TEST_F(BeamTest, HandedOverEventsApplyInOrderAndGatewayLinkIsUnpickable) {
    withGateway();
    createGatewayLink(context);
    EXPECT_TRUE(test::testConnections().empty());
    irr::scene::ISceneNode* link = nullptr;
    for (irr::scene::ISceneNode* n : smgr()->getRootSceneNode()->getChildren())
        if (dynamic_cast<CSampleSceneNode*>(n)) link = n;
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->getID(), 0);
    CSampleSceneNode* spike = static_cast<CSampleSceneNode*>(link);
    EXPECT_EQ(spike->vertex(0).Pos, positionOf("192.168.0.1") + vector3df(20, 0, 0));
    EXPECT_EQ(spike->vertex(3).Pos, positionOf("192.168.0.5") + vector3df(20, 0, 0));

    HandOffChannel channel;
    channel.pushBeam(BeamEvent{true, "192.168.0.5", "9.9.9.9", 1, 2});
    channel.pushBeam(BeamEvent{false, "192.168.0.5", "9.9.9.9", 1, 2});
    channel.pushBeam(BeamEvent{true, "192.168.0.5", "9.9.9.9", 3, 4});
    EXPECT_TRUE(
        test::testConnections().empty());  // nothing happens before the main loop applies them
    applyBeamEvents(context, channel.drain(false).beams);
    ASSERT_EQ(test::testConnections().size(), 1u);
    EXPECT_EQ(test::testConnections().at(0).sourcePort, 3);
    EXPECT_GE(test::nodeIndexOf(manager, "9.9.9.9"), 2);
}

TEST_F(BeamTest, OneBatchDrawsEveryShownBeamInOneCallAndForgetsEndedOnes) {
    withGateway();
    createGatewayLink(context);
    startTrafficBeam(context, "192.168.0.5", "9.9.9.1", 1, 2);
    startTrafficBeam(context, "192.168.0.5", "9.9.9.2", 3, 4);
    startTrafficBeam(context, "192.168.0.5", "9.9.9.3", 5, 6);
    CBeamBatch* batch = beamBatchOf(smgr());
    ASSERT_NE(batch, nullptr);
    EXPECT_EQ(batch->getID(), 0);  // never picked
    smgr()->drawAll();
    EXPECT_EQ(batch->drawnLastFrame(), 4u);  // the gateway link too
    EXPECT_EQ(batch->callsLastFrame(), 1u);

    beamAt(1)->setVisible(false);
    endConnection(context, "192.168.0.5", "9.9.9.3", 5, 6);
    smgr()->drawAll();  // the ended beam's node is gone, the hidden one stays out
    EXPECT_EQ(batch->drawnLastFrame(), 2u);
    EXPECT_EQ(batch->callsLastFrame(), 1u);
    EXPECT_EQ(beamBatchOf(smgr()), batch);
}

}  // namespace
}  // namespace tessel
