#include "app/status_figures.h"

#include "capture/capture_session.h"
#include "capture/packet_dispatch.h"
#include "core/replay_state.h"
#include "nodes/connection_list.h"
#include "nodes/node_manager.h"
#include "scene/particle_impacts.h"

namespace tessel {

CaptureReading readCaptureCounters(const cCaptureSession* capture) {
    CaptureReading r;
    if (!capture) return r;
    const CaptureCounters& c = capture->counters();
    r.notIP = c.notIP.load();
    r.fragments = c.fragments.load();
    r.ignored = c.ignored.load();
    r.truncated = c.droppedShort.load();
    r.malformed = c.droppedMalformed.load();
    r.packets = c.packets.load();
    r.kernelKnown = capture->kernelStats(&r.kernel);
    r.intelWritten = capture->intelWritten().written.load();
    r.intelLost = capture->intelWritten().lost.load();
    r.intelRead = capture->intelRead();
    return r;
}

StatusFigures cStatusGatherer::gather(Clock::time_point now, const cCaptureSession* capture) {
    StatusFigures f;
    const CaptureReading c = readCaptureCounters(capture);
    f.notIP = c.notIP;
    f.fragments = c.fragments;
    f.otherProtocol = c.ignored >= c.notIP + c.fragments ? c.ignored - c.notIP - c.fragments : 0;
    f.truncated = c.truncated;
    f.malformed = c.malformed;
    const std::uint64_t frames = c.packets + f.truncated + f.malformed + c.ignored;
    if (started_) {
        const double seconds = std::chrono::duration<double>(now - last_).count();
        if (seconds > 0) f.packetsPerSecond = (long long)((frames - lastFrames_) / seconds + 0.5);
    }
    started_ = true;
    last_ = now;
    lastFrames_ = frames;
    next_ = now + kPeriod;

    f.kernelDropsKnown = !replayState().active && c.kernelKnown;
    if (f.kernelDropsKnown) f.kernelDrops = c.kernel.dropped + c.kernel.interfaceDropped;
    const ImpactTotals impacts = impactTotals();
    f.impactsMerged = impacts.merged;
    f.impactsCapped = impacts.capped;
    f.nodes = nodes_.nodeCount();
    f.nodeListFull = nodes_.refusedNodes() > 0;
    f.beams = static_cast<int>(connections_.size());
    return f;
}

}  // namespace tessel
