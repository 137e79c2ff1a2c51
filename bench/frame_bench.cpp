// Figure 4: frame rate and worst frame at 1000 x 600 on the OpenGL driver (run.sh runs it under
// Xvfb with Mesa's llvmpipe), for the empty world and for 500 nodes + 200 beams + a flood of
// 10,000 recorded packets per second; and the sweep that chose the cap on live sprites.
//
// The program builds what start-up builds (world, sky box, HUD) and runs the program's own
// frame (cRenderLoop): info panel, the hand-off, the 26-frame job cycle (the name look-up is
// answered here without a query), scene, GUI, rate graph, end of frame, collision refresh.
// A feeder thread stands in for the capture thread: it hands synthetic UDP frames between the
// nodes to onPacket and the intel writer at 10,000 per second; the program's intel reader
// thread takes them to the channel, and the frame's intel pass makes the sprites.
#include <atomic>
#include <thread>

#include "app/render_loop.h"
#include "bench_support.h"
#include "capture/intel_reader.h"
#include "capture/intel_writer.h"
#include "capture/packet_dispatch.h"
#include "core/hand_off.h"
#include "nodes/name_resolver.h"
#include "platform/registry.h"
#include "scene/impact_sprites.h"
#include "scene/particle_impacts.h"
#include "scene/traffic_beams.h"
#include "ui/fading_text_list.h"
#include "ui/hud.h"

namespace {
using namespace irr;

struct FrameStats {
    double fps = 0;
    double medianMs = 0;
    double worstMs = 0;
    long frames = 0;
};

// Runs the program's frame for `seconds` (the first `warmup` seconds are not counted); `before`
// runs ahead of each frame.
template <typename Before>
FrameStats runFrames(bench::BenchWorld& world, tessel::cRenderLoop& loop, double warmup,
                     double seconds, Before&& before) {
    std::vector<double> times;
    const bench::Clock::time_point start = bench::Clock::now();
    bench::Clock::time_point measured = start;
    bool counting = false;
    while (world.device->run()) {
        const bench::Clock::time_point frameStart = bench::Clock::now();
        const double elapsed = std::chrono::duration<double>(frameStart - start).count();
        if (!counting && elapsed >= warmup) {
            counting = true;
            measured = frameStart;
        }
        if (elapsed >= warmup + seconds) break;
        before();
        loop.frame();
        if (counting) times.push_back(bench::secondsSince(frameStart) * 1000.0);
    }
    FrameStats s;
    s.frames = long(times.size());
    const double span = bench::secondsSince(measured);
    s.fps = span > 0 ? double(s.frames) / span : 0;
    s.medianMs = bench::median(times);
    s.worstMs = times.empty() ? 0 : *std::max_element(times.begin(), times.end());
    return s;
}

// Hands `rate` frames per second to onPacket until told to stop (at most 60 s), never
// catching up more than a second behind.
void feed(tessel::HandOffChannel* channel, double rate, const std::atomic<bool>& stop,
          std::atomic<long>* fed) {
    std::vector<std::vector<std::uint8_t>> frames;
    for (int i = 0; i < 997; ++i) {
        std::uint8_t src[4], dst[4];
        bench::addressBytes(bench::foreignAddress(2 + (i * 7) % 498), src);
        bench::addressBytes(bench::foreignAddress(2 + (i * 13 + 5) % 498), dst);
        frames.push_back(bench::ipFrame(src, dst, 17, 1024 + i, 53));
    }
    tessel::cIntelWriter writer;
    tessel::PacketSink sink;
    sink.channel = channel;
    sink.writer = &writer;
    pcap_pkthdr header{};
    const bench::Clock::time_point start = bench::Clock::now();
    long sent = 0;
    while (!stop) {
        const double elapsed = bench::secondsSince(start);
        if (elapsed > 60) break;
        writer.flushIfDue(tessel::cIntelWriter::Clock::now());
        const long due = long(rate * elapsed);
        if (due - sent > long(rate)) sent = due - long(rate);
        if (sent >= due) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            continue;
        }
        const std::vector<std::uint8_t>& f = frames[std::size_t(sent % long(frames.size()))];
        header.caplen = header.len = bpf_u_int32(f.size());
        tessel::onPacket(reinterpret_cast<u_char*>(&sink), &header, f.data());
        ++sent;
        fed->fetch_add(1, std::memory_order_relaxed);
    }
}

void report(const char* what, const FrameStats& s) {
    std::fprintf(stderr, "%s: %ld frames, %.1f FPS, median %.2f ms, worst %.2f ms\n", what,
                 s.frames, s.fps, s.medianMs, s.worstMs);
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 8.0;
    const bool sweep = argc > 2 && std::string(argv[2]) == "sweep";
    bench::Scratch scratch;
    bench::BenchWorld world(video::EDT_OPENGL, 1000, 600);
    std::fprintf(stderr, "driver: %ls\n", world.context.videoDriver->getName());
    world.context.timer = world.device->getTimer();
    tessel::cRegistry registry;
    tessel::buildHud(world.device, registry, world.ui);
    tessel::cNameResolver resolver(world.nodes, [](const std::string&) { return std::string(); });
    resolver.start();
    tessel::cRenderLoop loop(world.device, world.context, world.ui, world.channel, resolver, 0);
    auto nothing = [] {};

    const FrameStats empty = runFrames(world, loop, 1.0, seconds, nothing);
    report("empty", empty);

    world.addNodes(500);
    tessel::createNodeObjects(world.context);
    tessel::createGatewayLink(world.context);
    for (int i = 0; i < 200; ++i)
        tessel::startTrafficBeam(world.context, bench::foreignAddress(2 + i),
                                 bench::foreignAddress(300 + i % 150), 40000 + i, 80);

    if (sweep) {
        // Live sprites held at n, 60-byte datagrams (153 units wide) between the nodes.
        for (int n : {0, 500, 1000, 2000, 3000, 4000, 6000}) {
            int made = 0;
            auto topUp = [&] {
                tessel::CImpactSprites* sprites =
                    tessel::impactSpritesOf(world.context.sceneManager);
                std::vector<tessel::TrafficRecord> records;
                for (int i = int(sprites->liveCount()); i < n; ++i, ++made) {
                    tessel::TrafficRecord a;
                    a.src = bench::foreignAddress(2 + made % 497);
                    a.dst = bench::foreignAddress(2 + (made * 13 + 5) % 497);
                    a.udp = 1;
                    a.size = 15360;
                    records.push_back(a);
                }
                tessel::addParticleImpacts(world.context, records, std::size_t(n));
            };
            const FrameStats s = runFrames(world, loop, 2.5, seconds / 2, topUp);
            report(("sprites " + std::to_string(n)).c_str(), s);
            bench::row("4", "FPS with " + std::to_string(n) + " live sprites", s.fps, "FPS", "-",
                       "-");
        }
        world.device->getTimer()->setTime(world.device->getTimer()->getTime() + 3000);
    }

    tessel::HandOffChannel& channel = world.channel;
    tessel::cIntelReaderWorker reader(tessel::intelFolder, channel);
    std::thread readerThread([&reader] { reader.run(); });
    std::atomic<bool> stop{false};
    std::atomic<long> fed{0};
    std::thread feeder(feed, &channel, 10000.0, std::cref(stop), &fed);
    const bench::Clock::time_point floodStart = bench::Clock::now();
    // Two seconds first, so the sprites of the flood reach their steady number.
    const FrameStats loaded = runFrames(world, loop, 2.0, seconds, nothing);
    stop = true;
    feeder.join();
    reader.requestStop();
    readerThread.join();
    const double fedRate = double(fed) / bench::secondsSince(floodStart);
    report("loaded", loaded);
    std::fprintf(stderr, "%zu live sprites, fed %.0f packets/s\n",
                 tessel::impactSpritesOf(world.context.sceneManager)->liveCount(), fedRate);

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
    bench::row("4", "packets fed per second (asked: 10000)", fedRate, "packets/s", "-", "-");
    world.ui.messages.reset();
    return 0;
}
