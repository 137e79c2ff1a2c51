#pragma once
// Shared pieces of the figure benchmarks (flood, intel, upkeep, frame, memory): result rows,
// scratch folders, synthetic frames and an engine world built the way start-up builds it.
//
// Every figure program prints its results as lines
//     ROW,<figure>,<name>,<value>,<unit>,<target>,<verdict>
// which bench/run.sh gathers into bench/results/figures.csv, the table and the plot.
#include <irrlicht.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/adapter_addresses.h"
#include "core/hand_off.h"
#include "nodes/connection_list.h"
#include "nodes/name_resolver.h"
#include "nodes/node_manager.h"
#include "platform/directory.h"
#include "scene/node_objects.h"
#include "scene/scene_context.h"
#include "scene/world.h"
#include "ui/ui_state.h"

namespace bench {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// verdict: "ok", "MISS" or "-" (no target).
// $TESSEL_BENCH_LABEL, when set, is added to the name (run.sh marks the file system with it).
inline void row(const char* figure, const std::string& name, double value, const char* unit,
                const std::string& target, const char* verdict) {
    const char* label = std::getenv("TESSEL_BENCH_LABEL");
    std::string shown = label && *label ? name + " [" + label + "]" : name;
    std::replace(shown.begin(), shown.end(), ',', ';');  // one CSV cell
    std::printf("ROW,%s,%s,%.6g,%s,%s,%s\n", figure, shown.c_str(), value, unit, target.c_str(),
                verdict);
    std::fflush(stdout);
}
inline const char* verdict(bool met) { return met ? "ok" : "MISS"; }

inline std::string exeDir() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0) return ".";
    std::string path(buf, static_cast<std::size_t>(n));
    return path.substr(0, path.rfind('/'));
}

// A fresh folder with an empty "intel" inside, made the working directory; removed on exit.
// It lies under $TESSEL_BENCH_SCRATCH when set (run.sh points it at the file system under
// test), else under the working directory the benchmark was started in.
struct Scratch {
    Scratch() {
        std::string pattern = root() + "/tessel-bench-XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back(0);
        if (!mkdtemp(buf.data())) {
            std::perror("mkdtemp");
            std::exit(2);
        }
        dir = buf.data();
        if (chdir(dir.c_str()) != 0 || mkdir("intel", 0755) != 0) {
            std::perror(dir.c_str());
            std::exit(2);
        }
    }
    ~Scratch() {
        tessel::emptyDirectory("intel");
        rmdir("intel");
        if (chdir(root().c_str()) == 0) rmdir(dir.c_str());
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    // Fixed at the first use, before any scratch folder became the working directory.
    static const std::string& root() {
        static const std::string path = [] {
            const char* base = std::getenv("TESSEL_BENCH_SCRATCH");
            char cwd[PATH_MAX];
            return std::string(base && *base ? base : (getcwd(cwd, sizeof cwd) ? cwd : "/tmp"));
        }();
        return path;
    }
    std::string dir;
};

inline std::size_t intelFileCount() {
    std::vector<std::string> names;
    tessel::listDirectory("intel", &names);
    return std::size_t(std::count_if(names.begin(), names.end(), [](const std::string& n) {
        return !n.empty() && n[0] != '.';
    }));
}

// Ethernet + IPv4 + UDP with 32 bytes of data (a recorded packet), or TCP with the given
// flags and `tcpData` bytes of payload (0 gives the bare 40-byte segment that is not recorded).
inline std::vector<std::uint8_t> ipFrame(const std::uint8_t src[4], const std::uint8_t dst[4],
                                         int protocol, int srcPort, int dstPort,
                                         std::uint8_t tcpFlags = 0, int tcpData = 0) {
    const int l4 = protocol == 6 ? 20 + tcpData : 8 + 32;
    std::vector<std::uint8_t> f(std::size_t(14 + 20 + l4), 0);
    f[12] = 0x08;
    f[14] = 0x45;
    f[16] = std::uint8_t((20 + l4) >> 8);
    f[17] = std::uint8_t((20 + l4) & 0xFF);
    f[22] = 64;
    f[23] = std::uint8_t(protocol);
    for (int i = 0; i < 4; ++i) f[26 + i] = src[i], f[30 + i] = dst[i];
    f[34] = std::uint8_t(srcPort >> 8);
    f[35] = std::uint8_t(srcPort & 0xFF);
    f[36] = std::uint8_t(dstPort >> 8);
    f[37] = std::uint8_t(dstPort & 0xFF);
    if (protocol == 6) {
        f[46] = 0x50;
        f[47] = tcpFlags;
    }
    return f;
}

// Dotted text of address number i of a pool of foreign hosts (never 10.x: that is "here").
inline std::string foreignAddress(int i) {
    return std::to_string(11 + i % 200) + "." + std::to_string((i / 200) % 250) + "." +
           std::to_string(i % 251) + "." + std::to_string(1 + i % 7);
}

inline void addressBytes(const std::string& text, std::uint8_t out[4]) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    std::sscanf(text.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d);
    out[0] = std::uint8_t(a), out[1] = std::uint8_t(b), out[2] = std::uint8_t(c),
    out[3] = std::uint8_t(d);
}

// A device with the world start-up builds (camera, terrain, collision world, sky box), the
// media archive of the build's run folder mounted, and the scene context filled in.
struct BenchWorld {
    explicit BenchWorld(irr::video::E_DRIVER_TYPE driverType, irr::u32 width = 1000,
                        irr::u32 height = 600) {
        using namespace irr;
        SIrrlichtCreationParameters p;
        p.DriverType = driverType;
        p.WindowSize = core::dimension2d<u32>(width, height);
        p.Bits = 16;
        p.Vsync = false;
        p.LoggingLevel = ELL_NONE;
        device = createDeviceEx(p);
        if (!device) {
            std::fprintf(stderr, "no engine device for driver %d\n", int(driverType));
            std::exit(2);
        }
        const std::string resDat = exeDir() + "/../run/res.dat";
        if (!device->getFileSystem()->addFileArchive(resDat.c_str(), true, true, io::EFAT_ZIP)) {
            std::fprintf(stderr, "%s missing: build the run folder first\n", resDat.c_str());
            std::exit(2);
        }
        world = tessel::buildWorld(device);
        context.skyCleared = tessel::addSkyBox(device->getSceneManager(), device->getVideoDriver());
        context.camera = world.camera;
        context.sceneManager = device->getSceneManager();
        context.guiEnvironment = device->getGUIEnvironment();
        context.videoDriver = device->getVideoDriver();
        context.timer = device->getTimer();
        context.collisionWorlds = world.collision.get();
        context.nodes = &nodes;
        context.connections = &connections;
        ui.flags.windowWidth = int(width);
        ui.flags.windowHeight = int(height);
        ui.channel = &channel;
    }
    ~BenchWorld() {
        world.collision.reset();
        device->closeDevice();
        device->run();
        device->drop();
    }
    BenchWorld(const BenchWorld&) = delete;
    BenchWorld& operator=(const BenchWorld&) = delete;

    // This host, the gateway (index 1), then foreign nodes up to `count` (no cubes yet).
    void addNodes(int count) {
        tessel::cNodeManager& manager = nodes;
        if (manager.nodeCount() == 0) manager.addLocalNode("10.0.0.10");
        if (manager.nodeCount() == 1) manager.addGatewayNode("10.0.0.1");
        for (int i = manager.nodeCount(); i < count; ++i)
            manager.findOrAddNode(foreignAddress(i), 0);
    }

    tessel::AdapterAddresses adapter;
    tessel::cNodeManager nodes{adapter};
    tessel::cConnectionList connections;
    tessel::HandOffChannel channel;
    tessel::SUiState ui;
    irr::IrrlichtDevice* device = nullptr;
    tessel::SWorld world;
    tessel::SSceneContext context;
};

inline double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Resident set size of this process in kB.
inline long residentKb() {
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f) return -1;
    long pages = 0, resident = 0;
    int got = std::fscanf(f, "%ld %ld", &pages, &resident);
    std::fclose(f);
    return got == 2 ? resident * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

}  // namespace bench
