#pragma once
// Writes recorded packets into the intel folder, where the intel reader takes them again. Files
// are written under a dot-name in the same folder and linked into place without replacing an
// existing file, so a reader never sees half a record and no record overwrites another.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "capture/intel_folder.h"
#include "core/traffic_record.h"

namespace tessel {

// The text of one file holding `records`, one "anode" line each, between the XML declaration,
// "<map>" and "</map>". With one record it is the four lines of a single-record file.
std::string intelFileContent(const TrafficRecord& record);
std::string intelFileContent(const std::vector<TrafficRecord>& records);

// Records counted as linked into place and as lost to a failed write (the capture thread counts;
// any thread reads them, and the scene dump shows them).
struct IntelWriteCounters {
    std::atomic<std::uint64_t> written{0};
    std::atomic<std::uint64_t> lost{0};
};

// One file "<folder>/anode.<draw><draw>.xml" with `records`, linked into place at once. On a
// name clash two new numbers are drawn. False when it could not be written. Any thread.
bool writeIntelRecords(const std::vector<TrafficRecord>& records,
                       const std::string& folder = intelFolder);

// The capture thread's writer. While records arrive slower than one per kBatchWindow, each is
// written alone the moment it arrives: one record per file. When they come faster they are
// gathered, and their file is linked into place when it holds kRecordsPerFile records or
// kBatchWindow after its first record, whichever comes first; the caller's loop wakes for
// deadline() and calls flushIfDue. Times come from the caller, so tests drive them. One thread.
class cIntelWriter {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kBatchWindow{50};
    // Chosen by measurement (bench/README.md, figure 3): past this, bigger files save the reader
    // and the writer almost nothing more.
    static constexpr std::size_t kRecordsPerFile = 64;

    explicit cIntelWriter(std::string folder = intelFolder);
    ~cIntelWriter();
    cIntelWriter(const cIntelWriter&) = delete;
    cIntelWriter& operator=(const cIntelWriter&) = delete;

    void write(const TrafficRecord& record, Clock::time_point now);
    bool hasPending() const { return !pending_.empty(); }
    // When the gathered records must be in place; meaningful while hasPending().
    Clock::time_point deadline() const { return deadline_; }
    void flushIfDue(Clock::time_point now);
    void flush();
    // What this writer has linked into place and lost so far.
    const IntelWriteCounters& counters() const { return counters_; }

  private:
    std::string folder_;
    std::vector<TrafficRecord> pending_;
    Clock::time_point deadline_{};
    Clock::time_point lastArrival_{};
    bool anyArrival_ = false;
    IntelWriteCounters counters_;
};

}  // namespace tessel
