#include "nodes/info_text.h"

#include "nodes/connection_list.h"
#include "nodes/node_manager.h"

namespace tessel {

std::string nodeInfoText(int pickId) {
    cNodeManager manager;
    const int index = manager.findNodeByPickId(pickId);
    SNetNode node;
    if (!manager.copyNodeAt(index, &node)) return std::string();
    if (index == 0) return "Tessel Host:\n\n\n" + node.address;
    if (node.isGateway == 1) return "Default Gateway:\n\n\n" + node.address;
    if (node.isLocal == 1) return "Local Node:\n\n\n" + node.address;
    return "Foreign Node:\n\n" + node.hostName + "\n" + node.address;
}

std::string beamInfoText(int pickId) {
    const STrafficBeam* found = beamList.findByPickId(pickId);
    if (!found) return std::string();
    const STrafficBeam& beam = *found;
    cNodeManager manager;
    return "TCP (" + beam.service + "):\n\n" + manager.displayNameFor(beam.source) + " to " +
           manager.displayNameFor(beam.destination);
}

}  // namespace tessel
