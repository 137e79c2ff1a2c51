#pragma once
// Reads the record files of the intel folder back, on the intel reader thread: lists, reads and
// deletes them and hands their records to the main thread through the hand-off channel.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include "capture/intel_folder.h"
#include "core/traffic_record.h"

namespace tessel {

class HandOffChannel;

// The records of one file's text, in document order: one per "anode" element. A text that is
// not the plain XML our files hold gives none. Pure; any thread (the fuzzer drives it).
std::vector<TrafficRecord> parseIntelText(const char* data, std::size_t length);

// One pass over `folder`: each regular file whose name does not start with "." is read (any
// name, with or without ".xml"; one of more than 1 MiB counts as holding none); its records go to
// `sink` in file order and the file is deleted when it held at least one. A file without a record
// stays and is read again by a later pass. No further file is opened once `recordBudget` records
// have been handed out. Gives false when the folder cannot be listed. Any thread (touches only the
// folder).
bool consumeIntelFolder(const std::string& folder,
                        const std::function<void(const TrafficRecord&)>& sink,
                        std::size_t recordBudget = std::numeric_limits<std::size_t>::max());

// The intel reader thread. Each pass moves what the folder holds into the channel while the
// channel has room; when the main thread falls behind it stops reading, so the folder stays the
// buffer and nothing is dropped. A folder that cannot be listed is reported to the channel (the
// main thread ends the process) and the thread ends.
class cIntelReaderWorker {
  public:
    static constexpr std::chrono::milliseconds kPassPeriod{20};

    cIntelReaderWorker(std::string folder, HandOffChannel& channel);
    // Thread body: passes every kPassPeriod until requestStop().
    void run();
    // Any thread; run() returns promptly.
    void requestStop();
    // One pass (run() makes them; tests call it directly). False when the folder is missing.
    bool pass();
    // Records this reader has taken out of the folder. Any thread.
    std::uint64_t recordsRead() const { return recordsRead_.load(std::memory_order_relaxed); }

  private:
    std::string folder_;
    HandOffChannel& channel_;
    std::mutex lock_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::atomic<std::uint64_t> recordsRead_{0};
};

}  // namespace tessel
