#include "capture/capture_handles.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace tessel {

namespace {
constexpr int kSnapLength = 65536;
constexpr int kPromiscuous = 1;
constexpr int kReadTimeoutMs = 1000;
// libpcap's default of 2 MiB overflows while the capture thread is held up (a slow disk while it
// links a record file into place); 32 MiB rides out such bursts.
constexpr int kCaptureBufferBytes = 32 * 1024 * 1024;
// The statistics handle is read every 50 ms (stats_loop.cpp): room for that long of a saturated
// gigabit link.
constexpr int kStatsBufferBytes = 8 * 1024 * 1024;

// Test seam: TESSEL_CAPTURE_BUFFER_BYTES shrinks the capture buffer, so that a test can make the
// kernel drop frames on purpose.
int captureBufferBytes() {
    const char* v = std::getenv("TESSEL_CAPTURE_BUFFER_BYTES");
    const long bytes = v ? std::strtol(v, nullptr, 10) : 0;
    return bytes > 0 && bytes < kCaptureBufferBytes ? int(bytes) : kCaptureBufferBytes;
}
}  // namespace

bool isPermissionError(const std::string& errorText) {
    std::string lower(errorText);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return lower.find("permission") != std::string::npos ||
           lower.find("operation not permitted") != std::string::npos;
}

pcap_t* openHandle(const char* device, bool statistics, char* errbuf, bool* permissionDenied) {
    *permissionDenied = false;
    pcap_t* h = pcap_create(device, errbuf);
    if (!h) {
        *permissionDenied = isPermissionError(errbuf);
        return nullptr;
    }
    pcap_set_snaplen(h, kSnapLength);
    pcap_set_promisc(h, kPromiscuous);
    pcap_set_timeout(h, kReadTimeoutMs);
    if (statistics) pcap_set_immediate_mode(h, 1);
    pcap_set_buffer_size(h, statistics ? kStatsBufferBytes : captureBufferBytes());
    int rc = pcap_activate(h);
    if (rc < 0) {
        std::snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s", pcap_geterr(h));
        *permissionDenied = rc == PCAP_ERROR_PERM_DENIED || rc == PCAP_ERROR_PROMISC_PERM_DENIED ||
                            isPermissionError(errbuf);
        pcap_close(h);
        return nullptr;
    }
    return h;
}

}  // namespace tessel
