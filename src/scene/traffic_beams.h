#pragma once
#include <irrlicht.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/hand_off.h"
#include "nodes/connection_list.h"
#include "scene/scene_context.h"

namespace tessel {

// The texture of every beam and of the gateway link.
inline constexpr const char* kBeamTexture = "Media/laserbeam.bmp";

// Laser beams between node cubes, one per open TCP connection, plus the gateway link.
// The engine is touched on the main thread only: the capture thread hands beam starts and ends
// to the main loop through the hand-off channel, and the loop applies them once per frame.

// Draws the beams of a scene in one call. A visible beam that is not culled hands its vertices,
// in world coordinates, to the batch while the scene registers its nodes, in scene order; beams
// whose materials differ (none do today) are drawn in runs of one material. One per scene
// manager, a child of the root made with the first beam; the scene graph owns it. Identifier 0:
// never picked.
//
// On OpenGL the batch draws after the solid nodes, last beam first, and a beam pixel must be
// strictly nearer than what is there: every tie goes where it went when the beams were drawn
// first in scene order, so the pixels are the same, but the parts of beams hidden inside cubes
// or under other beams are rejected before they are textured. The software drivers ignore the
// depth comparison, so there the beams are drawn first, in scene order.
class CBeamBatch : public irr::scene::ISceneNode {
  public:
    static constexpr irr::scene::ESCENE_NODE_TYPE kType =
        static_cast<irr::scene::ESCENE_NODE_TYPE>(MAKE_IRR_ID('b', 'e', 'a', 'm'));

    CBeamBatch(irr::scene::ISceneNode* parent, irr::scene::ISceneManager* manager);

    // Queues a beam for this frame's draw; the first beam of a frame registers the batch.
    void add(const irr::video::SMaterial& material, const irr::video::S3DVertex* vertices,
             const irr::core::matrix4& transform);

    // Beams queue themselves after the scene's animation pass: a frame starts empty.
    void OnAnimate(irr::u32 timeMs) override {
        runs_.clear();
        vertices_.clear();
        ISceneNode::OnAnimate(timeMs);
    }
    void OnRegisterSceneNode() override {}
    void render() override;
    const irr::core::aabbox3d<irr::f32>& getBoundingBox() const override { return box_; }
    irr::video::SMaterial& getMaterial(irr::u32 num) override;
    irr::u32 getMaterialCount() const override;
    irr::scene::ESCENE_NODE_TYPE getType() const override { return kType; }

    // Beams drawn by the last render, and the draw calls it took.
    irr::u32 drawnLastFrame() const { return drawnLastFrame_; }
    irr::u32 callsLastFrame() const { return callsLastFrame_; }

  private:
    struct SRun {
        irr::video::SMaterial material;
        irr::u32 firstVertex = 0;
        irr::u32 beams = 0;
    };
    irr::core::aabbox3d<irr::f32> box_;
    irr::video::SMaterial noMaterial_;
    std::vector<SRun> runs_;
    std::vector<irr::video::S3DVertex> vertices_;
    std::vector<irr::u32> indices_;
    irr::u32 drawnLastFrame_ = 0;
    irr::u32 callsLastFrame_ = 0;
    bool strictDepth_ = false;
};

// The scene's beam batch, made on first use. Null without a scene manager.
CBeamBatch* beamBatchOf(irr::scene::ISceneManager* sceneManager);

// A three-sided spike from its base at the first point to its tip at the second; six vertices
// in world coordinates (the node stays at the origin), six triangles, texture layer 0. The last
// two triangles repeat the first two, so the batch draws only the first four.
// Created as a child of the scene root, which owns it. It stays a node of its own (name,
// identifier, bounding box for picking) but the scene's beam batch draws it.
class CSampleSceneNode : public irr::scene::ISceneNode {
  public:
    CSampleSceneNode(irr::scene::ISceneNode* parent, irr::scene::ISceneManager* manager,
                     irr::s32 id, const irr::core::vector3df& first,
                     const irr::core::vector3df& second);
    ~CSampleSceneNode() override;
    CSampleSceneNode(const CSampleSceneNode&) = delete;
    CSampleSceneNode& operator=(const CSampleSceneNode&) = delete;

    void OnRegisterSceneNode() override;
    void render() override;
    const irr::core::aabbox3d<irr::f32>& getBoundingBox() const override;
    irr::video::SMaterial& getMaterial(irr::u32 num) override;
    irr::u32 getMaterialCount() const override;

    const irr::video::S3DVertex& vertex(int i) const { return beamVertices[i]; }
    static const irr::u16 kIndices[18];
    static constexpr int kDistinctIndices = 12;

  private:
    irr::core::aabbox3d<irr::f32> boundingBox;
    irr::video::S3DVertex beamVertices[6];
    irr::video::SMaterial beamMaterial;
    CBeamBatch* batch_ = nullptr;  // held
};

// Main thread. Beams are made over `context`'s scene manager and driver.
void createGatewayLink(SSceneContext& context);  // once, before the loop
void startTrafficBeam(SSceneContext& context, const std::string& source,
                      const std::string& destination, int sourcePort, int destinationPort);
// Removes the connection recorded in exactly this direction, with its beam when it has one.
void endConnection(SSceneContext& context, const std::string& source,
                   const std::string& destination, int sourcePort, int destinationPort);
// The beam of a listed connection (named by the connection's key), or null.
irr::scene::ISceneNode* beamOf(SSceneContext& context, const STrafficBeam& record);
// The events the capture thread handed over, in order.
void applyBeamEvents(SSceneContext& context, const std::vector<BeamEvent>& events);

}  // namespace tessel
