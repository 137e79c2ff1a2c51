#include "capture/flow_collector_source.h"

#include <arpa/inet.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "capture/capture_filter.h"

namespace tessel {

namespace {

constexpr std::int64_t kSecondUs = 1'000'000;
// The largest UDP payload; a datagram is read whole or not at all.
constexpr std::size_t kDatagramBytes = 65536;
// Exporters followed for the count of distinct ones; beyond, new ones are not counted.
constexpr std::size_t kMaxExportersCounted = 4096;
// Frames kept ready beyond the batch being read: a collector that falls behind drops here,
// counted, rather than growing.
constexpr std::size_t kMaxReady = 65536;

std::int64_t wallMicros() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return std::int64_t(t.tv_sec) * kSecondUs + t.tv_nsec / 1000;
}

std::uint64_t half(const std::uint8_t* bytes) {
    std::uint64_t v = 0;
    for (int k = 0; k < 8; ++k) v = v << 8 | bytes[k];
    return v;
}

std::string addressText(const std::uint8_t address[16], int ipVersion) {
    char text[INET6_ADDRSTRLEN] = "";
    if (ipVersion == 4) {
        inet_ntop(AF_INET, address, text, sizeof text);
    } else {
        static const std::uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
        if (std::memcmp(address, kMapped, 12) == 0)
            inet_ntop(AF_INET, address + 12, text, sizeof text);
        else
            inet_ntop(AF_INET6, address, text, sizeof text);
    }
    return text;
}

FlowExporter exporterOf(const sockaddr_storage& from) {
    FlowExporter e;
    if (from.ss_family == AF_INET6) {
        std::memcpy(e.address, &reinterpret_cast<const sockaddr_in6&>(from).sin6_addr, 16);
    } else if (from.ss_family == AF_INET) {
        e.address[10] = e.address[11] = 0xFF;
        std::memcpy(e.address + 12, &reinterpret_cast<const sockaddr_in&>(from).sin_addr, 4);
    }
    return e;
}

}  // namespace

void noteSamplingRate(FeedCounters& counters, std::uint32_t rate) {
    if (rate == 0) return;
    for (auto& slot : counters.rates) {
        const std::uint32_t seen = slot.load(std::memory_order_relaxed);
        if (seen == rate) return;
        if (seen == 0) {
            slot.store(rate, std::memory_order_relaxed);
            return;
        }
    }
    counters.moreRates.store(true, std::memory_order_relaxed);
}

cFlowCollectorSource::cFlowCollectorSource(const Options& options)
    : options_(options), player_([&] {
          cFlowPlayer::Options o;
          o.flowTimeoutMs = options.flowTimeoutMs;
          return o;
      }()) {
    counters_.kind = options.kind;
    name_ = std::string(feedName(options.kind)) + " on UDP " + listenText(options.listen);
}

cFlowCollectorSource::~cFlowCollectorSource() {
    if (haveFilter_) pcap_freecode(&filter_);
    if (filterHandle_) pcap_close(filterHandle_);
    if (fd_ >= 0) ::close(fd_);
    if (endFd_ >= 0) ::close(endFd_);
}

bool cFlowCollectorSource::open(std::string* error) {
    fd_ = openUdpListener(options_.listen, error);
    if (fd_ < 0) return false;
    endFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    buffers_.assign(std::size_t(kBatch) * kDatagramBytes, 0);
    rateSecondEndUs_ = wallMicros() + kSecondUs;
    return true;
}

void cFlowCollectorSource::endStream() {
    if (endFd_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(endFd_, &one, sizeof one);
    }
}

bool cFlowCollectorSource::setFilter(const std::string& filter, std::string* error) {
    if (filter.empty()) return true;
    if (!filterHandle_) filterHandle_ = pcap_open_dead(DLT_EN10MB, int(FeedFrame::kMaxBytes));
    if (!filterHandle_) {
        *error = "cannot make a filter";
        return false;
    }
    bpf_program program{};
    if (pcap_compile(filterHandle_, &program, filter.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0) {
        *error = pcap_geterr(filterHandle_);
        return false;
    }
    if (haveFilter_) pcap_freecode(&filter_);
    filter_ = program;
    haveFilter_ = true;
    return true;
}

void cFlowCollectorSource::noteExporter(const std::uint8_t address[16], std::uint32_t id,
                                        int ipVersion) {
    if (firstExporter_.empty()) firstExporter_ = addressText(address, ipVersion);
    if (exporters_.size() >= kMaxExportersCounted) return;
    auto key = std::make_pair(std::make_pair(half(address), half(address + 8)), id);
    if (exporters_.emplace(key, true).second)
        counters_.exporters.store(exporters_.size(), std::memory_order_relaxed);
}

void cFlowCollectorSource::takeSflow(const std::uint8_t* data, std::size_t length,
                                     std::int64_t nowUs) {
    SflowDatagramInfo info;
    const std::size_t readyBefore = ready_.size();
    const SflowOutcome outcome = decodeSflow(data, length, &info, [&](const SflowPacketSample& s) {
        if (ready_.size() >= kMaxReady) {
            counters_.framesDropped.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        ready_.emplace_back();
        if (!frameFromSample(s, nowUs, &ready_.back())) {
            ready_.pop_back();
            counters_.skipped.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        noteSamplingRate(counters_, s.samplingRate);
    });
    if (outcome == SflowOutcome::NotSflow) {
        counters_.foreign.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    if (outcome == SflowOutcome::Malformed) {
        counters_.malformed.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    std::uint8_t agent[16] = {};
    std::memcpy(agent, info.agent.address, 16);
    noteExporter(agent, info.agent.subAgent, info.agent.ipVersion);
    counters_.samples.fetch_add(ready_.size() - readyBefore, std::memory_order_relaxed);
    counters_.skipped.fetch_add(info.skippedRecords, std::memory_order_relaxed);
    counters_.lost.fetch_add(sflowLoss_.see(info.agent, info.sequence), std::memory_order_relaxed);
}

void cFlowCollectorSource::takeNetflow(const std::uint8_t* data, std::size_t length,
                                       const FlowExporter& from, std::int64_t nowUs) {
    NetflowDatagramInfo info;
    const NetflowOutcome outcome =
        netflow_.decode(from, data, length, nowUs / 1000, &info, [&](const FlowRecord& r) {
            player_.add(from, r, nowUs);
            // A flow's estimate is exact when it comes; its frames only spread it in time.
            const std::uint64_t rate = r.samplingInterval ? r.samplingInterval : 1;
            counters_.estimatedPackets.fetch_add(r.packets * rate, std::memory_order_relaxed);
            counters_.estimatedBytes.fetch_add(r.octets * rate, std::memory_order_relaxed);
            noteSamplingRate(counters_, std::uint32_t(rate));
        });
    if (outcome == NetflowOutcome::NotNetflow) {
        counters_.foreign.fetch_add(1, std::memory_order_relaxed);
    } else if (outcome == NetflowOutcome::Malformed) {
        counters_.malformed.fetch_add(1, std::memory_order_relaxed);
    } else {
        noteExporter(from.address, info.domain, 6);
        counters_.samples.fetch_add(info.records, std::memory_order_relaxed);
        counters_.skipped.fetch_add(info.skipped, std::memory_order_relaxed);
    }
    const NetflowTotals& t = netflow_.totals();
    counters_.lost.store(t.lost, std::memory_order_relaxed);
    counters_.waiting.store(t.waiting, std::memory_order_relaxed);
    counters_.evicted.store(t.evicted, std::memory_order_relaxed);
    counters_.framesDropped.store(player_.totals().dropped, std::memory_order_relaxed);
    counters_.framesWaiting.store(player_.scheduled(), std::memory_order_relaxed);
}

void cFlowCollectorSource::takeDatagram(const std::uint8_t* data, std::size_t length,
                                        const FlowExporter& from, std::int64_t nowUs) {
    counters_.datagrams.fetch_add(1, std::memory_order_relaxed);
    if (options_.kind == FeedKind::Sflow)
        takeSflow(data, length, nowUs);
    else
        takeNetflow(data, length, from, nowUs);
}

bool cFlowCollectorSource::readBatch(std::int64_t nowUs) {
    if (fd_ < 0) return false;
    std::uint8_t* buffers = buffers_.data();
    sockaddr_storage from[kBatch];
    iovec iov[kBatch];
    mmsghdr msgs[kBatch];
    alignas(cmsghdr) char control[kBatch][CMSG_SPACE(sizeof(std::uint32_t)) + 64];
    for (unsigned k = 0; k < kBatch; ++k) {
        iov[k].iov_base = buffers + k * kDatagramBytes;
        iov[k].iov_len = kDatagramBytes;
        std::memset(&msgs[k], 0, sizeof msgs[k]);
        msgs[k].msg_hdr.msg_name = &from[k];
        msgs[k].msg_hdr.msg_namelen = sizeof from[k];
        msgs[k].msg_hdr.msg_iov = &iov[k];
        msgs[k].msg_hdr.msg_iovlen = 1;
        msgs[k].msg_hdr.msg_control = control[k];
        msgs[k].msg_hdr.msg_controllen = sizeof control[k];
    }
    const int n = ::recvmmsg(fd_, msgs, kBatch, MSG_DONTWAIT, nullptr);
    if (n <= 0) return false;
    for (int k = 0; k < n; ++k) {
        msghdr& m = msgs[k].msg_hdr;
        for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL) {
                std::uint32_t dropped = 0;
                std::memcpy(&dropped, CMSG_DATA(c), sizeof dropped);
                if (dropped > counters_.socketDrops.load(std::memory_order_relaxed))
                    counters_.socketDrops.store(dropped, std::memory_order_relaxed);
            }
        }
        if (m.msg_flags & MSG_TRUNC) {  // longer than any UDP payload: cannot be whole
            counters_.datagrams.fetch_add(1, std::memory_order_relaxed);
            counters_.malformed.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        takeDatagram(buffers + k * kDatagramBytes, msgs[k].msg_len, exporterOf(from[k]), nowUs);
    }
    return true;
}

void cFlowCollectorSource::readSocketDrops() {
    // Each queued datagram states the drops so far (SO_RXQ_OVFL), but those after the last one
    // that found room are stated by none: the socket's own count, read once a second, has them.
    std::uint32_t meminfo[SK_MEMINFO_VARS] = {};
    socklen_t length = sizeof meminfo;
    if (::getsockopt(fd_, SOL_SOCKET, SO_MEMINFO, meminfo, &length) != 0 ||
        length < (SK_MEMINFO_DROPS + 1) * sizeof meminfo[0])
        return;
    if (meminfo[SK_MEMINFO_DROPS] > counters_.socketDrops.load(std::memory_order_relaxed))
        counters_.socketDrops.store(meminfo[SK_MEMINFO_DROPS], std::memory_order_relaxed);
}

bool cFlowCollectorSource::takeReady(std::int64_t nowUs) {
    for (;;) {
        const bool sample = !ready_.empty();
        if (sample) {
            current_ = ready_.front();
            ready_.pop_front();
        } else if (!player_.next(nowUs, &current_)) {
            return false;
        }
        if (haveFilter_ && pcap_offline_filter(&filter_, &current_.header, current_.bytes) == 0)
            continue;
        const std::uint64_t bytes = std::uint64_t(current_.weight) * current_.header.len;
        if (sample) {
            counters_.estimatedPackets.fetch_add(current_.weight, std::memory_order_relaxed);
            counters_.estimatedBytes.fetch_add(bytes, std::memory_order_relaxed);
        }
        rateBytes_ += bytes;
        return true;
    }
}

void cFlowCollectorSource::tickRate(std::int64_t nowUs) {
    if (rateSecondEndUs_ == 0) return;
    // After a long stall (the machine slept) no sample spans the jump.
    if (nowUs - rateSecondEndUs_ > 60 * kSecondUs) rateSecondEndUs_ = nowUs;
    while (nowUs >= rateSecondEndUs_) {
        timeval when{};
        when.tv_sec = rateSecondEndUs_ / kSecondUs;
        when.tv_usec = rateSecondEndUs_ % kSecondUs;
        std::int64_t bps = 0;
        if (statsSampleRate(&rateState_, when, rateBytes_, &bps)) appendRateSample(bps);
        rateBytes_ = 0;
        rateSecondEndUs_ += kSecondUs;
    }
}

int cFlowCollectorSource::next(const pcap_pkthdr** header, const u_char** data) {
    if (ended_) return PCAP_ERROR_BREAK;
    std::uint64_t raised = 0;
    if (endFd_ >= 0 && ::read(endFd_, &raised, sizeof raised) == sizeof raised && raised) {
        ended_ = true;
        return PCAP_ERROR_BREAK;
    }
    const std::int64_t now = wallMicros();
    if (now >= rateSecondEndUs_) readSocketDrops();
    if (now >= rateSecondEndUs_ && options_.kind == FeedKind::Netflow) {
        // Once a second: data sets whose template never came are let go even while no
        // datagram arrives.
        netflow_.expire(now / 1000);
        counters_.waiting.store(netflow_.totals().waiting, std::memory_order_relaxed);
        counters_.evicted.store(netflow_.totals().evicted, std::memory_order_relaxed);
        counters_.framesWaiting.store(player_.scheduled(), std::memory_order_relaxed);
    }
    tickRate(now);
    if (ready_.empty()) readBatch(now);
    if (!takeReady(now)) return 0;
    *header = &current_.header;
    *data = current_.bytes;
    return 1;
}

int cFlowCollectorSource::waitFd() const {
    if (!ready_.empty() || ended_) return -1;
    const std::int64_t now = wallMicros();
    // Something falls due (a flow's next frame, a beam's time-out, a second of the rate graph):
    // the caller asks next() without waiting.
    if (player_.nextDueUs() <= now || now >= rateSecondEndUs_) return -1;
    return fd_;
}

void cFlowCollectorSource::preview(const FrameVisitor& see) {
    if (fd_ < 0) return;
    const auto start = std::chrono::steady_clock::now();
    std::deque<FeedFrame> seen;
    auto elapsedMs = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - start)
            .count();
    };
    std::int64_t firstHeardMs = -1;
    while (seen.size() < kPreviewFrames) {
        const std::int64_t limit = firstHeardMs < 0 ? kFirstDatagramMs : firstHeardMs + kPreviewMs;
        const std::int64_t left = limit - elapsedMs();
        if (left <= 0) break;
        struct pollfd p {};
        p.fd = fd_;
        p.events = POLLIN;
        if (::poll(&p, 1, int(left)) <= 0) continue;
        const std::int64_t now = wallMicros();
        readBatch(now);
        if (firstHeardMs < 0 && !firstExporter_.empty()) firstHeardMs = elapsedMs();
        // Samples only: flow records carry no link addresses to judge by, and their frames
        // keep their time in the player.
        while (!ready_.empty()) {
            seen.push_back(ready_.front());
            ready_.pop_front();
        }
    }
    for (const FeedFrame& f : seen)
        if (!see(f.header, f.bytes)) break;
    // Given first by next(), in order, before anything read later.
    for (auto it = seen.rbegin(); it != seen.rend(); ++it) ready_.push_front(*it);
}

}  // namespace tessel
