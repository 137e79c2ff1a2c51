#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tessel {

class cFrameSource;

// This host, its net mask and the default gateway of a capture that no adapter describes, by a
// rule (README, "Replaying a capture"):
//  - this host: the IPv4 address with the most peers (distinct addresses it exchanged TCP, UDP
//    or ICMP with); a tie goes to the address seen first;
//  - the net mask: 255.255.255.0;
//  - the gateway: the link-layer address that most of this host's traffic with addresses beyond
//    its subnet goes through (Ethernet: either direction; Linux cooked captures: what arrives),
//    and the address inside the subnet that sends from it (IPv4 or ARP). Link types without
//    link-layer addresses give no gateway.
// Each can be given instead; a given one is taken as it is. Any thread (it touches nothing).
struct AdapterGuess {
    std::string host;  // empty when the capture holds no IPv4 traffic
    std::string netmask;
    std::string gateway;                    // empty when there is none
    std::string hostReason, gatewayReason;  // for the trace lines
};

// Fed frames of any source, one by one; judges by the first kMaxFrames.
class cAdapterInference {
  public:
    void addFrame(int linkType, const std::uint8_t* frame, std::size_t length);
    // True once more frames would not be looked at.
    bool full() const { return frames_ >= kMaxFrames; }
    AdapterGuess guess(const std::string& host, const std::string& netmask,
                       const std::string& gateway) const;

    // Frames looked at, at most (a long file is judged by its beginning).
    static constexpr std::size_t kMaxFrames = 200000;

  private:
    struct Seen {
        std::size_t order = 0;
        std::map<std::uint32_t, bool> peers;
    };
    // One IPv4 frame and the link-layer addresses it went between (0: not known).
    struct Hop {
        std::uint32_t src = 0, dst = 0;
        std::uint64_t srcLink = 0, dstLink = 0;
    };
    std::map<std::uint32_t, Seen> addresses_;
    std::vector<Hop> hops_;
    // Link-layer address -> the IPv4 addresses that sent from it (IPv4 or ARP), with counts.
    std::map<std::uint64_t, std::map<std::uint32_t, int>> sendersByLink_;
    std::size_t frames_ = 0;
    std::size_t order_ = 0;
    std::size_t seenOrder();
};

// The guess for the frames `source` shows of its beginning (cFrameSource::preview: a stream's
// are read ahead and kept, so this may wait up to 5 s). Main thread, before the source is read.
AdapterGuess guessAdapter(cFrameSource& source, const std::string& host, const std::string& netmask,
                          const std::string& gateway);

}  // namespace tessel
