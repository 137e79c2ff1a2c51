#include "core/program_table.h"

#include <algorithm>
#include <map>
#include <tuple>

namespace tessel {

namespace {

using std::chrono::seconds;

constexpr auto kSlot = seconds(10);       // the minute is kept in six slots
constexpr auto kActive = seconds(10);     // a flow this quiet is no longer looked up again
constexpr auto kPendingAge = seconds(1);  // a look-up not answered by then was dropped
// How long a quiet flow is kept: a closed TCP flow or a UDP flow for the minute it may still
// count in; an open TCP flow as long as a beam may stand for it.
constexpr auto kClosedKeep = seconds(70);
constexpr auto kOpenKeep = seconds(3600);
constexpr auto kSweepEvery = seconds(5);

std::int64_t slotOf(cProgramTable::Clock::time_point t) {
    return std::chrono::duration_cast<seconds>(t.time_since_epoch()).count() / kSlot.count();
}

}  // namespace

std::string ownerText(const ProgramOwner& owner) {
    switch (owner.kind) {
        case ProgramOwner::Kind::Named:
            return owner.name + " (pid " + std::to_string(owner.pid) + ")";
        case ProgramOwner::Kind::OtherUser:
            return "another user's program (uid " + std::to_string(owner.uid) + ")";
        case ProgramOwner::Kind::Pending:
            return "looking...";
        case ProgramOwner::Kind::NotKnown:
            break;
    }
    return "not known";
}

std::string cProgramTable::keyOf(const FlowEnds& e) {
    std::string a = e.source + "|" + std::to_string(e.sourcePort);
    std::string b = e.destination + "|" + std::to_string(e.destinationPort);
    if (b < a) std::swap(a, b);
    return std::to_string(e.protocol) + "|" + a + "|" + b;
}

bool cProgramTable::notePacket(const FlowEnds& ends, int bytes, bool closes,
                               Clock::time_point now) {
    std::lock_guard<std::mutex> hold(lock_);
    if (now >= nextSweep_) sweep(now);
    std::string key = keyOf(ends);
    auto it = flows_.find(key);
    const bool fresh = it == flows_.end();
    if (fresh) {
        if (flows_.size() >= kFlowLimit) {
            ++counts_.refused;
            return false;
        }
        it = flows_.emplace(std::move(key), Flow{}).first;
        it->second.ends = ends;
        it->second.first = now;
        ++counts_.flows;
    }
    Flow& flow = it->second;
    flow.last = now;
    flow.closed = flow.closed || closes;
    const std::int64_t slot = slotOf(now);
    Bucket& bucket = flow.minute[static_cast<std::size_t>(slot % 6)];
    if (bucket.slot != slot) bucket = Bucket{slot, 0, 0};
    bucket.bytes += static_cast<std::uint64_t>(std::max(bytes, 0));
    ++bucket.packets;
    return fresh;
}

void cProgramTable::sweep(Clock::time_point now) {
    nextSweep_ = now + kSweepEvery;
    for (auto it = flows_.begin(); it != flows_.end();) {
        const Flow& f = it->second;
        const bool lasting = f.ends.protocol == 6 && !f.closed;
        if (now - f.last > (lasting ? kOpenKeep : kClosedKeep))
            it = flows_.erase(it);
        else
            ++it;
    }
}

void cProgramTable::setOwner(const FlowEnds& ends, const ProgramOwner& owner, bool retry) {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = flows_.find(keyOf(ends));
    if (it == flows_.end()) return;
    if (!retry) it->second.attempts = kAttempts;
    ProgramOwner& kept = it->second.owner;
    // A name once found stays: a later look-up may only find the socket closed.
    if (kept.kind == ProgramOwner::Kind::Named && owner.kind != ProgramOwner::Kind::Named) return;
    if (kept.kind != owner.kind) {
        if (owner.kind == ProgramOwner::Kind::Named) ++counts_.named;
        if (owner.kind == ProgramOwner::Kind::OtherUser) ++counts_.otherUser;
        if (owner.kind == ProgramOwner::Kind::NotKnown) ++counts_.notKnown;
        if (kept.kind == ProgramOwner::Kind::OtherUser) --counts_.otherUser;
        if (kept.kind == ProgramOwner::Kind::NotKnown) --counts_.notKnown;
    }
    kept = owner;
}

std::vector<FlowEnds> cProgramTable::unresolved(Clock::time_point now, std::size_t most) {
    std::vector<FlowEnds> out;
    std::lock_guard<std::mutex> hold(lock_);
    for (auto& [key, f] : flows_) {
        if (out.size() >= most) break;
        if (now - f.last > kActive || f.attempts >= kAttempts) continue;
        const bool dropped =
            f.owner.kind == ProgramOwner::Kind::Pending && now - f.first > kPendingAge;
        if (!dropped && f.owner.kind != ProgramOwner::Kind::NotKnown) continue;
        ++f.attempts;
        out.push_back(f.ends);
    }
    return out;
}

void cProgramTable::countDroppedLookUp() {
    std::lock_guard<std::mutex> hold(lock_);
    ++counts_.dropped;
}

ProgramOwner cProgramTable::ownerOf(const FlowEnds& ends) const {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = flows_.find(keyOf(ends));
    return it == flows_.end() ? ProgramOwner{ProgramOwner::Kind::NotKnown, {}, 0, 0}
                              : it->second.owner;
}

std::vector<ProgramUse> cProgramTable::busiest(Clock::time_point now, std::size_t most) const {
    using Identity = std::tuple<int, std::string, int, std::uint32_t>;
    std::map<Identity, ProgramUse> uses;
    const std::int64_t newest = slotOf(now);
    {
        std::lock_guard<std::mutex> hold(lock_);
        for (const auto& [key, f] : flows_) {
            const ProgramOwner& o = f.owner;
            if (o.kind != ProgramOwner::Kind::Named && o.kind != ProgramOwner::Kind::OtherUser)
                continue;
            std::uint64_t bytes = 0, packets = 0;
            for (const Bucket& b : f.minute)
                if (b.slot > newest - 6 && b.slot <= newest) {
                    bytes += b.bytes;
                    packets += b.packets;
                }
            if (packets == 0) continue;
            ProgramUse& use = uses[Identity(static_cast<int>(o.kind), o.name, o.pid, o.uid)];
            use.owner = o;
            use.bytes += bytes;
            use.packets += packets;
        }
    }
    std::vector<ProgramUse> out;
    for (auto& entry : uses) out.push_back(std::move(entry.second));
    std::stable_sort(out.begin(), out.end(), [](const ProgramUse& a, const ProgramUse& b) {
        return a.bytes != b.bytes ? a.bytes > b.bytes : a.packets > b.packets;
    });
    if (out.size() > most) out.resize(most);
    return out;
}

ProgramCounts cProgramTable::counts() const {
    std::lock_guard<std::mutex> hold(lock_);
    return counts_;
}

}  // namespace tessel
