// The input is a run of datagrams, each as: one byte (bit 0: which of two exporters, bits 1-7:
// seconds since the previous one), a big-endian 16-bit length, then that many bytes (fewer at the
// end). They all go to one decoder, so templates learned from one datagram read the next.
#include <cstdint>
#include <vector>

#include "capture/netflow_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Small bounds, so eviction of templates, waiting sets and exporters is reached.
    tessel::cNetflowDecoder::Limits limits;
    limits.maxTemplates = 8;
    limits.maxWaitingSets = 4;
    limits.maxWaitingBytes = 4096;
    limits.maxWaitMs = 3000;
    limits.maxExporters = 2;
    tessel::cNetflowDecoder decoder(limits);
    tessel::FlowExporter from[2];
    from[1].address[15] = 1;
    std::int64_t now = 1700000000000;
    std::size_t at = 0;
    while (at + 3 <= size) {
        const std::uint8_t head = data[at];
        std::size_t length = std::size_t(data[at + 1]) << 8 | data[at + 2];
        at += 3;
        if (length > size - at) length = size - at;
        // An exact-size copy: a read past the datagram is a sanitizer error.
        std::vector<std::uint8_t> datagram(data + at, data + at + length);
        at += length;
        now += std::int64_t(head >> 1) * 1000;
        std::uint32_t visited = 0;
        tessel::NetflowDatagramInfo info;
        const tessel::NetflowOutcome outcome =
            decoder.decode(from[head & 1], datagram.data(), datagram.size(), now, &info,
                           [&](const tessel::FlowRecord& r) {
                               ++visited;
                               if (r.ipVersion != 4 && r.ipVersion != 6) __builtin_trap();
                           });
        if (outcome != tessel::NetflowOutcome::Ok && visited != 0) __builtin_trap();
        if (info.records != visited) __builtin_trap();
        const tessel::NetflowTotals& t = decoder.totals();
        if (t.waiting > limits.maxWaitingSets || t.templatesKnown > limits.maxTemplates)
            __builtin_trap();
    }
    return 0;
}
