#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tessel {

class ReplayTimeline;

// Where in a capture file (pcap or pcapng) each second of capture time starts: one entry for the
// first frame of every capture second, its time stamp and the file offset of its record (block),
// read on a thread of its own through libpcap, which the index owns and joins. Any thread may ask
// while it is built; what is indexed so far can be used at once.
class cCaptureIndex {
  public:
    struct Entry {
        std::int64_t timeUs = 0;
        long long offset = 0;
    };

    // Starts indexing `path`; `timeline` (may be null, outlives the index) is kept up to date
    // with the span and the bytes of each second.
    cCaptureIndex(const std::string& path, ReplayTimeline* timeline);
    ~cCaptureIndex();
    cCaptureIndex(const cCaptureIndex&) = delete;
    cCaptureIndex& operator=(const cCaptureIndex&) = delete;

    // The last entry at or before `timeUs` (the first entry when `timeUs` is earlier); false
    // while no frame is indexed.
    bool entryBefore(std::int64_t timeUs, Entry* out) const;
    // The first frame's time stamp and the newest indexed one; false while none is indexed.
    bool span(std::int64_t* firstUs, std::int64_t* lastUs) const;
    bool complete() const { return complete_.load(); }
    // Waits until the index reaches `timeUs` or the file's end; true when it reached it.
    bool waitToCover(std::int64_t timeUs) const;

  private:
    void build(const std::string& path);

    ReplayTimeline* timeline_;
    mutable std::mutex lock_;
    mutable std::condition_variable grown_;
    std::vector<Entry> entries_;
    std::int64_t firstUs_ = -1, lastUs_ = -1;
    std::atomic<bool> complete_{false};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace tessel
