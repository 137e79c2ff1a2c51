#pragma once
#include <string>

#include "scene/scene_context.h"

namespace tessel {

// One recorded packet becomes a glowing sprite flying from the source node (through the
// gateway when node 1 is one) to the destination node, red/blue/green for TCP/UDP/ICMP, sized
// `size` / 100, removed by its delete animator 2000 ms later. The scene graph owns the sprite;
// nothing else refers to it. Main thread only (the intel loader); takes the node-list lock.
// srcport and dstport are not used.
void addParticleImpact(SSceneContext& context, const std::string& src, const std::string& dst,
                       int srcport, int dstport, int size, int tcp, int udp, int icmp);

// The fixed point every sprite passes when there is a gateway (where the gateway is placed).
constexpr float kGatewayWaypointX = 1000.0f;
constexpr float kGatewayWaypointY = 200.0f;
constexpr float kGatewayWaypointZ = 1000.0f;

}  // namespace tessel
