#pragma once
#include <atomic>
#include <cstdint>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

namespace tessel {

// What is known of a replayed file's span while its index is built: the first frame's time, the
// newest indexed time and the bytes of each capture second, for the HUD's timeline. Written by
// the index thread, read by the main thread; one lock.
class ReplayTimeline {
  public:
    // Before the index starts: nothing known.
    void clear();
    // The index read up to `lastUs`; `sliceBytes` are the bytes of each slice of equal length
    // from the first frame on (the whole list so far; the timeline keeps its own copy).
    void publish(std::int64_t firstUs, std::int64_t lastUs,
                 const std::vector<std::uint64_t>& sliceBytes, bool complete);

    struct View {
        std::int64_t firstUs = -1;   // -1: no frame indexed yet
        std::int64_t lastUs = -1;    // the newest indexed time stamp
        bool complete = false;       // the whole file is indexed
        std::vector<float> buckets;  // traffic in equal slices of [firstUs, lastUs], 0 to 1
    };
    // The span so far, with `buckets` slices of its traffic (none when 0).
    View read(int buckets) const;

  private:
    mutable std::mutex lock_;
    std::int64_t firstUs_ = -1, lastUs_ = -1;
    bool complete_ = false;
    std::vector<std::uint64_t> sliceBytes_;
};

// What the user controls of a replay and what the HUD shows of it. Set up by start-up before the
// replay thread starts; then the main thread writes the controls and the replay thread the
// progress, each value alone.
struct ReplayState {
    bool active = false;    // set once at start-up, before any thread reads it
    std::string source;     // the file's name, or "standard input"; set with `active`
    bool seekable = false;  // a file; standard input cannot seek. Set with `active`

    static constexpr double kSlowest = 0.01;
    static constexpr double kFastest = 1000.0;
    std::atomic<double> speed{1.0};  // capture seconds per wall-clock second
    std::atomic<bool> paused{false};

    // The capture time the user asked to go to; the replay thread takes it (kNoSeek) and hands
    // the scene of that moment to the main thread.
    static constexpr std::int64_t kNoSeek = std::numeric_limits<std::int64_t>::min();
    std::atomic<std::int64_t> seekToUs{kNoSeek};

    std::atomic<std::int64_t> captureClockUs{-1};  // time stamp of the newest frame released
    std::atomic<int> progressPermille{-1};         // through the file; -1 for a stream
    std::atomic<bool> finished{false};

    ReplayTimeline timeline;  // a file's span, from its index
};

// The process's replay; inactive while capturing live.
ReplayState& replayState();

// `speed` kept within ReplayState's bounds.
double clampReplaySpeed(double speed);

// What a seek request came to.
enum class SeekAsk { Asked, NotReplaying, NotSeekable, NotIndexed };
// Asks the replay thread to go to `targetUs` (kept within the indexed span; *targetUs gives where
// it asks for). Main thread.
SeekAsk askReplaySeek(ReplayState& state, std::int64_t* targetUs);
// Asks to go `deltaUs` from where the replay stands (or from the seek still waiting).
SeekAsk askReplaySeekBy(ReplayState& state, std::int64_t deltaUs, std::int64_t* targetUs);

}  // namespace tessel
