#include "scene/node_objects.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "nodes/connection_list.h"
#include "nodes/node_manager.h"
#include "scene/collision_worlds.h"
#include "scene/impact_sprites.h"
#include "scene/seek_reset.h"
#include "scene/traffic_beams.h"
#include "support/test_support.h"
#include "support/worldnodes_support.h"

namespace tessel {
namespace {
using namespace irr;

SSceneContext contextOf(IrrlichtDevice* device, cCollisionWorlds* worlds = nullptr) {
    SSceneContext context = test::testSceneContext();
    context.sceneManager = device->getSceneManager();
    context.videoDriver = device->getVideoDriver();
    context.collisionWorlds = worlds;
    return context;
}

SNetNode nodeCopy(int index) {
    SNetNode copy;
    test::testNodes().copyNodeAt(index, &copy);
    return copy;
}

TEST(NodeObjectsTest, CubesByKindWithIdentifiersAndAges) {
    test::WorldFixtureDevice fixture;
    cCollisionWorlds worlds(fixture.scene());
    SSceneContext context = contextOf(fixture.device(), &worlds);
    cNodeManager& manager = test::testNodes();
    test::setLocalSubnet("192.168.1.10", "255.255.255.0");
    manager.addLocalNode("192.168.1.10");
    manager.addGatewayNode("192.168.1.1");
    manager.findOrAddNode("192.168.1.20", 0);
    manager.findOrAddNode("8.8.4.4", 0);
    createNodeObjects(context);
    createNodeObjects(context);  // builds nothing more, ages again

    const struct {
        float edge;
        const char* texture;
    } expected[] = {{300, "wall-tessel.bmp"},
                    {150, "gateway.bmp"},
                    {250, "wall.bmp"},  // right after the gateway: its own edge, not 150
                    {250, "wallb.bmp"}};
    for (int i = 0; i < 4; ++i) {
        SNetNode node = nodeCopy(i);
        scene::ISceneNode* cube = cubeOf(context, node);
        ASSERT_NE(cube, nullptr) << i;
        EXPECT_EQ(cube->getBoundingBox().getExtent(), core::vector3df(expected[i].edge));
        video::ITexture* texture = cube->getMaterial(0).getTexture(0);
        ASSERT_NE(texture, nullptr);
        EXPECT_NE(std::string(texture->getName().getPath().c_str()).find(expected[i].texture),
                  std::string::npos);
        EXPECT_EQ(node.pickId, (i + 1000) | 0x01000000);
        EXPECT_EQ(cube->getID(), node.pickId);
        EXPECT_EQ(cube->getPosition(), toVector(node.position));
        EXPECT_EQ(node.needsSceneNode, 0);
        EXPECT_EQ(node.age, 2);
        EXPECT_EQ(cube->getAnimators().size(), 2u);  // rotation, collision
        EXPECT_NE(cube->getTriangleSelector(), nullptr);
    }
    EXPECT_EQ(fixture.scene()->getRootSceneNode()->getChildren().size(), 4u);
}

TEST(NodeObjectsTest, MissingTextureEndsThePassUntilItAppears) {
    test::TempDir dir;
    test::ScopedCwd cwd(dir.path());
    test::WorldFixtureDevice fixture(false);  // textures from the working folder only
    video::IVideoDriver* driver = fixture.device()->getVideoDriver();
    std::filesystem::create_directories(dir.file("Media"));
    auto writeTexture = [&](const char* name) {
        video::IImage* image = driver->createImage(video::ECF_R8G8B8, {8, 8});
        driver->writeImageToFile(image, dir.file(std::string("Media/") + name).c_str());
        image->drop();
    };
    writeTexture("wall-tessel.bmp");
    writeTexture("wall.bmp");
    SSceneContext context = contextOf(fixture.device());
    cNodeManager& manager = test::testNodes();
    manager.addLocalNode("192.168.1.10");
    manager.addGatewayNode("192.168.1.1");
    manager.addLocalNode("192.168.1.20");
    for (int pass = 1; pass <= 2; ++pass) {
        createNodeObjects(context);
        EXPECT_EQ(nodeCopy(0).age, pass);
        EXPECT_EQ(nodeCopy(1).needsSceneNode, 1);  // the gateway stays pending
        EXPECT_EQ(cubeOf(context, nodeCopy(1)), nullptr);
        EXPECT_EQ(nodeCopy(1).age + nodeCopy(2).age, 0);  // it and every later node unaged
        EXPECT_EQ(cubeOf(context, nodeCopy(2)), nullptr);
    }
    writeTexture("gateway.bmp");
    createNodeObjects(context);
    EXPECT_NE(cubeOf(context, nodeCopy(2)), nullptr);
    EXPECT_EQ(nodeCopy(2).age, 1);
}

// A seek leaves the scene of its moment: every beam, node (but this host and the gateway), cube
// and sprite of the moment left goes; the moment's hosts and open connections come.
TEST(NodeObjectsTest, ASeekLeavesOnlyTheMomentsHostsAndConnections) {
    test::WorldFixtureDevice fixture;
    cCollisionWorlds worlds(fixture.scene());
    SSceneContext context = contextOf(fixture.device(), &worlds);
    cNodeManager& manager = test::testNodes();
    test::setLocalSubnet("192.168.1.10", "255.255.255.0");
    manager.addLocalNode("192.168.1.10");
    manager.addGatewayNode("192.168.1.1");
    startTrafficBeam(context, "192.168.1.10", "203.0.113.1", 40001, 80);
    startTrafficBeam(context, "192.168.1.10", "192.168.1.20", 40002, 22);
    createNodeObjects(context);
    const core::vector3df path[2] = {{0, 0, 0}, {100, 0, 0}};
    impactSpritesOf(context.sceneManager)->addSprite(path, 2, 0, 10, nullptr);
    scene::ISceneManager* smgr = context.sceneManager;
    ASSERT_NE(smgr->getSceneNodeFromName("203.0.113.1"), nullptr);

    SeekReset reset;
    reset.hosts = {"198.51.100.7", "192.168.1.20"};
    reset.openBeams = {BeamEvent{true, "192.168.1.10", "203.0.113.2", 40003, 443}};
    resetSceneForSeek(context, reset);
    createNodeObjects(context);

    std::vector<std::string> nodes;
    for (const SNetNode& n : manager.copyAllNodes()) nodes.push_back(n.address);
    EXPECT_EQ(nodes, (std::vector<std::string>{"192.168.1.10", "192.168.1.1", "198.51.100.7",
                                               "192.168.1.20", "203.0.113.2"}));
    EXPECT_EQ(smgr->getSceneNodeFromName("203.0.113.1"), nullptr);
    EXPECT_NE(smgr->getSceneNodeFromName("203.0.113.2"), nullptr);
    EXPECT_NE(smgr->getSceneNodeFromName("192.168.1.20"), nullptr);
    const cConnectionList& connections = *context.connections;
    ASSERT_EQ(connections.size(), 1u);
    EXPECT_NE(beamOf(context, *connections.begin()), nullptr);
    EXPECT_EQ(smgr->getSceneNodeFromName("192.168.1.10|203.0.113.1|40001|80"), nullptr);
    EXPECT_EQ(smgr->getSceneNodeFromName("192.168.1.10|192.168.1.20|40002|22"), nullptr);
    EXPECT_EQ(impactSpritesOf(smgr)->liveCount(), 0u);
}

}  // namespace
}  // namespace tessel
