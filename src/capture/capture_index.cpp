#include "capture/capture_index.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <cstdio>

#include "core/replay_state.h"
#include "platform/process.h"

namespace tessel {

namespace {

constexpr std::int64_t kSecondUs = 1'000'000;
// The timeline is told about progress every this many frames, and at the end.
constexpr std::uint64_t kPublishEvery = 1u << 16;
// The timeline's traffic is kept in at most this many slices of equal length: a second each
// while the capture is short enough, then twice as long each time it would overflow (a file
// whose time stamps jump by years must not ask for a slice per second).
constexpr std::size_t kMostSlices = 1u << 16;

}  // namespace

cCaptureIndex::cCaptureIndex(const std::string& path, ReplayTimeline* timeline)
    : timeline_(timeline) {
    if (timeline_) timeline_->clear();
    thread_ = std::thread([this, path] {
        nameThisThread("tessel-index");
        build(path);
    });
}

cCaptureIndex::~cCaptureIndex() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
}

void cCaptureIndex::build(const std::string& path) {
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    pcap_t* handle = pcap_open_offline(path.c_str(), errbuf);
    FILE* file = handle ? pcap_file(handle) : nullptr;
    std::vector<std::uint64_t> sliceBytes;
    std::int64_t sliceUs = kSecondUs;
    std::int64_t first = -1, last = -1, nextSecond = 0;
    std::uint64_t frames = 0;
    auto publish = [&](bool done) {
        if (timeline_ && first >= 0) timeline_->publish(first, last, sliceBytes, done);
    };
    while (file && !stop_.load(std::memory_order_relaxed)) {
        // libpcap reads each record (each pcapng block) whole from the file, with no read-ahead:
        // where the file stands before a read is where the next frame's record starts.
        const long long offset = std::ftell(file);
        pcap_pkthdr* header = nullptr;
        const u_char* data = nullptr;
        if (offset < 0 || pcap_next_ex(handle, &header, &data) != 1) break;
        const std::int64_t at = std::int64_t(header->ts.tv_sec) * kSecondUs + header->ts.tv_usec;
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (first < 0) {
                first = firstUs_ = at;
                nextSecond = at;
                grown_.notify_all();  // start-up may wait for the first time stamp
            }
            // Time stamps that run backwards (a merged file) add no entry out of order.
            if (at >= nextSecond) {
                entries_.push_back(Entry{at, offset});
                nextSecond = at - (at - first) % kSecondUs + kSecondUs;
            }
            last = lastUs_ = std::max(lastUs_, at);
        }
        if (at >= first) {
            while (std::uint64_t((at - first) / sliceUs) >= kMostSlices) {
                for (std::size_t i = 0; i < sliceBytes.size(); ++i)
                    sliceBytes[i / 2] = (i % 2 ? sliceBytes[i / 2] : 0) + sliceBytes[i];
                sliceBytes.resize((sliceBytes.size() + 1) / 2);
                sliceUs *= 2;
            }
            const std::size_t slice = std::size_t((at - first) / sliceUs);
            if (slice >= sliceBytes.size()) sliceBytes.resize(slice + 1, 0);
            sliceBytes[slice] += header->len;
        }
        if (++frames % kPublishEvery == 0) {
            publish(false);
            grown_.notify_all();
        }
    }
    if (handle) pcap_close(handle);
    // The timeline first, so that whoever waits for the whole index finds it complete too.
    publish(true);
    {
        std::lock_guard<std::mutex> guard(lock_);
        complete_.store(true);
    }
    grown_.notify_all();
}

bool cCaptureIndex::entryBefore(std::int64_t timeUs, Entry* out) const {
    std::lock_guard<std::mutex> guard(lock_);
    if (entries_.empty()) return false;
    auto it = std::upper_bound(entries_.begin(), entries_.end(), timeUs,
                               [](std::int64_t t, const Entry& e) { return t < e.timeUs; });
    *out = it == entries_.begin() ? entries_.front() : *std::prev(it);
    return true;
}

bool cCaptureIndex::span(std::int64_t* firstUs, std::int64_t* lastUs) const {
    std::lock_guard<std::mutex> guard(lock_);
    if (firstUs_ < 0) return false;
    *firstUs = firstUs_;
    *lastUs = lastUs_;
    return true;
}

bool cCaptureIndex::waitToCover(std::int64_t timeUs) const {
    std::unique_lock<std::mutex> guard(lock_);
    grown_.wait(guard, [&] { return complete_.load() || (firstUs_ >= 0 && lastUs_ >= timeUs); });
    return firstUs_ >= 0 && lastUs_ >= timeUs;
}

}  // namespace tessel
