#pragma once
#include <pcap/pcap.h>
#include <sys/time.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/adapter_info.h"

namespace tessel {

// The two live handles. Set once by startCapture on the main thread, then each used only by its
// own thread, which closes it when its loop ends.
extern pcap_t* captureHandle;
extern pcap_t* statsHandle;

// Capture thread body: pcap_loop(captureHandle) -> onPacket, then pcap_close. Returns 0.
int captureThread();

// The kernel's counters of the capture handle (pcap_stats): frames it handed to the socket and
// frames it dropped because the capture thread fell behind. False before capture starts and after
// the capture loop has ended. Any thread: the handle is closed under the same guard.
struct KernelCaptureStats {
    std::uint64_t received = 0;
    std::uint64_t dropped = 0;           // no room in the capture buffer
    std::uint64_t interfaceDropped = 0;  // dropped by the adapter's driver
};
bool captureKernelStats(KernelCaptureStats* stats);
// Statistics thread body: runStatsLoop(statsHandle) -> onStatsSample, then pcap_close. Returns 0.
int statsThread();

// State the statistics handler keeps between samples (the handler's user argument). The first
// sample has no predecessor: its time is recorded and its rate skipped.
struct StatsState {
    bool havePrevious = false;
    timeval previous{};
};

// The rate of one sample ending at `when` with `bytes` seen since the previous one; updates
// `state`. False when there is no rate: the first sample, or a delay of 0 microseconds.
bool statsSampleRate(StatsState* state, const timeval& when, std::uint64_t bytes,
                     std::int64_t* bitsPerSecond);

// libpcap-style handler of one statistics sample: `user` is a StatsState, `data` 16 bytes
// (packets, then bytes, each 64-bit little-endian). Appends the rate to the history.
// Statistics thread only.
void onStatsSample(u_char* user, const struct pcap_pkthdr* header, const u_char* data);

// Counts the frames of a nonblocking, immediate-mode `handle` and emits one sample per
// `intervalMs` through `handler` (empty intervals give a 0 sample), stamped with the wall
// clock at the interval's end. On Linux the read time-out does not fire on an idle interface,
// so poll() up to each deadline is the clock. Runs until `stop` (may be null) is set or the
// handle fails; returns the number of samples emitted.
long runStatsLoop(pcap_t* handle, pcap_handler handler, u_char* user, const std::atomic<bool>* stop,
                  int intervalMs = 1000);

// A capture handle of a device (snapshot 65536, promiscuous, 1000 ms time-out): the capture one
// with a large kernel buffer, or with `statistics` the second one for counting, in immediate
// mode. Null with `errbuf` set on failure; *permissionDenied tells a missing capture right apart.
pcap_t* openHandle(const char* device, bool statistics, char* errbuf, bool* permissionDenied);
inline pcap_t* openStatsHandle(const char* device, char* errbuf, bool* permissionDenied) {
    return openHandle(device, true, errbuf, permissionDenied);
}

// True when a libpcap error text says the process lacks the right to capture.
bool isPermissionError(const std::string& errorText);

// What discovery finds for one adapter name.
struct AdapterConfig {
    bool exists = false;  // an interface of exactly that name
    std::string address;  // empty when it has no IPv4 address
    std::string netmask;
    std::string gateway;  // empty when it has no default route
};
AdapterConfig findAdapterConfig(const std::string& nic,
                                const std::vector<InterfaceAddress>& interfaces,
                                const std::string& routeTable);

}  // namespace tessel
