#include "app/scene_dump.h"

#include <irrlicht.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <sstream>
#include <vector>

#include "app/status_figures.h"
#include "capture/capture_session.h"
#include "capture/intel_reader.h"
#include "capture/intel_writer.h"
#include "capture/rate_history.h"
#include "core/hand_off.h"
#include "core/process_flags.h"
#include "core/program_table.h"
#include "core/replay_state.h"
#include "core/wide_text.h"
#include "nodes/connection_list.h"
#include "nodes/node_manager.h"
#include "platform/directory.h"
#include "scene/impact_sprites.h"
#include "scene/node_objects.h"
#include "scene/particle_impacts.h"
#include "scene/traffic_beams.h"
#include "ui/fading_text_list.h"
#include "ui/hud.h"
#include "ui/legend.h"
#include "ui/status_line.h"
#include "ui/ui_state.h"

namespace tessel {

using namespace irr;

namespace {

// The signal handler's flag: the one piece of state a handler can reach.
std::atomic<int> g_dumpRequested{0};

void onDumpSignal(int) { g_dumpRequested.store(1); }

void countScene(scene::ISceneNode* node, int* cubes, int* sprites, int* linksWithIdZero) {
    for (scene::ISceneNode* child : node->getChildren()) {
        if (child->getType() == scene::ESNT_CUBE) ++*cubes;
        if (child->getType() == CImpactSprites::kType)
            *sprites += static_cast<int>(static_cast<CImpactSprites*>(child)->liveCount());
        if (child->getType() == scene::ESNT_UNKNOWN && child->getID() == 0) ++*linksWithIdZero;
        countScene(child, cubes, sprites, linksWithIdZero);
    }
}

void dumpView(SSceneContext& context, const SUiState& ui, std::ostringstream& out) {
    scene::ICameraSceneNode* camera =
        context.sceneManager ? context.sceneManager->getActiveCamera() : nullptr;
    if (camera) {
        core::vector3df p = camera->getPosition();
        core::vector3df t = camera->getTarget();
        out << "camera " << p.X << " " << p.Y << " " << p.Z << " target " << t.X << " " << t.Y
            << " " << t.Z << " far " << camera->getFarValue() << " input "
            << (camera->isInputReceiverEnabled() ? 1 : 0) << " tour-camera "
            << (camera == ui.tour.tourCamera ? 1 : 0) << "\n";
    }
    out << "view entered " << ui.flags.enteredEnvironment << " tour " << ui.tour.active << "\n";
    const cFindField& find = ui.find;
    const std::string current = find.currentAddress();
    out << "find " << (find.isOpen() ? "open" : "closed") << " matches " << find.matchCount()
        << " current " << (current.empty() ? "-" : current) << " text " << find.text() << "\n";
    const std::string panel = infoPanelText();
    out << "info " << (panel.empty() ? "hidden" : "shown ") << panel << "\n";
    const CFadingTextList* messages = ui.messages.get();
    if (!messages) return;
    for (int i = 0; i < messages->lineCount(); ++i) {
        gui::IGUIStaticText* line = messages->line(i);
        std::string text = line ? narrowText(line->getText()) : "";
        if (!text.empty()) out << "message " << i << " " << text << "\n";
    }
}

}  // namespace

void installSceneDumpSignal() {
    struct sigaction action {};
    action.sa_handler = onDumpSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGUSR1, &action, nullptr);
}

namespace {

// A node's location in the dump: "US AS15169" (either may be "?" when the data has none), the
// range's wording with dashes for spaces ("private-network"), or "-" (not located, local, or no
// location data).
std::string geoField(const SNetNode& node) {
    const HostLocation& where = node.location;
    if (node.locateState != 2 || where.noData) return "-";
    if (!where.rangeWording.empty()) {
        std::string word = where.rangeWording;
        for (char& c : word)
            if (c == ' ') c = '-';
        return word;
    }
    return (where.countryCode.empty() ? "?" : where.countryCode) + " AS" +
           (where.asNumber ? std::to_string(where.asNumber) : "?");
}

void dumpNodes(SSceneContext& context, std::ostringstream& out) {
    const std::vector<SNetNode> nodes = context.nodes->copyAllNodes();
    const int n = static_cast<int>(nodes.size());
    out << "nodes " << n << "\n";
    for (int i = 0; i < n; ++i) {
        const SNetNode& node = nodes[static_cast<std::size_t>(i)];
        const char* kind = node.isGateway                  ? "gateway"
                           : (i == 0 && node.isLocal == 1) ? "host"
                           : node.isLocal == 1             ? "local"
                                                           : "foreign";
        out << "node " << i << " " << node.address << " " << kind << " " << node.position.X << " "
            << node.position.Y << " " << node.position.Z << " cube "
            << (cubeOf(context, node) ? 1 : 0) << " pick " << node.pickId << " age " << node.age
            << " resolve " << node.resolveState << " geo " << geoField(node) << " name "
            << node.hostName << "\n";
    }
}

// " program NAME PID" (spaces in the name as '_'), " program - uid N" for another user's
// socket, " program -" when not known.
std::string programWords(const ProgramOwner& o) {
    if (o.kind == ProgramOwner::Kind::OtherUser) return " program - uid " + std::to_string(o.uid);
    if (o.kind != ProgramOwner::Kind::Named) return " program -";
    std::string name = o.name;
    for (char& c : name)
        if (c == ' ' || c == '\t') c = '_';
    return " program " + name + " " + std::to_string(o.pid);
}

void dumpPrograms(const cProgramTable& programs, std::ostringstream& out) {
    const ProgramCounts c = programs.counts();
    out << "programs live " << (programs.live() ? 1 : 0) << " flows " << c.flows << " named "
        << c.named << " other-user " << c.otherUser << " not-known " << c.notKnown << " refused "
        << c.refused << " dropped " << c.dropped << "\n";
    for (const ProgramUse& use : programs.busiest(cProgramTable::Clock::now(), 3))
        out << "program-top" << programWords(use.owner) << " bytes " << use.bytes << " packets "
            << use.packets << "\n";
}

void dumpBeamsAndScene(SSceneContext& context, std::ostringstream& out) {
    const cConnectionList& connections = *context.connections;
    out << "beams " << connections.size() << " refused " << connections.refused() << "\n";
    for (const STrafficBeam& b : connections) {
        out << "beam " << b.source << ":" << b.sourcePort << " " << b.destination << ":"
            << b.destinationPort << " " << b.service << " pick " << b.pickId << " drawn "
            << (beamOf(context, b) ? 1 : 0);
        ProgramOwner owner{ProgramOwner::Kind::NotKnown, {}, 0, 0};
        if (context.programs && context.programs->live())
            owner = context.programs->ownerOf(
                FlowEnds{6, b.source, b.destination, b.sourcePort, b.destinationPort});
        out << programWords(owner) << "\n";
    }
    if (context.programs) dumpPrograms(*context.programs, out);
    int cubes = 0, sprites = 0, links = 0;
    if (context.sceneManager)
        countScene(context.sceneManager->getRootSceneNode(), &cubes, &sprites, &links);
    out << "scene cubes " << cubes << " sprites " << sprites << " gateway-links " << links << "\n";
    if (!context.sceneManager) return;
    for (scene::ISceneNode* child : context.sceneManager->getRootSceneNode()->getChildren())
        if (child->getType() == CImpactSprites::kType) {
            const auto* node = static_cast<const CImpactSprites*>(child);
            out << "sprite-pixels drawn " << node->drawnLastFrame() << " blended "
                << std::llround(node->blendedLastFrame()) << " wanted "
                << std::llround(node->wantedLastFrame()) << "\n";
        }
}

void dumpCounters(const SDumpSources& sources, u32 now, std::ostringstream& out) {
    std::vector<std::string> waiting;
    listDirectory("intel", &waiting);
    out << "intel-waiting " << waiting.size() << "\n";
    const CaptureReading c = readCaptureCounters(sources.capture);
    out << "intel written " << c.intelWritten << " read " << c.intelRead << " lost " << c.intelLost
        << " handed " << sources.channel.waitingRecords() << "\n";
    const ImpactRates rates = recentImpactRates(now);
    out << "impacts drawn-per-second " << rates.drawnPerSecond << " of " << rates.totalPerSecond
        << " cap " << kImpactSpriteCap << "\n";
    out << "hand-off dropped-beam-events " << sources.channel.droppedBeamEvents() << "\n";
    out << "hand-off dropped-messages " << sources.channel.droppedMessages() << "\n";
    out << "frames packets " << c.packets << " short " << c.truncated << " malformed "
        << c.malformed << " ignored " << c.ignored << " not-ip " << c.notIP << " fragments "
        << c.fragments << "\n";
    if (!c.feed.name.empty()) {
        const FeedReading& f = c.feed;
        out << "feed " << f.name << " datagrams " << f.datagrams << " exporters " << f.exporters
            << " samples " << f.samples << " malformed " << f.malformed << " foreign " << f.foreign
            << " skipped " << f.skipped << " lost " << f.lost << " waiting " << f.waiting
            << " evicted " << f.evicted << " socket-drops " << f.socketDrops << " frames-dropped "
            << f.framesDropped << " frames-waiting " << f.framesWaiting << " estimated-packets "
            << f.estimatedPackets << " estimated-bytes " << f.estimatedBytes << " rates";
        for (std::uint32_t rate : f.rates) out << " " << rate;
        out << "\n";
    }
    if (c.kernelKnown)
        out << "kernel received " << c.kernel.received << " dropped " << c.kernel.dropped
            << " ifdropped " << c.kernel.interfaceDropped << "\n";
}

void dumpHud(const SDumpSources& sources, std::ostringstream& out) {
    out << "status shown " << statusLineShown() << " drops-red " << statusDropsRed() << " legend "
        << legendShown() << "\n";
    const std::string rows = statusLineText();
    const std::size_t cut = rows.find('\n');
    out << "status-1 " << rows.substr(0, cut) << "\n";
    const std::size_t cut2 = rows.find('\n', cut + 1);
    out << "status-2 " << rows.substr(cut + 1, cut2 == rows.npos ? rows.npos : cut2 - cut - 1)
        << "\n";
    if (cut2 != rows.npos) out << "status-3 " << rows.substr(cut2 + 1) << "\n";
    const ProcessFlags& flags = sources.ui.flags;
    out << "hud graph " << flags.statsGraphShown << " help " << flags.helpState << " pause "
        << flags.pauseState << " logging " << (sources.channel.tracing() ? 1 : 0) << "\n";
    out << "rate-samples " << rateSampleCount() << "\n";
    // The labels of the last frame; the text goes last, as a host name may hold spaces.
    const std::size_t labels = sources.labels ? sources.labels->size() : 0;
    out << "labels " << labelModeName(sources.ui.labelMode) << " " << labels << "\n";
    for (std::size_t i = 0; i < labels; ++i)
        out << "label " << (*sources.labels)[i].address << " " << (*sources.labels)[i].text << "\n";
    const ReplayState& replay = replayState();
    if (replay.active)
        out << "replay clock " << replay.captureClockUs.load() << " progress "
            << replay.progressPermille.load() << " speed " << replay.speed.load() << " paused "
            << replay.paused.load() << " finished " << replay.finished.load() << " source "
            << replay.source << "\n";
}

}  // namespace

std::string sceneDumpText(const SDumpSources& sources) {
    SSceneContext& context = sources.scene;
    const u32 now = context.timer ? context.timer->getTime() : 0;
    std::ostringstream out;
    dumpNodes(context, out);
    dumpBeamsAndScene(context, out);
    dumpCounters(sources, now, out);
    dumpHud(sources, out);
    dumpView(context, sources.ui, out);
    out << "frame " << sources.frames << "\n";
    if (sources.frameMs && !sources.frameMs->empty()) {
        std::vector<float> ms(*sources.frameMs);
        std::sort(ms.begin(), ms.end());
        out << "frame-ms median " << ms[(ms.size() - 1) / 2] << " worst " << ms.back() << " over "
            << ms.size() << "\n";
    }
    out << "clock " << now << "\n";
    return out.str();
}

void serviceSceneDump(const SDumpSources& sources) {
    if (!g_dumpRequested.exchange(0)) return;
    std::string text = sceneDumpText(sources);
    // Written whole under another name first, so a reader never sees half a dump.
    std::FILE* f = std::fopen("scene-dump.txt.tmp", "w");
    if (!f) return;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    std::rename("scene-dump.txt.tmp", "scene-dump.txt");
}

}  // namespace tessel
