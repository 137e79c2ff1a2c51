#include <gtest/gtest.h>

#include <functional>

#include "nodes/node_manager.h"
#include "scene/connection_list.h"
#include "scene/irr_ptr.h"
#include "scene/node_objects.h"
#include "scene/world.h"
#include "support/worldnodes_support.h"

namespace tessel {
namespace {
using namespace irr;

TEST(PruneTest, SevenConditionsAndOneRemovalPerCall) {
    test::WorldFixtureDevice fixture(false);
    scene::ISceneManager* smgr = fixture.scene();
    IrrPtr<scene::IMetaTriangleSelector> meta(smgr->createMetaTriangleSelector());
    worldSelector = meta.get();
    cNodeManager manager;
    // Old, looked up, with a cube: every condition met.
    auto addStale = [&](const char* address) {
        const int index = manager.addForeignNode(address);
        NodeListLock lock;
        SNetNode& node = manager.nodeAt(index);
        node.age = 46;
        node.resolveState = 2;
        node.sceneNode = smgr->addCubeSceneNode(250.0f);
        createTriangleSelectors(smgr, fixture.device()->getFileSystem());
        refreshWorldSelector(smgr);
        return index;
    };
    addStale("7.7.7.7");  // index 0 is never removed, whatever it is
    manager.pruneOneNode();
    EXPECT_EQ(manager.nodeCount(), 1);

    STrafficBeam other;
    other.source = "7.7.7.7";
    other.destination = "1.1.1.1";
    const std::function<void(SNetNode&)> breakers[] = {
        [](SNetNode& n) { n.age = 45; },
        [](SNetNode& n) { n.isLocal = 1; },
        [](SNetNode& n) { n.resolveState = 1; },
        [](SNetNode& n) { n.isGateway = 1; },
        [](SNetNode& n) { n.sceneNode = nullptr; },
        [&](SNetNode& n) {
            STrafficBeam first = other;
            first.source = n.address;  // the first record
            beamList.append(first);
        },
        [&](SNetNode& n) {
            beamList.append(other);
            STrafficBeam second = other;
            second.sourcePort = 1;
            second.destination = n.address;
            beamList.append(second);
        },
    };
    for (const auto& breakIt : breakers) {
        const int index = addStale("8.8.4.4");
        SNetNode saved;
        manager.copyNodeAt(index, &saved);
        breakIt(manager.nodeAt(index));
        manager.pruneOneNode();
        EXPECT_EQ(manager.findNodeByAddress("8.8.4.4"), index);
        beamList.clear();
        manager.nodeAt(index) = saved;  // mended, it goes
        manager.pruneOneNode();
        EXPECT_EQ(manager.findNodeByAddress("8.8.4.4"), -1);
    }

    const int a = addStale("8.8.4.4");
    const int b = addStale("9.9.9.9");
    SNetNode nodeA, nodeB;
    manager.copyNodeAt(a, &nodeA);
    manager.copyNodeAt(b, &nodeB);
    scene::ITriangleSelector* selectorA = nodeA.sceneNode->getTriangleSelector();
    ASSERT_TRUE(test::metaHolds(worldSelector, selectorA));
    manager.pruneOneNode();
    EXPECT_EQ(manager.nodeCount(), 2);  // one per call
    EXPECT_EQ(manager.findNodeByAddress("9.9.9.9"), 1);
    EXPECT_FALSE(test::sceneHolds(smgr, nodeA.sceneNode));
    EXPECT_FALSE(test::metaHolds(worldSelector, selectorA));
    EXPECT_TRUE(test::metaHolds(worldSelector, nodeB.sceneNode->getTriangleSelector()));

    // A later add can repeat a listed node's pick identifier; look-ups take the first.
    ASSERT_EQ(manager.addForeignNode("6.6.6.6"), 2);
    EXPECT_EQ(manager.findNodeByPickId(nodeB.pickId), 1);
    EXPECT_EQ(manager.nodeAt(2).pickId, nodeB.pickId);
    worldSelector = nullptr;
}

// Every cube keeps the collision world it was made with; a pruned cube's box selector (which
// points at the cube) must leave all of them, or the next frame's collision reads a freed cube.
TEST(PruneTest, RemovedCubeLeavesEveryCollisionWorld) {
    test::WorldFixtureDevice fixture(true);
    scene::ISceneManager* smgr = fixture.scene();
    IrrPtr<scene::IMetaTriangleSelector> meta(smgr->createMetaTriangleSelector());
    worldSelector = meta.get();
    test::setLocalSubnet("10.0.0.1", "255.255.255.0");
    cNodeManager manager;
    manager.addLocalNode("10.0.0.1");
    const int stale = manager.addForeignNode("8.8.4.4");
    manager.addForeignNode("9.9.9.9");  // its cube's world is made after the stale cube exists
    SSceneContext context{nullptr, smgr, fixture.device()->getGUIEnvironment(),
                          fixture.device()->getVideoDriver()};
    createNodeObjects(context);
    scene::ITriangleSelector* removed = nullptr;
    {
        NodeListLock lock;
        SNetNode& node = manager.nodeAt(stale);
        node.age = 46;
        node.resolveState = 2;
        removed = node.sceneNode->getTriangleSelector();
    }
    ASSERT_NE(removed, nullptr);
    removed->grab();  // kept alive only to compare against
    manager.pruneOneNode();
    ASSERT_EQ(manager.findNodeByAddress("8.8.4.4"), -1);
    int worlds = 0;
    std::function<void(scene::ISceneNode*)> walk = [&](scene::ISceneNode* n) {
        for (scene::ISceneNode* child : n->getChildren()) {
            for (scene::ISceneNodeAnimator* a : child->getAnimators()) {
                if (a->getType() != scene::ESNAT_COLLISION_RESPONSE) continue;
                ++worlds;
                scene::ITriangleSelector* world =
                    static_cast<scene::ISceneNodeAnimatorCollisionResponse*>(a)->getWorld();
                EXPECT_FALSE(test::metaHolds(world, removed));
            }
            walk(child);
        }
    };
    walk(smgr->getRootSceneNode());
    EXPECT_GE(worlds, 2);
    EXPECT_FALSE(test::metaHolds(worldSelector, removed));
    removed->drop();
    worldSelector = nullptr;
}

}  // namespace
}  // namespace tessel
