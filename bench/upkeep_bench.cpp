// Figure 5: scene upkeep on the NULL driver (CPU side only): the scene pass that makes 100
// cubes among 500 nodes and the frame after it, refreshWorldSelector with 999 cubes, the two
// picks of the information panel with 999 cubes, and one frame's animate + draw with 999 cubes.
// Figure 5 also: the names over the cubes with 999 cubes and the HUD, frames (scene, labels,
// GUI) with the busiest hosts labelled and with every host in view labelled against frames
// without labels, alternated in one run.
// Figure 8: the status line: one gathering and showing of its figures (twice a second), and
// frames (scene and GUI) with the line shown against hidden, alternated in one run.
#include "app/status_figures.h"
#include "bench_support.h"
#include "platform/registry.h"
#include "ui/host_labels.h"
#include "ui/hud.h"
#include "ui/status_line.h"

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
        world.addNodes(400);
        tessel::createNodeObjects(world.context);
        drawFrame(world, 1000);
        world.addNodes(500);
        pass.push_back(medianMs(1, [&] { tessel::createNodeObjects(world.context); }));
        next.push_back(medianMs(1, [&] { drawFrame(world, 1016); }));
    }
    bench::row("5", "scene pass making 100 cubes among 500", bench::median(pass), "ms", "-", "-");
    bench::row("5", "the frame after it (animate+draw, 500 cubes)", bench::median(next), "ms", "-",
               "-");

    bench::BenchWorld world(video::EDT_NULL);
    world.device->getTimer()->stop();
    world.addNodes(tessel::kNodeListLimit);
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

    tessel::cRegistry registry;
    tessel::buildHud(world.device, registry, world.ui);
    tessel::cStatusGatherer gatherer(world.nodes, world.connections);
    const double update = medianMs(2000, [&] {
        tessel::showStatus(gatherer.gather(tessel::cStatusGatherer::Clock::now()), world.ui.flags,
                           world.ui.messages.get());
    });
    bench::row("8", "status line: gather and show once", update * 1000.0, "us", "-", "-");
    // Twice a second: the share of each second that the line takes.
    const double share = 2.0 * update / 1000.0;
    bench::row("8", "status line: share of every second", share * 100.0, "%", "<= 0.1",
               bench::verdict(share <= 0.001));
    // Labels: none, the busiest, all in view, frame by frame, so the noise falls on all alike.
    tessel::cHostLabels labels;
    labels.refresh(world.nodes);
    std::vector<tessel::TrafficRecord> records;  // an intel pass at 10,000 records a second
    for (int i = 0; i < 4300; ++i) {
        tessel::TrafficRecord r;
        r.udp = 1;
        r.src = bench::foreignAddress(2 + (i * 7) % 300);
        r.dst = "10.0.0.10";
        r.size = 0x3c00;
        records.push_back(r);
    }
    labels.countRecords(records, now);
    const tessel::LabelMode modes[] = {tessel::LabelMode::None, tessel::LabelMode::Busiest,
                                       tessel::LabelMode::AllInView};
    std::vector<double> labelFrames[3];
    std::size_t drawnLabels[3] = {0, 0, 0};
    for (int i = 0; i < 900; ++i) {
        const int m = i % 3;
        labelFrames[m].push_back(medianMs(1, [&] {
            world.device->getTimer()->setTime(now += 5);  // 4.5 s in all: inside the 5 s window
            world.context.videoDriver->beginScene(true, true, video::SColor(0));
            world.context.sceneManager->drawAll();
            labels.draw(world.context, modes[m], 0, now);
            world.context.guiEnvironment->drawAll();
            world.context.videoDriver->endScene();
        }));
        drawnLabels[m] = labels.drawn().size();
    }
    const double none = bench::median(labelFrames[0]);
    const double busiest = bench::median(labelFrames[1]) / none;
    const double inView = bench::median(labelFrames[2]) / none;
    bench::row("5", "frame without labels (999 cubes; HUD; NULL driver)", none, "ms", "-", "-");
    bench::row("5", "labels' cost per frame: all in view",
               (bench::median(labelFrames[2]) - none) * 1000.0, "us", "-", "-");
    bench::row(
        "5", "frame with labels / without: busiest (" + std::to_string(drawnLabels[1]) + " drawn)",
        busiest, "x", "<= 1.05", bench::verdict(busiest <= 1.05));
    bench::row(
        "5",
        "frame with labels / without: all in view (" + std::to_string(drawnLabels[2]) + " drawn)",
        inView, "x", "<= 1.05", bench::verdict(inView <= 1.05));

    // Shown and hidden frames alternate, so the machine's noise falls on both alike.
    std::vector<double> shown, hidden;
    for (int i = 0; i < 200; ++i) {
        const bool show = i % 2 == 0;
        if (tessel::statusLineShown() != show) tessel::toggleStatusLine(world.ui.flags);
        (show ? shown : hidden).push_back(medianMs(1, [&] {
            world.device->getTimer()->setTime(now += 16);
            world.context.videoDriver->beginScene(true, true, video::SColor(0));
            world.context.sceneManager->drawAll();
            world.context.guiEnvironment->drawAll();
            world.context.videoDriver->endScene();
        }));
    }
    const double ratio = bench::median(shown) / bench::median(hidden);
    bench::row("8", "frame with the status line / without (NULL driver)", ratio, "x", "<= 1.02",
               bench::verdict(ratio <= 1.02));
    return 0;
}
