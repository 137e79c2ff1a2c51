#pragma once
#include <irrlicht.h>

#include <string>
#include <vector>

namespace tessel {

// One TCP connection that has (or was meant to have) a traffic beam.
struct STrafficBeam {
    std::string source;  // the side that sent the SYN
    std::string destination;
    int sourcePort = 0;
    int destinationPort = 0;
    std::string service;                     // service name of destinationPort
    int pickId = 0;                          // beam identifier; 0 when the record has no beam
    irr::scene::ISceneNode* beam = nullptr;  // owned by the scene graph
};

// Picking mask carried by every connection beam identifier.
constexpr int kBeamPickBit = 0x02000000;

// Every open connection in order of creation; erasing closes the gap. MAIN THREAD ONLY: the
// capture thread queues beam events to the main loop instead of touching this list.
extern std::vector<STrafficBeam> beamList;

// Index of the first record matching (source, destination, ports) in either direction, or -1.
int findConnection(const std::string& source, const std::string& destination, int sourcePort,
                   int destinationPort);
// True when `address` is, as exact text, the source or destination of any record.
bool isBeamEndpoint(const std::string& address);
// Identifier for the beam about to be appended: (count + 1999) | 0x02000000. Can repeat after a
// removal; look-ups by identifier take the first record in list order.
int nextBeamPickId();
// First index whose pickId equals `pickId`, or -1.
int findConnectionByPickId(int pickId);

}  // namespace tessel
