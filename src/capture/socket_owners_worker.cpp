#include "capture/socket_owners_worker.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <unordered_set>

#include "core/traffic_record.h"
#include "platform/process.h"

namespace tessel {

namespace {

// The kernel's socket states that matter here (include/net/tcp_states.h).
constexpr int kEstablished = 1;
constexpr int kSynReceived = 3;
constexpr int kTimeWait = 6;
constexpr int kListen = 10;

bool isHostAddress(const std::vector<HostAddress>& host, int family,
                   const std::array<std::uint8_t, 16>& bytes) {
    if (family == AF_INET && bytes[0] == 127) return true;  // all of 127/8 is loopback's
    HostAddress a;
    a.family = family;
    a.bytes = bytes;
    return std::find(host.begin(), host.end(), a) != host.end();
}

}  // namespace

bool cSocketProcessCache::found(std::uint32_t inode, Holder* holder) {
    auto it = places_.find(inode);
    if (it == places_.end()) return false;
    const Place place = it->second;
    // Inodes are not reused soon, but a closed descriptor number may be: check the link.
    if (!processHoldsSocket(place.pid, place.fd, inode, root_)) {
        places_.erase(it);
        forget(place.pid, place.fd);  // read it again: it may hold another socket now
        return false;
    }
    holder->pid = place.pid;
    holder->name = processName(place.pid, root_);
    if (holder->name.empty()) return false;  // gone meanwhile
    remember(place.pid);
    return true;
}

void cSocketProcessCache::remember(int pid) {
    if (recentLimit_ == 0) return;
    auto it = std::find(recent_.begin(), recent_.end(), pid);
    if (it != recent_.end()) recent_.erase(it);
    recent_.insert(recent_.begin(), pid);
    if (recent_.size() > recentLimit_) recent_.pop_back();
}

void cSocketProcessCache::forget(int pid, int fd) {
    auto it = read_.find(pid);
    if (it != read_.end()) it->second.erase(fd);
}

int cSocketProcessCache::scanProcess(int pid, bool onlyNew) {
    std::unordered_set<int>& known = read_[pid];
    // Without a descriptor number more than were read, a process has no new one to read (the
    // count is one stat; its folder alone costs about a microsecond a descriptor).
    if (onlyNew && !known.empty() &&
        countProcessFiles(pid, root_) == static_cast<int>(known.size()))
        return 0;
    std::unordered_set<int> present;
    int sockets = 0;
    const bool read = forEachProcessSocket(
        pid,
        [&](int fd, std::uint32_t inode) {
            places_[inode] = Place{pid, fd};
            ++sockets;
        },
        root_,
        [&](int fd) {
            present.insert(fd);
            return onlyNew && known.count(fd) > 0;
        });
    if (read)
        known.swap(present);
    else
        read_.erase(pid);
    return sockets;
}

std::vector<int> cSocketProcessCache::beginWalk(Clock::time_point now) {
    if (now < nextFullScan_) return {};
    nextFullScan_ = now + std::chrono::milliseconds(1000 / kFullScansPerSecond);
    std::vector<int> pids = listProcessIds(root_);
    const std::unordered_set<int> alive(pids.begin(), pids.end());
    // Processes that are gone drop out; so does everything, once too many closed sockets linger.
    if (places_.size() > kMostPlaces) {
        places_.clear();
        read_.clear();
    }
    for (auto it = places_.begin(); it != places_.end();)
        it = alive.count(it->second.pid) ? std::next(it) : places_.erase(it);
    for (auto it = read_.begin(); it != read_.end();)
        it = alive.count(it->first) ? std::next(it) : read_.erase(it);
    recent_.erase(std::remove_if(recent_.begin(), recent_.end(),
                                 [&](int pid) { return alive.count(pid) == 0; }),
                  recent_.end());
    // The newest processes first (a new connection is most often a new program's).
    std::sort(pids.begin(), pids.end(), std::greater<int>());
    return pids;
}

bool cSocketProcessCache::find(std::uint32_t inode, Clock::time_point now, Holder* holder) {
    if (inode == 0) return false;
    if (found(inode, holder)) return true;
    const std::vector<int> recent = recent_;
    for (int pid : recent) {
        scanProcess(pid, false);
        if (found(inode, holder)) return true;
    }
    const std::vector<int> pids = beginWalk(now);
    if (pids.empty()) return false;
    const bool onlyNew = !readAllNext_;
    readAllNext_ = false;
    for (int pid : pids) {
        scanProcess(pid, onlyNew);
        if (places_.count(inode) && found(inode, holder)) return true;
    }
    readAllNext_ = onlyNew;
    return false;
}

void cSocketProcessCache::findMany(std::vector<std::uint32_t> inodes, Clock::time_point now,
                                   const std::function<void(std::uint32_t, const Holder&)>& each) {
    // Keeps the sockets not found yet; true when none is left.
    auto sift = [&] {
        inodes.erase(std::remove_if(inodes.begin(), inodes.end(),
                                    [&](std::uint32_t inode) {
                                        Holder h;
                                        if (!places_.count(inode) || !found(inode, &h))
                                            return false;
                                        each(inode, h);
                                        return true;
                                    }),
                     inodes.end());
        return inodes.empty();
    };
    if (sift()) return;
    const std::vector<int> recent = recent_;
    for (int pid : recent)
        if (scanProcess(pid, false) > 0 && sift()) return;
    for (int pid : beginWalk(now))
        if (scanProcess(pid, !readAllNext_) > 0 && sift()) return;
    // What is left may be nobody's (a socket of the kernel's own): no walk of everything for it.
}

void cSocketProcessCache::readEveryProcess(Clock::time_point now) {
    for (int pid : beginWalk(now)) scanProcess(pid, true);
    nextFullScan_ = {};  // not a look-up's walk: the first look-up may walk at once
}

namespace {

bool isV4Mapped(const std::array<std::uint8_t, 16>& a) {
    static constexpr std::uint8_t kPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    return std::equal(kPrefix, kPrefix + 12, a.begin());
}

bool isZero(const std::array<std::uint8_t, 16>& a) {
    return std::all_of(a.begin(), a.end(), [](std::uint8_t b) { return b == 0; });
}

}  // namespace

std::chrono::nanoseconds cSocketHistory::threadTime() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

std::string cSocketHistory::keyOf(const SocketTuple& tuple) {
    SocketTuple t = tuple;
    // An IPv6 socket carrying IPv4 shows its ends as ::ffff:a.b.c.d; the flow knows a.b.c.d.
    if (t.family == AF_INET6 && isV4Mapped(t.local) && (isV4Mapped(t.remote) || isZero(t.remote))) {
        t.family = AF_INET;
        std::array<std::uint8_t, 16> local{}, remote{};
        std::copy(t.local.begin() + 12, t.local.end(), local.begin());
        if (!isZero(t.remote)) std::copy(t.remote.begin() + 12, t.remote.end(), remote.begin());
        t.local = local;
        t.remote = remote;
    }
    std::string key(38, '\0');
    key[0] = static_cast<char>(t.protocol);
    key[1] = static_cast<char>(t.family);
    std::copy(t.local.begin(), t.local.end(), key.begin() + 2);
    std::copy(t.remote.begin(), t.remote.end(), key.begin() + 18);
    key[34] = static_cast<char>(t.localPort >> 8);
    key[35] = static_cast<char>(t.localPort & 0xFF);
    key[36] = static_cast<char>(t.remotePort >> 8);
    key[37] = static_cast<char>(t.remotePort & 0xFF);
    return key;
}

unsigned cSocketHistory::tableOf(const FlowEnds& ends) {
    const bool v6 = ends.source.find(':') != std::string::npos;
    return 1u << ((ends.protocol == IPPROTO_UDP ? 2 : 0) + (v6 ? 1 : 0));
}

bool cSocketHistory::read(cSockDiag& diag, cSocketProcessCache& processes, std::uint32_t self,
                          Clock::time_point now, unsigned tables) {
    if (sockets_.size() > kMostSockets) {
        sockets_.clear();
        byInode_.clear();
    }
    std::vector<std::pair<const std::string*, Seen*>> fresh;
    const auto started = threadTime();
    auto each = [&](const SocketTuple& t, const SocketEntry& e) {
        if (e.inode == 0) return;  // no file holds it: no program to learn
        auto& [key, seen] = *sockets_.try_emplace(keyOf(t)).first;
        seen.last = now;
        if (seen.inode == e.inode) return;
        if (seen.named) byInode_.erase(seen.inode);
        seen = Seen{};
        seen.inode = e.inode;
        seen.uid = e.uid;
        seen.last = now;
        if ((self == 0 || e.uid == self) && fresh.size() < kMostLookUps)
            fresh.emplace_back(&key, &seen);
    };
    bool whole = true;
    for (int table = 0; table < 4; ++table)
        if (tables & (1u << table))
            whole &= diag.dump(table < 2 ? IPPROTO_TCP : IPPROTO_UDP,
                               table % 2 ? AF_INET6 : AF_INET, each);
    cost_ = threadTime() - started;
    std::unordered_map<std::uint32_t, std::pair<const std::string*, Seen*>> byInode;
    std::vector<std::uint32_t> inodes;
    for (const auto& [key, seen] : fresh) {
        byInode.emplace(seen->inode, std::make_pair(key, seen));
        inodes.push_back(seen->inode);
    }
    processes.findMany(std::move(inodes), now,
                       [&](std::uint32_t inode, const cSocketProcessCache::Holder& h) {
                           const auto& [key, seen] = byInode.at(inode);
                           seen->named = true;
                           seen->holder = h;
                           byInode_[inode] = *key;
                       });
    if (whole)
        for (auto it = sockets_.begin(); it != sockets_.end();) {
            if (now - it->second.last <= kKeep) {
                ++it;
                continue;
            }
            if (it->second.named) byInode_.erase(it->second.inode);
            it = sockets_.erase(it);
        }
    return whole;
}

bool cSocketHistory::ownerOf(const SocketTuple& tuple, cSocketProcessCache::Holder* holder) const {
    auto named = [&](const SocketTuple& t) {
        auto it = sockets_.find(keyOf(t));
        if (it == sockets_.end() || !it->second.named) return false;
        *holder = it->second.holder;
        return true;
    };
    if (named(tuple)) return true;
    if (tuple.protocol != IPPROTO_UDP) return false;
    // An unconnected UDP socket: bound to this end's address, or to any.
    SocketTuple bound = tuple;
    bound.remote.fill(0);
    bound.remotePort = 0;
    if (named(bound)) return true;
    bound.local.fill(0);
    return named(bound);
}

bool cSocketHistory::ownerOf(std::uint32_t inode, cSocketProcessCache::Holder* holder) const {
    auto it = byInode_.find(inode);
    if (it == byInode_.end()) return false;
    auto seen = sockets_.find(it->second);
    if (seen == sockets_.end() || !seen->second.named) return false;
    *holder = seen->second.holder;
    return true;
}

ProgramOwner findFlowOwner(cSockDiag& diag, cSocketProcessCache& processes,
                           const std::vector<HostAddress>& host, const FlowEnds& ends,
                           std::uint32_t self, cSocketProcessCache::Clock::time_point now,
                           bool* retry, cSocketHistory* history) {
    *retry = false;
    ProgramOwner owner;
    owner.kind = ProgramOwner::Kind::NotKnown;
    bool seen = false;  // a socket of this host, whose owner we did not find
    std::uint32_t seenUid = 0, seenInode = 0;
    auto take = [&](const cSocketProcessCache::Holder& holder) {
        owner.kind = ProgramOwner::Kind::Named;
        owner.name = holder.name;
        owner.pid = holder.pid;
        return true;
    };
    auto named = [&](std::uint32_t inode, std::uint32_t uid) {
        // Without root another user's open files cannot be read: no walk for their sockets.
        if (self != 0 && uid != self) return false;
        cSocketProcessCache::Holder holder;
        if (processes.find(inode, now, &holder) || (history && history->ownerOf(inode, &holder)))
            return take(holder);
        return false;
    };
    // The socket these ends had while it was open (the kernel no longer gives it to a file).
    // `closed`: the kernel still has it, closed by its program, so the look-up came late.
    auto had = [&](const SocketTuple& t, bool closed) {
        cSocketProcessCache::Holder holder;
        if (!history) return false;
        if (history->ownerOf(t, &holder)) return take(holder);
        if (closed) history->noteLate(now);
        return false;
    };
    for (int side = 0; side < 2; ++side) {
        SocketTuple t;
        const bool fromSource = side == 0;
        if (!socketTupleFromText(ends.protocol, fromSource ? ends.source : ends.destination,
                                 fromSource ? ends.sourcePort : ends.destinationPort,
                                 fromSource ? ends.destination : ends.source,
                                 fromSource ? ends.destinationPort : ends.sourcePort, &t))
            return owner;
        // Only this host's end can be asked for: the kernel would answer a stranger's
        // connection with a listener or an unconnected socket on the same port.
        if (!isHostAddress(host, t.family, t.local)) continue;
        SocketEntry e;
        if (!diag.find(t, &e) || (ends.protocol == IPPROTO_TCP && e.state == kListen)) {
            // Gone, or never there (a refused connection): not counted as late.
            if (had(t, false)) return owner;
            continue;
        }
        if (e.inode != 0 && named(e.inode, e.uid)) return owner;
        // Closed, not yet gone (or not yet accepted: a connection in the listener's queue).
        if (e.inode == 0 && had(t, e.state != kEstablished && e.state != kSynReceived))
            return owner;
        if (e.inode == 0 && ends.protocol == IPPROTO_TCP && e.state != kTimeWait) {
            // Not accepted yet: the program listening on this end will take it.
            SocketTuple listening = t;
            listening.remote.fill(0);
            listening.remotePort = 0;
            SocketEntry l;
            if (diag.find(listening, &l) && l.state == kListen && l.inode != 0) {
                if (named(l.inode, l.uid)) return owner;
                e = l;
            }
        }
        if (!seen) {
            seen = true;
            seenUid = e.uid;
            seenInode = e.inode;
        }
        // A socket some file holds is this end's owner, named or not: the far end's program
        // (on a connection within this host) is not the answer.
        if (e.inode != 0) break;
    }
    if (!seen) return owner;
    if (seenInode != 0 && seenUid != self) {
        owner.kind = ProgramOwner::Kind::OtherUser;
        owner.uid = seenUid;
        return owner;
    }
    *retry = true;  // ours, but not found yet (a walk was due), or not yet accepted
    return owner;
}

void cSocketOwnersWorker::start() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stopping_ = false;
    }
    leaving_.store(false);
    thread_ = std::thread([this] {
        nameThisThread(kThreadName);
        run();
    });
}

void cSocketOwnersWorker::stop() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
    }
    leaving_.store(true);
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void cSocketOwnersWorker::notePacket(const TrafficRecord& r, bool closes) {
    FlowEnds ends{r.tcp ? IPPROTO_TCP : IPPROTO_UDP, r.src, r.dst, r.srcport, r.dstport};
    // The record keeps the IP length with its two bytes swapped.
    const int bytes = ((r.size & 0xFF) << 8) | ((r.size >> 8) & 0xFF);
    if (!table_.notePacket(ends, bytes, closes, cProgramTable::Clock::now())) return;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (queue_.size() >= kQueueLimit) {
            table_.countDroppedLookUp();
            return;
        }
        queue_.push_back(std::move(ends));
    }
    wake_.notify_one();
}

void cSocketOwnersWorker::run() {
    using namespace std::chrono;
    using Clock = cProgramTable::Clock;
    cSockDiag diag;
    cSocketProcessCache processes;
    cSocketHistory history;
    const std::uint32_t self = static_cast<std::uint32_t>(geteuid());
    processes.readEveryProcess(Clock::now());
    std::vector<HostAddress> host;
    auto hostRead = Clock::time_point{};
    auto nextRetry = Clock::now();
    // The socket tables of the flows seen in the last ten seconds are read now and then: every
    // 100 ms, and while look-ups come late (a connection closed before its look-up) as often as
    // every 10 ms, so that a connection of 20 ms is caught open. A reading costs about 1.5 ms of
    // CPU per TCP table (the kernel walks its whole hash), so it takes at most a fiftieth of a
    // core, a tenth while late (counted in this thread's CPU time, not in the time it waits for a
    // core on a busy machine).
    std::array<Clock::time_point, 4> tableFlow{};  // per table, the last flow seen
    auto lastTable = Clock::time_point{};
    Clock::duration tableCost{};
    auto tablesDue = [&](Clock::time_point now) {
        unsigned tables = 0;
        for (int i = 0; i < 4; ++i)
            if (tableFlow[i] != Clock::time_point{} && now - tableFlow[i] < seconds(10))
                tables |= 1u << i;
        return tables;
    };
    auto tableDue = [&](Clock::time_point now) {
        const bool late = now - history.lastLate() < seconds(5);
        return lastTable + std::max<Clock::duration>(late ? milliseconds(10) : milliseconds(100),
                                                     (late ? 10 : 50) * tableCost);
    };
    std::vector<FlowEnds> batch;
    for (;;) {
        {
            std::unique_lock<std::mutex> hold(lock_);
            const auto before = Clock::now();
            const auto wait =
                tablesDue(before) == 0
                    ? milliseconds(250)
                    : std::clamp(
                          duration_cast<milliseconds>(tableDue(before) - before) + milliseconds(1),
                          milliseconds(1), milliseconds(250));
            wake_.wait_for(hold, wait, [&] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            batch.assign(std::make_move_iterator(queue_.begin()),
                         std::make_move_iterator(queue_.end()));
            queue_.clear();
        }
        auto now = Clock::now();
        if (now - hostRead > seconds(5)) {  // addresses come and go (DHCP, IPv6 privacy)
            host = listHostAddresses();
            hostRead = now;
        }
        for (const FlowEnds& ends : batch) {
            const unsigned table = cSocketHistory::tableOf(ends);
            for (int i = 0; i < 4; ++i)
                if (table & (1u << i)) tableFlow[i] = now;
        }
        if (now >= nextRetry) {
            nextRetry = now + milliseconds(500);
            for (FlowEnds& ends : table_.unresolved(now, 256)) batch.push_back(std::move(ends));
        }
        for (const FlowEnds& ends : batch) {
            if (leaving_.load(std::memory_order_relaxed)) return;  // stop waits for one look-up
            bool retry = false;
            const ProgramOwner owner =
                findFlowOwner(diag, processes, host, ends, self, Clock::now(), &retry, &history);
            table_.setOwner(ends, owner, retry);
        }
        batch.clear();
        // Only while no look-up waits: they are not to wait for it (on a busy machine a reading
        // can take far more time than its CPU time, and look-ups that wait come late).
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (!queue_.empty()) continue;
        }
        now = Clock::now();
        if (now >= tableDue(now) && tablesDue(now) != 0) {
            history.read(diag, processes, self, now, tablesDue(now));
            lastTable = Clock::now();
            tableCost = history.cost();
        }
    }
}

}  // namespace tessel
