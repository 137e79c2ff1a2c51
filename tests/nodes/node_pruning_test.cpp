#include <gtest/gtest.h>

#include <functional>

#include "nodes/connection_list.h"
#include "nodes/node_manager.h"
#include "scene/collision_worlds.h"
#include "scene/node_objects.h"
#include "support/worldnodes_support.h"

namespace tessel {
namespace {
using namespace irr;

TEST(PruneTest, SevenConditionsAndOneRemovalPerCall) {
    test::resetNodeWorld();
    cNodeManager& manager = test::testNodes();
    // Old, looked up, with a cube: every condition met.
    auto addStale = [&](const char* address) {
        const int index = manager.findOrAddNode(address, 0);
        manager.updateNode(index, [](SNetNode& n) {
            n.age = 46;
            n.resolveState = 2;
            n.needsSceneNode = 0;
        });
        return index;
    };
    addStale("7.7.7.7");  // index 0 is never removed, whatever it is
    EXPECT_FALSE(manager.pruneOneNode(test::testConnections()));
    EXPECT_EQ(manager.nodeCount(), 1);

    STrafficBeam other;
    other.source = "7.7.7.7";
    other.destination = "1.1.1.1";
    const std::function<void(SNetNode&)> breakers[] = {
        [](SNetNode& n) { n.age = 45; },
        [](SNetNode& n) { n.isLocal = 1; },
        [](SNetNode& n) { n.resolveState = 1; },
        [](SNetNode& n) { n.isGateway = 1; },
        [](SNetNode& n) { n.needsSceneNode = 1; },  // no cube yet
        [&](SNetNode& n) {
            STrafficBeam first = other;
            first.source = n.address;  // the first record
            test::testConnections().append(first);
        },
        [&](SNetNode& n) {
            test::testConnections().append(other);
            STrafficBeam second = other;
            second.sourcePort = 1;
            second.destination = n.address;
            test::testConnections().append(second);
        },
    };
    for (const auto& breakIt : breakers) {
        const int index = addStale("8.8.4.4");
        SNetNode saved;
        manager.copyNodeAt(index, &saved);
        manager.updateNode(index, breakIt);
        EXPECT_FALSE(manager.pruneOneNode(test::testConnections()));
        EXPECT_EQ(test::nodeIndexOf(manager, "8.8.4.4"), index);
        test::testConnections().clear();
        manager.updateNode(index, [&saved](SNetNode& n) { n = saved; });  // mended, it goes
        std::optional<SNetNode> gone = manager.pruneOneNode(test::testConnections());
        ASSERT_TRUE(gone);
        EXPECT_EQ(gone->address, "8.8.4.4");
        EXPECT_EQ(test::nodeIndexOf(manager, "8.8.4.4"), -1);
    }

    addStale("8.8.4.4");
    const int b = addStale("9.9.9.9");
    SNetNode nodeB;
    manager.copyNodeAt(b, &nodeB);
    EXPECT_EQ(manager.pruneOneNode(test::testConnections())->address, "8.8.4.4");
    EXPECT_EQ(manager.nodeCount(), 2);                    // one per call
    EXPECT_EQ(test::nodeIndexOf(manager, "9.9.9.9"), 1);  // moved up, found by its address

    // A later add can repeat a listed node's pick identifier; look-ups take the first.
    ASSERT_EQ(manager.findOrAddNode("6.6.6.6", 0), 2);
    EXPECT_EQ(manager.findNodeByPickId(nodeB.pickId), 1);
    SNetNode added;
    manager.copyNodeAt(2, &added);
    EXPECT_EQ(added.pickId, nodeB.pickId);
}

// Every cube keeps the collision world it was made with; a pruned cube's box selector (which
// points at the cube) must leave all of them, or the next frame's collision reads a freed cube.
TEST(PruneTest, RemovedCubeLeavesEveryCollisionWorld) {
    test::WorldFixtureDevice fixture(true);
    scene::ISceneManager* smgr = fixture.scene();
    cCollisionWorlds worlds(smgr);
    test::setLocalSubnet("10.0.0.1", "255.255.255.0");
    cNodeManager& manager = test::testNodes();
    manager.addLocalNode("10.0.0.1");
    const int stale = manager.findOrAddNode("8.8.4.4", 0);
    manager.findOrAddNode("9.9.9.9", 0);  // its cube's world is made after the stale cube exists
    SSceneContext context = test::testSceneContext();
    context.sceneManager = smgr;
    context.videoDriver = fixture.device()->getVideoDriver();
    context.collisionWorlds = &worlds;
    createNodeObjects(context);
    worlds.refreshWorldSelector();
    manager.updateNode(stale, [](SNetNode& n) {
        n.age = 46;
        n.resolveState = 2;
    });
    SNetNode node;
    manager.copyNodeAt(stale, &node);
    scene::ISceneNode* cube = cubeOf(context, node);
    ASSERT_NE(cube, nullptr);
    scene::ITriangleSelector* removed = cube->getTriangleSelector();
    ASSERT_NE(removed, nullptr);
    removed->grab();  // kept alive only to compare against
    // The camera's world and every collision response in the scene, found by walking it.
    int responses = 0;
    auto worldsHolding = [&] {
        int n = test::metaHolds(worlds.worldSelector(), removed) ? 1 : 0;
        responses = 0;
        std::function<void(scene::ISceneNode*)> walk = [&](scene::ISceneNode* parent) {
            for (scene::ISceneNode* child : parent->getChildren()) {
                for (scene::ISceneNodeAnimator* a : child->getAnimators()) {
                    if (a->getType() != scene::ESNAT_COLLISION_RESPONSE) continue;
                    ++responses;
                    scene::ITriangleSelector* world =
                        static_cast<scene::ISceneNodeAnimatorCollisionResponse*>(a)->getWorld();
                    if (test::metaHolds(world, removed)) ++n;
                }
                walk(child);
            }
        };
        walk(smgr->getRootSceneNode());
        return n;
    };
    EXPECT_EQ(worldsHolding(), 3);  // the camera's and the two later cubes'
    std::optional<SNetNode> gone = manager.pruneOneNode(test::testConnections());
    ASSERT_TRUE(gone);
    removeNodeCube(context, *gone);
    ASSERT_EQ(test::nodeIndexOf(manager, "8.8.4.4"), -1);
    EXPECT_FALSE(test::sceneHolds(smgr, cube));
    EXPECT_EQ(worldsHolding(), 0);
    EXPECT_GE(responses, 2);
    removed->drop();
}

}  // namespace
}  // namespace tessel
