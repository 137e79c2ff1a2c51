#pragma once
// What tessel and its capture helper, tessel-capture, say to each other: the helper's command
// line, its exit statuses, what it writes and how it opens the adapter. The helper includes this
// header and nothing else of tessel, so it stays plain C++ without libpcap; the line formatters
// are inline (the helper uses them), the parsers live in helper_protocol.cpp (tessel alone).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace tessel {

// "tessel-capture MODE ADAPTER [FILTER]", MODE one of:
//   frames  a pcap stream on standard output, flushed after every batch; a counters line on
//           descriptor kHelperCountersFd, if open, every kHelperReportMs
//   rates   a rates line on standard output every kHelperReportMs
//   check   nothing: the exit status says whether the adapter can be opened
constexpr const char* kHelperModeFrames = "frames";
constexpr const char* kHelperModeRates = "rates";
constexpr const char* kHelperModeCheck = "check";

// Exit statuses, one per failure the caller tells apart.
enum HelperStatus {
    kHelperOk = 0,
    kHelperFailed = 1,     // anything else (libpcap could not start, a broken reader)
    kHelperUsage = 2,      // bad arguments
    kHelperNoAdapter = 3,  // no adapter of that name
    kHelperNoRights = 4,   // the process may not capture
    kHelperBadFilter = 5,  // the filter does not compile
};

// How the helper opens the adapter.
constexpr int kHelperSnapLength = 65536;
// libpcap's default of 2 MiB overflows while the reader is held up; 32 MiB rides out bursts.
constexpr int kHelperFramesBufferBytes = 32 * 1024 * 1024;
// The rates handle only counts: room for what arrives between two of its batches.
constexpr int kHelperRatesBufferBytes = 8 * 1024 * 1024;
// Test seam: this variable may only make the frames helper's buffer smaller, so that a test can
// make the kernel drop frames (the helper holds rights; nothing here may enlarge anything).
constexpr const char* kHelperBufferBytesVariable = "TESSEL_CAPTURE_BUFFER_BYTES";

constexpr int kHelperReportMs = 1000;
constexpr int kHelperCountersFd = 3;
// Longer than any line the helper writes; a longer one is not the helper's.
constexpr std::size_t kHelperLongestLine = 256;

// The rates line: "SECONDS MICROSECONDS PACKETS BYTES" (the wall clock when the second ended,
// and what the adapter carried in it).
struct HelperRateLine {
    long long seconds = 0;
    long micros = 0;  // 0 .. 999999
    std::uint64_t packets = 0, bytes = 0;
};
// The counters line: "RECEIVED DROPPED IFDROPPED" (pcap_stats of the frames handle).
struct HelperCountersLine {
    std::uint64_t received = 0, dropped = 0, interfaceDropped = 0;
};

// Each writes its line with the new line into `out`; the length written (snprintf's).
inline int formatRateLine(char* out, std::size_t size, const HelperRateLine& line) {
    return std::snprintf(out, size, "%lld %ld %llu %llu\n", line.seconds, line.micros,
                         (unsigned long long)line.packets, (unsigned long long)line.bytes);
}
inline int formatCountersLine(char* out, std::size_t size, const HelperCountersLine& line) {
    return std::snprintf(out, size, "%llu %llu %llu\n", (unsigned long long)line.received,
                         (unsigned long long)line.dropped,
                         (unsigned long long)line.interfaceDropped);
}

// Parse one line without its new line: exactly the fields above, unsigned decimal, one space
// apart, each below 2^64, nothing before or after. False (and *out untouched) for anything else.
// Pure; any thread.
bool parseRateLine(const std::string& line, HelperRateLine* out);
bool parseCountersLine(const std::string& line, HelperCountersLine* out);

}  // namespace tessel
