#include "scene/connection_list.h"

namespace tessel {

std::vector<STrafficBeam> beamList;

int findConnection(const std::string& source, const std::string& destination, int sourcePort,
                   int destinationPort) {
    for (std::size_t i = 0; i < beamList.size(); ++i) {
        const STrafficBeam& b = beamList[i];
        bool forward = b.source == source && b.destination == destination &&
                       b.sourcePort == sourcePort && b.destinationPort == destinationPort;
        bool backward = b.source == destination && b.destination == source &&
                        b.sourcePort == destinationPort && b.destinationPort == sourcePort;
        if (forward || backward) return static_cast<int>(i);
    }
    return -1;
}

bool isBeamEndpoint(const std::string& address) {
    for (const STrafficBeam& b : beamList) {
        if (b.source == address || b.destination == address) return true;
    }
    return false;
}

int nextBeamPickId() { return (static_cast<int>(beamList.size()) + 1999) | kBeamPickBit; }

int findConnectionByPickId(int pickId) {
    for (std::size_t i = 0; i < beamList.size(); ++i) {
        if (beamList[i].pickId == pickId) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace tessel
