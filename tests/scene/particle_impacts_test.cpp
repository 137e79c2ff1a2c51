#include "scene/particle_impacts.h"

#include <gtest/gtest.h>

#include <cmath>

#include "core/adapter_addresses.h"
#include "nodes/node_manager.h"
#include "scene/impact_sprites.h"
#include "support/test_support.h"
#include "support/worldnodes_support.h"

namespace tessel {
namespace {

using irr::core::vector3df;

class ImpactTest : public ::testing::Test {
  protected:
    void SetUp() override {
        device = test::createNullDevice();
        ASSERT_NE(device, nullptr);
        context.sceneManager = device->getSceneManager();
        context.videoDriver = device->getVideoDriver();
        context.timer = device->getTimer();
        forgetImpactRates();
        test::testAdapter().localAddresses = {"192.168.0.5"};
        test::testAdapter().netMasks = {"255.255.255.0"};
        manager.addLocalNode("192.168.0.5");
        timer()->stop();
        timer()->setTime(5000);
    }
    void TearDown() override {
        if (device) device->drop();
    }
    irr::ITimer* timer() { return device->getTimer(); }
    CImpactSprites* sprites() { return impactSpritesOf(context.sceneManager); }
    // A camera looking at `address` from above, far enough to see the whole scene.
    void lookAt(const std::string& address) {
        irr::scene::ICameraSceneNode* camera = context.sceneManager->addCameraSceneNode(
            nullptr, vector3df(0, 2500, 0), positionOf(address));
        camera->setFarValue(20000.0f);
    }
    // Moves the virtual clock and lets the animators run, as one frame would.
    void frameAt(irr::u32 ms) {
        timer()->setTime(ms);
        context.sceneManager->drawAll();
    }
    vector3df positionOf(const std::string& address) {
        SNetNode n;
        EXPECT_TRUE(manager.copyNodeAt(test::nodeIndexOf(manager, address), &n));
        return toVector(n.position);
    }
    // The texture of the i-th batch: sprites of one texture are drawn with one material.
    irr::video::ITexture* textureAt(irr::u32 i) {
        EXPECT_LT(i, sprites()->getMaterialCount());
        return i < sprites()->getMaterialCount() ? sprites()->getMaterial(i).getTexture(0)
                                                 : nullptr;
    }
    std::string textureOf(irr::u32 i) {
        irr::video::ITexture* t = textureAt(i);
        return t ? t->getName().getPath().c_str() : "";
    }
    static TrafficRecord record(const std::string& src, const std::string& dst, int size, int tcp,
                                int udp, int icmp) {
        TrafficRecord a;
        a.src = src;
        a.dst = dst;
        a.size = size;
        a.tcp = tcp;
        a.udp = udp;
        a.icmp = icmp;
        return a;
    }
    // An intel pass of one record.
    void impact(const std::string& src, const std::string& dst, int size, int tcp, int udp,
                int icmp) {
        addParticleImpacts(context, {record(src, dst, size, tcp, udp, icmp)});
    }

    irr::IrrlichtDevice* device = nullptr;
    cNodeManager& manager = test::freshNodeWorld();
    SSceneContext context = test::testSceneContext();
};

TEST_F(ImpactTest, SpriteSizeColourAndMaterial) {
    impact("192.168.0.5", "8.8.4.4", 10240, 1, 1, 0);
    ASSERT_EQ(sprites()->liveCount(), 1u);
    EXPECT_FLOAT_EQ(sprites()->spriteSide(0), 102.4f);
    EXPECT_NE(textureOf(0).find("particlered"), std::string::npos);  // tcp wins over udp
    EXPECT_EQ(sprites()->spriteMaterial().MaterialType, irr::video::EMT_TRANSPARENT_ADD_COLOR);
    EXPECT_FALSE(sprites()->spriteMaterial().Lighting);
    EXPECT_EQ(sprites()->getID(), 0);                     // never picked
    EXPECT_GE(test::nodeIndexOf(manager, "8.8.4.4"), 1);  // a new address became a node

    impact("192.168.0.5", "8.8.4.4", 100, 0, 1, 0);
    impact("192.168.0.5", "8.8.4.4", 100, 0, 0, 1);
    ASSERT_EQ(sprites()->liveCount(), 3u);
    ASSERT_EQ(sprites()->getMaterialCount(), 3u);
    EXPECT_NE(textureOf(1).find("particleblue"), std::string::npos);
    EXPECT_NE(textureOf(2).find("particlegreen"), std::string::npos);
    lookAt("192.168.0.5");
    frameAt(5000);
    EXPECT_EQ(sprites()->drawnLastFrame(), 3u);  // through the NULL driver, one quad each
}

TEST_F(ImpactTest, OnePassMergesSharedFlightsAndCountsWhatIsOverTheCap) {
    manager.addGatewayNode("192.168.0.1");
    std::vector<TrafficRecord> pass = {
        record("192.168.0.5", "8.8.8.8", 500, 0, 1, 0),
        record("192.168.0.5", "8.8.8.8", 900, 0, 1, 0),  // same flight: merged, largest size
        record("8.8.8.8", "192.168.0.5", 700, 0, 1, 0),  // the way back is another flight
        record("192.168.0.5", "8.8.8.8", 300, 1, 0, 0),  // another protocol too
        record("192.168.0.5", "8.8.8.8", 100, 0, 1, 0),
        record("9.9.9.9", "9.9.9.9", 100, 0, 1, 0),      // same addresses: nothing at all
        record("192.168.0.5", "7.7.7.7", 100, 0, 0, 0),  // no protocol: node only
    };
    ImpactPass made = addParticleImpacts(context, pass);
    EXPECT_EQ(made.records, 7);
    EXPECT_EQ(made.sprites, 3);
    EXPECT_EQ(made.drawnRecords, 5);
    EXPECT_EQ(made.countedRecords, 0);
    ASSERT_EQ(sprites()->liveCount(), 3u);
    EXPECT_FLOAT_EQ(sprites()->spriteSide(0), 9.0f);
    EXPECT_FLOAT_EQ(sprites()->spriteSide(1), 7.0f);
    EXPECT_NE(textureOf(0), textureOf(1));  // three records glow brighter than one
    EXPECT_NE(textureOf(1).find("particleblue"), std::string::npos);
    EXPECT_NE(textureOf(2).find("particlered"), std::string::npos);
    EXPECT_EQ(test::nodeIndexOf(manager, "9.9.9.9"), -1);
    EXPECT_GE(test::nodeIndexOf(manager, "7.7.7.7"), 2);
    // Nodes were added in the order the records name them, as one look-up per record would.
    EXPECT_LT(test::nodeIndexOf(manager, "8.8.8.8"), test::nodeIndexOf(manager, "7.7.7.7"));

    EXPECT_EQ(impactTexture(device->getVideoDriver(), 1, 3),
              textureAt(0));  // made once, then found again

    // Over the cap: whole flights are counted, not drawn, and the rates say so.
    ImpactPass capped = addParticleImpacts(context,
                                           {record("192.168.0.5", "1.1.1.1", 100, 0, 1, 0),
                                            record("192.168.0.5", "1.1.1.2", 100, 0, 1, 0),
                                            record("192.168.0.5", "1.1.1.2", 100, 0, 1, 0)},
                                           4);
    EXPECT_EQ(capped.sprites, 1);
    EXPECT_EQ(capped.drawnRecords, 1);
    EXPECT_EQ(capped.countedRecords, 2);
    EXPECT_EQ(sprites()->liveCount(), 4u);
    EXPECT_GE(test::nodeIndexOf(manager, "1.1.1.2"), 0);  // counted records still make nodes
    const ImpactRates rates = recentImpactRates(5000);
    EXPECT_EQ(rates.drawnPerSecond, (5 + 1) / 2);
    EXPECT_EQ(rates.totalPerSecond, (5 + 3) / 2);
    EXPECT_EQ(recentImpactRates(7001).totalPerSecond, 0);  // two seconds on, nothing recent
}

TEST_F(ImpactTest, NothingForSameAddressesOrNoProtocolButNodesAreRefreshed) {
    impact("10.1.1.1", "10.1.1.1", 100, 1, 0, 0);
    EXPECT_EQ(test::nodeIndexOf(manager, "10.1.1.1"), -1);
    manager.updateNode(0, [](SNetNode& n) { n.age = 40; });
    impact("192.168.0.5", "10.1.1.2", 100, 0, 0, 0);
    EXPECT_EQ(sprites()->liveCount(), 0u);
    EXPECT_GE(test::nodeIndexOf(manager, "10.1.1.2"), 1);
    SNetNode self;
    manager.copyNodeAt(0, &self);
    EXPECT_EQ(self.age, 3);  // replaying a record delays pruning
}

TEST_F(ImpactTest, DirectFlightEndsAtDestinationAndIsDeletedAfterTwoSeconds) {
    impact("192.168.0.5", "8.8.8.8", 500, 0, 1, 0);
    ASSERT_EQ(sprites()->liveCount(), 1u);
    lookAt("8.8.8.8");
    // Beside it, the engine's own billboard with the animators a sprite used to carry: both
    // must stand in the same place on every frame.
    irr::scene::ISceneManager* smgr = context.sceneManager;
    irr::scene::IBillboardSceneNode* engine = smgr->addBillboardSceneNode();
    irr::core::array<vector3df> path;
    path.push_back(positionOf("192.168.0.5"));
    path.push_back(positionOf("8.8.8.8"));
    irr::scene::ISceneNodeAnimator* fly =
        smgr->createFollowSplineAnimator(5000, path, 1.0f, 0.0f, false, false);
    engine->addAnimator(fly);
    fly->drop();
    for (irr::u32 t : {5000u, 5250u, 5500u, 5999u, 6000u, 6900u, 7000u}) {
        frameAt(t);
        ASSERT_EQ(sprites()->liveCount(), 1u) << t;
        EXPECT_TRUE(sprites()->spritePosition(0).equals(engine->getPosition())) << t;
    }
    EXPECT_TRUE(sprites()->spritePosition(0).equals(positionOf("8.8.8.8")));  // no flight back
    frameAt(7001);
    EXPECT_EQ(sprites()->drawnLastFrame(), 1u);  // its last frame is still drawn
    EXPECT_EQ(sprites()->liveCount(), 0u);
}

TEST_F(ImpactTest, WithGatewayTheFlightPassesTheFixedGatewayPoint) {
    manager.addGatewayNode("192.168.0.1");
    manager.updateNode(1, [](SNetNode& n) { n.position = Vec3{-1, -1, -1}; });  // fixed anyway
    impact("192.168.0.5", "8.8.8.8", 500, 1, 0, 0);
    frameAt(6000);
    EXPECT_TRUE(sprites()->spritePosition(0).equals(vector3df(1000, 200, 1000)));
    frameAt(7000);
    EXPECT_TRUE(sprites()->spritePosition(0).equals(positionOf("8.8.8.8")));
}

TEST_F(ImpactTest, AFloodOfSpritesIsHeldToTheBudgetOfBlendedPixels) {
    // Camera at the origin looking down +Z: a sprite of side s at depth d is
    // s * (600 / 2) / tan(fov / 2) / d pixels tall on the 1000 x 600 screen.
    context.sceneManager->addCameraSceneNode(nullptr, vector3df(0, 0, 0), vector3df(0, 0, 1000));
    const double pixelsPerUnit =
        300.0 / std::tan(context.sceneManager->getActiveCamera()->getFOV() / 2.0);
    const vector3df far(0, 0, 1000);
    CImpactSprites* node = sprites();

    // Light traffic: drawn as it is.
    node->addSprite(&far, 1, 5000, 10.0f, nullptr);
    frameAt(5000);
    const double alone = 10.0 * pixelsPerUnit / 1000.0;
    EXPECT_NEAR(node->blendedLastFrame(), alone * alone, 0.01);
    EXPECT_DOUBLE_EQ(node->wantedLastFrame(), node->blendedLastFrame());

    // A flood: 200 sprites of 413 x 413 pixels share the budget of blended pixels.
    const double budget = CImpactSprites::kBlendBudget * 1000.0 * 600.0;
    for (int i = 0; i < 200; ++i) node->addSprite(&far, 1, 5000, 1000.0f, nullptr);
    frameAt(5001);
    EXPECT_EQ(node->drawnLastFrame(), 201u);
    const double each = 1000.0 * pixelsPerUnit / 1000.0;
    EXPECT_NEAR(node->wantedLastFrame(), alone * alone + 200 * each * each, 50.0);
    EXPECT_NEAR(node->blendedLastFrame(), budget, 1.0);

    // A sprite by the camera (4,129 pixels tall) counts as one screen.
    const vector3df near(0, 0, 100);
    node->addSprite(&near, 1, 5000, 1000.0f, nullptr);
    frameAt(5002);
    EXPECT_NEAR(node->wantedLastFrame(), alone * alone + 200 * each * each + 1000.0 * 600.0, 50.0);
    EXPECT_NEAR(node->blendedLastFrame(), budget, 1.0);
}

TEST_F(ImpactTest, PastTheBudgetSpritesOfOneProtocolAtOnePointAreDrawnAsOne) {
    context.sceneManager->addCameraSceneNode(nullptr, vector3df(0, 0, 0), vector3df(0, 0, 1000));
    const vector3df here(0, 0, 1000), there(50, 0, 1000);
    CImpactSprites* node = sprites();
    std::vector<std::pair<int, int>> asked;
    irr::video::ITexture* merged = impactTexture(context.videoDriver, 1, 32);
    node->setMergedTexture([&](int protocol, int records) {
        asked.emplace_back(protocol, records);
        return merged;
    });

    // Within the budget nothing merges, coinciding or not.
    for (int i = 0; i < 3; ++i) node->addSprite(&here, 1, 5000, 10.0f, nullptr, 1, 2);
    frameAt(5000);
    EXPECT_EQ(node->drawnLastFrame(), 3u);
    EXPECT_TRUE(asked.empty());

    // Past it: per point and protocol one sprite, as wide as the widest and as bright as all of
    // their records; a sprite of no protocol stays itself.
    for (int i = 0; i < 100; ++i) node->addSprite(&here, 1, 5000, 500.0f + i, nullptr, 1, 2);
    for (int i = 0; i < 100; ++i) node->addSprite(&here, 1, 5000, 500.0f, nullptr, 0, 1);
    for (int i = 0; i < 100; ++i) node->addSprite(&there, 1, 5000, 500.0f, nullptr, 1, 1);
    node->addSprite(&here, 1, 5000, 500.0f, nullptr);
    frameAt(5001);
    EXPECT_EQ(node->drawnLastFrame(), 4u);
    EXPECT_EQ(asked, (std::vector<std::pair<int, int>>{{1, 206}, {0, 100}, {1, 100}}));
    // Merged, they fit the budget and keep their size; the widest sets the merged one's.
    const double pixelsPerUnit =
        300.0 / std::tan(context.sceneManager->getActiveCamera()->getFOV() / 2.0);
    const double widest = 599.0 * pixelsPerUnit / 1000.0, other = 500.0 * pixelsPerUnit / 1000.0;
    EXPECT_GT(node->wantedLastFrame(), CImpactSprites::kBlendBudget * 1000.0 * 600.0);
    EXPECT_NEAR(node->blendedLastFrame(), widest * widest + 3 * other * other, 50.0);
}

}  // namespace
}  // namespace tessel
