#include "app/status_figures.h"

#include "capture/capture_session.h"
#include "capture/packet_dispatch.h"
#include "core/replay_state.h"
#include "nodes/connection_list.h"
#include "nodes/node_manager.h"
#include "scene/particle_impacts.h"

namespace tessel {

StatusFigures cStatusGatherer::gather(Clock::time_point now) {
    StatusFigures f;
    const CaptureCounters& c = captureCounters;
    const std::uint64_t notIP = c.notIP.load(), fragments = c.fragments.load(),
                        ignored = c.ignored.load();
    f.notIP = notIP;
    f.fragments = fragments;
    f.otherProtocol = ignored >= notIP + fragments ? ignored - notIP - fragments : 0;
    f.truncated = c.droppedShort.load();
    f.malformed = c.droppedMalformed.load();
    const std::uint64_t frames = c.packets.load() + f.truncated + f.malformed + ignored;
    if (started_) {
        const double seconds = std::chrono::duration<double>(now - last_).count();
        if (seconds > 0) f.packetsPerSecond = (long long)((frames - lastFrames_) / seconds + 0.5);
    }
    started_ = true;
    last_ = now;
    lastFrames_ = frames;
    next_ = now + kPeriod;

    KernelCaptureStats kernel;
    f.kernelDropsKnown = !replayState().active && captureKernelStats(&kernel);
    if (f.kernelDropsKnown) f.kernelDrops = kernel.dropped + kernel.interfaceDropped;
    const ImpactTotals impacts = impactTotals();
    f.impactsMerged = impacts.merged;
    f.impactsCapped = impacts.capped;
    f.nodes = nodes_.nodeCount();
    f.nodeListFull = nodes_.refusedNodes() > 0;
    f.beams = static_cast<int>(connections_.size());
    return f;
}

}  // namespace tessel
