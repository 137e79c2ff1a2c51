// Figure 4: frame rate and worst frame at 1000 x 600 on the OpenGL driver (run.sh runs it under
// Xvfb with Mesa's llvmpipe), for the empty world and for 500 nodes + 200 beams + a flood of
// 10,000 recorded packets per second.
//
// The program builds what start-up builds (world, sky box, HUD) and runs the render loop's
// frame: info panel, queued beam events and messages, the 26-frame job cycle (scene pass,
// intel pass, pruning; the name look-up job is left out, as it would send queries off the
// machine), scene, GUI, rate graph, end of frame, collision world refresh. A feeder thread
// stands in for the capture thread: it hands synthetic UDP frames between the nodes to
// onPacket at 10,000 per second, so every one becomes an intel file and then an impact.
#include <atomic>
#include <thread>

#include "app/fading_text_list.h"
#include "app/hud.h"
#include "app/registry.h"
#include "bench_support.h"
#include "capture/intel_files.h"
#include "capture/packet_decoder.h"
#include "scene/rate_graph.h"
#include "scene/traffic_beams.h"

namespace {
using namespace irr;

constexpr int kJobCycle = 26;

struct FrameStats {
    double fps = 0;
    double medianMs = 0;
    double worstMs = 0;
    long frames = 0;
    double intelPassMs = 0;  // median duration of loadIntelFiles alone
    double drawMs = 0;       // median duration of the scene draw alone
};

void frameJob(tessel::SSceneContext& context, int step) {
    switch (step) {
        case 0:
            tessel::createNodeObjects(context);
            break;
        case 1:
            tessel::loadIntelFiles(context);
            break;
        case 3: {
            tessel::cNodeManager manager;
            manager.pruneOneNode();
            break;
        }
        default:
            break;
    }
}

// Runs the render loop's frame for `seconds` (the first `warmup` seconds are not counted).
FrameStats runFrames(bench::BenchWorld& world, double warmup, double seconds) {
    IrrlichtDevice* device = world.device;
    video::IVideoDriver* driver = world.context.videoDriver;
    scene::ISceneManager* smgr = world.context.sceneManager;
    gui::IGUIEnvironment* gui = world.context.guiEnvironment;
    std::vector<double> times, intelPasses, draws;
    int step = 0;
    const bench::Clock::time_point start = bench::Clock::now();
    bench::Clock::time_point measured = start;
    bool counting = false;
    while (device->run()) {
        const bench::Clock::time_point frameStart = bench::Clock::now();
        const double elapsed = std::chrono::duration<double>(frameStart - start).count();
        if (!counting && elapsed >= warmup) {
            counting = true;
            measured = frameStart;
        }
        if (elapsed >= warmup + seconds) break;
        driver->beginScene(true, true, video::SColor(0, 200, 200, 200));
        if (device->isWindowActive()) tessel::updateInfoPanel(device);
        tessel::applyQueuedBeamEvents();
        if (tessel::messageList) tessel::messageList->applyPendingMessages();
        const bench::Clock::time_point jobStart = bench::Clock::now();
        frameJob(world.context, step);
        if (counting && step == 1) intelPasses.push_back(bench::secondsSince(jobStart) * 1000.0);
        if (++step >= kJobCycle) step = 0;
        const bench::Clock::time_point drawStart = bench::Clock::now();
        smgr->drawAll();
        if (counting) draws.push_back(bench::secondsSince(drawStart) * 1000.0);
        gui->drawAll();
        tessel::drawRateGraph(driver, tessel::windowWidth, tessel::windowHeight);
        driver->endScene();
        tessel::refreshWorldSelector(smgr);
        if (counting) times.push_back(bench::secondsSince(frameStart) * 1000.0);
    }
    FrameStats s;
    s.frames = long(times.size());
    const double span = bench::secondsSince(measured);
    s.fps = span > 0 ? double(s.frames) / span : 0;
    s.medianMs = bench::median(times);
    s.worstMs = times.empty() ? 0 : *std::max_element(times.begin(), times.end());
    s.intelPassMs = bench::median(intelPasses);
    s.drawMs = bench::median(draws);
    return s;
}

// Hands `rate` frames per second to onPacket until told to stop (at most 60 s), never
// catching up more than a second behind.
void feed(double rate, const std::atomic<bool>& stop, std::atomic<long>* fed) {
    std::vector<std::vector<std::uint8_t>> frames;
    for (int i = 0; i < 997; ++i) {
        std::uint8_t src[4], dst[4];
        bench::addressBytes(bench::foreignAddress(2 + (i * 7) % 498), src);
        bench::addressBytes(bench::foreignAddress(2 + (i * 13 + 5) % 498), dst);
        frames.push_back(bench::ipFrame(src, dst, 17, 1024 + i, 53));
    }
    pcap_pkthdr header{};
    const bench::Clock::time_point start = bench::Clock::now();
    long sent = 0;
    while (!stop) {
        const double elapsed = bench::secondsSince(start);
        if (elapsed > 60) break;
        const long due = long(rate * elapsed);
        if (due - sent > long(rate)) sent = due - long(rate);
        if (sent >= due) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            continue;
        }
        const std::vector<std::uint8_t>& f = frames[std::size_t(sent % long(frames.size()))];
        header.caplen = header.len = bpf_u_int32(f.size());
        tessel::onPacket(nullptr, &header, f.data());
        ++sent;
        fed->fetch_add(1, std::memory_order_relaxed);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 8.0;
    bench::Scratch scratch;
    bench::BenchWorld world(video::EDT_OPENGL, 1000, 600);
    std::fprintf(stderr, "driver: %ls\n", world.context.videoDriver->getName());
    tessel::cRegistry registry;
    tessel::buildHud(world.device, registry);
    tessel::setCaptureLinkType(DLT_EN10MB);

    const FrameStats empty = runFrames(world, 1.0, seconds);

    bench::BenchWorld::addNodes(500);
    tessel::createNodeObjects(world.context);
    tessel::createGatewayLink();
    for (int i = 0; i < 200; ++i)
        tessel::startTrafficBeam(bench::foreignAddress(2 + i), bench::foreignAddress(300 + i % 150),
                                 40000 + i, 80);
    std::atomic<bool> stop{false};
    std::atomic<long> fed{0};
    std::thread feeder(feed, 10000.0, std::cref(stop), &fed);
    const bench::Clock::time_point floodStart = bench::Clock::now();
    // Two seconds first, so the impacts of the flood reach their steady number.
    const FrameStats loaded = runFrames(world, 2.0, seconds);
    stop = true;
    feeder.join();
    const double fedRate = double(fed) / bench::secondsSince(floodStart);

    std::fprintf(stderr, "empty: %ld frames, %.1f FPS, median %.2f ms, worst %.2f ms\n",
                 empty.frames, empty.fps, empty.medianMs, empty.worstMs);
    std::fprintf(stderr,
                 "loaded: %ld frames, %.1f FPS, median %.2f ms, worst %.2f ms, %u scene "
                 "nodes, fed %.0f packets/s\n",
                 loaded.frames, loaded.fps, loaded.medianMs, loaded.worstMs,
                 world.context.sceneManager->getRootSceneNode()->getChildren().size(), fedRate);
    bench::row("4", "FPS, empty world", empty.fps, "FPS", "-", "-");
    bench::row("4", "FPS, 500 nodes + 200 beams + 10k/s", loaded.fps, "FPS", ">= 60",
               bench::verdict(loaded.fps >= 60));
    const double ratio = empty.fps > 0 ? loaded.fps / empty.fps : 0;
    bench::row("4", "FPS loaded / empty", ratio, "ratio", ">= 0.5", bench::verdict(ratio >= 0.5));
    bench::row("4", "median frame, loaded", loaded.medianMs, "ms", "-", "-");
    bench::row("4", "worst frame, loaded", loaded.worstMs, "ms", "-", "-");
    const double spread = loaded.medianMs > 0 ? loaded.worstMs / loaded.medianMs : 0;
    bench::row("4", "worst / median frame, loaded", spread, "ratio", "<= 2",
               bench::verdict(spread <= 2.0));
    bench::row("4", "scene draw (drawAll) per frame, median, loaded", loaded.drawMs, "ms", "-",
               "-");
    bench::row("4", "intel pass (loadIntelFiles) per pass, median, loaded", loaded.intelPassMs,
               "ms", "-", "-");
    bench::row("4", "scene draw per frame, median, empty", empty.drawMs, "ms", "-", "-");
    bench::row("4", "packets fed per second (asked: 10000)", fedRate, "packets/s", "-", "-");
    tessel::destroyMessageList();
    return 0;
}
