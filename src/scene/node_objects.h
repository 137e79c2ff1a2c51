#pragma once
#include "nodes/node_manager.h"
#include "scene/scene_context.h"

namespace tessel {

// The textures of the four kinds of cube (the legend shows them too).
inline constexpr const char* kHostCubeTexture = "Media/wall-tessel.bmp";
inline constexpr const char* kGatewayCubeTexture = "Media/gateway.bmp";
inline constexpr const char* kLocalCubeTexture = "Media/wall.bmp";
inline constexpr const char* kForeignCubeTexture = "Media/wallb.bmp";

// The scene pass (every 26 frames, main thread): gives each new node its turning cube and ages
// every node. A cube carries its node's address as its name.
void createNodeObjects(SSceneContext& context);

// The cube of `node` (a record the node list gave up), or null.
irr::scene::ISceneNode* cubeOf(SSceneContext& context, const SNetNode& node);
// Takes the cube of a pruned node out of the scene and out of every collision world.
void removeNodeCube(SSceneContext& context, const SNetNode& node);

}  // namespace tessel
