#include "scene/node_objects.h"

#include "nodes/node_manager.h"
#include "scene/irr_ptr.h"
#include "scene/static_collision.h"
#include "scene/world.h"

namespace tessel {
using namespace irr;

namespace {

struct SCubeKind {
    const char* texture;
    f32 edge;
};

// Decided in this order; the edge belongs to this node's kind alone.
SCubeKind kindOf(const SNetNode& node, int index) {
    if (node.isGateway == 1) return {"Media/gateway.bmp", 150.0f};
    if (index == 0 && node.isLocal == 1) return {"Media/wall-tessel.bmp", 300.0f};
    if (node.isLocal == 1) return {"Media/wall.bmp", 250.0f};
    return {"Media/wallb.bmp", 250.0f};
}

}  // namespace

void createNodeObjects(SSceneContext& context) {
    scene::ISceneManager* smgr = context.sceneManager;
    video::IVideoDriver* driver = context.videoDriver;
    if (!smgr || !driver) return;
    cNodeManager manager;
    // Held for the whole pass: the resolver thread may not see records move under it. It never
    // holds this lock across a look-up, so the wait is at most one pass.
    NodeListLock lock;
    for (int i = 0; i < manager.nodeCount(); ++i) {
        SNetNode& node = manager.nodeAt(i);
        if (node.needsSceneNode == 1) {
            const SCubeKind kind = kindOf(node, i);
            video::ITexture* texture = driver->getTexture(kind.texture);
            // A missing texture ends the pass: later nodes are neither built nor aged.
            if (!texture) return;
            scene::IMeshSceneNode* cube =
                smgr->addCubeSceneNode(kind.edge, nullptr, -1, core::vector3df(0, 0, 0),
                                       core::vector3df(0, 0, 0), core::vector3df(1, 1, 1));
            if (cube) {
                node.sceneNode = cube;
                cube->setID((i + 1000) | kNodePickBit);
                node.pickId = cube->getID();
                cube->setPosition(node.position);
                for (u32 m = 0; m < cube->getMaterialCount(); ++m)
                    cube->getMaterial(m).setTexture(0, texture);
                cube->setMaterialFlag(video::EMF_LIGHTING, false);
                if (cube->getMaterialCount() > 0)
                    cube->getMaterial(0).AmbientColor = video::SColor(0x00FF0000);

                IrrPtr<scene::ISceneNodeAnimator> rotation(
                    smgr->createRotationAnimator(core::vector3df(0, 0.3f, 0)));
                if (rotation) cube->addAnimator(rotation.get());

                createTriangleSelectors(smgr, smgr->getFileSystem());
                IrrPtr<scene::IMetaTriangleSelector> meta(smgr->createMetaTriangleSelector());
                fillWorldSelector(smgr, meta.get());
                // Cubes stand still: the wrapper queries the world only if one is moved.
                IrrPtr<scene::ISceneNodeAnimatorCollisionResponse> collision(
                    createStaticCollisionResponse(smgr, meta.get(), cube, core::vector3df(3, 3, 3),
                                                  core::vector3df(0, 0, 0),
                                                  core::vector3df(0, 6, 0), 0.0005f));
                if (collision) cube->addAnimator(collision.get());
                node.needsSceneNode = 0;
            }
            // No cube: the node stays pending and is tried again next pass.
        }
        node.age += 1;
    }
}

}  // namespace tessel
