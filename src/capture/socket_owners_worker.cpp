#include "capture/socket_owners_worker.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <unordered_set>

#include "core/traffic_record.h"
#include "platform/process.h"

namespace tessel {

namespace {

// The kernel's socket states that matter here (include/net/tcp_states.h).
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
        return false;
    }
    holder->pid = place.pid;
    holder->name = processName(place.pid, root_);
    if (holder->name.empty()) return false;  // gone meanwhile
    remember(place.pid);
    return true;
}

void cSocketProcessCache::remember(int pid) {
    auto it = std::find(recent_.begin(), recent_.end(), pid);
    if (it != recent_.end()) recent_.erase(it);
    recent_.insert(recent_.begin(), pid);
    if (recent_.size() > kRecentProcesses) recent_.pop_back();
}

void cSocketProcessCache::scanProcess(int pid) {
    forEachProcessSocket(
        pid,
        [&](int fd, std::uint32_t inode) {
            places_[inode] = Place{pid, fd};
        },
        root_);
}

bool cSocketProcessCache::find(std::uint32_t inode, Clock::time_point now, Holder* holder) {
    if (inode == 0) return false;
    if (found(inode, holder)) return true;
    const std::vector<int> recent = recent_;
    for (int pid : recent) {
        scanProcess(pid);
        if (found(inode, holder)) return true;
    }
    if (now < nextFullScan_) return false;
    nextFullScan_ = now + std::chrono::milliseconds(1000 / kFullScansPerSecond);
    std::vector<int> pids = listProcessIds(root_);
    const std::unordered_set<int> alive(pids.begin(), pids.end());
    // Processes that are gone drop out; so does everything, once too many closed sockets linger.
    if (places_.size() > kMostPlaces) places_.clear();
    for (auto it = places_.begin(); it != places_.end();)
        it = alive.count(it->second.pid) ? std::next(it) : places_.erase(it);
    recent_.erase(std::remove_if(recent_.begin(), recent_.end(),
                                 [&](int pid) { return alive.count(pid) == 0; }),
                  recent_.end());
    // The newest processes first (a new connection is most often a new program's), until found.
    std::sort(pids.begin(), pids.end(), std::greater<int>());
    for (int pid : pids) {
        scanProcess(pid);
        if (places_.count(inode) && found(inode, holder)) return true;
    }
    return false;
}

ProgramOwner findFlowOwner(cSockDiag& diag, cSocketProcessCache& processes,
                           const std::vector<HostAddress>& host, const FlowEnds& ends,
                           std::uint32_t self, cSocketProcessCache::Clock::time_point now,
                           bool* retry) {
    *retry = false;
    ProgramOwner owner;
    owner.kind = ProgramOwner::Kind::NotKnown;
    bool seen = false;  // a socket of this host, whose owner we did not find
    std::uint32_t seenUid = 0, seenInode = 0;
    auto named = [&](std::uint32_t inode) {
        cSocketProcessCache::Holder holder;
        if (!processes.find(inode, now, &holder)) return false;
        owner.kind = ProgramOwner::Kind::Named;
        owner.name = holder.name;
        owner.pid = holder.pid;
        return true;
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
        if (!diag.find(t, &e) || (ends.protocol == IPPROTO_TCP && e.state == kListen)) continue;
        if (e.inode != 0 && named(e.inode)) return owner;
        if (e.inode == 0 && ends.protocol == IPPROTO_TCP && e.state != kTimeWait) {
            // Not accepted yet: the program listening on this end will take it.
            SocketTuple listening = t;
            listening.remote.fill(0);
            listening.remotePort = 0;
            SocketEntry l;
            if (diag.find(listening, &l) && l.state == kListen && l.inode != 0) {
                if (named(l.inode)) return owner;
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
    cSockDiag diag;
    cSocketProcessCache processes;
    const std::uint32_t self = static_cast<std::uint32_t>(geteuid());
    std::vector<HostAddress> host;
    auto hostRead = cProgramTable::Clock::time_point{};
    auto nextRetry = cProgramTable::Clock::now();
    std::vector<FlowEnds> batch;
    for (;;) {
        {
            std::unique_lock<std::mutex> hold(lock_);
            wake_.wait_for(hold, milliseconds(250), [&] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            batch.assign(std::make_move_iterator(queue_.begin()),
                         std::make_move_iterator(queue_.end()));
            queue_.clear();
        }
        auto now = cProgramTable::Clock::now();
        if (now - hostRead > seconds(5)) {  // addresses come and go (DHCP, IPv6 privacy)
            host = listHostAddresses();
            hostRead = now;
        }
        if (now >= nextRetry) {
            nextRetry = now + milliseconds(500);
            for (FlowEnds& ends : table_.unresolved(now, 256)) batch.push_back(std::move(ends));
        }
        for (const FlowEnds& ends : batch) {
            if (leaving_.load(std::memory_order_relaxed)) return;  // stop waits for one look-up
            bool retry = false;
            const ProgramOwner owner = findFlowOwner(diag, processes, host, ends, self,
                                                     cProgramTable::Clock::now(), &retry);
            table_.setOwner(ends, owner, retry);
        }
        batch.clear();
    }
}

}  // namespace tessel
