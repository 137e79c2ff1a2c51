#include "capture/sflow_decoder.h"

namespace tessel {

namespace {

constexpr std::uint32_t kVersion = 5;
constexpr std::uint32_t kAddressIPv4 = 1;
constexpr std::uint32_t kAddressIPv6 = 2;
// Sample and flow record formats of enterprise 0 (the enterprise sits above the low 12 bits).
constexpr std::uint32_t kFlowSample = 1;
constexpr std::uint32_t kFlowSampleExpanded = 3;
constexpr std::uint32_t kRawPacketHeader = 1;
// The smallest sample or record: its format and its length.
constexpr std::size_t kTagLength = 8;

// Big-endian words out of [at, end): every read checks the bytes are there, so a declared length
// is never trusted further than the bytes actually received.
class XdrReader {
  public:
    XdrReader(const std::uint8_t* data, std::size_t length) : data_(data), end_(length) {}
    XdrReader(const std::uint8_t* data, std::size_t begin, std::size_t end)
        : data_(data), at_(begin), end_(end) {}

    std::size_t left() const { return end_ - at_; }
    std::size_t at() const { return at_; }
    bool word(std::uint32_t* v) {
        if (left() < 4) return false;
        const std::uint8_t* p = data_ + at_;
        *v = std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 |
             std::uint32_t(p[3]);
        at_ += 4;
        return true;
    }
    bool skip(std::size_t n) {
        if (left() < n) return false;
        at_ += n;
        return true;
    }
    // A format and a length, then the body of that length, which must fit: `body` reads just it.
    bool tagged(std::uint32_t* format, XdrReader* body) {
        std::uint32_t length = 0;
        if (!word(format) || !word(&length) || left() < length) return false;
        *body = XdrReader(data_, at_, at_ + length);
        at_ += length;
        return true;
    }

  private:
    const std::uint8_t* data_;
    std::size_t at_ = 0;
    std::size_t end_;
};

struct Walk {
    SflowDatagramInfo* info;
    const SflowSampleVisitor* visit;  // null on the checking pass
};

// One flow record of a flow sample whose rate and source are in `sample`.
bool readRecord(std::uint32_t format, XdrReader body, SflowPacketSample sample, Walk* walk,
                const std::uint8_t* data) {
    if (format != kRawPacketHeader) {
        ++walk->info->skippedRecords;
        return true;
    }
    if (!body.word(&sample.headerProtocol)) return false;
    if (sample.headerProtocol != kHeaderEthernet && sample.headerProtocol != kHeaderIPv4 &&
        sample.headerProtocol != kHeaderIPv6) {
        ++walk->info->skippedRecords;
        return true;
    }
    // The sampled bytes must lie inside the record (their padding may be missing).
    std::uint32_t stripped = 0, headerLength = 0;
    if (!body.word(&sample.frameLength) || !body.word(&stripped) || !body.word(&headerLength) ||
        body.left() < headerLength)
        return false;
    sample.header = data + body.at();
    sample.headerLength = headerLength;
    ++walk->info->packetSamples;
    if (walk->visit) (*walk->visit)(sample);
    return true;
}

bool readFlowSample(bool expanded, XdrReader body, Walk* walk, const std::uint8_t* data) {
    SflowPacketSample sample;
    std::uint32_t sequence = 0, pool = 0, drops = 0, records = 0;
    if (!body.word(&sequence)) return false;
    if (expanded) {
        std::uint32_t type = 0, index = 0;
        if (!body.word(&type) || !body.word(&index)) return false;
        sample.sourceId = type << 24 | (index & 0xFFFFFF);
    } else if (!body.word(&sample.sourceId)) {
        return false;
    }
    if (!body.word(&sample.samplingRate) || !body.word(&pool) || !body.word(&drops)) return false;
    if (sample.samplingRate == 0) sample.samplingRate = 1;
    // The interfaces: a word each, or a format and a value each when expanded.
    if (!body.skip(expanded ? 16 : 8) || !body.word(&records)) return false;
    // Cheap against a huge count: each record takes at least its tag.
    if (records > body.left() / kTagLength) return false;
    for (std::uint32_t i = 0; i < records; ++i) {
        std::uint32_t format = 0;
        XdrReader record(nullptr, 0);
        if (!body.tagged(&format, &record)) return false;
        if (!readRecord(format, record, sample, walk, data)) return false;
    }
    return true;
}

// Both passes: the first (no visitor) checks every length and count, the second visits.
bool walkSamples(XdrReader in, std::uint32_t samples, Walk* walk, const std::uint8_t* data) {
    if (samples > in.left() / kTagLength) return false;
    for (std::uint32_t i = 0; i < samples; ++i) {
        std::uint32_t format = 0;
        XdrReader body(nullptr, 0);
        if (!in.tagged(&format, &body)) return false;
        if (format == kFlowSample || format == kFlowSampleExpanded) {
            if (!readFlowSample(format == kFlowSampleExpanded, body, walk, data)) return false;
        } else {
            ++walk->info->skippedRecords;
        }
    }
    return true;
}

}  // namespace

SflowOutcome decodeSflow(const std::uint8_t* data, std::size_t length, SflowDatagramInfo* info,
                         const SflowSampleVisitor& visit) {
    SflowDatagramInfo scratch;
    if (!info) info = &scratch;
    *info = SflowDatagramInfo();
    if (!data) length = 0;
    XdrReader in(data, length);
    std::uint32_t version = 0, addressType = 0;
    if (!in.word(&version)) return SflowOutcome::Malformed;
    if (version != kVersion) return SflowOutcome::NotSflow;
    if (!in.word(&addressType)) return SflowOutcome::Malformed;
    SflowDatagramInfo head;
    std::size_t addressLength = 0;
    if (addressType == kAddressIPv4) {
        head.agent.ipVersion = 4;
        addressLength = 4;
    } else if (addressType == kAddressIPv6) {
        head.agent.ipVersion = 6;
        addressLength = 16;
    } else {
        // An agent that does not state its address cannot be told from others.
        return SflowOutcome::Malformed;
    }
    if (in.left() < addressLength) return SflowOutcome::Malformed;
    for (std::size_t i = 0; i < addressLength; ++i) head.agent.address[i] = data[in.at() + i];
    in.skip(addressLength);
    if (!in.word(&head.agent.subAgent) || !in.word(&head.sequence) || !in.word(&head.uptimeMs) ||
        !in.word(&head.samples))
        return SflowOutcome::Malformed;

    SflowDatagramInfo checked = head;
    Walk check{&checked, nullptr};
    if (!walkSamples(in, head.samples, &check, data)) return SflowOutcome::Malformed;
    if (visit) {
        *info = head;
        Walk visiting{info, &visit};
        walkSamples(in, head.samples, &visiting, data);
    } else {
        *info = checked;
    }
    return SflowOutcome::Ok;
}

std::uint64_t cSflowLossCounter::see(const SflowAgent& agent, std::uint32_t sequence) {
    std::uint64_t high = 0, low = 0;
    for (int i = 0; i < 8; ++i) {
        high = high << 8 | agent.address[i];
        low = low << 8 | agent.address[8 + i];
    }
    const Key key{{high, low}, std::uint64_t(agent.ipVersion == 6 ? 6 : 4) << 32 | agent.subAgent};
    const std::uint64_t now = ++heard_;
    auto it = last_.find(key);
    if (it == last_.end()) {
        if (last_.size() >= kMaxAgents) {
            auto oldest = byHeard_.begin();
            last_.erase(oldest->second);
            byHeard_.erase(oldest);
        }
        last_.emplace(key, std::make_pair(sequence, now));
        byHeard_.emplace(now, key);
        return 0;
    }
    byHeard_.erase(it->second.second);
    byHeard_.emplace(now, key);
    const std::uint32_t previous = it->second.first;
    it->second = std::make_pair(sequence, now);
    // Serial-number arithmetic: a step forward of less than half the number space (across the
    // wrap too) is that many datagrams less one lost; anything else (a step back, a repeat, a
    // jump too far to be loss) is an agent that started over.
    const std::uint32_t step = sequence - previous;
    if (step == 0 || step >= 0x80000000u) return 0;
    lost_ += step - 1;
    return step - 1;
}

}  // namespace tessel
