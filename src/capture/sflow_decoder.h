#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <utility>

namespace tessel {

// sFlow v5 (sflow.org, "sFlow Version 5"): what a collector takes from one datagram. Everything
// is read through bounds checks against the datagram; nothing is allocated by a count or a
// length it declares.

// The agent that sent a datagram: its address as the datagram states it (IPv4 in the first four
// bytes) and its sub-agent.
struct SflowAgent {
    int ipVersion = 4;  // 4 or 6
    std::uint8_t address[16] = {};
    std::uint32_t subAgent = 0;
};

// The header protocols of raw packet header records that are read as frames.
inline constexpr std::uint32_t kHeaderEthernet = 1;
inline constexpr std::uint32_t kHeaderIPv4 = 11;
inline constexpr std::uint32_t kHeaderIPv6 = 12;

// One sampled packet: a raw packet header record of a flow sample (normal or expanded).
struct SflowPacketSample {
    std::uint32_t samplingRate = 1;        // packets this sample stands for (a declared 0 reads 1)
    std::uint32_t sourceId = 0;            // the data source (type << 24 | index)
    std::uint32_t frameLength = 0;         // the original packet's length on the wire
    std::uint32_t headerProtocol = 0;      // 1 Ethernet, 11 IPv4, 12 IPv6
    const std::uint8_t* header = nullptr;  // the sampled bytes, inside the datagram
    std::size_t headerLength = 0;
};

// The datagram's header and what it held besides packet samples.
struct SflowDatagramInfo {
    SflowAgent agent;
    std::uint32_t sequence = 0;  // the agent's datagram sequence number
    std::uint32_t uptimeMs = 0;
    std::uint32_t samples = 0;        // samples the datagram holds
    std::uint32_t packetSamples = 0;  // raw packet headers of protocols 1, 11 or 12 (visited)
    // Counter samples, other sample types, other flow record types, raw headers of other
    // protocols: passed over by their declared lengths, never read as anything else.
    std::uint32_t skippedRecords = 0;
};

enum class SflowOutcome {
    Ok,
    NotSflow,   // another version (2 and 4 included): nothing visited
    Malformed,  // a length or count that does not fit the datagram, or an agent address of an
                // unknown type: nothing visited
};

using SflowSampleVisitor = std::function<void(const SflowPacketSample&)>;

// Pure: reads one datagram of `length` bytes. The whole datagram is checked before the first
// visit, so a malformed datagram visits nothing. `info` may be null; for an outcome other than
// Ok it is left as default-constructed. Bytes after the last sample are ignored. Any thread.
SflowOutcome decodeSflow(const std::uint8_t* data, std::size_t length, SflowDatagramInfo* info,
                         const SflowSampleVisitor& visit);

// Datagrams lost on the way, from the sequence numbers of each agent and sub-agent. A sequence
// number that goes back (the agent restarted) starts that agent over without a loss. At most
// kMaxAgents are followed (beyond that the one heard longest ago is forgotten), so memory stays
// bounded whatever the network sends. One thread.
class cSflowLossCounter {
  public:
    static constexpr std::size_t kMaxAgents = 4096;
    // A datagram of `agent` numbered `sequence`: returns the datagrams missing before it.
    std::uint64_t see(const SflowAgent& agent, std::uint32_t sequence);
    std::uint64_t lost() const { return lost_; }
    std::size_t agents() const { return last_.size(); }

  private:
    // (address as two words, version << 32 | sub-agent)
    using Key = std::pair<std::pair<std::uint64_t, std::uint64_t>, std::uint64_t>;
    // key -> last sequence and when it was heard (a running count).
    std::map<Key, std::pair<std::uint32_t, std::uint64_t>> last_;
    // when heard -> key, so the one heard longest ago is found without a scan.
    std::map<std::uint64_t, Key> byHeard_;
    std::uint64_t lost_ = 0;
    std::uint64_t heard_ = 0;
};

}  // namespace tessel
