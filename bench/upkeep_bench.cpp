// Figure 5: scene upkeep on the NULL driver (CPU side only): the scene pass that makes 100
// cubes among 500 nodes and the frame after it, refreshWorldSelector with 999 cubes, the two
// picks of the information panel with 999 cubes, and one frame's animate + draw with 999 cubes.
#include "bench_support.h"

namespace {
using namespace irr;

void drawFrame(bench::BenchWorld& world, u32 timeMs) {
    world.device->getTimer()->setTime(timeMs);
    world.context.videoDriver->beginScene(true, true, video::SColor(0));
    world.context.sceneManager->drawAll();
    world.context.videoDriver->endScene();
}

template <typename F>
double medianMs(int runs, F&& f) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const bench::Clock::time_point start = bench::Clock::now();
        f();
        times.push_back(bench::secondsSince(start) * 1000.0);
    }
    return bench::median(times);
}

}  // namespace

int main() {
    std::vector<double> pass, next;
    for (int run = 0; run < 3; ++run) {
        bench::BenchWorld world(video::EDT_NULL);
        world.device->getTimer()->stop();
        bench::BenchWorld::addNodes(400);
        tessel::createNodeObjects(world.context);
        drawFrame(world, 1000);
        bench::BenchWorld::addNodes(500);
        pass.push_back(medianMs(1, [&] { tessel::createNodeObjects(world.context); }));
        next.push_back(medianMs(1, [&] { drawFrame(world, 1016); }));
    }
    bench::row("5", "scene pass making 100 cubes among 500", bench::median(pass), "ms", "-", "-");
    bench::row("5", "the frame after it (animate+draw, 500 cubes)", bench::median(next), "ms", "-",
               "-");

    bench::BenchWorld world(video::EDT_NULL);
    world.device->getTimer()->stop();
    bench::BenchWorld::addNodes(tessel::kNodeListLimit);
    tessel::createNodeObjects(world.context);
    drawFrame(world, 1000);
    const double refresh = medianMs(50, [&] { world.world.collision->refreshWorldSelector(); });
    bench::row("5", "refreshWorldSelector with 999 cubes", refresh, "ms", "-", "-");

    scene::ISceneCollisionManager* collision =
        world.context.sceneManager->getSceneCollisionManager();
    const double pick = medianMs(50, [&] {
        // As the information panel does: nodes first, then beams.
        const core::position2d<s32> cursor(500, 300);
        scene::ISceneNode* hit = collision->getSceneNodeFromScreenCoordinatesBB(cursor, 0x01000000);
        if (!hit) collision->getSceneNodeFromScreenCoordinatesBB(cursor, 0x02000000);
    });
    bench::row("5", "picking with 999 cubes (node pick + beam pick)", pick, "ms", "-", "-");

    u32 now = 1000;
    const double frame = medianMs(30, [&] { drawFrame(world, now += 16); });
    bench::row("5", "animate+draw with 999 cubes (NULL driver)", frame, "ms", "-", "-");
    return 0;
}
