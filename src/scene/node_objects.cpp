#include "scene/node_objects.h"

#include "core/irr_ptr.h"
#include "scene/collision_worlds.h"

namespace tessel {
using namespace irr;

namespace {

struct SCubeKind {
    const char* texture;
    f32 edge;
};

// Decided in this order; the edge belongs to this node's kind alone.
SCubeKind kindOf(const SNetNode& node, int index) {
    if (node.isGateway == 1) return {kGatewayCubeTexture, 150.0f};
    if (index == 0 && node.isLocal == 1) return {kHostCubeTexture, 300.0f};
    if (node.isLocal == 1) return {kLocalCubeTexture, 250.0f};
    return {kForeignCubeTexture, 250.0f};
}

}  // namespace

void createNodeObjects(SSceneContext& context) {
    scene::ISceneManager* smgr = context.sceneManager;
    video::IVideoDriver* driver = context.videoDriver;
    if (!smgr || !driver) return;
    cNodeManager& manager = *context.nodes;
    // Only the main thread adds or removes nodes, so the indices of this copy stay true for the
    // pass; the resolver thread may meanwhile store names, which the updates below leave alone.
    const std::vector<SNetNode> nodes = manager.copyAllNodes();
    for (int i = 0; i < static_cast<int>(nodes.size()); ++i) {
        const SNetNode& node = nodes[static_cast<std::size_t>(i)];
        int pickId = 0;
        if (node.needsSceneNode == 1) {
            const SCubeKind kind = kindOf(node, i);
            video::ITexture* texture = driver->getTexture(kind.texture);
            // A missing texture ends the pass: later nodes are neither built nor aged.
            if (!texture) return;
            scene::IMeshSceneNode* cube =
                smgr->addCubeSceneNode(kind.edge, nullptr, -1, core::vector3df(0, 0, 0),
                                       core::vector3df(0, 0, 0), core::vector3df(1, 1, 1));
            if (cube) {
                cube->setName(node.address.c_str());
                cube->setID((i + 1000) | kNodePickBit);
                pickId = cube->getID();
                cube->setPosition(toVector(node.position));
                for (u32 m = 0; m < cube->getMaterialCount(); ++m)
                    cube->getMaterial(m).setTexture(0, texture);
                cube->setMaterialFlag(video::EMF_LIGHTING, false);
                if (cube->getMaterialCount() > 0)
                    cube->getMaterial(0).AmbientColor = video::SColor(0x00FF0000);

                IrrPtr<scene::ISceneNodeAnimator> rotation(
                    smgr->createRotationAnimator(core::vector3df(0, 0.3f, 0)));
                if (rotation) cube->addAnimator(rotation.get());
                if (context.collisionWorlds) context.collisionWorlds->giveStaticResponse(cube);
            }
            // No cube: the node stays pending and is tried again next pass.
        }
        manager.updateNode(i, [pickId](SNetNode& n) {
            if (pickId != 0) {
                n.needsSceneNode = 0;
                n.pickId = pickId;
            }
            n.age += 1;
        });
    }
}

scene::ISceneNode* cubeOf(SSceneContext& context, const SNetNode& node) {
    if (!context.sceneManager || node.address.empty()) return nullptr;
    scene::ISceneNode* found = context.sceneManager->getSceneNodeFromName(node.address.c_str());
    return found && found->getType() == scene::ESNT_CUBE ? found : nullptr;
}

void removeNodeCube(SSceneContext& context, const SNetNode& node) {
    scene::ISceneNode* cube = cubeOf(context, node);
    if (!cube) return;
    cCollisionWorlds::removeNode(context.collisionWorlds, cube);
}

}  // namespace tessel
