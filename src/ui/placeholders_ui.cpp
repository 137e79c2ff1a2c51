// PLACEHOLDER bodies; each moves to its own file as its subsystem lands. Delete this file then.
#include <irrlicht.h>
#include "app/hud.h"
#include "app/splash.h"
#include "nodes/name_resolver.h"
#include "ui/camera_tour.h"
#include "ui/event_receiver.h"
#include "ui/frame_requests.h"

namespace tessel {
using namespace irr;
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
