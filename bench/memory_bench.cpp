// Figure 6: resident size after 10k, 100k, 500k and 1M packets. The NULL driver runs the
// program's frame on a virtual clock (40 ms a frame) while 400 packets a frame (10,000 per second
// of virtual time) go through onPacket and the intel writer, and a pass of the intel reader
// hands their records over, all on the same thread: per 100 packets 70 UDP datagrams
// (recorded), 20 bare acknowledgements (not recorded), 5 SYNs with an option (a beam and a
// record) and 5 FINs that end the connections opened 100 packets earlier; the addresses come
// from 3,000 hosts, so the node list fills up and is pruned.
#include "app/render_loop.h"
#include "bench_support.h"
#include "capture/intel_reader.h"
#include "capture/intel_writer.h"
#include "capture/packet_dispatch.h"
#include "core/hand_off.h"
#include "nodes/connection_list.h"
#include "nodes/name_resolver.h"

namespace {
using namespace irr;

constexpr int kPacketsPerFrame = 400;
constexpr u32 kFrameMs = 40;

std::vector<std::uint8_t> packetFrame(long n) {
    const int slot = int(n % 100);
    std::uint8_t src[4], dst[4];
    const int host = int((n * 7919) % 3000);
    bench::addressBytes(bench::foreignAddress(2 + host), src);
    bench::addressBytes(bench::foreignAddress(2 + (host + 1 + int(n % 17)) % 3000), dst);
    if (slot < 70) return bench::ipFrame(src, dst, 17, 1024 + int(n % 5000), 53);
    if (slot < 90) return bench::ipFrame(src, dst, 6, 40000, 80, 0x10, 0);
    // Connections: opened at slots 90-94 and closed by the same side one hundred packets later.
    const long opened = slot < 95 ? n : n - 100 - 5;
    const int a = int((opened / 100) % 3000), port = 30000 + int(opened % 20000);
    bench::addressBytes(bench::foreignAddress(2 + a), src);
    bench::addressBytes(bench::foreignAddress(2 + (a + 11) % 3000), dst);
    return slot < 95 ? bench::ipFrame(src, dst, 6, port, 80, 0x02, 4)
                     : bench::ipFrame(src, dst, 6, port, 80, 0x11, 0);
}

}  // namespace

int main() {
    bench::Scratch scratch;
    bench::BenchWorld world(video::EDT_NULL);
    ITimer* timer = world.device->getTimer();
    timer->stop();
    u32 now = 1000;
    timer->setTime(now);
    world.addNodes(2);
    world.context.timer = timer;
    scene::ISceneManager* smgr = world.context.sceneManager;
    tessel::cNameResolver resolver(world.nodes, [](const std::string&) { return std::string(); });
    resolver.start();
    tessel::cIntelWriter writer;
    tessel::PacketSink sink;
    sink.channel = &world.channel;
    sink.writer = &writer;
    tessel::cIntelReaderWorker reader(tessel::intelFolder, world.channel);
    tessel::cRenderLoop loop(world.device, world.context, world.ui, world.channel, resolver, 0);

    const long checkpoints[] = {10000, 100000, 500000, 1000000};
    long rss[4] = {};
    std::size_t sceneNodes[4] = {};
    long packets = 0;
    int next = 0;
    pcap_pkthdr header{};
    while (next < 4) {
        for (int i = 0; i < kPacketsPerFrame; ++i, ++packets) {
            std::vector<std::uint8_t> f = packetFrame(packets);
            header.caplen = header.len = bpf_u_int32(f.size());
            tessel::onPacket(reinterpret_cast<u_char*>(&sink), &header, f.data());
        }
        writer.flush();  // a frame is 40 ms: the 50 ms window would flush most of it anyway
        reader.pass();
        timer->setTime(now += kFrameMs);
        world.device->run();
        loop.frame();
        if (packets >= checkpoints[next]) {
            rss[next] = bench::residentKb();
            sceneNodes[next] = smgr->getRootSceneNode()->getChildren().size();
            std::fprintf(stderr, "%ld packets: %ld kB resident, %zu scene nodes, %zu beams\n",
                         packets, rss[next], sceneNodes[next], world.connections.size());
            ++next;
        }
    }
    for (int i = 0; i < 4; ++i)
        bench::row("6", "resident after " + std::to_string(checkpoints[i] / 1000) + "k packets",
                   double(rss[i]) / 1024.0, "MB", "-", "-");
    const double ratio = rss[0] > 0 ? double(rss[3]) / double(rss[0]) : 0;
    bench::row("6", "resident 1M / 10k", ratio, "ratio", "-", "-");
    const double growth = rss[1] > 0 ? double(rss[3]) / double(rss[1]) : 0;
    // Past 100k packets the sprites alive, the node list and the connection list are at their
    // steady size.
    bench::row("6", "resident 1M / 100k", growth, "ratio", "-", "-");
    return 0;
}
