#include "nodes/info_text.h"

#include <chrono>

#include "core/address_text.h"
#include "nodes/connection_list.h"
#include "nodes/node_manager.h"
#include "nodes/program_text.h"

namespace tessel {

std::string fittedAddress(const std::string& address) {
    constexpr std::size_t kWidest = 26, kHead = 12, kTail = 11;
    if (!isIPv6Text(address) || address.size() <= kWidest) return address;
    return address.substr(0, kHead) + "..." + address.substr(address.size() - kTail);
}

std::string nodeInfoText(const cNodeManager& manager, int pickId, const cProgramTable* programs) {
    const int index = manager.findNodeByPickId(pickId);
    SNetNode node;
    if (!manager.copyNodeAt(index, &node)) return std::string();
    const std::string address = fittedAddress(node.address);
    if (index == 0) {
        const std::string lines = hostProgramLines(programs, std::chrono::steady_clock::now());
        return "Tessel Host:\n\n\n" + address + (lines.empty() ? "" : "\n\n" + lines);
    }
    if (node.isGateway == 1) return "Default Gateway:\n\n\n" + address;
    if (node.isLocal == 1) return "Local Node:\n\n\n" + address;
    return "Foreign Node:\n\n" + node.hostName + "\n" + address;
}

std::string beamInfoText(const cNodeManager& manager, const cConnectionList& connections,
                         int pickId, const cProgramTable* programs) {
    const STrafficBeam* found = connections.findByPickId(pickId);
    if (!found) return std::string();
    const STrafficBeam& beam = *found;
    return "TCP (" + beam.service + "):\n\n" + fittedAddress(manager.displayNameFor(beam.source)) +
           " to " + fittedAddress(manager.displayNameFor(beam.destination)) +
           (programs ? "\n" + beamProgramLine(programs, beam) : "");
}

}  // namespace tessel
