#pragma once
// Finding the program behind each TCP and UDP flow of this host, on a live capture of this host's
// own adapter: the kernel's socket table gives the socket's inode and user, the open files of the
// processes give the process. Neither runs on the capture thread nor on the main thread.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "core/program_table.h"
#include "platform/socket_owners.h"

namespace tessel {

struct TrafficRecord;

// Socket inode -> the process that holds it. Looks in its cache first (checked with one
// readlink), then in the open files of the processes that held the last sockets found (a program
// making many connections is found without a walk), and only then walks the processes in /proc,
// newest first until found: at most kFullScansPerSecond times a second; each walk drops the
// processes that are gone. One thread at a time.
class cSocketProcessCache {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kFullScansPerSecond = 20;
    static constexpr std::size_t kRecentProcesses = 8;
    static constexpr std::size_t kMostPlaces = 1 << 16;

    explicit cSocketProcessCache(std::string procRoot = "/proc") : root_(std::move(procRoot)) {}

    struct Holder {
        int pid = 0;
        std::string name;
    };
    // The process holding socket `inode`; false when none we may see does (or a walk was due but
    // not yet allowed).
    bool find(std::uint32_t inode, Clock::time_point now, Holder* holder);

  private:
    struct Place {
        int pid = 0, fd = 0;
    };
    bool found(std::uint32_t inode, Holder* holder);
    void remember(int pid);
    void scanProcess(int pid);

    std::string root_;
    std::unordered_map<std::uint32_t, Place> places_;
    std::vector<int> recent_;  // newest first
    Clock::time_point nextFullScan_{};
};

// The owner of one flow: this host's end is looked up in the socket table (either end may be
// this host's; the sender of the first packet is tried first). A socket the kernel has not yet
// handed to a program (a connection waiting to be accepted) is the listener's. A socket that no
// process we may see holds is "another user's program" when its user is not `self`; otherwise
// not known. `retry` says whether a later look-up may know more.
ProgramOwner findFlowOwner(cSockDiag& diag, cSocketProcessCache& processes,
                           const std::vector<HostAddress>& host, const FlowEnds& ends,
                           std::uint32_t self, cSocketProcessCache::Clock::time_point now,
                           bool* retry);

// The worker thread that looks owners up, owned by the capture session of a live capture. The
// capture thread notes every TCP and UDP packet (never waiting on the worker: a full queue drops
// the look-up, counted); the thread answers new flows at once, tries flows without an owner
// again twice a second, and writes every owner into the table.
class cSocketOwnersWorker {
  public:
    static constexpr const char* kThreadName = "tessel-owners";
    static constexpr std::size_t kQueueLimit = 4096;

    explicit cSocketOwnersWorker(cProgramTable& table) : table_(table) {}
    ~cSocketOwnersWorker() { stop(); }
    cSocketOwnersWorker(const cSocketOwnersWorker&) = delete;
    cSocketOwnersWorker& operator=(const cSocketOwnersWorker&) = delete;

    // Main thread.
    void start();
    void stop();
    // Capture thread: one decoded TCP or UDP packet; `closes` for FIN or RST.
    void notePacket(const TrafficRecord& record, bool closes);

  private:
    void run();

    cProgramTable& table_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<FlowEnds> queue_;
    bool stopping_ = false;
    std::atomic<bool> leaving_{false};  // stopping_, read between look-ups without the lock
    std::thread thread_;
};

}  // namespace tessel
