#include "scene/traffic_beams.h"

#include "core/irr_ptr.h"
#include "nodes/connection_list.h"
#include "nodes/node_manager.h"
#include "nodes/service_names.h"
#include "scene/collision_worlds.h"
#include "scene/root_child.h"

namespace tessel {

using namespace irr;

const u16 CSampleSceneNode::kIndices[18] = {0, 2, 3, 2, 1, 3, 1, 0, 3, 2, 0, 1, 0, 2, 3, 2, 1, 3};

CBeamBatch::CBeamBatch(scene::ISceneNode* parent, scene::ISceneManager* manager)
    : scene::ISceneNode(parent, manager, 0) {
    // Every beam was culled on its own already.
    setAutomaticCulling(scene::EAC_OFF);
    video::IVideoDriver* driver = manager ? manager->getVideoDriver() : nullptr;
    strictDepth_ = driver && driver->getDriverType() == video::EDT_OPENGL;
}

void CBeamBatch::add(const video::SMaterial& material, const video::S3DVertex* vertices,
                     const core::matrix4& transform) {
    const bool first = runs_.empty();
    if (first || runs_.back().material != material)
        runs_.push_back(SRun{material, static_cast<u32>(vertices_.size()), 0});
    const bool identity = transform.isIdentity();
    for (int i = 0; i < 6; ++i) {
        vertices_.push_back(vertices[i]);
        if (!identity) transform.transformVect(vertices_.back().Pos);
    }
    ++runs_.back().beams;
    // Registered once a frame, outside the solid pass: that pass orders its nodes by the address
    // of their texture, which changes from run to run, and the order decides the pixels where a
    // beam enters a cube. Two recordings of one replay must be the same. The shadow pass, which
    // follows the solid one, draws nothing else here: the engine's devices have no stencil
    // buffer.
    if (first)
        SceneManager->registerNodeForRendering(
            this, strictDepth_ ? scene::ESNRP_SHADOW : scene::ESNRP_SKY_BOX);
}

void CBeamBatch::render() {
    video::IVideoDriver* driver = SceneManager->getVideoDriver();
    drawnLastFrame_ = 0;
    callsLastFrame_ = 0;
    constexpr int kTriangles = CSampleSceneNode::kDistinctIndices / 3;
    const std::size_t count = runs_.size();
    for (std::size_t r = 0; r < count; ++r) {
        const SRun& run = runs_[strictDepth_ ? count - 1 - r : r];
        // Beam k of a run uses its vertices 6k to 6k + 5; backwards, its triangles go backwards
        // too.
        indices_.clear();
        for (u32 n = 0; n < run.beams; ++n) {
            const u32 k = strictDepth_ ? run.beams - 1 - n : n;
            for (int t = 0; t < kTriangles; ++t) {
                const int triangle = strictDepth_ ? kTriangles - 1 - t : t;
                for (int i = 0; i < 3; ++i)
                    indices_.push_back(6 * k + CSampleSceneNode::kIndices[3 * triangle + i]);
            }
        }
        video::SMaterial material = run.material;
        if (strictDepth_) material.ZBuffer = video::ECFN_LESS;
        driver->setMaterial(material);
        driver->setTransform(video::ETS_WORLD, core::IdentityMatrix);
        driver->drawVertexPrimitiveList(&vertices_[run.firstVertex], 6 * run.beams, indices_.data(),
                                        kTriangles * run.beams, video::EVT_STANDARD,
                                        scene::EPT_TRIANGLES, video::EIT_32BIT);
        drawnLastFrame_ += run.beams;
        ++callsLastFrame_;
    }
    runs_.clear();
    vertices_.clear();
}

video::SMaterial& CBeamBatch::getMaterial(u32 num) {
    return num < runs_.size() ? runs_[num].material : noMaterial_;
}

u32 CBeamBatch::getMaterialCount() const { return static_cast<u32>(runs_.size()); }

CBeamBatch* beamBatchOf(scene::ISceneManager* sceneManager) {
    return rootChildOf<CBeamBatch>(sceneManager);
}

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
    batch_ = beamBatchOf(manager);
    if (batch_) batch_->grab();
}

CSampleSceneNode::~CSampleSceneNode() {
    if (batch_) batch_->drop();
}

void CSampleSceneNode::OnRegisterSceneNode() {
    // As the scene manager would cull the beam, but the batch draws it.
    if (IsVisible && batch_ && !SceneManager->isCulled(this))
        batch_->add(beamMaterial, beamVertices, AbsoluteTransformation);
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
CSampleSceneNode* makeBeam(SSceneContext& context, const Vec3& first, const Vec3& second, s32 id) {
    scene::ISceneManager* smgr = context.sceneManager;
    video::IVideoDriver* driver = context.videoDriver;
    if (!smgr || !driver) return nullptr;
    // The root holds the beam once this reference goes.
    IrrPtr<CSampleSceneNode> beam(new CSampleSceneNode(smgr->getRootSceneNode(), smgr, -1,
                                                       toVector(first), toVector(second)));
    video::ITexture* texture = driver->getTexture(kBeamTexture);
    for (u32 i = 0; i < beam->getMaterialCount(); ++i) {
        beam->getMaterial(i).setTexture(0, texture);
        beam->getMaterial(i).Lighting = false;
    }
    beam->setID(id);
    if (context.collisionWorlds) context.collisionWorlds->giveStaticResponse(beam.get());
    return beam.get();
}

}  // namespace

void createGatewayLink(SSceneContext& context) {
    cNodeManager& manager = *context.nodes;
    SNetNode gateway, self;
    if (!manager.copyNodeAt(1, &gateway) || !manager.copyNodeAt(0, &self)) return;
    makeBeam(context, gateway.position, self.position, 0);  // identifier 0: cannot be picked
}

void startTrafficBeam(SSceneContext& context, const std::string& source,
                      const std::string& destination, int sourcePort, int destinationPort) {
    cConnectionList& connections = *context.connections;
    if (connections.find(source, destination, sourcePort, destinationPort)) return;

    STrafficBeam record;
    record.source = source;
    record.destination = destination;
    record.sourcePort = sourcePort;
    record.destinationPort = destinationPort;
    // A full list refuses (and counts) the connection before any node or beam is made for it.
    if (connections.full()) {
        connections.append(record);
        return;
    }

    cNodeManager& manager = *context.nodes;
    const int from = manager.findOrAddNode(source, 0);
    const int to = manager.findOrAddNode(destination, 0);
    SNetNode start, end;
    // Every connection is drawn from the gateway when there is one.
    const int first = manager.isGatewayAt(1) ? 1 : from;
    if (from >= 0 && to >= 0 && manager.nodeCount() >= 2 && manager.copyNodeAt(first, &start) &&
        manager.copyNodeAt(to, &end)) {
        const int id = connections.nextPickId();
        if (CSampleSceneNode* beam = makeBeam(context, start.position, end.position, id)) {
            beam->setName(cConnectionList::keyOf(record).c_str());
            record.pickId = id;
        }
    }
    record.service = lookupServiceName(destinationPort);
    connections.append(record);
}

scene::ISceneNode* beamOf(SSceneContext& context, const STrafficBeam& record) {
    if (!context.sceneManager || record.pickId == 0) return nullptr;
    return context.sceneManager->getSceneNodeFromName(cConnectionList::keyOf(record).c_str());
}

void endConnection(SSceneContext& context, const std::string& source,
                   const std::string& destination, int sourcePort, int destinationPort) {
    // A record that never got a beam goes too: otherwise it would stay for the rest of the run.
    STrafficBeam removed;
    if (!context.connections->removeDirected(source, destination, sourcePort, destinationPort,
                                             &removed))
        return;
    scene::ISceneNode* beam = beamOf(context, removed);
    if (!beam) return;
    cCollisionWorlds::removeNode(context.collisionWorlds, beam);
}

void applyBeamEvents(SSceneContext& context, const std::vector<BeamEvent>& events) {
    for (const BeamEvent& e : events) {
        if (e.start)
            startTrafficBeam(context, e.source, e.destination, e.sourcePort, e.destinationPort);
        else
            endConnection(context, e.source, e.destination, e.sourcePort, e.destinationPort);
    }
}

}  // namespace tessel
