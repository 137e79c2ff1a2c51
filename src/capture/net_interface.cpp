#include "capture/net_interface.h"

#include <poll.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "app/globals.h"
#include "capture/adapter_lists.h"
#include "capture/capture_threads.h"
#include "capture/frame_reader.h"
#include "capture/packet_decoder.h"
#include "capture/rate_history.h"
#include "nodes/node_manager.h"
#include "platform/message_box.h"
#include "platform/process.h"

namespace tessel {

pcap_t* captureHandle = nullptr;
pcap_t* statsHandle = nullptr;

namespace {

constexpr int kSnapLength = 65536;
constexpr int kPromiscuous = 1;
constexpr int kReadTimeoutMs = 1000;
// The stop flag of runStatsLoop is looked at at least this often.
constexpr int kStopCheckMs = 250;

// Held while the capture handle is closed and while another thread reads its counters.
std::mutex g_captureCloseMutex;

// F1, F5, F6: the capture library's own failures go to standard error, not to a message box.
[[noreturn]] void endAfterLibraryFailure() {
    std::fflush(stdout);
    destroyEventLog();
    endProcess(0);
}

std::string selfPath() {
    char path[4096];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0) return "tessel";
    path[n] = '\0';
    return path;
}

// Without CAP_NET_RAW the open fails on every adapter, so choosing another one in the
// configuration tool cannot help: tell the user how to grant the right.
void showPermissionHelp(const std::string& device) {
    std::string text = "Tessel may not capture on " + device +
                       ": this program lacks the right to capture packets.\n\n"
                       "Grant it with\n"
                       "    sudo setcap cap_net_raw,cap_net_admin=eip " +
                       selfPath() +
                       "\n"
                       "    sudo setcap cap_net_raw,cap_net_admin=eip " +
                       configToolPath() +
                       "\n"
                       "or run Tessel as root.";
    showMessageBox(text);
}

[[noreturn]] void failOpen(pcap_if_t* devices, const char* deviceName, bool permissionDenied) {
    std::fprintf(stderr, "\nUnable to open the adapter. %s is not supported by WinPcap\n",
                 deviceName);
    std::fflush(stderr);
    if (permissionDenied) {
        showPermissionHelp(deviceName);
        startConfigTool();
    }
    pcap_freealldevs(devices);
    endAfterLibraryFailure();
}

struct CountContext {
    std::uint64_t packets = 0;
    std::uint64_t bytes = 0;
};

void countFrame(u_char* user, const struct pcap_pkthdr* header, const u_char*) {
    CountContext* c = reinterpret_cast<CountContext*>(user);
    c->packets += 1;
    c->bytes += header->len;
}

void putLe64(std::uint64_t v, u_char* out) {
    for (int i = 0; i < 8; ++i) out[i] = u_char(v >> (8 * i));
}

}  // namespace

bool isPermissionError(const std::string& errorText) {
    std::string lower(errorText);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return lower.find("permission") != std::string::npos ||
           lower.find("operation not permitted") != std::string::npos;
}

AdapterConfig findAdapterConfig(const std::string& nic,
                                const std::vector<InterfaceAddress>& interfaces,
                                const std::string& routeTable) {
    AdapterConfig c;
    for (const InterfaceAddress& i : interfaces) {
        if (i.name != nic) continue;  // exact, case-sensitive
        c.exists = true;
        c.address = i.address;
        c.netmask = i.netmask;
        break;
    }
    if (c.exists) c.gateway = defaultGatewayIn(routeTable, nic);
    return c;
}

void cNetInterface::discoverAdapter(std::string nic) {
    AdapterConfig c = findAdapterConfig(nic, listInterfaceAddresses(), readRouteTable());
    if (c.exists) {
        // Linux interfaces have no description; the name stands in for it.
        std::printf("\tAdapter Desc: \t%s\n", nic.c_str());
        if (!c.address.empty()) {
            localAddresses.push_back(c.address);
            if (!c.netmask.empty()) netMasks.push_back(c.netmask);
            if (!c.gateway.empty()) gatewayAddresses.push_back(c.gateway);
        }
    }
    std::fflush(stdout);
    if (localAddresses.empty())
        restartConfigToolAndExit("Failed to find suitable NIC, reruning tessel-config");

    std::printf("netint: local ip  %s\n", localAddresses[0].c_str());
    if (!netMasks.empty()) std::printf("netint: net mask %s\n", netMasks[0].c_str());
    if (!gatewayAddresses.empty()) std::printf("netint: gateway %s\n", gatewayAddresses[0].c_str());
    std::fflush(stdout);

    cNodeManager manager;
    manager.addLocalNode(localAddresses[0]);
    if (!gatewayAddresses.empty()) manager.addGatewayNode(gatewayAddresses[0]);
}

// Both handles: snapshot 65536, promiscuous, 1000 ms read time-out. The capture handle also gets
// a 32 MiB kernel buffer (libpcap's default of 2 MiB overflows while the capture thread writes
// a burst of intel files); the statistics handle delivers every frame at once.
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
    if (statistics)
        pcap_set_immediate_mode(h, 1);
    else
        pcap_set_buffer_size(h, 32 * 1024 * 1024);
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

void cNetInterface::startCapture(std::string nic) {
    char errbuf[PCAP_ERRBUF_SIZE] = "";  // 256 bytes, as the library asks
    pcap_if_t* devices = nullptr;
    if (pcap_findalldevs(&devices, errbuf) == -1) {
        std::fprintf(stderr, "Error in pcap_findalldevs: %s\n", errbuf);
        endAfterLibraryFailure();
    }
    if (localAddresses.empty()) {
        pcap_freealldevs(devices);
        restartConfigToolAndExit("Failed to find suitable NIC, reruning tessel-config");
    }
    if (localAddresses[0] == "0.0.0.0") {
        pcap_freealldevs(devices);
        restartConfigToolAndExit(
            "Failed to find a bindable ip address on selected NIC, rerunning tessel-config");
    }

    pcap_if_t* chosen = nullptr;
    for (pcap_if_t* d = devices; d; d = d->next) {
        // libpcap device names on Linux carry no prefix: the whole name is the key.
        const char* key = d->name ? d->name : "";
        std::printf("------\n1. |%s|\n2. |%s|\n", key, nic.c_str());
        if (nic == key) {
            chosen = d;
            break;
        }
    }
    std::fflush(stdout);
    if (!chosen) {
        pcap_freealldevs(devices);
        restartConfigToolAndExit("Failed to bind to NIC, reruning tessel-config");
    }

    bool denied = false;
    captureHandle = openHandle(chosen->name, false, errbuf, &denied);
    if (!captureHandle) failOpen(devices, chosen->name, denied);
    statsHandle = openHandle(chosen->name, true, errbuf, &denied);
    if (!statsHandle) failOpen(devices, chosen->name, denied);
    if (pcap_setnonblock(statsHandle, 1, errbuf) < 0 || pcap_get_selectable_fd(statsHandle) < 0) {
        std::fprintf(stderr, "\nError setting statistics mode.\n");
        pcap_close(statsHandle);
        statsHandle = nullptr;
        endAfterLibraryFailure();
    }
    setCaptureLinkType(pcap_datalink(captureHandle));

    std::printf("\nlistening on %s...\n",
                chosen->description && *chosen->description ? chosen->description : chosen->name);
    std::fflush(stdout);
    pcap_freealldevs(devices);

    // Never joined: both end with the process.
    std::thread(captureThread).detach();
    std::thread(statsThread).detach();
}

int captureThread() {
    pcap_loop(captureHandle, 0, onPacket, nullptr);
    std::lock_guard<std::mutex> lock(g_captureCloseMutex);
    pcap_close(captureHandle);
    captureHandle = nullptr;
    return 0;
}

bool captureKernelStats(KernelCaptureStats* stats) {
    std::lock_guard<std::mutex> lock(g_captureCloseMutex);
    // On Linux pcap_stats reads the socket's counters and touches nothing the capture loop uses.
    struct pcap_stat s {};
    if (!captureHandle || pcap_stats(captureHandle, &s) != 0) return false;
    stats->received = s.ps_recv;
    stats->dropped = s.ps_drop;
    stats->interfaceDropped = s.ps_ifdrop;
    return true;
}

int statsThread() {
    StatsState previousSampleTime;  // lives for the whole loop
    runStatsLoop(statsHandle, onStatsSample, reinterpret_cast<u_char*>(&previousSampleTime),
                 nullptr);
    pcap_close(statsHandle);
    statsHandle = nullptr;
    return 0;
}

bool statsSampleRate(StatsState* state, const timeval& when, std::uint64_t bytes,
                     std::int64_t* bitsPerSecond) {
    bool had = state->havePrevious;
    timeval prev = state->previous;
    state->previous = when;
    state->havePrevious = true;
    if (!had) return false;
    // Microseconds since the previous sample, as a 32-bit unsigned number.
    std::uint32_t delay =
        std::uint32_t((std::uint32_t(when.tv_sec) - std::uint32_t(prev.tv_sec)) * 1000000u -
                      std::uint32_t(prev.tv_usec) + std::uint32_t(when.tv_usec));
    if (delay == 0) return false;
    *bitsPerSecond = std::int64_t(bytes * 8000000ull / delay);
    return true;
}

void onStatsSample(u_char* user, const struct pcap_pkthdr* header, const u_char* data) {
    if (!user || !header || !data) return;
    FrameReader sample(data, header->caplen);
    std::uint64_t bytes = 0;
    if (!sample.le64(8, &bytes)) return;
    std::int64_t bps = 0;
    if (statsSampleRate(reinterpret_cast<StatsState*>(user), header->ts, bytes, &bps))
        appendRateSample(bps);
}

long runStatsLoop(pcap_t* handle, pcap_handler handler, u_char* user, const std::atomic<bool>* stop,
                  int intervalMs) {
    using clock = std::chrono::steady_clock;
    const int fd = pcap_get_selectable_fd(handle);
    if (fd < 0) return 0;
    const auto interval = std::chrono::milliseconds(intervalMs);
    auto deadline = clock::now() + interval;
    CountContext counted;
    long samples = 0;
    while (!(stop && stop->load())) {
        auto now = clock::now();
        if (now >= deadline) {
            struct pcap_pkthdr header {};
            gettimeofday(&header.ts, nullptr);
            u_char data[16];
            putLe64(counted.packets, data);
            putLe64(counted.bytes, data + 8);
            header.caplen = header.len = sizeof data;
            handler(user, &header, data);
            ++samples;
            counted = CountContext();
            deadline += interval;
            if (deadline <= now) deadline = now + interval;  // we fell behind: restart the beat
            continue;
        }
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
        struct pollfd p {};
        p.fd = fd;
        p.events = POLLIN;
        int r = ::poll(&p, 1, int(std::min<long long>(left, kStopCheckMs)));
        if (r < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (r == 0) continue;
        int n = pcap_dispatch(handle, -1, countFrame, reinterpret_cast<u_char*>(&counted));
        if (n == PCAP_ERROR || n == PCAP_ERROR_BREAK) break;
    }
    return samples;
}

}  // namespace tessel
