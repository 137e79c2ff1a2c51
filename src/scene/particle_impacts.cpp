#include "scene/particle_impacts.h"

#include "app/globals.h"
#include "nodes/node_manager.h"

namespace tessel {

using namespace irr;

namespace {
constexpr u32 kImpactLifeMs = 2000;
}

void addParticleImpact(SSceneContext& context, const std::string& src, const std::string& dst, int,
                       int, int size, int tcp, int udp, int icmp) {
    if (src == dst) return;
    scene::ISceneManager* smgr = context.sceneManager;
    video::IVideoDriver* driver = context.videoDriver;
    if (!smgr || !driver) return;

    cNodeManager manager;
    NodeListLock lock;  // the indices below stay valid until the points are read
    int from = manager.findOrAddNode(src, 1);
    int to = manager.findOrAddNode(dst, 1);
    if (from < 0 || to < 0) return;

    const char* textureName = nullptr;
    if (tcp == 1)
        textureName = "Media/particlered.bmp";
    else if (udp == 1)
        textureName = "Media/particleblue.bmp";
    else if (icmp == 1)
        textureName = "Media/particlegreen.bmp";
    else
        return;

    scene::IBillboardSceneNode* sprite = smgr->addBillboardSceneNode(
        nullptr, core::dimension2d<f32>(10.0f, 10.0f), core::vector3df(0, 0, 0), -1,
        video::SColor(0xFFFFFFFF), video::SColor(0xFFFFFFFF));
    if (!sprite) return;
    sprite->setMaterialTexture(0, driver->getTexture(textureName));

    core::array<core::vector3df> points;
    points.push_back(manager.nodeAt(from).position);
    if (manager.nodeCount() > 1 && manager.isGatewayAt(1))
        points.push_back(core::vector3df(kGatewayWaypointX, kGatewayWaypointY, kGatewayWaypointZ));
    points.push_back(manager.nodeAt(to).position);

    sprite->setMaterialFlag(video::EMF_LIGHTING, false);
    sprite->setMaterialType(video::EMT_TRANSPARENT_ADD_COLOR);
    const f32 side = static_cast<f32>(size / 100.0);
    sprite->setSize(core::dimension2d<f32>(side, side));

    // Start time "now" of the virtual timer: a later one would underflow inside the animator.
    // No loop, so the sprite ends at its destination instead of flying back.
    u32 now = engineDevice ? engineDevice->getTimer()->getTime() : 0;
    scene::ISceneNodeAnimator* flight =
        smgr->createFollowSplineAnimator(static_cast<s32>(now), points, 1.0f, 0.0f, false, false);
    if (flight) {
        sprite->addAnimator(flight);
        flight->drop();
    }
    sprite->setID(0);
    scene::ISceneNodeAnimator* end = smgr->createDeleteAnimator(kImpactLifeMs);
    if (end) {
        sprite->addAnimator(end);
        end->drop();
    }
}

}  // namespace tessel
