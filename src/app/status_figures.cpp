#include "app/status_figures.h"

#include "capture/capture_session.h"
#include "capture/feed_counters.h"
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
    if (const FeedCounters* f = capture->feedCounters()) {
        FeedReading& feed = r.feed;
        feed.name = feedName(f->kind);
        feed.templates = f->kind == FeedKind::Netflow;
        feed.datagrams = f->datagrams.load();
        feed.exporters = f->exporters.load();
        feed.samples = f->samples.load();
        feed.malformed = f->malformed.load();
        feed.foreign = f->foreign.load();
        feed.skipped = f->skipped.load();
        feed.lost = f->lost.load();
        feed.waiting = f->waiting.load();
        feed.evicted = f->evicted.load();
        feed.socketDrops = f->socketDrops.load();
        feed.framesDropped = f->framesDropped.load();
        feed.framesWaiting = f->framesWaiting.load();
        feed.estimatedPackets = f->estimatedPackets.load();
        feed.estimatedBytes = f->estimatedBytes.load();
        for (const auto& rate : f->rates)
            if (const std::uint32_t n = rate.load()) feed.rates.push_back(n);
        feed.moreRates = f->moreRates.load();
    }
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
    f.feed = c.feed;
    const bool feed = !c.feed.name.empty();
    if (started_) {
        const double seconds = std::chrono::duration<double>(now - last_).count();
        auto perSecond = [seconds](std::uint64_t now, std::uint64_t before) {
            return (long long)((now - before) / seconds + 0.5);
        };
        if (seconds > 0) {
            f.packetsPerSecond = feed ? perSecond(c.feed.estimatedPackets, lastEstimated_)
                                      : perSecond(frames, lastFrames_);
            f.datagramsPerSecond = perSecond(c.feed.datagrams, lastDatagrams_);
        }
    }
    started_ = true;
    last_ = now;
    lastFrames_ = frames;
    lastEstimated_ = c.feed.estimatedPackets;
    lastDatagrams_ = c.feed.datagrams;
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
