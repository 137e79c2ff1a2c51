#include "scene/particle_impacts.h"

#include "app/globals.h"
#include "nodes/node_manager.h"

namespace tessel {

using namespace irr;

namespace {
constexpr u32 kImpactLifeMs = 2000;

// getTexture re-resolves the name against the working folder and, for a texture from the
// archive (cached under its bare file name), unpacks the archive entry again on every call:
// about 50 us, once per record of an intel pass. The first answer per driver is kept while that
// driver still holds the texture. Main thread only.
video::ITexture* protocolTexture(video::IVideoDriver* driver, int protocol, const char* name) {
    struct Memo {
        video::IVideoDriver* driver = nullptr;
        video::ITexture* texture = nullptr;
        io::path textureName;
    };
    static Memo memo[3];
    Memo& m = memo[protocol];
    if (m.driver == driver && m.texture) {
        for (u32 i = 0; i < driver->getTextureCount(); ++i)
            if (driver->getTextureByIndex(i) == m.texture &&
                m.texture->getName().getPath() == m.textureName)
                return m.texture;
    }
    m.driver = driver;
    m.texture = driver->getTexture(name);
    if (m.texture) m.textureName = m.texture->getName().getPath();
    return m.texture;
}
}  // namespace

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
    int protocol = 0;
    if (tcp == 1)
        textureName = "Media/particlered.bmp", protocol = 0;
    else if (udp == 1)
        textureName = "Media/particleblue.bmp", protocol = 1;
    else if (icmp == 1)
        textureName = "Media/particlegreen.bmp", protocol = 2;
    else
        return;

    scene::IBillboardSceneNode* sprite = smgr->addBillboardSceneNode(
        nullptr, core::dimension2d<f32>(10.0f, 10.0f), core::vector3df(0, 0, 0), -1,
        video::SColor(0xFFFFFFFF), video::SColor(0xFFFFFFFF));
    if (!sprite) return;
    sprite->setMaterialTexture(0, protocolTexture(driver, protocol, textureName));

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
