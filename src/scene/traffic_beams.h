#pragma once
#include <string>

namespace tessel {

// Laser beams between node cubes, one per open TCP connection, plus the gateway link.
// The engine is touched on the main thread only: the capture thread queues beam starts and ends
// (queueBeamStart/queueBeamEnd, never blocking on a frame) and the main loop applies them once
// per frame with applyQueuedBeamEvents(), before the job step.

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

}  // namespace tessel
