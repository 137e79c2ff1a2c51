#include "app/startup.h"

#include <irrlicht.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "app/command_line.h"
#include "app/render_loop.h"
#include "app/replay_recording.h"
#include "app/scene_dump.h"
#include "app/video_recorder.h"
#include "capture/adapter_inference.h"
#include "capture/capture_index.h"
#include "capture/capture_session.h"
#include "capture/flow_collector_source.h"
#include "capture/frame_source.h"
#include "capture/net_interface.h"
#include "core/adapter_addresses.h"
#include "core/event_log.h"
#include "core/fatal_exit.h"
#include "core/frame_limit.h"
#include "core/hand_off.h"
#include "core/irr_ptr.h"
#include "core/replay_state.h"
#include "core/text_number.h"
#include "nodes/connection_list.h"
#include "nodes/host_locator.h"
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
#include "ui/event_receiver.h"
#include "ui/hud.h"
#include "ui/splash.h"
#include "ui/ui_state.h"
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
std::unique_ptr<cFrameSource> openReplay(const std::string& path) {
    std::string error;
    std::unique_ptr<cFrameSource> source = openReplaySource(path, &error);
    if (source) return source;
    std::fprintf(stderr, "tessel: cannot replay %s\n", error.c_str());
    std::fflush(stderr);
    endAfterFatal("", false, 2);
}

// Where --start puts the replay, asked of the replay thread before it starts; a moment outside the
// capture ends the program with status 2. Waits for the index only as far as the moment.
void placeReplayStart(const cFrameSource& source, const StartTime& start) {
    if (start.kind == StartTime::Kind::None) return;
    const cCaptureIndex* index = source.index();
    std::int64_t firstUs = 0, lastUs = 0;
    std::string why;
    if (!index) {
        why = "standard input cannot seek";
    } else {
        index->waitToCover(0);
        if (!index->span(&firstUs, &lastUs)) {
            why = "the capture holds no frame";
        } else {
            const std::int64_t target = startTimeFrom(start, firstUs);
            if (target < firstUs - firstUs % 1000000) {
                why = "'" + start.text + "' is before the capture starts";
            } else if (!index->waitToCover(target)) {
                index->span(&firstUs, &lastUs);
                const long long s = (lastUs - firstUs) / 1000000;
                char length[32];
                std::snprintf(length, sizeof length, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60,
                              s % 60);
                why = "'" + start.text + "' is beyond the end of the capture (it lasts " + length +
                      ")";
            } else {
                replayState().seekToUs.store(std::max(target, firstUs));
            }
        }
    }
    if (why.empty()) return;
    std::fprintf(stderr, "tessel: --start: %s\n", why.c_str());
    std::fflush(stderr);
    endAfterFatal("", false, 2);
}

// A capture filter that does not compile: given on the command line, the user mends the command
// (status 2); from the settings, the configuration tool can mend it.
[[noreturn]] void refuseFilter(const std::string& filter, const std::string& reason,
                               bool fromCommandLine) {
    if (fromCommandLine) {
        std::fprintf(stderr, "tessel: --filter: '%s' does not compile: %s\n", filter.c_str(),
                     reason.c_str());
        std::fflush(stderr);
        endAfterFatal("", false, 2);
    }
    restartConfigToolAndExit("The capture filter \"" + filter + "\" does not compile: " + reason +
                             ", rerunning tessel-config");
}

// What adapter discovery gives a live capture, inferred from the replay (or given on the
// command line), with the trace lines that say what was chosen.
void adoptReplayedAdapter(cFrameSource& source, const CommandLine& line,
                          AdapterAddresses& adapter) {
    const AdapterGuess guess = guessAdapter(source, line.host, line.netmask, line.gateway);
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

// What a feed's world is made of: node 0 is the first exporter heard (or --host), the gateway is
// inferred from the sampled frames' link addresses as a replay's is (or --gateway), and local is
// the private ranges plus --local. Says what was chosen, as a replay does.
void adoptFeedWorld(cFlowCollectorSource& feed, FeedKind kind, const ListenAddress& listen,
                    const CommandLine& line, AdapterAddresses& adapter) {
    const char* tag = kind == FeedKind::Sflow ? "sflow" : "netflow";
    std::printf("%s: listening on UDP %s\n", tag, listenText(listen).c_str());
    std::fflush(stdout);
    const AdapterGuess guess = guessAdapter(feed, "", "", line.gateway);
    const std::string host = line.host.empty() ? feed.firstExporter() : line.host;
    if (host.empty()) {
        std::printf("%s: no exporter heard in %d s: the first host seen is node 0\n", tag,
                    cFlowCollectorSource::kFirstDatagramMs / 1000);
    } else {
        std::printf("%s: node 0 is %s (%s)\n", tag, host.c_str(),
                    line.host.empty() ? "the first exporter heard" : "given");
        adapter.localAddresses = {host};
        adapter.netMasks = {line.netmask.empty() ? "255.255.255.255" : line.netmask};
    }
    if (guess.gateway.empty()) {
        const std::string why = kind == FeedKind::Netflow ? "flow records carry no link addresses"
                                : guess.gatewayReason.empty() ? "no samples to judge by"
                                                              : guess.gatewayReason;
        std::printf("%s: no gateway (%s; --gateway names one)\n", tag, why.c_str());
    } else {
        std::printf("%s: gateway %s (%s)\n", tag, guess.gateway.c_str(),
                    guess.gatewayReason.c_str());
        adapter.gatewayAddresses = {guess.gateway};
    }
    adapter.localRanges = privateRanges();
    adapter.localRanges.insert(adapter.localRanges.end(), line.localRanges.begin(),
                               line.localRanges.end());
    std::printf("%s: local: the private ranges%s\n", tag,
                line.localRanges.empty() ? "" : " and --local");
    std::fflush(stdout);
}

bool nullDriverRequested() {
    const char* v = std::getenv("TESSEL_NULL_DRIVER");
    return v && std::strcmp(v, "1") == 0;
}

void showSplashFor(int milliseconds) {
    CSplash splash("splash.bmp", 0x00FF00);
    splash.showSplash();
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    splash.closeSplash();
}

void setIcon(IrrlichtDevice* device) {
    IrrPtr<video::IImage> icon(
        device->getVideoDriver()->createImageFromFile("Media/tessel-icon.png"));
    if (icon) setWindowIcon(device, icon.get(), L"Tessel");
}

// Everything one run owns, made by the steps below and taken down by shutDown in the reverse
// order. The members are declared so that plain destruction takes the same safe order too: the
// threads first, the device before the receiver it calls. Main thread.
struct STesselRun {
    CommandLine line;
    bool replaying = false;
    bool recording = false;  // --record: the replay is rendered offline into a video
    bool fullscreen = false;
    std::string nic;  // the adapter a live capture opens
    std::unique_ptr<cRegistry> registry;
    std::unique_ptr<cLog> log;
    HandOffChannel channel;
    AdapterAddresses adapter;
    cNodeManager nodes{adapter};
    cConnectionList connections;
    cProgramTable programs;  // the programs of this host's flows, on a live capture
    SUiState ui;
    std::unique_ptr<cFrameSource> replay;  // until the capture session takes it
    // A flow feed instead (the command line's, else the settings'), until the session takes it.
    FeedKind feedKind = FeedKind::None;
    ListenAddress listen;
    bool feedFromCommandLine = false;
    std::unique_ptr<cFlowCollectorSource> feed;
    std::unique_ptr<MyEventReceiver> receiver;
    IrrPtr<IrrlichtDevice> engine;
    SWorld world;
    std::unique_ptr<cNetInterface> net;  // the capture session and its threads
    SSceneContext scene;
    std::unique_ptr<cHostLocator> locator;  // read by the resolver's thread
    std::unique_ptr<cNameResolver> resolver;
};

// The command line, and the working folder. A status when the program ends here.
std::optional<int> readCommandLine(int argc, char** argv, STesselRun& run) {
    CommandLine& line = run.line;
    line = parseCommandLine(argc, argv);
    if (!line.error.empty()) {
        std::fprintf(stderr, "tessel: %s\n", line.error.c_str());
        return 2;
    }
    if (line.version) {
        std::printf("tessel %s\n", TESSEL_VERSION);
        return 0;
    }
    line.replayPath = absolutePath(line.demo ? std::string() : line.replayPath);
    line.recordPath = absolutePath(line.recordPath);
    // A video that cannot be written is refused before anything opens, and leaves no file.
    if (!line.recordPath.empty()) {
        const std::string why = checkVideoTarget(line.recordPath);
        if (!why.empty()) {
            std::fprintf(stderr, "tessel: --record: %s\n", why.c_str());
            return 2;
        }
        run.recording = true;
    }
    if (line.geoip) line.geoip = absolutePath(*line.geoip);
    enterUserWorkingFolder();
    if (line.demo) line.replayPath = kDemoCapture;
    run.replaying = !line.replayPath.empty();
    run.feedKind = line.feed;
    run.listen = line.listen;
    run.feedFromCommandLine = line.feed != FeedKind::None;
    return std::nullopt;
}

// The settings' source when it is a flow feed ("source" sflow or netflow, "listen"
// [ADDR:]PORT); a listen address the configuration tool let through but that does not read
// sends the user back to it.
void readFeedSetting(STesselRun& run) {
    run.feedKind = sourceFromWord(run.registry->readValue("source", "adapter"));
    if (run.feedKind == FeedKind::None) return;
    std::string error;
    if (!parseListenAddress(run.registry->readValue("listen", ""), defaultPortOf(run.feedKind),
                            &run.listen, &error))
        restartConfigToolAndExit(std::string(feedName(run.feedKind)) + ": " + error +
                                 ", rerunning tessel-config");
}

// Binds the feed's port, or ends the program: given on the command line with status 2, from the
// settings by sending the user to the configuration tool.
void openFeed(STesselRun& run) {
    cFlowCollectorSource::Options options;
    options.kind = run.feedKind;
    options.listen = run.listen;
    options.flowTimeoutMs = run.line.flowTimeoutMs;
    run.feed = std::make_unique<cFlowCollectorSource>(options);
    std::string error;
    if (run.feed->open(&error)) return;
    const std::string what = std::string(feedName(run.feedKind)) + ": cannot listen on UDP " +
                             listenText(run.listen) + ": " + error;
    if (run.feedFromCommandLine) {
        std::fprintf(stderr, "tessel: %s\n", what.c_str());
        std::fflush(stderr);
        endAfterFatal("", false, 2);
    }
    restartConfigToolAndExit(what + ", rerunning tessel-config");
}

// The settings; false on a first live start, which only starts the configuration tool (a replay
// needs no adapter: a first start goes straight to it, with the default settings).
bool readSettings(STesselRun& run) {
    run.registry = std::make_unique<cRegistry>();
    const bool chosen = run.replaying || run.feedFromCommandLine;
    if (!chosen && atoiText(run.registry->readValue("firstrun", "0")) == 0) {
        startConfigTool();
        return false;
    }
    if (!chosen) readFeedSetting(run);
    return true;
}

// The event log, the banner, an empty intel folder, the capture filter and the replay's file.
void openLogAndSource(STesselRun& run) {
    run.log = std::make_unique<cLog>();
    run.ui.log = run.log.get();
    run.ui.channel = &run.channel;
    run.channel.setTraceLog(run.log.get());

    std::printf("Tessel - live network traffic in 3D\n");
    std::printf("This software is HIGHLY EXPERIMENTAL and comes with ABSOLUTELY NO WARRANTY.\n\n");
    std::fflush(stdout);

    // Files left by an earlier run must not reach this one.
    emptyDirectory("intel");

    std::string& filter = run.ui.flags.captureFilter;
    filter = run.line.filter ? *run.line.filter : run.registry->readValue("filter", "");
    std::string error;
    if (run.feedKind != FeedKind::None) {
        openFeed(run);
        if (!filter.empty() && !run.feed->setFilter(filter, &error))
            refuseFilter(filter, error, run.line.filter.has_value());
        return;
    }
    if (!run.replaying) return;
    run.replay = openReplay(run.line.replayPath);
    if (!filter.empty() && !run.replay->setFilter(filter, &error))
        refuseFilter(filter, error, run.line.filter.has_value());
    // A file is indexed from now on, so that it can seek; --start is its first seek.
    run.replay->startIndex(&replayState().timeline);
    placeReplayStart(*run.replay, run.line.start);
    // A video shows the whole timeline from its first frame, the same on every run.
    if (run.recording)
        if (const cCaptureIndex* index = run.replay->index())
            index->waitToCover(std::numeric_limits<std::int64_t>::max());
}

// The location data the resolver's thread reads: the .mmdb of --geoip or of the `geoip` setting,
// else (and for what it lacks) the libloc database. A file that cannot be read is said on
// standard error and in the event log (the message list, made later, says so too), and the
// program goes on without it.
void openLocationData(STesselRun& run) {
    const std::string mmdb =
        run.line.geoip ? *run.line.geoip : run.registry->readValue("geoip", "");
    run.locator = std::make_unique<cHostLocator>(mmdb);
    std::printf("%s\n", run.locator->describe().c_str());
    std::fflush(stdout);
    const std::string& warning = run.locator->warning();
    if (warning.empty()) return;
    std::fprintf(stderr, "tessel: %s\n", warning.c_str());
    std::fflush(stderr);
    run.log->logEvent(warning);
}

// The window's size and mode, the splash, and the adapter a live capture needs.
void readDisplaySettings(STesselRun& run) {
    cRegistry& registry = *run.registry;
    ProcessFlags& flags = run.ui.flags;
    run.fullscreen = registry.readValue("fullscreen", "1") != "1";
    if (run.line.fullscreen) run.fullscreen = true;
    flags.windowWidth = atoiText(registry.readValue("width", "1000"));
    flags.windowHeight = atoiText(registry.readValue("height", "600"));
    if (run.recording) {
        // A recording is made in a window of the video's size (--size, else the settings'),
        // without the splash: nothing of it would reach the video.
        run.fullscreen = false;
        if (run.line.recordWidth > 0) {
            flags.windowWidth = run.line.recordWidth;
            flags.windowHeight = run.line.recordHeight;
        }
        return;
    }

    if (!(run.line.noSplash && run.fullscreen)) showSplashFor(splashMilliseconds());

    run.nic = registry.readValue("nic", "");
    if (run.nic.empty() && !run.replaying && !run.feed)
        endAfterFatal("Please run tessel-config", false);
    if (run.fullscreen) {
        flags.windowWidth = 800;
        flags.windowHeight = 600;
    }
}

// The engine device, its archive of media, the caption and the icon.
void openEngine(STesselRun& run) {
    video::E_DRIVER_TYPE driverType = static_cast<video::E_DRIVER_TYPE>(
        driverTypeForSetting(atoiText(run.registry->readValue("videodriver", "0"))));
    if (nullDriverRequested()) driverType = video::EDT_NULL;
    const ProcessFlags& flags = run.ui.flags;
    // A size the engine cannot make a window of is refused here rather than inside X.
    core::dimension2d<u32> size(flags.windowWidth > 0 ? flags.windowWidth : 0,
                                flags.windowHeight > 0 ? flags.windowHeight : 0);
    if (size.Width > 0 && size.Height > 0)
        run.engine.reset(createDevice(driverType, size, 16, run.fullscreen, false, false, nullptr));
    if (!run.engine) endAfterFatal("Unable to start video driver", false, 1);
    IrrlichtDevice* device = run.engine.get();

    if (!device->getFileSystem()->addFileArchive("res.dat", true, true, io::EFAT_ZIP)) {
        run.engine.reset();
        endAfterFatal("Failed to open res.dat file... Fatal error.", false, 1);
    }
    if (run.recording) {
        // Everything made from here on starts on the video's clock, at 0.
        device->getTimer()->stop();
        device->getTimer()->setTime(0);
    }
    device->setWindowCaption(L"Tessel");
    device->run();  // sends the caption to the X server, where setIcon looks the window up
    setIcon(device);
}

// The world and the event receiver that moves through it.
void buildWorldAndReceiver(STesselRun& run) {
    IrrlichtDevice* device = run.engine.get();
    run.world = buildWorld(device);
    run.ui.nodes = &run.nodes;
    run.receiver = std::make_unique<MyEventReceiver>(device, run.world.terrain, run.world.camera,
                                                     device->getSceneManager(),
                                                     device->getGUIEnvironment(), run.ui);
    device->setEventReceiver(run.receiver.get());
}

// The adapter's addresses (discovered, or inferred from the replay), this host and the gateway
// as nodes 0 and 1, and the capture session's threads.
void startSource(STesselRun& run) {
    run.net = std::make_unique<cNetInterface>(run.adapter, run.channel);
    if (run.feed) {
        adoptFeedWorld(*run.feed, run.feedKind, run.listen, run.line, run.adapter);
        run.nodes.addAdapterNodes();
        run.net->startFeed(std::move(run.feed));
        return;
    }
    if (run.replaying) {
        adoptReplayedAdapter(*run.replay, run.line, run.adapter);
        run.nodes.addAdapterNodes();
        ReplayState& state = replayState();
        state.active = true;
        state.source = run.replay->name();
        state.seekable = run.replay->index() != nullptr;
        state.speed.store(run.line.speed);
        run.net->startReplay(std::move(run.replay), run.line.loop, run.recording);
        return;
    }
    run.net->discoverAdapter(run.nic);
    run.nodes.addAdapterNodes();
    std::string error;
    run.programs.setLive(true);
    if (!run.net->startCapture(run.nic, run.ui.flags.captureFilter, &error, &run.programs))
        refuseFilter(run.ui.flags.captureFilter, error, run.line.filter.has_value());
}

// The sky, the HUD, the scene context of the frame jobs, the gateway's link and, in full-screen
// mode, the tour.
void buildScene(STesselRun& run) {
    IrrlichtDevice* device = run.engine.get();
    video::IVideoDriver* driver = device->getVideoDriver();
    scene::ISceneManager* smgr = device->getSceneManager();
    const bool skyCleared = addSkyBox(smgr, driver);
    buildHud(device, *run.registry, run.ui);

    SSceneContext& scene = run.scene;
    scene.skyCleared = skyCleared;
    scene.camera = run.world.camera;
    scene.sceneManager = smgr;
    scene.guiEnvironment = device->getGUIEnvironment();
    scene.videoDriver = driver;
    scene.timer = device->getTimer();
    scene.collisionWorlds = run.world.collision.get();
    scene.nodes = &run.nodes;
    scene.connections = &run.connections;
    scene.programs = &run.programs;

    // A recording draws the same numbers on every run.
    lcgSeed(run.recording ? 1u : static_cast<unsigned>(std::time(nullptr)));
    if (run.nodes.nodeCount() > 1 && run.nodes.isGatewayAt(1)) createGatewayLink(scene);
    if (run.fullscreen && run.world.camera)
        run.ui.tour.toggleTour(run.world.camera, device->getTimer()->getTime(), run.ui.flags,
                               run.ui.messages.get());
    if (run.world.camera) run.world.camera->setInputReceiverEnabled(false);
    run.ui.flags.enteredEnvironment = 0;
    if (!run.locator->warning().empty()) run.ui.post("GeoIP file not read: see log");
}

// The resolver's thread and the render loop, until the window closes. A recording looks no
// names up (their answers would come at different frames on every run) and draws its frames
// unpaced until the replay ends; gives the run's exit status.
int runFrames(STesselRun& run, int maxFps) {
    cHostLocator& locator = *run.locator;
    run.resolver = std::make_unique<cNameResolver>(
        run.nodes, systemReverseLookup,
        [&locator](const std::string& address) { return locator.locate(address); });
    if (!run.recording) run.resolver->start();
    cRenderLoop loop(run.engine.get(), run.scene, run.ui, run.channel, *run.resolver,
                     run.recording ? 0 : maxFps, run.net->captureSession());
    if (!run.recording) {
        loop.run();
        return 0;
    }
    const ProcessFlags& flags = run.ui.flags;
    RecordingOptions options;
    options.path = run.line.recordPath;
    options.fps = run.line.recordFps;
    // Both sides even: the video's colour planes are half as wide and high.
    options.width = flags.windowWidth & ~1;
    options.height = flags.windowHeight & ~1;
    cReplayRecording recording(run.engine.get(), *run.net->captureSession(), options);
    std::string error;
    if (!recording.start(&error)) {
        std::fprintf(stderr, "tessel: --record: %s\n", error.c_str());
        return cReplayRecording::kFailed;
    }
    loop.recordInto(&recording);
    loop.run();
    return recording.finish();
}

// In the reverse order of making: the workers go first, so nothing they hand over is applied any
// more; the scene and the GUI go with the device, before the receiver it calls.
void shutDown(STesselRun& run) {
    if (run.net) run.net->stopCapture();
    if (run.resolver) run.resolver->stop();
    run.resolver.reset();
    run.locator.reset();
    run.world.collision.reset();
    run.ui.tour.splineAnimator.reset();
    run.ui.tour.flight.reset();
    run.engine.reset();
    run.receiver.reset();
    run.registry.reset();
    run.channel.setTraceLog(nullptr);
    run.ui.log = nullptr;
    run.log.reset();
    run.net.reset();
    run.ui.messages.reset();
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
    STesselRun run;
    if (std::optional<int> status = readCommandLine(argc, argv, run)) return *status;
    if (!readSettings(run)) return 0;
    openLogAndSource(run);
    openLocationData(run);
    readDisplaySettings(run);
    openEngine(run);
    buildWorldAndReceiver(run);
    video::IVideoDriver* driver = run.engine->getVideoDriver();
    driver->setTextureCreationFlag(video::ETCF_CREATE_MIP_MAPS, true);
    startSource(run);
    driver->setTextureCreationFlag(video::ETCF_CREATE_MIP_MAPS, false);
    buildScene(run);
    const int status = runFrames(run, maxFpsFor(*run.registry, run.line));
    shutDown(run);
    return status;
}

}  // namespace tessel
