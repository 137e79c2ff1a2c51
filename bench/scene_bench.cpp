// Scene-side costs on the NULL driver: the scene pass that gives 100 new nodes their cubes in a
// world of 500, the per-frame refill of the collision world with 999 cubes, and for comparison
// the cost of one fresh terrain selector (what every cube's walk would pay without reuse).
// Uses res.dat next to the build's run folder when present, else a generated flat heightmap.
#include <benchmark/benchmark.h>
#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "core/adapter_addresses.h"
#include "nodes/connection_list.h"
#include "nodes/name_resolver.h"
#include "nodes/node_manager.h"
#include "scene/node_objects.h"
#include "scene/scene_context.h"
#include "scene/world.h"

namespace {
using namespace irr;

std::string exeDir() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0) return ".";
    std::string path(buf, static_cast<std::size_t>(n));
    return path.substr(0, path.rfind('/'));
}

// A NULL-driver world: camera, terrain and collision world, with the cube textures in place.
struct BenchWorld {
    BenchWorld() {
        SIrrlichtCreationParameters p;
        p.DriverType = video::EDT_NULL;
        p.LoggingLevel = ELL_NONE;
        device = createDeviceEx(p);
        io::IFileSystem* fs = device->getFileSystem();
        video::IVideoDriver* driver = device->getVideoDriver();
        const std::string resDat = exeDir() + "/../run/res.dat";
        bool media = access(resDat.c_str(), R_OK) == 0 &&
                     fs->addFileArchive(resDat.c_str(), true, true, io::EFAT_ZIP);
        if (!media) {
            // 129 x 129 black heightmap, as flat as the shipped one.
            heightmap = "/tmp/tessel-bench-heightmap.bmp";
            video::IImage* image =
                driver->createImage(video::ECF_R8G8B8, core::dimension2d<u32>(129, 129));
            image->fill(video::SColor(0xFF000000));
            driver->writeImageToFile(image, heightmap.c_str());
            for (const char* name : {"Media/gateway.bmp", "Media/wall-tessel.bmp", "Media/wall.bmp",
                                     "Media/wallb.bmp"})
                driver->addTexture(name, image);
            image->drop();
        }
        world = tessel::buildWorld(device);
        if (!world.terrain && !heightmap.empty()) {
            world.terrain = device->getSceneManager()->addTerrainSceneNode(heightmap.c_str());
            world.terrain->setScale(core::vector3df(100, 100, 100));
            world.collision->createTriangleSelectors();
        }
        context.camera = world.camera;
        context.sceneManager = device->getSceneManager();
        context.videoDriver = driver;
        context.guiEnvironment = device->getGUIEnvironment();
        context.collisionWorlds = world.collision.get();
        context.nodes = &nodes;
        context.connections = &connections;
    }
    ~BenchWorld() {
        world.collision.reset();
        device->drop();
        if (!heightmap.empty()) std::remove(heightmap.c_str());
    }

    // Adds nodes up to `count` (this host first) and gives them their cubes.
    void addNodes(int count) {
        tessel::cNodeManager& manager = nodes;
        if (manager.nodeCount() == 0) manager.addLocalNode("192.168.1.10");
        for (int i = manager.nodeCount(); i < count; ++i)
            manager.findOrAddNode(std::to_string(11 + i % 200) + "." + std::to_string(i / 200) +
                                      "." + std::to_string(i % 251) + "." + std::to_string(i % 7),
                                  0);
    }

    tessel::AdapterAddresses adapter;
    tessel::cNodeManager nodes{adapter};
    tessel::cConnectionList connections;
    IrrlichtDevice* device = nullptr;
    tessel::SWorld world;
    tessel::SSceneContext context;
    std::string heightmap;
};

void BM_ScenePass100NewCubesIn500(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        {
            BenchWorld bench;
            bench.addNodes(400);
            tessel::createNodeObjects(bench.context);
            bench.addNodes(500);
            state.ResumeTiming();
            tessel::createNodeObjects(bench.context);  // the 100 new cubes
            state.PauseTiming();
        }
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ScenePass100NewCubesIn500)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_RefreshWorldSelector999Cubes(benchmark::State& state) {
    BenchWorld bench;
    bench.addNodes(tessel::kNodeListLimit);
    tessel::createNodeObjects(bench.context);
    for (auto _ : state) bench.world.collision->refreshWorldSelector();
    state.counters["selectors"] = bench.world.collision->worldSelector()->getSelectorCount();
}
BENCHMARK(BM_RefreshWorldSelector999Cubes)->Unit(benchmark::kMicrosecond);

// One frame's scene animation and draw with N cubes. Each cube carries its own collision
// response over a collision set of every cube and the terrain; it queries that set only when
// its cube moves, so a still scene costs little. For scale next to the refill.
void BM_DrawAllCubes(benchmark::State& state) {
    BenchWorld bench;
    bench.addNodes(static_cast<int>(state.range(0)));
    tessel::createNodeObjects(bench.context);
    ITimer* timer = bench.device->getTimer();
    timer->stop();
    u32 now = 1000;
    for (auto _ : state) {
        now += 16;
        timer->setTime(now);
        bench.context.videoDriver->beginScene(true, true, video::SColor(0));
        bench.context.sceneManager->drawAll();
        bench.context.videoDriver->endScene();
    }
}
BENCHMARK(BM_DrawAllCubes)
    ->Arg(100)
    ->Arg(300)
    ->Arg(999)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

void BM_FreshTerrainSelector(benchmark::State& state) {
    BenchWorld bench;
    scene::ISceneManager* smgr = bench.context.sceneManager;
    for (auto _ : state) {
        scene::ITriangleSelector* s = smgr->createTerrainTriangleSelector(bench.world.terrain, 0);
        benchmark::DoNotOptimize(s);
        s->drop();
    }
}
BENCHMARK(BM_FreshTerrainSelector)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
