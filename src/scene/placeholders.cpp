// PLACEHOLDER bodies; each moves to its own file as its subsystem lands.
#include "app/hud.h"
#include "app/splash.h"
#include "capture/intel_files.h"
#include "capture/net_interface.h"
#include "capture/rate_history.h"
#include "nodes/name_resolver.h"
#include "nodes/node_manager.h"
#include "scene/node_objects.h"
#include "scene/rate_graph.h"
#include "scene/traffic_beams.h"
#include "ui/camera_tour.h"
#include "ui/event_receiver.h"
#include "ui/frame_requests.h"

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
void startResolverThread() {}
void resolvePendingNames() {}

cCameraTour cameraTour;
void cCameraTour::toggleTour(scene::ICameraSceneNode*) {}
MyEventReceiver::MyEventReceiver(scene::ISceneNode* t, scene::ICameraSceneNode* c,
                                 scene::ISceneManager* s, gui::IGUIEnvironment* g)
    : terrain(t), camera(c), sceneManager(s), guiEnvironment(g) {}
MyEventReceiver::~MyEventReceiver() = default;
bool MyEventReceiver::OnEvent(const SEvent&) { return false; }
void requestScreenshot() {}
void requestPausePicture() {}
bool pausePicturePending() { return false; }
int pausePictureGeneration() { return 0; }
void serviceFrameRequests(video::IVideoDriver*) {}
void buildHud(IrrlichtDevice*, cRegistry&) {}
void startHudFade() {}
void updateInfoPanel(IrrlichtDevice*) {}
struct CSplash::Impl {};
CSplash::CSplash(const std::string&, std::uint32_t) : impl(nullptr) {}
CSplash::~CSplash() = default;
bool CSplash::showSplash() { return false; }
bool CSplash::closeSplash() { return false; }
}  // namespace tessel
