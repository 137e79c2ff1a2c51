#pragma once
#include <irrlicht.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tessel {

// Laser beams between node cubes, one per open TCP connection, plus the gateway link.
// The engine is touched on the main thread only: the capture thread queues beam starts and ends
// (queueBeamStart/queueBeamEnd, never blocking on a frame) and the main loop applies them once
// per frame with applyQueuedBeamEvents(), before the job step.

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

void createGatewayLink();  // main thread, once
void startTrafficBeam(const std::string& source, const std::string& destination, int sourcePort,
                      int destinationPort);  // main thread
void endConnection(const std::string& source, const std::string& destination, int sourcePort,
                   int destinationPort);  // main thread

void queueBeamStart(const std::string& source, const std::string& destination, int sourcePort,
                    int destinationPort);  // any thread
void queueBeamEnd(const std::string& source, const std::string& destination, int sourcePort,
                  int destinationPort);  // any thread
void applyQueuedBeamEvents();            // main thread

// One queued connection event, in capture order.
struct BeamEvent {
    bool start = false;  // SYN; false: FIN or RST
    std::string source;
    std::string destination;
    int sourcePort = 0;
    int destinationPort = 0;
};

// If the main loop stalls (a modal box, a long frame) the queue must not grow without bound.
// Past kBeamQueueStartLimit events new starts are dropped (a lost beam); ends are still taken
// up to kBeamQueueHardLimit, because a dropped end would leave a beam standing for the rest of
// the run. Beyond that everything is dropped. Drops are counted.
constexpr std::size_t kBeamQueueStartLimit = 100000;
constexpr std::size_t kBeamQueueHardLimit = 200000;
std::uint64_t droppedBeamEvents();  // any thread

// Takes every queued event in order (main thread; applyQueuedBeamEvents uses it, tests too).
std::vector<BeamEvent> takeQueuedBeamEvents();

}  // namespace tessel
