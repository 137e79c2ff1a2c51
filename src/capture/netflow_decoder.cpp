#include "capture/netflow_decoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <utility>

namespace tessel {
namespace {

// A template may not say more than this many fields; real ones say a few dozen.
constexpr std::size_t kMaxTemplateFields = 512;
// No record can be longer than a set of a 65,535-byte message can hold.
constexpr std::size_t kMaxRecordLength = 65535 - 16 - 4;
constexpr std::uint16_t kVariableLength = 65535;

std::uint16_t be16(const std::uint8_t* p) { return std::uint16_t(p[0] << 8 | p[1]); }
std::uint32_t be32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}
std::uint64_t beN(const std::uint8_t* p, std::size_t n) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i) v = v << 8 | p[i];
    return v;
}

bool allZero(const std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (p[i]) return false;
    return true;
}

// What a template field means to us, decided once when the template is learned.
enum class Kind : std::uint8_t {
    Skip,
    Src4,
    Dst4,
    Src6,
    Dst6,
    SrcPort,
    DstPort,
    Protocol,
    TcpFlags,
    OctetDelta,
    PacketDelta,
    OctetTotal,
    PacketTotal,
    LastUptime,
    FirstUptime,
    StartSeconds,
    EndSeconds,
    StartMillis,
    EndMillis,
    Sampling,
    IcmpTypeCode,
    SystemInit,
};

struct Field {
    std::uint16_t length;  // kVariableLength: the record says
    Kind kind;
};

// The kind a field of this IE and length is read as; a known IE with a length it cannot have
// is passed over rather than misread.
Kind kindOf(std::uint16_t ie, std::uint16_t length) {
    const bool unsignedLen = length >= 1 && length <= 8;
    switch (ie) {
        case 8:
            return length == 4 ? Kind::Src4 : Kind::Skip;
        case 12:
            return length == 4 ? Kind::Dst4 : Kind::Skip;
        case 27:
            return length == 16 ? Kind::Src6 : Kind::Skip;
        case 28:
            return length == 16 ? Kind::Dst6 : Kind::Skip;
        case 7:
            return length == 1 || length == 2 ? Kind::SrcPort : Kind::Skip;
        case 11:
            return length == 1 || length == 2 ? Kind::DstPort : Kind::Skip;
        case 4:
            return length == 1 ? Kind::Protocol : Kind::Skip;
        case 6:
            return length == 1 || length == 2 ? Kind::TcpFlags : Kind::Skip;
        case 1:
            return unsignedLen ? Kind::OctetDelta : Kind::Skip;
        case 2:
            return unsignedLen ? Kind::PacketDelta : Kind::Skip;
        case 85:
            return unsignedLen ? Kind::OctetTotal : Kind::Skip;
        case 86:
            return unsignedLen ? Kind::PacketTotal : Kind::Skip;
        case 21:
            return length == 4 ? Kind::LastUptime : Kind::Skip;
        case 22:
            return length == 4 ? Kind::FirstUptime : Kind::Skip;
        case 150:
            return length == 4 ? Kind::StartSeconds : Kind::Skip;
        case 151:
            return length == 4 ? Kind::EndSeconds : Kind::Skip;
        case 152:
            return length == 8 ? Kind::StartMillis : Kind::Skip;
        case 153:
            return length == 8 ? Kind::EndMillis : Kind::Skip;
        case 34:
        case 50:
        case 305:
            return length >= 1 && length <= 4 ? Kind::Sampling : Kind::Skip;
        case 32:
        case 139:
            return length == 2 ? Kind::IcmpTypeCode : Kind::Skip;
        case 160:
            return length == 8 ? Kind::SystemInit : Kind::Skip;
        default:
            return Kind::Skip;
    }
}

using Address = std::array<std::uint8_t, 16>;

struct TemplateKey {
    Address exporter;
    std::uint32_t domain;
    std::uint16_t id;
    std::uint8_t version;
    bool operator<(const TemplateKey& o) const {
        return std::tie(exporter, domain, id, version) <
               std::tie(o.exporter, o.domain, o.id, o.version);
    }
    bool sameSource(const TemplateKey& o) const {
        return exporter == o.exporter && domain == o.domain && version == o.version;
    }
    bool operator==(const TemplateKey& o) const { return sameSource(o) && id == o.id; }
};

struct Template {
    std::vector<Field> fields;
    std::size_t minLength = 0;  // fixed lengths plus one byte per variable-length field
    bool variable = false;
    bool options = false;
    std::uint64_t used = 0;  // for evicting the least recently used when full
};

struct SourceKey {
    Address exporter;
    std::uint32_t domain;
    std::uint8_t version;
    bool operator<(const SourceKey& o) const {
        return std::tie(exporter, domain, version) < std::tie(o.exporter, o.domain, o.version);
    }
};

// What is followed per exporter, domain and version: the sequence, and what option records told
// (IPFIX's exporter start for uptime-relative times, the sampling interval).
struct Source {
    std::uint32_t next = 0;  // the sequence the next datagram should have
    std::uint32_t last = 0;  // the last datagram's
    bool countsCurrent = false;
    bool seen = false;
    bool known = false;  // false: the last datagram's record count was not known, resynchronise
    std::uint64_t used = 0;
    bool hasInit = false;
    std::int64_t initMs = 0;
    std::uint32_t sampling = 0;
};

// The header values a data set's times are read against.
struct Clock {
    int version = 0;
    std::int64_t exportMs = 0;
    std::uint32_t uptimeMs = 0;
};

struct Waiting {
    TemplateKey key;
    Clock clock;
    std::int64_t arrivedMs = 0;
    std::vector<std::uint8_t> body;  // the set's records, without the set header
};

}  // namespace

struct cNetflowDecoder::State {
    Limits limits;
    NetflowTotals totals;
    std::map<TemplateKey, Template> templates;
    std::deque<Waiting> waiting;
    std::size_t waitingBytes = 0;
    std::map<SourceKey, Source> sources;
    std::uint64_t tick = 0;
    Source scratch;  // when no exporter may be followed

    // One datagram being read.
    struct Pass {
        bool apply = false;
        TemplateKey source{};
        Source* from = nullptr;  // set when applying
        Clock clock;
        std::int64_t nowMs = 0;
        NetflowDatagramInfo* info = nullptr;
        const FlowRecordVisitor* visit = nullptr;
        std::uint64_t dataRecords = 0;  // flow and option data records of this datagram
        bool countKnown = true;         // false once a set waits: its record count is unknown
        bool learned = false;           // a template came: waiting sets may be read
    };

    void dropWaiting(std::size_t i) {
        waitingBytes -= waiting[i].body.size();
        waiting.erase(waiting.begin() + std::ptrdiff_t(i));
        totals.waiting = waiting.size();
    }

    void expire(std::int64_t nowMs) {
        while (!waiting.empty() && nowMs - waiting.front().arrivedMs > limits.maxWaitMs) {
            dropWaiting(0);
            ++totals.evicted;
        }
        // Sets are kept in arrival order, but a clock stepping back may leave an old set behind
        // a newer one; those go when they reach the front.
    }

    void wait(const Pass& pass, std::uint16_t id, const std::uint8_t* body, std::size_t length) {
        if (limits.maxWaitingSets == 0 || length > limits.maxWaitingBytes) {
            ++totals.evicted;
            return;
        }
        while (!waiting.empty() && (waiting.size() >= limits.maxWaitingSets ||
                                    waitingBytes + length > limits.maxWaitingBytes)) {
            dropWaiting(0);
            ++totals.evicted;
        }
        Waiting w;
        w.key = pass.source;
        w.key.id = id;
        w.clock = pass.clock;
        w.arrivedMs = pass.nowMs;
        w.body.assign(body, body + length);
        waitingBytes += length;
        waiting.push_back(std::move(w));
        totals.waiting = waiting.size();
    }

    void learn(const TemplateKey& key, Template&& t) {
        auto it = templates.find(key);
        if (it == templates.end() && templates.size() >= limits.maxTemplates) {
            if (limits.maxTemplates == 0) return;
            auto oldest = templates.begin();
            for (auto i = templates.begin(); i != templates.end(); ++i)
                if (i->second.used < oldest->second.used) oldest = i;
            templates.erase(oldest);
        }
        t.used = ++tick;
        templates[key] = std::move(t);
        totals.templatesKnown = templates.size();
    }

    void withdraw(const TemplateKey& key) {
        templates.erase(key);
        totals.templatesKnown = templates.size();
    }

    // Withdraws every template (options == false) or every options template of the source.
    void withdrawAll(const TemplateKey& source, bool options) {
        for (auto it = templates.lower_bound(TemplateKey{source.exporter, source.domain, 0, 0});
             it != templates.end() && it->first.exporter == source.exporter &&
             it->first.domain == source.domain;) {
            if (it->first.version == source.version && it->second.options == options)
                it = templates.erase(it);
            else
                ++it;
        }
        totals.templatesKnown = templates.size();
    }

    // Reads the data records of one set; returns how many there were. A record that does not fit
    // ends the set: what follows is padding or a lie.
    std::uint32_t readRecords(const Template& t, const Clock& clock, Source* from,
                              const std::uint8_t* p, std::size_t length,
                              const FlowRecordVisitor* visit) {
        std::uint32_t count = 0;
        const std::uint8_t* end = p + length;
        while (std::size_t(end - p) >= t.minLength) {
            FlowRecord r;
            std::int64_t initMs = 0;
            bool init = false;
            if (!readRecord(t, clock, *from, p, end, &r, &init, &initMs)) break;
            ++count;
            if (t.options) {
                // Option records say for the exporter what flow records leave out.
                if (init) from->initMs = initMs, from->hasInit = true;
                if (r.samplingInterval) from->sampling = r.samplingInterval;
                continue;
            }
            if (!r.samplingInterval) r.samplingInterval = from->sampling;
            if (visit && *visit) (*visit)(r);
        }
        return count;
    }

    // Reads a field's length at p: the template's, or IPFIX's one- or three-byte length prefix.
    static bool fieldLength(const Field& f, const std::uint8_t*& p, const std::uint8_t* end,
                            std::size_t* n) {
        if (f.length != kVariableLength) {
            *n = f.length;
        } else {
            if (p >= end) return false;
            *n = *p++;
            if (*n == 255) {
                if (end - p < 2) return false;
                *n = be16(p);
                p += 2;
            }
        }
        return std::size_t(end - p) >= *n;
    }

    static bool readRecord(const Template& t, const Clock& clock, const Source& from,
                           const std::uint8_t*& p, const std::uint8_t* end, FlowRecord* r,
                           bool* init, std::int64_t* initMs) {
        const std::uint8_t* q = p;
        bool v4 = false, v6 = false, ports = false, icmpSeen = false;
        bool delta[2] = {false, false};
        std::uint64_t total[2] = {0, 0};
        std::uint16_t icmp = 0;
        bool first = false, last = false;
        std::uint32_t firstUp = 0, lastUp = 0;
        std::int64_t startMs = 0, endMs = 0;
        int startRank = 0, endRank = 0;  // milliseconds beat seconds beat uptime
        for (const Field& f : t.fields) {
            std::size_t n = 0;
            if (!fieldLength(f, q, end, &n)) return false;
            const std::uint8_t* v = q;
            q += n;
            switch (f.kind) {
                case Kind::Skip:
                    break;
                case Kind::Src4:
                    std::memcpy(r->src, v, 4);
                    v4 = true;
                    break;
                case Kind::Dst4:
                    std::memcpy(r->dst, v, 4);
                    v4 = true;
                    break;
                case Kind::Src6:
                    if (!v4) std::memcpy(r->src, v, 16);
                    v6 = true;
                    break;
                case Kind::Dst6:
                    if (!v4) std::memcpy(r->dst, v, 16);
                    v6 = true;
                    break;
                case Kind::SrcPort:
                    r->srcPort = std::uint16_t(beN(v, n));
                    ports = true;
                    break;
                case Kind::DstPort:
                    r->dstPort = std::uint16_t(beN(v, n));
                    ports = true;
                    break;
                case Kind::Protocol:
                    r->protocol = v[0];
                    break;
                case Kind::TcpFlags:
                    r->tcpFlags = v[n - 1];
                    break;
                case Kind::OctetDelta:
                    r->octets = beN(v, n);
                    delta[0] = true;
                    break;
                case Kind::PacketDelta:
                    r->packets = beN(v, n);
                    delta[1] = true;
                    break;
                case Kind::OctetTotal:
                    total[0] = beN(v, n);
                    break;
                case Kind::PacketTotal:
                    total[1] = beN(v, n);
                    break;
                case Kind::LastUptime:
                    lastUp = be32(v);
                    last = true;
                    break;
                case Kind::FirstUptime:
                    firstUp = be32(v);
                    first = true;
                    break;
                case Kind::StartSeconds:
                    if (startRank < 2) startMs = std::int64_t(be32(v)) * 1000, startRank = 2;
                    break;
                case Kind::EndSeconds:
                    if (endRank < 2) endMs = std::int64_t(be32(v)) * 1000, endRank = 2;
                    break;
                case Kind::StartMillis:
                    startMs = std::int64_t(beN(v, 8));
                    startRank = 3;
                    break;
                case Kind::EndMillis:
                    endMs = std::int64_t(beN(v, 8));
                    endRank = 3;
                    break;
                case Kind::Sampling:
                    r->samplingInterval = std::uint32_t(beN(v, n));
                    break;
                case Kind::IcmpTypeCode:
                    icmp = be16(v);
                    icmpSeen = true;
                    break;
                case Kind::SystemInit:
                    *initMs = std::int64_t(beN(v, 8));
                    *init = true;
                    break;
            }
        }
        p = q;
        // IPv6 addresses stand only when the record gave no IPv4 ones.
        r->ipVersion = v6 && !v4 ? 6 : 4;
        if (v4 && v6) {
            std::memset(r->src + 4, 0, 12);
            std::memset(r->dst + 4, 0, 12);
        }
        if (!delta[0]) r->octets = total[0];
        if (!delta[1]) r->packets = total[1];
        if (icmpSeen && !ports) r->dstPort = icmp;
        // Uptime-relative times: against the header's uptime and export time (v9), or the
        // exporter's start as the record or an option record gives it (IPFIX).
        auto fromUptime = [&](std::uint32_t at) -> std::int64_t {
            if (clock.version == 9)
                return clock.exportMs - std::int64_t(std::int32_t(clock.uptimeMs - at));
            if (*init) return *initMs + at;
            return from.hasInit ? from.initMs + at : 0;
        };
        if (startRank == 0 && first) startMs = fromUptime(firstUp);
        if (endRank == 0 && last) endMs = fromUptime(lastUp);
        r->startMs = startMs;
        r->endMs = endMs;
        return true;
    }

    // Parses one template record (IPFIX sets 2 and 3, v9 flowset 0); v9 options templates are
    // read by readV9Options. Returns false when malformed.
    bool readTemplate(Pass& pass, bool options, const std::uint8_t*& p, const std::uint8_t* end) {
        const bool ipfix = pass.clock.version == 10;
        if (end - p < 4) return false;
        const std::uint16_t id = be16(p);
        const std::uint16_t count = be16(p + 2);
        p += 4;
        if (count == 0) {
            // Withdrawal: IPFIX only. The set's own id as template id withdraws all of them.
            if (!ipfix) return false;
            const std::uint16_t all = options ? 3 : 2;
            if (id != all && id < 256) return false;
            if (pass.apply) {
                if (id == all) {
                    withdrawAll(pass.source, options);
                } else {
                    TemplateKey key = pass.source;
                    key.id = id;
                    withdraw(key);
                }
                ++pass.info->templates;
            }
            return true;
        }
        if (id < 256 || count > kMaxTemplateFields) return false;
        std::uint16_t scope = 0;
        if (options) {
            if (end - p < 2) return false;
            scope = be16(p);
            p += 2;
            if (scope == 0 || scope > count) return false;
        }
        Template t;
        t.options = options;
        for (std::uint16_t i = 0; i < count; ++i) {
            if (end - p < 4) return false;
            std::uint16_t ie = be16(p);
            const std::uint16_t length = be16(p + 2);
            p += 4;
            bool enterprise = false;
            if (ipfix && (ie & 0x8000)) {
                if (end - p < 4) return false;
                p += 4;
                enterprise = true;
            }
            if (length == 0) return false;
            if (length == kVariableLength) {
                if (!ipfix) return false;
                t.variable = true;
                t.minLength += 1;
            } else {
                t.minLength += length;
            }
            if (t.minLength > kMaxRecordLength) return false;
            if (pass.apply)
                t.fields.push_back({length, enterprise ? Kind::Skip : kindOf(ie, length)});
        }
        if (pass.apply) install(pass, id, std::move(t));
        return true;
    }

    // v9 options template: id, scope length and option length in bytes, then the fields.
    bool readV9Options(Pass& pass, const std::uint8_t*& p, const std::uint8_t* end) {
        if (end - p < 6) return false;
        const std::uint16_t id = be16(p);
        const std::uint16_t scopeBytes = be16(p + 2);
        const std::uint16_t optionBytes = be16(p + 4);
        p += 6;
        const std::size_t bytes = std::size_t(scopeBytes) + optionBytes;
        if (id < 256 || scopeBytes % 4 || optionBytes % 4 || bytes == 0 ||
            bytes / 4 > kMaxTemplateFields || std::size_t(end - p) < bytes)
            return false;
        Template t;
        t.options = true;
        for (std::size_t i = 0; i < bytes; i += 4) {
            const std::uint16_t length = be16(p + i + 2);
            if (length == 0 || length == kVariableLength) return false;
            t.minLength += length;
            if (t.minLength > kMaxRecordLength) return false;
            if (pass.apply) t.fields.push_back({length, kindOf(be16(p + i), length)});
        }
        p += bytes;
        if (pass.apply) install(pass, id, std::move(t));
        return true;
    }

    void install(Pass& pass, std::uint16_t id, Template&& t) {
        TemplateKey key = pass.source;
        key.id = id;
        const bool options = t.options;
        learn(key, std::move(t));
        if (options)
            ++pass.info->skipped;
        else
            ++pass.info->templates;
        pass.learned = true;
    }

    // Sets that came before their template are read once the datagram that brought it has been
    // read whole (its option records may date them), in the order they came.
    void readWaiting(Pass& pass) {
        for (std::size_t i = 0; i < waiting.size();) {
            auto found = waiting[i].key.sameSource(pass.source) ? templates.find(waiting[i].key)
                                                                : templates.end();
            if (found == templates.end()) {
                ++i;
                continue;
            }
            const Waiting& w = waiting[i];
            const std::uint32_t n = readRecords(found->second, w.clock, pass.from, w.body.data(),
                                                w.body.size(), pass.visit);
            if (found->second.options)
                pass.info->skipped += n;
            else
                pass.info->records += n;
            dropWaiting(i);
        }
    }

    // A template (flow or options) set's records, then padding.
    bool readTemplateSet(Pass& pass, std::uint16_t setId, const std::uint8_t* p,
                         const std::uint8_t* end) {
        const bool ipfix = pass.clock.version == 10;
        const bool options = ipfix ? setId == 3 : setId == 1;
        while (end - p >= 4) {
            if (allZero(p, std::size_t(end - p))) break;  // padding
            const bool ok = !ipfix && options ? readV9Options(pass, p, end)
                                              : readTemplate(pass, options, p, end);
            if (!ok) return false;
        }
        return true;
    }

    void readDataSet(Pass& pass, std::uint16_t setId, const std::uint8_t* p, std::size_t length) {
        TemplateKey key = pass.source;
        key.id = setId;
        auto it = templates.find(key);
        if (it == templates.end()) {
            if (length > 0) wait(pass, setId, p, length);
            pass.countKnown = false;
            return;
        }
        it->second.used = ++tick;
        const std::uint32_t n =
            readRecords(it->second, pass.clock, pass.from, p, length, pass.visit);
        pass.dataRecords += n;
        if (it->second.options)
            pass.info->skipped += n;
        else
            pass.info->records += n;
    }

    // Walks the sets of a v9 or IPFIX message. With apply == false only checks it.
    bool readSets(Pass& pass, const std::uint8_t* p, const std::uint8_t* end) {
        const bool ipfix = pass.clock.version == 10;
        while (end - p >= 4) {
            const std::uint16_t setId = be16(p);
            const std::uint16_t setLength = be16(p + 2);
            if (setLength < 4 || setLength > end - p) {
                // v9 has no message length: zeros after the last flowset are padding.
                if (!ipfix && allZero(p, std::size_t(end - p))) return true;
                return false;
            }
            const std::uint8_t* body = p + 4;
            const std::uint8_t* setEnd = p + setLength;
            p = setEnd;
            const bool templateSet = ipfix ? setId == 2 || setId == 3 : setId == 0 || setId == 1;
            if (templateSet) {
                if (!readTemplateSet(pass, setId, body, setEnd)) return false;
            } else if (setId >= 256) {
                if (pass.apply) readDataSet(pass, setId, body, std::size_t(setEnd - body));
            }
            // Other ids are reserved: passed over.
        }
        return ipfix ? p == end : true;
    }

    Source* sourceOf(const TemplateKey& k) {
        SourceKey key{k.exporter, k.domain, k.version};
        auto it = sources.find(key);
        if (it == sources.end()) {
            if (limits.maxExporters == 0) return &scratch;
            if (sources.size() >= limits.maxExporters) {
                auto oldest = sources.begin();
                for (auto i = sources.begin(); i != sources.end(); ++i)
                    if (i->second.used < oldest->second.used) oldest = i;
                sources.erase(oldest);
            }
            it = sources.emplace(key, Source{}).first;
        }
        it->second.used = ++tick;
        return &it->second;
    }

    // `units`: what this datagram adds to the count (its records, or 1 for v9). The RFCs count
    // what was sent before the datagram; some exporters (softflowd's IPFIX) count it too, which is
    // learned from the first sequence that fits only that reading.
    void sequenceCheck(Source* s, std::uint32_t sequence, std::uint64_t units, bool unitsKnown) {
        if (s->seen && s->known) {
            const std::uint32_t before = s->next;
            const std::uint32_t after = std::uint32_t(s->last + units);
            std::uint32_t expected = s->countsCurrent ? after : before;
            if (sequence != expected && sequence == (s->countsCurrent ? before : after)) {
                s->countsCurrent = !s->countsCurrent;
                expected = sequence;
            }
            // Forward jumps are losses; backward ones are the exporter starting again.
            const std::uint32_t gap = sequence - expected;
            if (gap != 0 && gap < 0x80000000u) totals.lost += gap;
        }
        s->seen = true;
        s->last = sequence;
        s->next = std::uint32_t(sequence + units);
        s->known = unitsKnown;
    }

    NetflowOutcome decodeV5(const TemplateKey& source, const std::uint8_t* d, std::size_t length,
                            NetflowDatagramInfo* info, const FlowRecordVisitor& visit) {
        if (length < 24) return NetflowOutcome::Malformed;
        const std::uint16_t count = be16(d + 2);
        if (count == 0 || count > 30 || length != 24 + std::size_t(count) * 48)
            return NetflowOutcome::Malformed;
        const std::uint32_t uptime = be32(d + 4);
        const std::int64_t exportMs = std::int64_t(be32(d + 8)) * 1000 + be32(d + 12) / 1000000;
        info->version = 5;
        info->domain = std::uint32_t(d[20]) << 8 | d[21];
        info->sequence = be32(d + 16);
        info->exportMs = exportMs;
        const std::uint32_t sampling = be16(d + 22) & 0x3fff;
        TemplateKey src = source;
        src.domain = info->domain;
        sequenceCheck(sourceOf(src), info->sequence, count, true);
        for (std::uint16_t i = 0; i < count; ++i) {
            const std::uint8_t* r = d + 24 + std::size_t(i) * 48;
            FlowRecord f;
            std::memcpy(f.src, r, 4);
            std::memcpy(f.dst, r + 4, 4);
            f.packets = be32(r + 16);
            f.octets = be32(r + 20);
            f.startMs = exportMs - std::int64_t(std::int32_t(uptime - be32(r + 24)));
            f.endMs = exportMs - std::int64_t(std::int32_t(uptime - be32(r + 28)));
            f.srcPort = be16(r + 32);
            f.dstPort = be16(r + 34);
            f.tcpFlags = r[37];
            f.protocol = r[38];
            f.samplingInterval = sampling;
            ++info->records;
            if (visit) visit(f);
        }
        return NetflowOutcome::Ok;
    }

    NetflowOutcome decode(const FlowExporter& from, const std::uint8_t* d, std::size_t length,
                          std::int64_t nowMs, NetflowDatagramInfo* info,
                          const FlowRecordVisitor& visit) {
        expire(nowMs);
        NetflowDatagramInfo local;
        if (!info) info = &local;
        *info = NetflowDatagramInfo{};
        if (!d || length < 2) return NetflowOutcome::NotNetflow;
        const std::uint16_t version = be16(d);
        if (version != 5 && version != 9 && version != 10) return NetflowOutcome::NotNetflow;
        TemplateKey source{};
        std::memcpy(source.exporter.data(), from.address, 16);
        source.version = std::uint8_t(version);
        if (version == 5) return decodeV5(source, d, length, info, visit);

        Pass pass;
        pass.nowMs = nowMs;
        pass.info = info;
        pass.visit = &visit;
        pass.clock.version = version;
        const std::uint8_t* end = d + length;
        const std::uint8_t* sets = nullptr;
        if (version == 9) {
            if (length < 20) return NetflowOutcome::Malformed;
            pass.clock.uptimeMs = be32(d + 4);
            pass.clock.exportMs = std::int64_t(be32(d + 8)) * 1000;
            info->sequence = be32(d + 12);
            info->domain = be32(d + 16);
            sets = d + 20;
        } else {
            if (length < 16) return NetflowOutcome::Malformed;
            const std::uint16_t messageLength = be16(d + 2);
            if (messageLength < 16 || messageLength > length) return NetflowOutcome::Malformed;
            end = d + messageLength;
            pass.clock.exportMs = std::int64_t(be32(d + 4)) * 1000;
            info->sequence = be32(d + 8);
            info->domain = be32(d + 12);
            sets = d + 16;
        }
        source.domain = info->domain;
        pass.source = source;
        if (!readSets(pass, sets, end)) {
            *info = NetflowDatagramInfo{};
            return NetflowOutcome::Malformed;
        }
        info->version = version;
        info->exportMs = pass.clock.exportMs;
        pass.apply = true;
        pass.from = sourceOf(source);
        readSets(pass, sets, end);
        if (pass.learned) readWaiting(pass);
        if (version == 9)
            sequenceCheck(pass.from, info->sequence, 1, true);
        else
            sequenceCheck(pass.from, info->sequence, pass.dataRecords, pass.countKnown);
        return NetflowOutcome::Ok;
    }
};

cNetflowDecoder::cNetflowDecoder() : cNetflowDecoder(Limits{}) {}

cNetflowDecoder::cNetflowDecoder(const Limits& limits) : state_(std::make_unique<State>()) {
    state_->limits = limits;
}

cNetflowDecoder::~cNetflowDecoder() = default;

NetflowOutcome cNetflowDecoder::decode(const FlowExporter& from, const std::uint8_t* data,
                                       std::size_t length, std::int64_t nowMs,
                                       NetflowDatagramInfo* info, const FlowRecordVisitor& visit) {
    return state_->decode(from, data, length, nowMs, info, visit);
}

void cNetflowDecoder::expire(std::int64_t nowMs) { state_->expire(nowMs); }

const NetflowTotals& cNetflowDecoder::totals() const { return state_->totals; }

}  // namespace tessel
