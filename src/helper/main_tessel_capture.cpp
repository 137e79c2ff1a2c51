// tessel-capture: the one program that holds capture rights. It opens one adapter with libpcap,
// gives up every right once the handle is open, and writes what it captures to standard output
// (its modes and lines: platform/helper_protocol.h). It ends when its reader goes away. Only libc
// and libpcap: everything that parses and draws runs in tessel, without rights.
#include <fcntl.h>
#include <linux/capability.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "helper_arguments.h"
#include "platform/helper_protocol.h"

namespace {

using namespace tessel;

// Short enough that a frame reaches the reader well within 50 ms at any rate, long enough that
// a busy adapter's frames come in batches.
constexpr int kReadTimeoutMs = 10;

// What is open, closed on every way out (so that nothing is left for a leak checker to find).
pcap_t* g_handle = nullptr;
pcap_dumper_t* g_dump = nullptr;

[[noreturn]] void finish(int status) {
    if (g_dump) pcap_dump_close(g_dump);
    if (g_handle) pcap_close(g_handle);
    std::exit(status);
}

[[noreturn]] void fail(int status, const char* what, const char* detail) {
    std::fprintf(stderr, "tessel-capture: %s%s%s\n", what, detail ? ": " : "",
                 detail ? detail : "");
    finish(status);
}

// The test seam, read by a program with rights: it may only make the buffer smaller.
int framesBufferBytes() {
    const char* v = std::getenv(kHelperBufferBytesVariable);
    const long bytes = v ? std::strtol(v, nullptr, 10) : 0;
    return bytes > 0 && bytes < kHelperFramesBufferBytes ? int(bytes) : kHelperFramesBufferBytes;
}

pcap_t* openAdapter(const HelperArguments& args) {
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    pcap_t* h = pcap_create(args.adapter, errbuf);
    if (!h) fail(kHelperFailed, "cannot open the adapter", errbuf);
    g_handle = h;
    pcap_set_snaplen(h, kHelperSnapLength);
    pcap_set_promisc(h, 1);
    pcap_set_timeout(h, kReadTimeoutMs);
    pcap_set_buffer_size(
        h, args.mode == HelperMode::Rates ? kHelperRatesBufferBytes : framesBufferBytes());
    const int rc = pcap_activate(h);
    if (rc == PCAP_ERROR_NO_SUCH_DEVICE) fail(kHelperNoAdapter, "no such adapter", args.adapter);
    if (rc == PCAP_ERROR_PERM_DENIED || rc == PCAP_ERROR_PROMISC_PERM_DENIED)
        fail(kHelperNoRights, "no right to capture", pcap_geterr(h));
    if (rc < 0) fail(kHelperFailed, "cannot open the adapter", pcap_geterr(h));
    return h;
}

// Drops every capability (the open socket keeps working) and any way of gaining one back.
void dropRights() {
    __user_cap_header_struct header{};
    header.version = _LINUX_CAPABILITY_VERSION_3;
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    if (syscall(SYS_capset, &header, data) != 0) fail(kHelperFailed, "cannot drop rights", nullptr);
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        fail(kHelperFailed, "cannot drop rights", nullptr);
}

void applyFilter(pcap_t* h, const char* filter) {
    if (!*filter) return;
    bpf_program program{};
    if (pcap_compile(h, &program, filter, 1, PCAP_NETMASK_UNKNOWN) != 0)
        fail(kHelperBadFilter, "the filter does not compile", pcap_geterr(h));
    const int rc = pcap_setfilter(h, &program);
    pcap_freecode(&program);
    if (rc != 0) fail(kHelperBadFilter, "the filter cannot be set", pcap_geterr(h));
}

long long millisecondsNow() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

// Waits for frames or the next report; false once the reader of standard output went away.
bool waitForWork(pcap_t* h, long long reportAt) {
    pollfd p[2] = {};
    p[0].fd = pcap_get_selectable_fd(h);
    p[0].events = POLLIN;
    p[1].fd = STDOUT_FILENO;  // a pipe's writer sees POLLERR once nobody reads
    p[1].events = 0;
    const long long wait = reportAt - millisecondsNow();
    const int r = poll(p, 2, wait > 0 ? int(wait) : 0);
    if (r < 0 && errno != EINTR) fail(kHelperFailed, "poll failed", std::strerror(errno));
    return r <= 0 || (p[1].revents & (POLLERR | POLLHUP)) == 0;
}

void reportCounters(pcap_t* h) {
    struct pcap_stat s {};
    if (pcap_stats(h, &s) != 0) return;
    HelperCountersLine counters;
    counters.received = s.ps_recv;
    counters.dropped = s.ps_drop;
    counters.interfaceDropped = s.ps_ifdrop;
    char line[kHelperLongestLine];
    const int n = formatCountersLine(line, sizeof line, counters);
    if (write(kHelperCountersFd, line, std::size_t(n)) < 0 && errno == EPIPE) finish(kHelperOk);
}

void runFrames(pcap_t* h) {
    const bool counters = fcntl(kHelperCountersFd, F_GETFD) != -1;
    pcap_dumper_t* dump = pcap_dump_fopen(h, stdout);
    if (!dump) fail(kHelperFailed, "cannot write the stream", pcap_geterr(h));
    g_dump = dump;
    if (pcap_dump_flush(dump) != 0) finish(kHelperOk);  // the header, at once
    long long reportAt = millisecondsNow() + kHelperReportMs;
    while (waitForWork(h, reportAt)) {
        const int n = pcap_dispatch(h, -1, pcap_dump, reinterpret_cast<u_char*>(dump));
        if (n < 0) fail(kHelperFailed, "capture failed", pcap_geterr(h));
        if (n > 0 && pcap_dump_flush(dump) != 0) break;  // the reader went away
        if (millisecondsNow() >= reportAt) {
            if (counters) reportCounters(h);
            reportAt += kHelperReportMs;
        }
    }
    finish(kHelperOk);
}

void countFrame(u_char* user, const pcap_pkthdr* header, const u_char*) {
    HelperRateLine* c = reinterpret_cast<HelperRateLine*>(user);
    c->packets += 1;
    c->bytes += header->len;
}

void runRates(pcap_t* h) {
    HelperRateLine count;
    long long reportAt = millisecondsNow() + kHelperReportMs;
    while (waitForWork(h, reportAt)) {
        if (pcap_dispatch(h, -1, countFrame, reinterpret_cast<u_char*>(&count)) < 0)
            fail(kHelperFailed, "capture failed", pcap_geterr(h));
        if (millisecondsNow() < reportAt) continue;
        timeval now{};
        gettimeofday(&now, nullptr);
        count.seconds = (long long)now.tv_sec;
        count.micros = (long)now.tv_usec;
        char line[kHelperLongestLine];
        const int n = formatRateLine(line, sizeof line, count);
        if (n < 0 || std::fwrite(line, 1, std::size_t(n), stdout) != std::size_t(n) ||
            std::fflush(stdout) != 0)
            break;
        count = HelperRateLine();
        reportAt += kHelperReportMs;
    }
    finish(kHelperOk);
}

}  // namespace

int main(int argc, char** argv) {
    // A reader that goes away is the normal end: writes fail with EPIPE instead of a signal.
    std::signal(SIGPIPE, SIG_IGN);
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("tessel-capture %s\n", TESSEL_VERSION);
        return kHelperOk;
    }
    HelperArguments args;
    const char* why = nullptr;
    if (!parseHelperArguments(argc, argv, &args, &why)) {
        std::fprintf(stderr,
                     "tessel-capture: %s (usage: tessel-capture frames|rates|check ADAPTER "
                     "[FILTER])\n",
                     why);
        return kHelperUsage;
    }
    pcap_t* h = openAdapter(args);
    dropRights();
    applyFilter(h, args.filter);
    if (args.mode == HelperMode::Check) finish(kHelperOk);
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    if (pcap_setnonblock(h, 1, errbuf) != 0 || pcap_get_selectable_fd(h) < 0)
        fail(kHelperFailed, "cannot wait for frames", errbuf);
    if (args.mode == HelperMode::Frames) runFrames(h);
    runRates(h);
    finish(kHelperOk);
}
