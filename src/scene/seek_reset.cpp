#include "scene/seek_reset.h"

#include <vector>

#include "nodes/connection_list.h"
#include "nodes/node_manager.h"
#include "scene/impact_sprites.h"
#include "scene/node_objects.h"
#include "scene/traffic_beams.h"

namespace tessel {

void resetSceneForSeek(SSceneContext& context, const SeekReset& reset) {
    const std::vector<STrafficBeam> open(context.connections->begin(), context.connections->end());
    for (const STrafficBeam& b : open)
        endConnection(context, b.source, b.destination, b.sourcePort, b.destinationPort);
    for (const SNetNode& gone : context.nodes->removeAllButAdapterNodes())
        removeNodeCube(context, gone);
    if (context.sceneManager) impactSpritesOf(context.sceneManager)->clear();
    // As the records of that minute would have: each host found or added, and refreshed.
    for (const std::string& host : reset.hosts) context.nodes->findOrAddNode(host, 1);
    applyBeamEvents(context, reset.openBeams);
}

}  // namespace tessel
