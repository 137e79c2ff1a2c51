#include "scene/static_collision.h"

#include <gtest/gtest.h>

#include "core/irr_ptr.h"
#include "support/test_support.h"

namespace tessel {
namespace {
using namespace irr;

// The same collision set-up as the cubes and beams get, over a world of one wall cube.
struct Mover {
    scene::ISceneNode* node = nullptr;
    scene::ISceneNodeAnimatorCollisionResponse* animator = nullptr;  // owned by the node
};

Mover addMover(scene::ISceneManager* smgr, scene::ITriangleSelector* world, bool wrapped,
               ECollisionStart start = ECollisionStart::kRememberFirst,
               core::vector3df at = core::vector3df(200, 0, 0)) {
    Mover m;
    m.node = smgr->addCubeSceneNode(20.0f, nullptr, -1, at);
    const core::vector3df radius(3, 3, 3), gravity(0, 0, 0), translation(0, 6, 0);
    m.animator = wrapped ? createStaticCollisionResponse(smgr, world, m.node, radius, gravity,
                                                         translation, 0.0005f, start)
                         : smgr->createCollisionResponseAnimator(world, m.node, radius, gravity,
                                                                 translation, 0.0005f);
    m.node->addAnimator(m.animator);
    m.animator->drop();
    return m;
}

TEST(StaticCollisionTest, StillNodeCostsNothingAndMovedNodeCollidesLikeTheEngine) {
    IrrlichtDevice* device = test::createNullDevice(false);
    ASSERT_NE(device, nullptr);
    scene::ISceneManager* smgr = device->getSceneManager();
    scene::IMeshSceneNode* wall = smgr->addCubeSceneNode(100.0f);  // faces at +-50
    IrrPtr<scene::ITriangleSelector> wallSelector(
        smgr->createTriangleSelectorFromBoundingBox(wall));
    IrrPtr<scene::IMetaTriangleSelector> world(smgr->createMetaTriangleSelector());
    world->addTriangleSelector(wallSelector.get());

    Mover engine = addMover(smgr, world.get(), false);
    Mover ours = addMover(smgr, world.get(), true);
    auto* wrapper = static_cast<StaticCollisionResponse*>(ours.animator);
    EXPECT_EQ(wrapper->getType(), scene::ESNAT_COLLISION_RESPONSE);
    EXPECT_EQ(wrapper->getEllipsoidTranslation(), core::vector3df(0, 6, 0));

    u32 now = 1000;
    auto frame = [&] {
        now += 16;
        engine.node->OnAnimate(now);
        ours.node->OnAnimate(now);
    };
    for (int i = 0; i < 30; ++i) frame();
    EXPECT_EQ(wrapper->forwardedFrames(), 0u);
    EXPECT_EQ(ours.node->getPosition(), core::vector3df(200, 0, 0));
    EXPECT_EQ(engine.node->getPosition(), core::vector3df(200, 0, 0));

    // Pushed into the wall: stopped at its face, exactly where the engine's own animator stops.
    for (f32 x : {120.0f, 0.0f, -30.0f}) {
        engine.node->setPosition(core::vector3df(x, 0, 0));
        ours.node->setPosition(core::vector3df(x, 0, 0));
        frame();
        EXPECT_EQ(ours.node->getPosition(), engine.node->getPosition()) << x;
        EXPECT_EQ(ours.animator->collisionOccurred(), engine.animator->collisionOccurred()) << x;
    }
    EXPECT_GT(ours.node->getPosition().X, 50.0f);
    EXPECT_EQ(wrapper->forwardedFrames(), 4u);  // the start position once, then each move

    // Gravity after still frames falls exactly as far as with the engine's animator.
    engine.node->setPosition(core::vector3df(200, 0, 0));
    ours.node->setPosition(core::vector3df(200, 0, 0));
    for (int i = 0; i < 10; ++i) frame();
    wrapper->setGravity(core::vector3df(0, -100, 0));
    engine.animator->setGravity(core::vector3df(0, -100, 0));
    for (int i = 0; i < 3; ++i) frame();
    EXPECT_EQ(ours.node->getPosition(), engine.node->getPosition());
    EXPECT_LT(ours.node->getPosition().Y, 0.0f);
    device->drop();
}

// Bit for bit: the engine's == allows a rounding error.
bool samePosition(const core::vector3df& a, const core::vector3df& b) {
    return a.X == b.X && a.Y == b.Y && a.Z == b.Z;
}

// The camera's wrapper: even a still query rounds the position through the ellipsoid's space,
// so the wrapper follows the engine frame by frame and stops only once the engine would.
TEST(StaticCollisionTest, ForwardFirstFollowsTheEnginesRoundingUntilItSettles) {
    IrrlichtDevice* device = test::createNullDevice(false);
    ASSERT_NE(device, nullptr);
    scene::ISceneManager* smgr = device->getSceneManager();
    IrrPtr<scene::IMetaTriangleSelector> world(smgr->createMetaTriangleSelector());
    const core::vector3df start(200.1f, 0.1f, 7.3f);  // not a fixed point of that rounding
    Mover engine = addMover(smgr, world.get(), false, ECollisionStart::kForwardFirst, start);
    Mover ours = addMover(smgr, world.get(), true, ECollisionStart::kForwardFirst, start);
    auto* wrapper = static_cast<StaticCollisionResponse*>(ours.animator);
    u32 now = 1000;
    for (int frame = 0; frame < 40; ++frame) {
        if (frame == 20) {  // a move, then still again
            engine.node->setPosition(core::vector3df(150.7f, 3.3f, 1.9f));
            ours.node->setPosition(core::vector3df(150.7f, 3.3f, 1.9f));
        }
        now += 16;
        engine.node->OnAnimate(now);
        ours.node->OnAnimate(now);
        ASSERT_TRUE(samePosition(ours.node->getPosition(), engine.node->getPosition())) << frame;
        if (frame == 0) {
            EXPECT_FALSE(samePosition(engine.node->getPosition(), start));
        }
    }
    EXPECT_GE(wrapper->forwardedFrames(), 3u);
    EXPECT_LE(wrapper->forwardedFrames(), 10u);
    device->drop();
}

}  // namespace
}  // namespace tessel
