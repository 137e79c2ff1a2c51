#include "app/startup.h"

#include <irrlicht.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

#include "app/render_loop.h"
#include "app/scene_dump.h"
#include "capture/capture_session.h"
#include "capture/net_interface.h"
#include "core/event_log.h"
#include "core/fatal_exit.h"
#include "core/frame_limit.h"
#include "core/irr_ptr.h"
#include "core/process_flags.h"
#include "core/text_number.h"
#include "nodes/node_manager.h"
#include "platform/directory.h"
#include "platform/lcg_random.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/working_folder.h"
#include "scene/scene_context.h"
#include "scene/traffic_beams.h"
#include "scene/world.h"
#include "ui/camera_tour.h"
#include "ui/event_receiver.h"
#include "ui/fading_text_list.h"
#include "ui/hud.h"
#include "ui/splash.h"
#include "ui/window_icon.h"

namespace tessel {

using namespace irr;

namespace {

// Test seams: TESSEL_SPLASH_MS shortens the splash wait, TESSEL_NULL_DRIVER=1 runs the engine's
// headless driver. Neither is set in normal use.
int splashMilliseconds() {
    const char* v = std::getenv("TESSEL_SPLASH_MS");
    return v && *v ? atoiText(v) : 5000;
}

// The frame limit: "--maxfps N" (or "--maxfps=N") anywhere on the command line, else the
// `maxfps` setting; 0, the default, renders as fast as the driver allows.
int maxFpsFor(cRegistry& registry, int argc, char** argv) {
    std::string text = registry.readValue("maxfps", "0");
    for (int i = 1; i < argc && argv[i]; ++i) {
        const std::string arg = argv[i];
        if (arg == "--maxfps" && i + 1 < argc && argv[i + 1]) text = argv[i + 1];
        if (arg.rfind("--maxfps=", 0) == 0) text = arg.substr(9);
    }
    return frameLimitFrom(text);
}

bool nullDriverRequested() {
    const char* v = std::getenv("TESSEL_NULL_DRIVER");
    return v && std::strcmp(v, "1") == 0;
}

void showSplashFor(int milliseconds) {
    CSplash* splash = new CSplash("splash.bmp", 0x00FF00);
    splash->showSplash();
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    splash->closeSplash();
    delete splash;
}

void setIcon(IrrlichtDevice* device) {
    IrrPtr<video::IImage> icon(
        device->getVideoDriver()->createImageFromFile("Media/tessel-icon.png"));
    if (icon) setWindowIcon(device, icon.get(), L"Tessel");
}

}  // namespace

int driverTypeForSetting(int value) {
    switch (value) {
        case 3:
            return video::EDT_SOFTWARE;
        case 4:
            return video::EDT_BURNINGSVIDEO;
        default:
            return video::EDT_OPENGL;
    }
}

int runTessel(int argc, char** argv) {
    enterUserWorkingFolder();
    cRegistry* registry = new cRegistry();

    if (atoiText(registry->readValue("firstrun", "0")) == 0) {
        startConfigTool();
        delete registry;
        return 0;
    }

    eventLog = new cLog();

    std::printf("Tessel - live network traffic in 3D\n");
    std::printf("This software is HIGHLY EXPERIMENTAL and comes with ABSOLUTELY NO WARRANTY.\n\n");
    std::fflush(stdout);

    // Files left by an earlier run must not reach this one.
    emptyDirectory("intel");

    bool fullscreen = registry->readValue("fullscreen", "1") != "1";
    bool noSplash = false;
    if (argc > 1 && argv[1]) {
        if (std::strcmp(argv[1], "fullscreen") == 0) fullscreen = true;
        if (std::strcmp(argv[1], "nosplash") == 0) noSplash = true;
    }
    windowWidth = atoiText(registry->readValue("width", "1000"));
    windowHeight = atoiText(registry->readValue("height", "600"));

    if (!(noSplash && fullscreen)) showSplashFor(splashMilliseconds());

    std::string nic = registry->readValue("nic", "");
    if (nic.empty()) endAfterFatal("Please run tessel-config", false);

    video::E_DRIVER_TYPE driverType = static_cast<video::E_DRIVER_TYPE>(
        driverTypeForSetting(atoiText(registry->readValue("videodriver", "0"))));
    if (nullDriverRequested()) driverType = video::EDT_NULL;

    if (fullscreen) {
        windowWidth = 800;
        windowHeight = 600;
    }
    // A size the engine cannot make a window of is refused here rather than inside X.
    core::dimension2d<u32> size(windowWidth > 0 ? windowWidth : 0,
                                windowHeight > 0 ? windowHeight : 0);
    IrrPtr<IrrlichtDevice> engine;
    if (size.Width > 0 && size.Height > 0)
        engine.reset(createDevice(driverType, size, 16, fullscreen, false, false, nullptr));
    if (!engine) endAfterFatal("Unable to start video driver", false, 1);
    IrrlichtDevice* device = engine.get();

    if (!device->getFileSystem()->addFileArchive("res.dat", true, true, io::EFAT_ZIP)) {
        engine.reset();
        endAfterFatal("Failed to open res.dat file... Fatal error.", false, 1);
    }

    device->setWindowCaption(L"Tessel");
    device->run();  // sends the caption to the X server, where setIcon looks the window up
    setIcon(device);

    video::IVideoDriver* driver = device->getVideoDriver();
    scene::ISceneManager* smgr = device->getSceneManager();
    gui::IGUIEnvironment* gui = device->getGUIEnvironment();

    SWorld world = buildWorld(device);

    MyEventReceiver* receiver = new MyEventReceiver(device, world.terrain, world.camera, smgr, gui);
    device->setEventReceiver(receiver);

    driver->setTextureCreationFlag(video::ETCF_CREATE_MIP_MAPS, true);
    cNetInterface* netInterface = new cNetInterface();
    netInterface->discoverAdapter(nic);
    cNodeManager().addAdapterNodes();  // this host and the gateway become nodes 0 and 1
    netInterface->startCapture(nic);
    driver->setTextureCreationFlag(video::ETCF_CREATE_MIP_MAPS, false);

    addSkyBox(smgr, driver);
    buildHud(device, *registry);

    SSceneContext sceneContext;
    sceneContext.camera = world.camera;
    sceneContext.sceneManager = smgr;
    sceneContext.guiEnvironment = gui;
    sceneContext.videoDriver = driver;
    sceneContext.timer = device->getTimer();
    sceneContext.collisionWorlds = world.collision.get();

    lcgSeed(static_cast<unsigned>(std::time(nullptr)));

    {
        cNodeManager manager;
        if (manager.nodeCount() > 1 && manager.isGatewayAt(1)) createGatewayLink(sceneContext);
    }

    if (fullscreen && world.camera)
        cameraTour.toggleTour(world.camera, device->getTimer()->getTime());

    if (world.camera) world.camera->setInputReceiverEnabled(false);
    enteredEnvironment = 0;

    installSceneDumpSignal();
    {
        cRenderLoop loop(device, sceneContext, maxFpsFor(*registry, argc, argv));
        loop.run();
    }

    // The workers go first: nothing they hand over is applied any more.
    netInterface->stopCapture();
    world.collision.reset();
    engine.reset();  // the scene and the GUI go with the device
    delete receiver;
    delete registry;
    destroyEventLog();
    delete netInterface;
    destroyMessageList();
    return 0;
}

}  // namespace tessel
