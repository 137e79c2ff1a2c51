#include "capture/flow_player.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <unordered_map>
#include <vector>

#include "capture/ip_numbers.h"

namespace tessel {

namespace {

constexpr std::size_t kIPv4Length = 20;
constexpr std::size_t kIPv6Length = 40;
constexpr std::size_t kTcpLength = 20;
// Ethernet + IPv6 + TCP: the longest headers a flow frame carries.
constexpr std::size_t kMaxHeaders = kEthernetLength + kIPv6Length + kTcpLength;
constexpr std::uint32_t kMaxWireLength = 65'535;

// Spans and timeouts beyond a year are taken as a year, which keeps every sum of microseconds
// far from overflow whatever the options or the records say.
constexpr std::int64_t kMaxMs = 365LL * 24 * 3600 * 1000;
// Gaps between records of one flow shorter than this are batches of one export, not its
// active timeout.
constexpr std::int64_t kMinLearnedGapUs = 1'000'000;
// Flows remembered for learning (by hash; a collision only forgets a gap) and exporters whose
// timeouts are learned: sets of two ways each, the older way giving room.
constexpr std::size_t kLearnSets = 8192;
constexpr std::size_t kExporterSets = 2048;

std::int64_t clampMs(std::int64_t ms) { return std::clamp<std::int64_t>(ms, 0, kMaxMs); }

void put16(std::uint8_t* at, std::uint32_t v) {
    at[0] = std::uint8_t(v >> 8);
    at[1] = std::uint8_t(v);
}

// The headers of one flow frame, without TCP flags; the same for every frame of a record.
struct FrameTemplate {
    std::uint8_t bytes[kMaxHeaders] = {};
    std::uint16_t caplen = 0;
    std::uint32_t wireLength = 0;
    std::uint16_t tcpFlagsAt = 0;  // 0: not TCP
};

struct Endpoints {
    int version = 4;
    const std::uint8_t* src = nullptr;
    const std::uint8_t* dst = nullptr;
    std::uint16_t srcPort = 0, dstPort = 0;
    std::uint8_t protocol = 0;
};

// Ethernet (no link addresses) + IPv4/IPv6 + TCP/UDP/ICMP headers for a packet `averageLength`
// bytes long on the wire, at least as long as its headers. Pure.
FrameTemplate buildFlowFrame(const Endpoints& e, std::uint64_t averageLength) {
    FrameTemplate t;
    std::uint8_t* b = t.bytes;
    const bool v6 = e.version == 6;
    put16(b + 12, v6 ? kEtherTypeIPv6 : kEtherTypeIPv4);
    const std::size_t ipLength = v6 ? kIPv6Length : kIPv4Length;
    std::size_t transportLength = 0;
    if (e.protocol == kProtoTcp)
        transportLength = kTcpLength;
    else if (e.protocol == kProtoUdp || e.protocol == kProtoIcmp || e.protocol == kProtoIcmpv6)
        transportLength = 8;
    const std::size_t headers = kEthernetLength + ipLength + transportLength;
    t.caplen = std::uint16_t(headers);
    t.wireLength = std::uint32_t(
        std::clamp<std::uint64_t>(averageLength, headers, std::uint64_t(kMaxWireLength)));

    std::uint8_t* ip = b + kEthernetLength;
    if (v6) {
        ip[0] = 0x60;
        put16(ip + 4, t.wireLength - kEthernetLength - kIPv6Length);
        ip[6] = e.protocol;
        ip[7] = 64;
        std::memcpy(ip + 8, e.src, 16);
        std::memcpy(ip + 24, e.dst, 16);
    } else {
        ip[0] = 0x45;
        put16(ip + 2, t.wireLength - kEthernetLength);
        ip[8] = 64;
        ip[9] = e.protocol;
        std::memcpy(ip + 12, e.src, 4);
        std::memcpy(ip + 16, e.dst, 4);
        std::uint32_t sum = 0;
        for (std::size_t i = 0; i < kIPv4Length; i += 2)
            sum += std::uint32_t(ip[i] << 8 | ip[i + 1]);
        while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
        put16(ip + 10, ~sum & 0xFFFF);
    }
    std::uint8_t* transport = ip + ipLength;
    const std::uint32_t datagram = t.wireLength - kEthernetLength;
    if (e.protocol == kProtoTcp) {
        put16(transport, e.srcPort);
        put16(transport + 2, e.dstPort);
        transport[12] = 0x50;  // data offset: 5 words, no options
        put16(transport + 14, 0xFFFF);
        t.tcpFlagsAt = std::uint16_t(transport + 13 - b);
    } else if (e.protocol == kProtoUdp) {
        put16(transport, e.srcPort);
        put16(transport + 2, e.dstPort);
        put16(transport + 4, datagram - ipLength);
    } else if (transportLength != 0) {  // ICMP: type and code as the exporter packs them
        transport[0] = std::uint8_t(e.dstPort >> 8);
        transport[1] = std::uint8_t(e.dstPort);
    }
    return t;
}

// Addresses, ports and protocol of one flow at one exporter, the same in either direction: the
// lower endpoint comes first.
struct FlowKey {
    std::uint8_t bytes[56] = {};  // exporter, endpoint a, endpoint b, ports a b, protocol, version
    bool operator==(const FlowKey& o) const { return std::memcmp(bytes, o.bytes, 56) == 0; }
};

struct FlowKeyHash {
    std::size_t operator()(const FlowKey& k) const {
        std::uint64_t h = 0x9E3779B97F4A7C15ULL;
        for (std::size_t i = 0; i < sizeof k.bytes; i += 8) {
            std::uint64_t w;
            std::memcpy(&w, k.bytes + i, 8);
            h = (h ^ w) * 0xFF51AFD7ED558CCDULL;
            h ^= h >> 32;
        }
        return std::size_t(h);
    }
};

// Whether the key's endpoints were swapped to put the lower first.
bool makeKey(const FlowExporter& from, const FlowRecord& r, FlowKey* key) {
    const std::size_t n = r.ipVersion == 6 ? 16 : 4;
    std::uint8_t a[18] = {}, b[18] = {};
    std::memcpy(a, r.src, n);
    std::memcpy(b, r.dst, n);
    put16(a + 16, r.srcPort);
    put16(b + 16, r.dstPort);
    const bool swapped = std::memcmp(a, b, sizeof a) > 0;
    std::uint8_t* k = key->bytes;
    std::memcpy(k, from.address, 16);
    std::memcpy(k + 16, swapped ? b : a, 16);
    std::memcpy(k + 32, swapped ? a : b, 16);
    std::memcpy(k + 48, swapped ? b + 16 : a + 16, 2);
    std::memcpy(k + 50, swapped ? a + 16 : b + 16, 2);
    k[52] = r.protocol;
    k[53] = std::uint8_t(r.ipVersion);
    return swapped;
}

// The frames of one record waiting in turn; one entry of the schedule at a time.
struct Job {
    FrameTemplate frame;
    std::uint8_t firstFlags = 0, middleFlags = 0, lastFlags = 0, soleFlags = 0;
    std::uint32_t frames = 0, next = 0;
    std::uint32_t weight = 0, heavier = 0;  // the first `heavier` frames weigh one more
    std::int64_t startUs = 0, spanUs = 0;
    std::uint64_t seq = 0;

    std::int64_t dueUs(std::uint32_t i) const {
        return frames < 2 ? startUs : startUs + spanUs * i / (frames - 1);
    }
};

struct Due {
    std::int64_t dueUs;
    std::uint64_t seq;  // ties keep the order of adding
    std::uint32_t job;
    bool operator>(const Due& o) const { return dueUs != o.dueUs ? dueUs > o.dueUs : seq > o.seq; }
};

struct Beam {
    std::uint64_t id = 0;
    bool swapped = false;  // opened from the key's endpoint b to a
    std::int64_t lastRecordUs = 0, lastFrameUs = 0;
    std::int64_t queuedUs = 0;  // the earliest time-out entry it has
};

struct Expiry {
    std::int64_t dueUs;
    std::uint64_t id;
    FlowKey key;
    // Ties: the beam opened first closes first.
    bool operator>(const Expiry& o) const { return dueUs != o.dueUs ? dueUs > o.dueUs : id > o.id; }
};

struct Learned {
    std::uint64_t hash = 0;  // 0: free
    std::int64_t lastUs = 0;
    bool ended = false;
};

struct ExporterGap {
    std::uint8_t address[16] = {};
    bool used = false;
    std::int64_t maxGapUs = 0, lastUsedUs = 0;
};

}  // namespace

struct cFlowPlayer::State {
    Options options;
    Totals totals;
    std::vector<Job> jobs;
    std::vector<std::uint32_t> freeJobs;
    std::vector<Due> schedule;  // min-heap
    std::size_t waiting = 0;    // frames in the schedule
    std::uint64_t seq = 0;

    std::unordered_map<FlowKey, Beam, FlowKeyHash> beams;
    std::vector<Expiry> expiries;  // min-heap; stale entries go when they come up
    std::uint64_t beamIds = 0;

    std::vector<Learned> learned;
    std::vector<ExporterGap> exporters;

    explicit State(const Options& o) : options(o) {
        if (options.flowTimeoutMs <= 0) {
            learned.resize(kLearnSets * 2);
            exporters.resize(kExporterSets * 2);
        }
    }

    // --- schedule ---
    void enqueue(const Job& job) {
        std::uint32_t slot;
        if (!freeJobs.empty()) {
            slot = freeJobs.back();
            freeJobs.pop_back();
            jobs[slot] = job;
        } else {
            slot = std::uint32_t(jobs.size());
            jobs.push_back(job);
        }
        schedule.push_back({job.startUs, job.seq, slot});
        std::push_heap(schedule.begin(), schedule.end(), std::greater<Due>());
        waiting += job.frames;
    }

    void release(FeedFrame* out) {
        std::pop_heap(schedule.begin(), schedule.end(), std::greater<Due>());
        const Due due = schedule.back();
        schedule.pop_back();
        Job& job = jobs[due.job];
        const std::uint32_t i = job.next++;
        fill(job.frame, due.dueUs, job.weight + (i < job.heavier ? 1 : 0), out);
        if (job.frame.tcpFlagsAt != 0) {
            std::uint8_t flags = job.middleFlags;
            if (job.frames == 1)
                flags = job.soleFlags;
            else if (i == 0)
                flags = job.firstFlags;
            else if (i + 1 == job.frames)
                flags = job.lastFlags;
            out->bytes[job.frame.tcpFlagsAt] = flags;
        }
        --waiting;
        if (job.next < job.frames) {
            schedule.push_back({job.dueUs(job.next), job.seq, due.job});
            std::push_heap(schedule.begin(), schedule.end(), std::greater<Due>());
        } else {
            freeJobs.push_back(due.job);
        }
    }

    static void fill(const FrameTemplate& t, std::int64_t tsUs, std::uint32_t weight,
                     FeedFrame* out) {
        std::int64_t seconds = tsUs / 1'000'000, micros = tsUs % 1'000'000;
        if (micros < 0) {
            micros += 1'000'000;
            --seconds;
        }
        out->header.ts.tv_sec = seconds;
        out->header.ts.tv_usec = micros;
        out->header.caplen = t.caplen;
        out->header.len = t.wireLength;
        out->weight = weight;
        std::memcpy(out->bytes, t.bytes, t.caplen);
        std::memset(out->bytes + t.caplen, 0, sizeof out->bytes - t.caplen);
    }

    // A weight-0 bare RST closing `beam` at `atUs`, from the endpoint that opened it.
    static Job closingJob(const FlowKey& key, const Beam& beam, std::int64_t atUs) {
        const std::uint8_t* k = key.bytes;
        Endpoints e;
        e.version = k[53];
        e.protocol = kProtoTcp;
        e.src = beam.swapped ? k + 32 : k + 16;
        e.dst = beam.swapped ? k + 16 : k + 32;
        const std::uint8_t* srcPort = beam.swapped ? k + 50 : k + 48;
        const std::uint8_t* dstPort = beam.swapped ? k + 48 : k + 50;
        e.srcPort = std::uint16_t(srcPort[0] << 8 | srcPort[1]);
        e.dstPort = std::uint16_t(dstPort[0] << 8 | dstPort[1]);
        Job job;
        job.frame = buildFlowFrame(e, 0);  // as long as its headers: a bare segment
        job.soleFlags = kTcpRst;
        job.frames = 1;
        job.startUs = atUs;
        return job;
    }

    // --- learned timeouts ---
    ExporterGap* exporter(const FlowExporter& from, bool insert, std::int64_t nowUs) {
        if (exporters.empty()) return nullptr;
        FlowKey k;
        std::memcpy(k.bytes, from.address, 16);
        ExporterGap* set = &exporters[(FlowKeyHash()(k) % kExporterSets) * 2];
        for (int w = 0; w < 2; ++w)
            if (set[w].used && std::memcmp(set[w].address, from.address, 16) == 0) return &set[w];
        if (!insert) return nullptr;
        ExporterGap* room = !set[0].used                             ? &set[0]
                            : !set[1].used                           ? &set[1]
                            : set[0].lastUsedUs <= set[1].lastUsedUs ? &set[0]
                                                                     : &set[1];
        *room = ExporterGap();
        std::memcpy(room->address, from.address, 16);
        room->used = true;
        room->lastUsedUs = nowUs;
        return room;
    }

    std::int64_t timeoutUs(const FlowKey& key) {
        if (options.flowTimeoutMs > 0) return clampMs(options.flowTimeoutMs) * 1000;
        FlowExporter from;
        std::memcpy(from.address, key.bytes, 16);
        const ExporterGap* e = exporter(from, false, 0);
        if (e && e->maxGapUs > 0) return std::min(e->maxGapUs + e->maxGapUs / 2, kMaxMs * 1000);
        return clampMs(options.defaultTimeoutMs) * 1000;
    }

    // Gaps between successive records of one TCP flow, until one ends it (a later record of
    // the same addresses and ports is another connection).
    void learn(const FlowExporter& from, const FlowKey& key, bool ends, std::int64_t nowUs) {
        if (learned.empty()) return;
        std::uint64_t hash = FlowKeyHash()(key) | 1;
        Learned* set = &learned[(hash >> 1) % kLearnSets * 2];
        Learned* entry = set[0].hash == hash ? &set[0] : set[1].hash == hash ? &set[1] : nullptr;
        if (entry) {
            const std::int64_t gap = nowUs - entry->lastUs;
            if (!entry->ended && gap >= kMinLearnedGapUs) {
                ExporterGap* e = exporter(from, true, nowUs);
                e->maxGapUs = std::max(e->maxGapUs, gap);
                e->lastUsedUs = nowUs;
            }
        } else {
            entry = set[0].lastUs <= set[1].lastUs ? &set[0] : &set[1];
            entry->hash = hash;
        }
        entry->lastUs = nowUs;
        entry->ended = ends;
    }

    // --- beams ---
    std::int64_t deadlineUs(const FlowKey& key, const Beam& beam) {
        return std::max(beam.lastRecordUs + timeoutUs(key), beam.lastFrameUs);
    }

    void queueExpiry(const FlowKey& key, Beam& beam, std::int64_t dueUs) {
        beam.queuedUs = dueUs;
        expiries.push_back({dueUs, beam.id, key});
        std::push_heap(expiries.begin(), expiries.end(), std::greater<Expiry>());
    }

    // Drops stale entries from the top of the time-outs and moves those of refreshed beams, so
    // that the top, if any, is when a followed beam times out.
    void pruneExpiries() {
        while (!expiries.empty()) {
            const Expiry& top = expiries.front();
            auto it = beams.find(top.key);
            if (it != beams.end() && it->second.id == top.id) {
                // A learned timeout shorter than the one a beam was queued with does not close
                // it earlier: frames go out in the order of their times.
                const std::int64_t real = deadlineUs(top.key, it->second);
                if (real <= top.dueUs) return;
                const FlowKey key = top.key;
                std::pop_heap(expiries.begin(), expiries.end(), std::greater<Expiry>());
                expiries.pop_back();
                queueExpiry(key, it->second, real);
                continue;
            }
            std::pop_heap(expiries.begin(), expiries.end(), std::greater<Expiry>());
            expiries.pop_back();
        }
    }

    // Entries of beams closed by their records stay until they come up; when they outnumber the
    // beams the heap is made anew.
    void compactExpiries() {
        if (expiries.size() <= 2 * beams.size() + 1024) return;
        expiries.clear();
        for (auto& [key, beam] : beams) {
            beam.queuedUs = std::max(deadlineUs(key, beam), beam.queuedUs);
            expiries.push_back({beam.queuedUs, beam.id, key});
        }
        std::make_heap(expiries.begin(), expiries.end(), std::greater<Expiry>());
    }

    // Room for one more beam: the one due to time out first is closed at once.
    void evictOne(std::int64_t nowUs) {
        pruneExpiries();
        auto it = expiries.empty() ? beams.begin() : beams.find(expiries.front().key);
        if (it == beams.end()) return;
        Job rst = closingJob(it->first, it->second, nowUs);
        rst.seq = seq++;
        if (waiting < options.maxScheduled)
            enqueue(rst);
        else
            ++totals.dropped;
        beams.erase(it);
    }

    // `sent`: the record's frames found room, so its SYN opens and its FIN or RST closes the
    // beam downstream; otherwise a beam followed is only refreshed, to time out later.
    void follow(const FlowExporter& from, const FlowRecord& r, std::int64_t nowUs,
                std::int64_t lastFrameUs, bool sent) {
        FlowKey key;
        const bool swapped = makeKey(from, r, &key);
        const bool ends = (r.tcpFlags & (kTcpFin | kTcpRst)) != 0;
        learn(from, key, ends, nowUs);
        auto it = beams.find(key);
        if (ends && sent) {
            if (it != beams.end()) beams.erase(it);
            return;
        }
        if (it == beams.end()) {
            // Only a SYN that goes out opens a beam downstream.
            if (!sent || ends || !(r.tcpFlags & kTcpSyn) || options.maxOpenBeams == 0) return;
            if (beams.size() >= options.maxOpenBeams) evictOne(nowUs);
            Beam beam;
            beam.id = ++beamIds;
            beam.swapped = swapped;
            it = beams.emplace(key, beam).first;
            it->second.queuedUs = INT64_MAX;
        }
        Beam& beam = it->second;
        beam.lastRecordUs = nowUs;
        beam.lastFrameUs = std::max(beam.lastFrameUs, lastFrameUs);
        const std::int64_t due = deadlineUs(key, beam);
        if (due < beam.queuedUs) queueExpiry(key, beam, due);
        compactExpiries();
    }
};

cFlowPlayer::cFlowPlayer(const Options& options) : state_(std::make_unique<State>(options)) {}
cFlowPlayer::~cFlowPlayer() = default;

void cFlowPlayer::add(const FlowExporter& from, const FlowRecord& r, std::int64_t nowUs) {
    State& s = *state_;
    if (r.ipVersion != 4 && r.ipVersion != 6) return;
    const std::uint64_t packets = std::max<std::uint64_t>(r.packets, 1);
    const std::uint64_t interval = std::max<std::uint32_t>(r.samplingInterval, 1);
    const std::uint32_t wanted = std::uint32_t(std::min<std::uint64_t>(packets, kMaxFramesPerFlow));
    // When the schedule is nearly full a record gets fewer frames, still weighing all its
    // packets and still opening and closing its beam.
    const std::size_t room =
        s.waiting < s.options.maxScheduled ? s.options.maxScheduled - s.waiting : 0;
    const std::uint32_t frames = std::uint32_t(std::min<std::size_t>(wanted, room));
    s.totals.dropped += wanted - frames;

    const bool tcp = r.protocol == kProtoTcp;
    std::int64_t spanMs = 0;
    if (r.endMs > r.startMs)
        spanMs = std::min(clampMs(r.endMs - r.startMs), clampMs(s.options.maxSpreadMs));
    const std::int64_t lastFrameUs = nowUs + (frames > 1 ? spanMs * 1000 : 0);

    if (frames > 0) {
        Job job;
        Endpoints e;
        e.version = r.ipVersion;
        e.src = r.src;
        e.dst = r.dst;
        e.srcPort = r.srcPort;
        e.dstPort = r.dstPort;
        e.protocol = r.protocol;
        job.frame = buildFlowFrame(e, r.octets / packets);
        if (tcp) {
            const std::uint8_t f = r.tcpFlags;
            job.middleFlags = std::uint8_t(kTcpAck | (f & kTcpPsh));
            job.firstFlags = (f & kTcpSyn) ? kTcpSyn : job.middleFlags;
            job.lastFlags = (f & kTcpRst)   ? kTcpRst
                            : (f & kTcpFin) ? std::uint8_t(kTcpFin | kTcpAck)
                                            : job.middleFlags;
            // One packet that opened and closed its flow carries both.
            const std::uint8_t closing = (f & kTcpRst) ? kTcpRst : (f & kTcpFin);
            job.soleFlags = (f & kTcpSyn) ? std::uint8_t(kTcpSyn | closing) : job.lastFlags;
        }
        // The weights add up to packets x interval, as far as 32-bit weights can carry it.
        const std::uint64_t cap = std::uint64_t(frames) * UINT32_MAX;
        std::uint64_t total = 0;
        if (__builtin_mul_overflow(packets, interval, &total) || total > cap) total = cap;
        job.frames = frames;
        job.weight = std::uint32_t(total / frames);
        job.heavier = std::uint32_t(total % frames);
        job.startUs = nowUs;
        job.spanUs = spanMs * 1000;
        job.seq = s.seq++;
        s.enqueue(job);
    }
    if (tcp) s.follow(from, r, nowUs, lastFrameUs, frames > 0);
}

bool cFlowPlayer::next(std::int64_t nowUs, FeedFrame* out) {
    State& s = *state_;
    s.pruneExpiries();
    const bool frameDue = !s.schedule.empty() && s.schedule.front().dueUs <= nowUs;
    const bool beamDue = !s.expiries.empty() && s.expiries.front().dueUs <= nowUs;
    if (frameDue && (!beamDue || s.schedule.front().dueUs <= s.expiries.front().dueUs)) {
        s.release(out);
    } else if (beamDue) {
        std::pop_heap(s.expiries.begin(), s.expiries.end(), std::greater<Expiry>());
        const Expiry expiry = s.expiries.back();
        s.expiries.pop_back();
        auto it = s.beams.find(expiry.key);
        const Job rst = State::closingJob(expiry.key, it->second, expiry.dueUs);
        State::fill(rst.frame, expiry.dueUs, 0, out);
        out->bytes[rst.frame.tcpFlagsAt] = kTcpRst;
        s.beams.erase(it);
        ++s.totals.timedOut;
    } else {
        return false;
    }
    ++s.totals.frames;
    return true;
}

std::int64_t cFlowPlayer::nextDueUs() const {
    State& s = *state_;
    s.pruneExpiries();
    std::int64_t due = INT64_MAX;
    if (!s.schedule.empty()) due = s.schedule.front().dueUs;
    if (!s.expiries.empty()) due = std::min(due, s.expiries.front().dueUs);
    return due;
}

const cFlowPlayer::Totals& cFlowPlayer::totals() const { return state_->totals; }

std::size_t cFlowPlayer::scheduled() const { return state_->waiting; }

}  // namespace tessel
