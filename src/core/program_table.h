#pragma once
// Which program owns each TCP and UDP flow of this host, and what each flow carried in the last
// minute. The run (runTessel) owns one: the capture thread notes packets, the owner worker sets
// owners, the main thread reads them for the information panel and the scene dump. One plain
// lock, taken once by every operation. Any thread, as each function says.
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace tessel {

// The two ends of a flow, the side that sent its first packet first.
struct FlowEnds {
    int protocol = 6;  // IPPROTO_TCP or IPPROTO_UDP
    std::string source, destination;
    int sourcePort = 0, destinationPort = 0;
};

struct ProgramOwner {
    enum class Kind : std::uint8_t {
        Pending,    // not looked for yet
        Named,      // a process we may see: name and pid
        OtherUser,  // a socket of another user, whose processes we may not see: uid
        NotKnown,   // no socket of this host, or one no process holds any more
    };
    Kind kind = Kind::Pending;
    std::string name;
    int pid = 0;
    std::uint32_t uid = 0;
};

// The panel's words: "firefox (pid 4242)", "another user's program (uid 65534)", "not known".
std::string ownerText(const ProgramOwner& owner);

// What one program carried in the last minute.
struct ProgramUse {
    ProgramOwner owner;
    std::uint64_t bytes = 0, packets = 0;
};

// How the flows' owners stand (the scene dump's "programs" line).
struct ProgramCounts {
    std::uint64_t flows = 0;                               // flows seen since the start
    std::uint64_t named = 0, otherUser = 0, notKnown = 0;  // owners set, by kind, since the start
    std::uint64_t refused = 0;                             // flows not kept: the table was full
    std::uint64_t dropped = 0;  // look-ups dropped: the worker's queue was full
};

class cProgramTable {
  public:
    using Clock = std::chrono::steady_clock;
    // Flows kept at once; past it new flows are neither looked up nor counted in the minute.
    static constexpr std::size_t kFlowLimit = 65536;
    // Look-ups that found no owner are tried again this many times, while the flow is active.
    static constexpr int kAttempts = 4;

    // Whether owners are looked for: only for a live capture of this host's own adapter. Set on
    // the main thread before the capture starts.
    void setLive(bool live) { live_ = live; }
    bool live() const { return live_; }

    // Capture thread: one packet of a TCP or UDP flow of `bytes` (IP length); `closes`: a FIN or
    // RST. True when the flow is new, so its owner is to be looked for.
    bool notePacket(const FlowEnds& ends, int bytes, bool closes, Clock::time_point now);
    // Owner worker. Without `retry` the flow is not looked up again.
    void setOwner(const FlowEnds& ends, const ProgramOwner& owner, bool retry);
    // Up to `most` flows active in the last ten seconds whose owner is still to be found: never
    // looked for after a second (their look-up was dropped), or not found and not yet tried
    // kAttempts times. Each one returned counts as an attempt.
    std::vector<FlowEnds> unresolved(Clock::time_point now, std::size_t most);
    void countDroppedLookUp();

    // Main thread (any thread may call them).
    ProgramOwner ownerOf(const FlowEnds& ends) const;
    // The `most` programs that carried the most bytes in the last minute, most first.
    std::vector<ProgramUse> busiest(Clock::time_point now, std::size_t most) const;
    ProgramCounts counts() const;

  private:
    struct Bucket {
        std::int64_t slot = -1;  // ten-second slot of the clock
        std::uint64_t bytes = 0, packets = 0;
    };
    struct Flow {
        FlowEnds ends;
        ProgramOwner owner;
        Clock::time_point first, last;
        bool closed = false;
        int attempts = 0;
        std::array<Bucket, 6> minute;
    };

    static std::string keyOf(const FlowEnds& ends);
    void sweep(Clock::time_point now);

    mutable std::mutex lock_;
    bool live_ = false;
    std::unordered_map<std::string, Flow> flows_;
    ProgramCounts counts_;
    Clock::time_point nextSweep_{};
};

}  // namespace tessel
