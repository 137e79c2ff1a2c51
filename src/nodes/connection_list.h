#pragma once
#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <unordered_map>

namespace tessel {

// One TCP connection that has (or was meant to have) a traffic beam. The beam belongs to the
// scene, which finds it by the connection's key (the beam's name).
struct STrafficBeam {
    std::string source;  // the side that sent the SYN
    std::string destination;
    int sourcePort = 0;
    int destinationPort = 0;
    std::string service;  // service name of destinationPort
    int pickId = 0;       // beam identifier; 0 when the record has no beam
};

// Picking mask carried by every connection beam identifier.
constexpr int kBeamPickBit = 0x02000000;

// Every open connection in order of creation, owned by the run (runTessel); a removal closes the
// gap. Look-ups by address pair and by endpoint address take constant time. MAIN THREAD ONLY: the
// capture thread hands beam events to the main loop instead of touching this list.
class cConnectionList {
  public:
    // Under heavy traffic connections open faster than they are seen closing (a lost FIN keeps
    // its record for good); past this many records new ones are refused and counted.
    static constexpr std::size_t kLimit = 4096;

    using const_iterator = std::list<STrafficBeam>::const_iterator;

    // The record of this connection in either direction, or null.
    const STrafficBeam* find(const std::string& source, const std::string& destination,
                             int sourcePort, int destinationPort) const;
    // Appends in creation order. False when the connection is already listed (in either
    // direction), or when the list is full (then counted as refused).
    bool append(const STrafficBeam& record);
    // Removes the record stored in exactly this direction into *removed; false when none is.
    bool removeDirected(const std::string& source, const std::string& destination, int sourcePort,
                        int destinationPort, STrafficBeam* removed);
    // True when `address` is, as exact text, the source or destination of any record.
    bool isEndpoint(const std::string& address) const;
    // The first record in list order whose pickId equals `pickId`, or null.
    const STrafficBeam* findByPickId(int pickId) const;
    // Identifier for the beam about to be appended: (count + 1999) | 0x02000000. Can repeat
    // after a removal; look-ups by identifier take the first record in list order.
    int nextPickId() const;

    std::size_t size() const { return records_.size(); }
    bool empty() const { return records_.empty(); }
    bool full() const { return records_.size() >= kLimit; }
    const_iterator begin() const { return records_.begin(); }
    const_iterator end() const { return records_.end(); }
    std::uint64_t refused() const { return refused_; }

    // The text that names one direction of one connection ("a|b|1|2").
    static std::string keyOf(const std::string& source, const std::string& destination,
                             int sourcePort, int destinationPort);
    static std::string keyOf(const STrafficBeam& record) {
        return keyOf(record.source, record.destination, record.sourcePort, record.destinationPort);
    }

  private:
    void forgetEndpoint(const std::string& address);

    std::list<STrafficBeam> records_;
    // Key of the stored direction -> record.
    std::unordered_map<std::string, std::list<STrafficBeam>::iterator> byKey_;
    std::unordered_map<std::string, int> endpointUses_;
    std::uint64_t refused_ = 0;
};

}  // namespace tessel
