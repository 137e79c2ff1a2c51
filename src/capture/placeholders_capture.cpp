// PLACEHOLDER bodies; each moves to its own file as its subsystem lands. Delete this file then.
#include <irrlicht.h>
#include "capture/intel_files.h"
#include "capture/net_interface.h"
#include "scene/traffic_beams.h"

namespace tessel {
void writeIntelFile(const TrafficRecord&) {}
void loadIntelFiles(SSceneContext&) {}
void cNetInterface::discoverAdapter(std::string) {}
void cNetInterface::startCapture(std::string) {}
void createGatewayLink() {}
void startTrafficBeam(const std::string&, const std::string&, int, int) {}
void endConnection(const std::string&, const std::string&, int, int) {}
void queueBeamStart(const std::string&, const std::string&, int, int) {}
void queueBeamEnd(const std::string&, const std::string&, int, int) {}
void applyQueuedBeamEvents() {}
}  // namespace tessel
