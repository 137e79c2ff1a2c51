#include "scene/traffic_beams.h"

#include <atomic>
#include <mutex>

#include "app/globals.h"
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

std::mutex g_queueLock;
std::vector<BeamEvent> g_queue;
std::atomic<std::uint64_t> g_dropped{0};

void queueEvent(bool start, const std::string& source, const std::string& destination,
                int sourcePort, int destinationPort) {
    std::lock_guard<std::mutex> guard(g_queueLock);
    const std::size_t limit = start ? kBeamQueueStartLimit : kBeamQueueHardLimit;
    if (g_queue.size() >= limit) {
        g_dropped.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    g_queue.push_back(BeamEvent{start, source, destination, sourcePort, destinationPort});
}

// Builds a beam as a child of the scene root with the common set-up: texture, lighting off,
// identifier, and a collision response over the current collision world. The scene graph owns
// the result. Null without an engine device.
CSampleSceneNode* makeBeam(const core::vector3df& first, const core::vector3df& second, s32 id) {
    if (!engineDevice) return nullptr;
    scene::ISceneManager* smgr = engineDevice->getSceneManager();
    video::IVideoDriver* driver = engineDevice->getVideoDriver();
    CSampleSceneNode* beam =
        new CSampleSceneNode(smgr->getRootSceneNode(), smgr, -1, first, second);
    video::ITexture* texture = driver->getTexture("Media/laserbeam.bmp");
    for (u32 i = 0; i < beam->getMaterialCount(); ++i) {
        beam->getMaterial(i).setTexture(0, texture);
        beam->getMaterial(i).Lighting = false;
    }
    beam->setID(id);

    createTriangleSelectors(smgr, engineDevice->getFileSystem());
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

void createGatewayLink() {
    core::vector3df gateway, self;
    {
        NodeListLock lock;
        cNodeManager manager;
        if (manager.nodeCount() < 2) return;
        gateway = manager.nodeAt(1).position;
        self = manager.nodeAt(0).position;
    }
    makeBeam(gateway, self, 0);  // identifier 0: the link cannot be picked
}

void startTrafficBeam(const std::string& source, const std::string& destination, int sourcePort,
                      int destinationPort) {
    if (findConnection(source, destination, sourcePort, destinationPort) >= 0) return;

    STrafficBeam record;
    record.source = source;
    record.destination = destination;
    record.sourcePort = sourcePort;
    record.destinationPort = destinationPort;

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
        record.beam = makeBeam(first, second, id);
        if (record.beam) record.pickId = id;
    }
    record.service = lookupServiceName(destinationPort);
    beamList.push_back(record);
}

void endConnection(const std::string& source, const std::string& destination, int sourcePort,
                   int destinationPort) {
    for (std::size_t i = 0; i < beamList.size(); ++i) {
        STrafficBeam& b = beamList[i];
        if (b.source != source || b.destination != destination || b.sourcePort != sourcePort ||
            b.destinationPort != destinationPort || !b.beam)
            continue;
        scene::ISceneManager* smgr = b.beam->getSceneManager();
        scene::ITriangleSelector* selector = b.beam->getTriangleSelector();
        if (selector && worldSelector) worldSelector->removeTriangleSelector(selector);
        b.beam->remove();
        if (worldSelector && smgr) fillWorldSelector(smgr, worldSelector);
        beamList.erase(beamList.begin() + static_cast<std::ptrdiff_t>(i));
        return;
    }
}

void queueBeamStart(const std::string& source, const std::string& destination, int sourcePort,
                    int destinationPort) {
    queueEvent(true, source, destination, sourcePort, destinationPort);
}

void queueBeamEnd(const std::string& source, const std::string& destination, int sourcePort,
                  int destinationPort) {
    queueEvent(false, source, destination, sourcePort, destinationPort);
}

std::uint64_t droppedBeamEvents() { return g_dropped.load(std::memory_order_relaxed); }

std::vector<BeamEvent> takeQueuedBeamEvents() {
    std::vector<BeamEvent> taken;
    std::lock_guard<std::mutex> guard(g_queueLock);
    taken.swap(g_queue);
    return taken;
}

void applyQueuedBeamEvents() {
    for (const BeamEvent& e : takeQueuedBeamEvents()) {
        if (e.start)
            startTrafficBeam(e.source, e.destination, e.sourcePort, e.destinationPort);
        else
            endConnection(e.source, e.destination, e.sourcePort, e.destinationPort);
    }
}

}  // namespace tessel
