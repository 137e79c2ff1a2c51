#include "scene/traffic_beams.h"

#include "capture/service_names.h"
#include "nodes/node_manager.h"
#include "scene/connection_list.h"
#include "scene/static_collision.h"
#include "scene/world.h"

namespace tessel {

using namespace irr;

const u16 CSampleSceneNode::kIndices[18] = {0, 2, 3, 2, 1, 3, 1, 0, 3, 2, 0, 1, 0, 2, 3, 2, 1, 3};

CSampleSceneNode::CSampleSceneNode(scene::ISceneNode* parent, scene::ISceneManager* manager, s32 id,
                                   const core::vector3df& a, const core::vector3df& b)
    : scene::ISceneNode(parent, manager, id) {
    beamMaterial.Wireframe = false;
    beamMaterial.Lighting = false;
    const video::SColor white(0xFFFFFFFF);
    const f32 d = 20.0f;
    beamVertices[0] = video::S3DVertex(a.X + d, a.Y, a.Z, 1, 1, 1, white, 1, 0);
    beamVertices[1] = video::S3DVertex(a.X + d, a.Y - d, a.Z + d, 1, 1, 1, white, 0, 0);
    beamVertices[2] = video::S3DVertex(a.X + d, a.Y - d, a.Z - d, 1, 1, 1, white, 0, 1);
    beamVertices[3] = video::S3DVertex(b.X + d, b.Y, b.Z, 1, 1, 1, white, 1, 0);
    beamVertices[4] = video::S3DVertex(b.X + d, b.Y - d, b.Z + d, 1, 1, 1, white, 0, 0);
    beamVertices[5] = video::S3DVertex(b.X + d, b.Y - d, b.Z - d, 1, 1, 1, white, 0, 1);
    boundingBox.reset(beamVertices[0].Pos);
    for (int i = 1; i < 6; ++i) boundingBox.addInternalPoint(beamVertices[i].Pos);
}

void CSampleSceneNode::OnRegisterSceneNode() {
    if (IsVisible) SceneManager->registerNodeForRendering(this);
    ISceneNode::OnRegisterSceneNode();
}

void CSampleSceneNode::render() {
    video::IVideoDriver* driver = SceneManager->getVideoDriver();
    driver->setMaterial(beamMaterial);
    driver->setTransform(video::ETS_WORLD, AbsoluteTransformation);
    driver->drawIndexedTriangleList(beamVertices, 6, kIndices, 6);
}

const core::aabbox3d<f32>& CSampleSceneNode::getBoundingBox() const { return boundingBox; }

video::SMaterial& CSampleSceneNode::getMaterial(u32) { return beamMaterial; }

u32 CSampleSceneNode::getMaterialCount() const { return 1; }

namespace {

// Builds a beam as a child of the scene root with the common set-up: texture, lighting off,
// identifier, and a collision response over the current collision world. The scene graph owns
// the result. Null without a scene.
CSampleSceneNode* makeBeam(SSceneContext& context, const core::vector3df& first,
                           const core::vector3df& second, s32 id) {
    scene::ISceneManager* smgr = context.sceneManager;
    video::IVideoDriver* driver = context.videoDriver;
    if (!smgr || !driver) return nullptr;
    CSampleSceneNode* beam =
        new CSampleSceneNode(smgr->getRootSceneNode(), smgr, -1, first, second);
    video::ITexture* texture = driver->getTexture("Media/laserbeam.bmp");
    for (u32 i = 0; i < beam->getMaterialCount(); ++i) {
        beam->getMaterial(i).setTexture(0, texture);
        beam->getMaterial(i).Lighting = false;
    }
    beam->setID(id);

    createTriangleSelectors(smgr, smgr->getFileSystem());
    scene::IMetaTriangleSelector* meta = smgr->createMetaTriangleSelector();
    fillWorldSelector(smgr, meta);
    // Beams stand still: the wrapper queries the world only if one is moved.
    scene::ISceneNodeAnimator* collision =
        createStaticCollisionResponse(smgr, meta, beam, core::vector3df(3, 3, 3),
                                      core::vector3df(0, 0, 0), core::vector3df(0, 6, 0), 0.0005f);
    if (collision) {
        beam->addAnimator(collision);
        collision->drop();
    }
    meta->drop();
    beam->drop();  // the root grabbed it in the constructor
    return beam;
}

}  // namespace

void createGatewayLink(SSceneContext& context) {
    core::vector3df gateway, self;
    {
        NodeListLock lock;
        cNodeManager manager;
        if (manager.nodeCount() < 2) return;
        gateway = manager.nodeAt(1).position;
        self = manager.nodeAt(0).position;
    }
    makeBeam(context, gateway, self, 0);  // identifier 0: the link cannot be picked
}

void startTrafficBeam(SSceneContext& context, const std::string& source,
                      const std::string& destination, int sourcePort, int destinationPort) {
    if (findConnection(source, destination, sourcePort, destinationPort)) return;

    STrafficBeam record;
    record.source = source;
    record.destination = destination;
    record.sourcePort = sourcePort;
    record.destinationPort = destinationPort;
    // A full list refuses (and counts) the connection before any node or beam is made for it.
    if (beamList.full()) {
        beamList.append(record);
        return;
    }

    bool drawn = false;
    core::vector3df first, second;
    {
        NodeListLock lock;
        cNodeManager manager;
        int from = manager.findOrAddNode(source, 0);
        int to = manager.findOrAddNode(destination, 0);
        if (from >= 0 && to >= 0 && manager.nodeCount() >= 2) {
            // Every connection is drawn from the gateway when there is one.
            first =
                manager.isGatewayAt(1) ? manager.nodeAt(1).position : manager.nodeAt(from).position;
            second = manager.nodeAt(to).position;
            drawn = true;
        }
    }
    if (drawn) {
        int id = nextBeamPickId();
        record.beam = makeBeam(context, first, second, id);
        if (record.beam) record.pickId = id;
    }
    record.service = lookupServiceName(destinationPort);
    beamList.append(record);
}

void endConnection(const std::string& source, const std::string& destination, int sourcePort,
                   int destinationPort) {
    // A record that never got a beam goes too: otherwise it would stay for the rest of the run.
    STrafficBeam removed;
    if (!beamList.removeDirected(source, destination, sourcePort, destinationPort, &removed))
        return;
    if (!removed.beam) return;
    scene::ISceneManager* smgr = removed.beam->getSceneManager();
    scene::ITriangleSelector* selector = removed.beam->getTriangleSelector();
    if (selector && worldSelector) worldSelector->removeTriangleSelector(selector);
    removed.beam->remove();
    if (worldSelector && smgr) fillWorldSelector(smgr, worldSelector);
}

void applyBeamEvents(SSceneContext& context, const std::vector<BeamEvent>& events) {
    for (const BeamEvent& e : events) {
        if (e.start)
            startTrafficBeam(context, e.source, e.destination, e.sourcePort, e.destinationPort);
        else
            endConnection(e.source, e.destination, e.sourcePort, e.destinationPort);
    }
}

}  // namespace tessel
