#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

#include "capture/flow_record.h"

namespace tessel {

// NetFlow v5, NetFlow v9 (RFC 3954) and IPFIX (RFC 7011) as a collector reads them, all from one
// socket. Every length and count is checked against the datagram; a template's field lengths
// are never trusted; nothing is allocated by a count or length the input declares beyond the
// bounds below.

// Where a datagram came from: the sender's address (IPv4 as ::ffff:a.b.c.d) as the socket gave
// it.
struct FlowExporter {
    std::uint8_t address[16] = {};
};

// What one datagram held.
struct NetflowDatagramInfo {
    int version = 0;              // 5, 9 or 10 (IPFIX)
    std::uint32_t domain = 0;     // v9 source id, IPFIX observation domain; v5 engine type/id
    std::uint32_t sequence = 0;   // as exported (v5 and IPFIX count records, v9 datagrams)
    std::int64_t exportMs = 0;    // the export time, Unix milliseconds
    std::uint32_t records = 0;    // flow records visited (now or from data sets that waited)
    std::uint32_t templates = 0;  // flow templates learned, templates withdrawn
    std::uint32_t skipped = 0;    // options templates and option data records passed over
};

enum class NetflowOutcome {
    Ok,
    NotNetflow,  // not version 5, 9 or 10: nothing visited
    Malformed,   // a length or count that does not fit: nothing visited, no template changed
};

using FlowRecordVisitor = std::function<void(const FlowRecord&)>;

// Totals a decoder keeps, for the status line.
struct NetflowTotals {
    std::uint64_t lost = 0;     // sequence gaps, in the version's unit (records; v9 datagrams)
    std::uint64_t waiting = 0;  // data sets waiting for their template now
    std::uint64_t evicted = 0;  // data sets that waited too long or found no room, dropped
    std::uint64_t templatesKnown = 0;  // flow and options templates
};

// Templates per exporter address and observation domain; data sets that come before their
// template wait (bounded in count, bytes and age) and are decoded when it comes. One thread.
class cNetflowDecoder {
  public:
    struct Limits {
        std::size_t maxTemplates = 4096;         // over all exporters
        std::size_t maxWaitingSets = 256;        // over all exporters
        std::size_t maxWaitingBytes = 4u << 20;  // over all waiting sets
        std::int64_t maxWaitMs = 60'000;         // a set older than this is evicted
        std::size_t maxExporters = 4096;         // followed for sequence gaps
    };
    cNetflowDecoder();
    explicit cNetflowDecoder(const Limits& limits);
    ~cNetflowDecoder();
    cNetflowDecoder(const cNetflowDecoder&) = delete;
    cNetflowDecoder& operator=(const cNetflowDecoder&) = delete;

    // Reads one datagram from `from` that arrived at `nowMs` (Unix milliseconds). The datagram is
    // checked whole before anything is visited or learned.
    NetflowOutcome decode(const FlowExporter& from, const std::uint8_t* data, std::size_t length,
                          std::int64_t nowMs, NetflowDatagramInfo* info,
                          const FlowRecordVisitor& visit);
    // Evicts waiting sets older than the limit (also done by decode).
    void expire(std::int64_t nowMs);
    const NetflowTotals& totals() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace tessel
