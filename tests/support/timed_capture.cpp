#include "support/timed_capture.h"

#include <cstdio>
#include <cstring>

namespace tessel::test {

namespace {

void put32(std::string& out, std::uint32_t v) { out.append(reinterpret_cast<const char*>(&v), 4); }
void put16(std::string& out, std::uint16_t v) { out.append(reinterpret_cast<const char*>(&v), 2); }

// A pcapng block: type, total length, body (padded to 4), total length again.
std::string block(std::uint32_t type, const std::string& body) {
    std::string padded = body;
    padded.append((4 - padded.size() % 4) % 4, '\0');
    std::string out;
    put32(out, type);
    put32(out, std::uint32_t(padded.size() + 12));
    out += padded;
    put32(out, std::uint32_t(padded.size() + 12));
    return out;
}

}  // namespace

bool writeTimedCapture(const std::string& path, const std::vector<TimedFrame>& frames,
                       bool pcapng) {
    std::string out;
    if (pcapng) {
        std::string shb;
        put32(shb, 0x1A2B3C4D);  // byte-order magic
        put16(shb, 1);
        put16(shb, 0);
        put32(shb, 0xFFFFFFFF);  // section length unknown
        put32(shb, 0xFFFFFFFF);
        out += block(0x0A0D0D0A, shb);
        std::string idb;
        put16(idb, 1);  // Ethernet
        put16(idb, 0);
        put32(idb, 65535);
        out += block(1, idb);
    } else {
        put32(out, 0xA1B2C3D4);
        put16(out, 2);
        put16(out, 4);
        put32(out, 0);
        put32(out, 0);
        put32(out, 65535);
        put32(out, 1);  // Ethernet
    }
    std::size_t n = 0;
    for (const TimedFrame& f : frames) {
        const std::string data(f.bytes.begin(), f.bytes.end());
        if (pcapng) {
            std::string epb;
            const std::uint64_t ts = std::uint64_t(f.atUs);
            put32(epb, 0);  // interface
            put32(epb, std::uint32_t(ts >> 32));
            put32(epb, std::uint32_t(ts));
            put32(epb, std::uint32_t(data.size()));
            put32(epb, std::uint32_t(data.size()));
            epb += data;
            out += block(6, epb);
            if (++n % 100 == 0) {
                std::string isb;
                put32(isb, 0);
                put32(isb, std::uint32_t(ts >> 32));
                put32(isb, std::uint32_t(ts));
                out += block(5, isb);
            }
        } else {
            put32(out, std::uint32_t(f.atUs / 1000000));
            put32(out, std::uint32_t(f.atUs % 1000000));
            put32(out, std::uint32_t(data.size()));
            put32(out, std::uint32_t(data.size()));
            out += data;
        }
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    return std::fclose(file) == 0 && ok;
}

}  // namespace tessel::test
