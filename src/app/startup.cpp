#include "app/startup.h"

#include <irrlicht.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <thread>

#include "app/command_line.h"
#include "app/render_loop.h"
#include "app/scene_dump.h"
#include "capture/capture_session.h"
#include "capture/net_interface.h"
#include "capture/replay_source.h"
#include "core/adapter_addresses.h"
#include "core/event_log.h"
#include "core/fatal_exit.h"
#include "core/frame_limit.h"
#include "core/hand_off.h"
#include "core/irr_ptr.h"
#include "core/process_flags.h"
#include "core/replay_state.h"
#include "core/text_number.h"
#include "nodes/connection_list.h"
#include "nodes/name_resolver.h"
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

// The frame limit: "--maxfps N" on the command line, else the `maxfps` setting; 0, the default,
// renders as fast as the driver allows.
int maxFpsFor(cRegistry& registry, const CommandLine& line) {
    return frameLimitFrom(line.maxFps.empty() ? registry.readValue("maxfps", "0") : line.maxFps);
}

// A replayed file named relative to where tessel was started, before an installed tessel moves
// into its own folder.
std::string absolutePath(const std::string& path) {
    if (path.empty() || path == "-" || path[0] == '/') return path;
    char here[4096];
    return getcwd(here, sizeof here) ? std::string(here) + "/" + path : path;
}

// Opens the capture to replay, or ends the program with status 2: a file that cannot be read is
// not something the configuration tool could mend.
std::unique_ptr<cReplaySource> openReplay(const std::string& path) {
    auto source = std::make_unique<cReplaySource>();
    std::string error;
    if (source->open(path, &error)) return source;
    std::fprintf(stderr, "tessel: cannot replay %s\n", error.c_str());
    std::fflush(stderr);
    endAfterFatal("", false, 2);
}

// A capture filter that does not compile: given on the command line, the user mends the command
// (status 2); from the settings, the configuration tool can mend it.
[[noreturn]] void refuseFilter(const std::string& reason, bool fromCommandLine) {
    if (fromCommandLine) {
        std::fprintf(stderr, "tessel: --filter: '%s' does not compile: %s\n", captureFilter.c_str(),
                     reason.c_str());
        std::fflush(stderr);
        endAfterFatal("", false, 2);
    }
    restartConfigToolAndExit("The capture filter \"" + captureFilter +
                             "\" does not compile: " + reason + ", rerunning tessel-config");
}

// What adapter discovery gives a live capture, inferred from the replay (or given on the
// command line), with the trace lines that say what was chosen.
void adoptReplayedAdapter(cReplaySource& source, const CommandLine& line,
                          AdapterAddresses& adapter) {
    const AdapterGuess guess = source.guessAdapter(line.host, line.netmask, line.gateway);
    std::printf("replay: %s\n", source.name().c_str());
    if (guess.host.empty()) {
        std::printf("replay: no IPv4 traffic tells which host captured it\n");
    } else {
        std::printf("replay: this host %s (%s)\n", guess.host.c_str(), guess.hostReason.c_str());
        std::printf("replay: net mask %s\n", guess.netmask.c_str());
        adapter.localAddresses = {guess.host};
        adapter.netMasks = {guess.netmask};
    }
    if (guess.gateway.empty()) {
        std::printf("replay: no gateway (%s)\n", guess.gatewayReason.c_str());
    } else {
        std::printf("replay: gateway %s (%s)\n", guess.gateway.c_str(),
                    guess.gatewayReason.c_str());
        adapter.gatewayAddresses = {guess.gateway};
    }
    std::fflush(stdout);
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
    // First, so that a dump asked for during start-up waits for the first frame instead of
    // ending the program.
    installSceneDumpSignal();
    CommandLine line = parseCommandLine(argc, argv);
    if (!line.error.empty()) {
        std::fprintf(stderr, "tessel: %s\n", line.error.c_str());
        return 2;
    }
    if (line.version) {
        std::printf("tessel %s\n", TESSEL_VERSION);
        return 0;
    }
    line.replayPath = absolutePath(line.demo ? std::string() : line.replayPath);
    enterUserWorkingFolder();
    if (line.demo) line.replayPath = kDemoCapture;
    const bool replaying = !line.replayPath.empty();
    cRegistry* registry = new cRegistry();

    // A replay needs no adapter: a first start goes straight to it, with the default settings.
    if (!replaying && atoiText(registry->readValue("firstrun", "0")) == 0) {
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

    captureFilter = line.filter ? *line.filter : registry->readValue("filter", "");
    std::unique_ptr<cReplaySource> replay;
    if (replaying) {
        replay = openReplay(line.replayPath);
        std::string error;
        if (!captureFilter.empty() && !replay->setFilter(captureFilter, &error))
            refuseFilter(error, line.filter.has_value());
    }

    bool fullscreen = registry->readValue("fullscreen", "1") != "1";
    const bool noSplash = line.noSplash;
    if (line.fullscreen) fullscreen = true;
    windowWidth = atoiText(registry->readValue("width", "1000"));
    windowHeight = atoiText(registry->readValue("height", "600"));

    if (!(noSplash && fullscreen)) showSplashFor(splashMilliseconds());

    std::string nic = registry->readValue("nic", "");
    if (nic.empty() && !replaying) endAfterFatal("Please run tessel-config", false);

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
    AdapterAddresses adapter;
    cNodeManager nodes(adapter);
    cConnectionList connections;
    cNetInterface* netInterface = new cNetInterface(adapter, handOff());
    if (replaying) {
        adoptReplayedAdapter(*replay, line, adapter);
        nodes.addAdapterNodes();  // this host and the gateway become nodes 0 and 1
        ReplayState& state = replayState();
        state.active = true;
        state.source = replay->name();
        state.speed.store(line.speed);
        netInterface->startReplay(std::move(replay), line.loop);
    } else {
        netInterface->discoverAdapter(nic);
        nodes.addAdapterNodes();  // this host and the gateway become nodes 0 and 1
        std::string error;
        if (!netInterface->startCapture(nic, captureFilter, &error))
            refuseFilter(error, line.filter.has_value());
    }
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
    sceneContext.nodes = &nodes;
    sceneContext.connections = &connections;

    lcgSeed(static_cast<unsigned>(std::time(nullptr)));

    if (nodes.nodeCount() > 1 && nodes.isGatewayAt(1)) createGatewayLink(sceneContext);

    if (fullscreen && world.camera)
        cameraTour.toggleTour(world.camera, device->getTimer()->getTime());

    if (world.camera) world.camera->setInputReceiverEnabled(false);
    enteredEnvironment = 0;

    cNameResolver resolver(nodes);
    resolver.start();
    {
        cRenderLoop loop(device, sceneContext, handOff(), resolver, maxFpsFor(*registry, line));
        loop.run();
    }

    // The workers go first: nothing they hand over is applied any more.
    netInterface->stopCapture();
    resolver.stop();
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
