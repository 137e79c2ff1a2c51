// PLACEHOLDER bodies; each moves to its own file as its subsystem lands. Delete this file then.
#include <irrlicht.h>
#include "capture/rate_history.h"
#include "nodes/node_manager.h"
#include "scene/node_objects.h"
#include "scene/rate_graph.h"

namespace tessel {
using namespace irr;
int cNodeManager::nodeCount() const { return 0; }
bool cNodeManager::isGatewayAt(int) const { return false; }
void cNodeManager::pruneOneNode() {}
void createNodeObjects(SSceneContext&) {}
void drawRateGraph(video::IVideoDriver*, int, int) {}
void appendRateSample(std::int64_t) {}
void readRateHistory(std::vector<std::int32_t>*, float*) {}
void resetRateHistory() {}
}  // namespace tessel
