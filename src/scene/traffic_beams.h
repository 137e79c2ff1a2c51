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

// A three-sided spike from its base at the first point to its tip at the second; six vertices
// in world coordinates (the node stays at the origin), six triangles, texture layer 0.
// Created as a child of the scene root, which owns it.
class CSampleSceneNode : public irr::scene::ISceneNode {
  public:
    CSampleSceneNode(irr::scene::ISceneNode* parent, irr::scene::ISceneManager* manager,
                     irr::s32 id, const irr::core::vector3df& first,
                     const irr::core::vector3df& second);

    void OnRegisterSceneNode() override;
    void render() override;
    const irr::core::aabbox3d<irr::f32>& getBoundingBox() const override;
    irr::video::SMaterial& getMaterial(irr::u32 num) override;
    irr::u32 getMaterialCount() const override;

    const irr::video::S3DVertex& vertex(int i) const { return beamVertices[i]; }
    static const irr::u16 kIndices[18];

  private:
    irr::core::aabbox3d<irr::f32> boundingBox;
    irr::video::S3DVertex beamVertices[6];
    irr::video::SMaterial beamMaterial;
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
