#include "scene/particle_impacts.h"

#include <gtest/gtest.h>

#include "app/globals.h"
#include "capture/adapter_lists.h"
#include "nodes/node_manager.h"
#include "support/test_support.h"

namespace tessel {
namespace {

using irr::core::vector3df;

class ImpactTest : public ::testing::Test {
  protected:
    void SetUp() override {
        device = test::createNullDevice();
        ASSERT_NE(device, nullptr);
        engineDevice = device;
        context.sceneManager = device->getSceneManager();
        context.videoDriver = device->getVideoDriver();
        localAddresses = {"192.168.0.5"};
        netMasks = {"255.255.255.0"};
        manager.clearAllNodes();
        manager.addLocalNode("192.168.0.5");
        timer()->stop();
        timer()->setTime(5000);
    }
    void TearDown() override {
        manager.clearAllNodes();
        engineDevice = nullptr;
        if (device) device->drop();
    }
    irr::ITimer* timer() { return device->getTimer(); }
    std::vector<irr::scene::IBillboardSceneNode*> sprites() {
        std::vector<irr::scene::IBillboardSceneNode*> out;
        for (irr::scene::ISceneNode* n : context.sceneManager->getRootSceneNode()->getChildren())
            if (n->getType() == irr::scene::ESNT_BILLBOARD)
                out.push_back(static_cast<irr::scene::IBillboardSceneNode*>(n));
        return out;
    }
    // Moves the virtual clock and lets the animators run, as one frame would.
    void frameAt(irr::u32 ms) {
        timer()->setTime(ms);
        context.sceneManager->drawAll();
    }
    vector3df positionOf(const std::string& address) {
        SNetNode n;
        EXPECT_TRUE(manager.copyNodeAt(manager.findNodeByAddress(address), &n));
        return n.position;
    }
    std::string textureOf(irr::scene::ISceneNode* n) {
        irr::video::ITexture* t = n->getMaterial(0).getTexture(0);
        return t ? t->getName().getPath().c_str() : "";
    }

    irr::IrrlichtDevice* device = nullptr;
    SSceneContext context;
    cNodeManager manager;
};

TEST_F(ImpactTest, SpriteSizeColourAndMaterial) {
    addParticleImpact(context, "192.168.0.5", "8.8.4.4", 1, 2, 10240, 1, 1, 0);
    auto s = sprites();
    ASSERT_EQ(s.size(), 1u);
    EXPECT_FLOAT_EQ(s[0]->getSize().Width, 102.4f);
    EXPECT_FLOAT_EQ(s[0]->getSize().Height, 102.4f);
    EXPECT_NE(textureOf(s[0]).find("particlered"), std::string::npos);  // tcp wins over udp
    EXPECT_EQ(s[0]->getMaterial(0).MaterialType, irr::video::EMT_TRANSPARENT_ADD_COLOR);
    EXPECT_FALSE(s[0]->getMaterial(0).Lighting);
    EXPECT_EQ(s[0]->getID(), 0);
    EXPECT_GE(manager.findNodeByAddress("8.8.4.4"), 1);  // a new address became a node

    addParticleImpact(context, "192.168.0.5", "8.8.4.4", 1, 2, 100, 0, 1, 0);
    addParticleImpact(context, "192.168.0.5", "8.8.4.4", 1, 2, 100, 0, 0, 1);
    s = sprites();
    ASSERT_EQ(s.size(), 3u);
    EXPECT_NE(textureOf(s[1]).find("particleblue"), std::string::npos);
    EXPECT_NE(textureOf(s[2]).find("particlegreen"), std::string::npos);
}

TEST_F(ImpactTest, NothingForSameAddressesOrNoProtocolButNodesAreRefreshed) {
    addParticleImpact(context, "10.1.1.1", "10.1.1.1", 0, 0, 100, 1, 0, 0);
    EXPECT_EQ(manager.findNodeByAddress("10.1.1.1"), -1);
    {
        NodeListLock lock;
        manager.nodeAt(0).age = 40;
    }
    addParticleImpact(context, "192.168.0.5", "10.1.1.2", 0, 0, 100, 0, 0, 0);
    EXPECT_TRUE(sprites().empty());
    EXPECT_GE(manager.findNodeByAddress("10.1.1.2"), 1);
    SNetNode self;
    manager.copyNodeAt(0, &self);
    EXPECT_EQ(self.age, 3);  // replaying a record delays pruning
}

TEST_F(ImpactTest, DirectFlightEndsAtDestinationAndIsDeletedAfterTwoSeconds) {
    addParticleImpact(context, "192.168.0.5", "8.8.8.8", 0, 0, 500, 0, 1, 0);
    ASSERT_EQ(sprites().size(), 1u);
    irr::scene::IBillboardSceneNode* sprite = sprites()[0];
    sprite->grab();
    frameAt(5000);
    EXPECT_TRUE(sprite->getPosition().equals(positionOf("192.168.0.5")));
    frameAt(5500);  // two points: halfway along the single segment
    EXPECT_TRUE(sprite->getPosition().equals(
        (positionOf("192.168.0.5") + positionOf("8.8.8.8")) * 0.5f, 0.5f));
    frameAt(6000);
    EXPECT_TRUE(sprite->getPosition().equals(positionOf("8.8.8.8")));
    frameAt(6900);  // pinned at the destination, no flight back
    EXPECT_TRUE(sprite->getPosition().equals(positionOf("8.8.8.8")));
    frameAt(7000);
    EXPECT_NE(sprite->getParent(), nullptr);
    frameAt(7001);
    EXPECT_EQ(sprite->getParent(), nullptr);
    EXPECT_TRUE(sprites().empty());
    sprite->drop();
}

TEST_F(ImpactTest, WithGatewayTheFlightPassesTheFixedGatewayPoint) {
    manager.addGatewayNode("192.168.0.1");
    {
        NodeListLock lock;
        manager.nodeAt(1).position = vector3df(-1, -1, -1);  // the waypoint is fixed anyway
    }
    addParticleImpact(context, "192.168.0.5", "8.8.8.8", 0, 0, 500, 1, 0, 0);
    irr::scene::IBillboardSceneNode* sprite = sprites().at(0);
    frameAt(6000);
    EXPECT_TRUE(sprite->getPosition().equals(vector3df(1000, 200, 1000)));
    frameAt(7000);
    EXPECT_TRUE(sprite->getPosition().equals(positionOf("8.8.8.8")));
}

}  // namespace
}  // namespace tessel
