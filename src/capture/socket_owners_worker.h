#pragma once
// Finding the program behind each TCP and UDP flow of this host, on a live capture of this host's
// own adapter: the kernel's socket table gives the socket's inode and user, the open files of the
// processes give the process. Neither runs on the capture thread nor on the main thread.
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/program_table.h"
#include "platform/socket_owners.h"

namespace tessel {

struct TrafficRecord;

// Socket inode -> the process that holds it. Looks in its cache first (checked with one
// readlink), then in the open files of the processes that held the last sockets found (a program
// making many connections is found without a walk), and only then walks the processes in /proc,
// newest first until found: at most kFullScansPerSecond times a second; each walk drops the
// processes that are gone. A walk reads only the descriptors of each process it did not read
// before, and skips a process whose number of open files is what it read; a walk that misses
// makes the next one read everything (a closed descriptor's number, taken again, can hide a new
// socket). One thread at a time.
class cSocketProcessCache {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kFullScansPerSecond = 20;
    static constexpr std::size_t kRecentProcesses = 8;
    static constexpr std::size_t kMostPlaces = 1 << 16;

    // `recentProcesses`: how many of the last holders are looked in before a walk.
    explicit cSocketProcessCache(std::string procRoot = "/proc",
                                 std::size_t recentProcesses = kRecentProcesses)
        : root_(std::move(procRoot)), recentLimit_(recentProcesses) {}

    struct Holder {
        int pid = 0;
        std::string name;
    };
    // The process holding socket `inode`; false when none we may see does (or a walk was due but
    // not yet allowed).
    bool find(std::uint32_t inode, Clock::time_point now, Holder* holder);
    // The holders of several sockets: `each` for every one found. As find, but the walk goes on
    // until all are found, and one that misses does not make the next read everything.
    void findMany(std::vector<std::uint32_t> inodes, Clock::time_point now,
                  const std::function<void(std::uint32_t inode, const Holder& holder)>& each);
    // Reads the descriptors of every process once, ahead of any look-up: the walk that reads
    // thousands of sockets is made when the worker starts, and later walks read only what is new.
    void readEveryProcess(Clock::time_point now);

  private:
    struct Place {
        int pid = 0, fd = 0;
    };
    bool found(std::uint32_t inode, Holder* holder);
    void remember(int pid);
    // Reads the sockets among `pid`'s descriptors: all of them, or only those not read before.
    // How many sockets were read.
    int scanProcess(int pid, bool onlyNew);
    // Drops what is kept of the processes that are gone and gives the ids to walk, newest
    // first; none when a walk is not allowed yet.
    std::vector<int> beginWalk(Clock::time_point now);
    void forget(int pid, int fd);

    std::string root_;
    std::size_t recentLimit_;
    std::unordered_map<std::uint32_t, Place> places_;
    // Per process, the descriptor numbers whose links were read (sockets or not).
    std::unordered_map<int, std::unordered_set<int>> read_;
    bool readAllNext_ = false;
    std::vector<int> recent_;  // newest first
    Clock::time_point nextFullScan_{};
};

// This host's TCP and UDP sockets as the kernel's table last held them, read whole now and then
// off the capture and main threads: the owner of each socket new since the last reading is looked
// for while it is open, so that a connection closed before its own look-up (a short one, or one
// looked up late on a busy machine) is still matched, by its ends, to the socket it had and that
// socket's program. Sockets gone from the table are kept kKeep. One thread at a time.
class cSocketHistory {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kKeep{10};
    static constexpr std::size_t kMostSockets = 1 << 16;
    // Owners looked for per reading at most (the first reading finds every socket new).
    static constexpr int kMostLookUps = 256;

    // The tables: bit 0 TCP over IPv4, 1 TCP over IPv6, 2 UDP over IPv4, 3 UDP over IPv6.
    static constexpr unsigned kAllTables = 15;
    static unsigned tableOf(const FlowEnds& ends);
    // Reads the `tables`; the owners of new sockets of `self` (of anybody for root) are looked
    // for in `processes`, walking /proc at most once. False when the kernel did not answer.
    bool read(cSockDiag& diag, cSocketProcessCache& processes, std::uint32_t self,
              Clock::time_point now, unsigned tables = kAllTables);
    // The program found for the socket of exactly these ends while it was open.
    bool ownerOf(const SocketTuple& tuple, cSocketProcessCache::Holder* holder) const;
    // The same for a socket the kernel still has, by its inode.
    bool ownerOf(std::uint32_t inode, cSocketProcessCache::Holder* holder) const;
    std::size_t size() const { return sockets_.size(); }
    // The thread's CPU time the last reading of the tables took (its owners' look-ups apart).
    std::chrono::nanoseconds cost() const { return cost_; }
    // A look-up found this host's end closed by its program (the kernel still finishing the
    // connection) and not in the history: it came late.
    void noteLate(Clock::time_point now) { late_ = now; }
    Clock::time_point lastLate() const { return late_; }

  private:
    struct Seen {
        std::uint32_t inode = 0, uid = 0;
        Clock::time_point last;
        bool named = false;
        cSocketProcessCache::Holder holder;
    };
    static std::string keyOf(const SocketTuple& tuple);
    static std::chrono::nanoseconds threadTime();

    std::unordered_map<std::string, Seen> sockets_;
    std::chrono::nanoseconds cost_{};
    Clock::time_point late_{};
    std::unordered_map<std::uint32_t, std::string> byInode_;  // the named ones
};

// The owner of one flow: this host's end is looked up in the socket table (either end may be
// this host's; the sender of the first packet is tried first). A socket the kernel has not yet
// handed to a program (a connection waiting to be accepted) is the listener's. A socket that no
// process we may see holds is "another user's program" when its user is not `self`; otherwise
// not known. Another user's sockets are not looked for unless `self` is root. A socket the
// kernel no longer holds for a program (closed, or gone) is named from `history` when given,
// which learns of look-ups that came too late.
// `retry` says whether a later look-up may know more.
ProgramOwner findFlowOwner(cSockDiag& diag, cSocketProcessCache& processes,
                           const std::vector<HostAddress>& host, const FlowEnds& ends,
                           std::uint32_t self, cSocketProcessCache::Clock::time_point now,
                           bool* retry, cSocketHistory* history = nullptr);

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
