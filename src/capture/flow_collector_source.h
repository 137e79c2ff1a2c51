#pragma once
#include <pcap/pcap.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "capture/feed_counters.h"
#include "capture/feed_frame.h"
#include "capture/flow_player.h"
#include "capture/frame_source.h"
#include "capture/listen_address.h"
#include "capture/netflow_decoder.h"
#include "capture/rate_history.h"
#include "capture/sflow_decoder.h"

namespace tessel {

// A collector of the network's own telemetry as a source of frames: sFlow v5 datagrams (each
// packet sample becomes its sampled frame) or NetFlow v5/v9/IPFIX datagrams (each flow record
// becomes frames spread over its duration, capture/flow_player.h), from any number of exporters
// on one UDP port. Frames are Ethernet; the rate graph and the counters show estimates (each
// frame times the packets it stands for). Every datagram is untrusted: a malformed one is
// counted and dropped.
class cFlowCollectorSource final : public cFrameSource {
  public:
    struct Options {
        FeedKind kind = FeedKind::Sflow;
        ListenAddress listen;
        std::int64_t flowTimeoutMs = 0;  // closes silent TCP flows; 0: learned from the exporter
    };
    explicit cFlowCollectorSource(const Options& options);
    ~cFlowCollectorSource() override;
    cFlowCollectorSource(const cFlowCollectorSource&) = delete;
    cFlowCollectorSource& operator=(const cFlowCollectorSource&) = delete;

    // Binds the socket. False with *error saying why ("UDP port 6343 is in use ...").
    bool open(std::string* error);

    int next(const pcap_pkthdr** header, const u_char** data) override;
    std::string errorText() const override { return error_; }
    int linkType() const override { return DLT_EN10MB; }
    const std::string& name() const override { return name_; }
    bool isStream() const override { return true; }
    int waitFd() const override;
    void endStream() override;
    bool setFilter(const std::string& filter, std::string* error) override;
    // Waits at most kFirstDatagramMs for the first datagram, then reads what comes in
    // kPreviewMs more (at most kPreviewFrames frames), keeps it and shows it.
    void preview(const FrameVisitor& see) override;
    const FeedCounters* feedCounters() const override { return &counters_; }

    // The first exporter heard (the agent address an sFlow datagram states, or the sender of a
    // NetFlow/IPFIX one) as text; empty when none has been heard yet.
    const std::string& firstExporter() const { return firstExporter_; }

    static constexpr int kFirstDatagramMs = 5000;
    static constexpr int kPreviewMs = 1000;
    static constexpr std::size_t kPreviewFrames = 1000;
    // Datagrams read by one system call, and the most frames kept ready beyond them.
    static constexpr unsigned kBatch = 32;

  private:
    // One batch of datagrams from the socket; false when none was there.
    bool readBatch(std::int64_t nowUs);
    void takeDatagram(const std::uint8_t* data, std::size_t length, const FlowExporter& from,
                      std::int64_t nowUs);
    void takeSflow(const std::uint8_t* data, std::size_t length, std::int64_t nowUs);
    void takeNetflow(const std::uint8_t* data, std::size_t length, const FlowExporter& from,
                     std::int64_t nowUs);
    void noteExporter(const std::uint8_t address[16], std::uint32_t id, int ipVersion);
    // The next frame ready now into current_, passing the filter; false when none is.
    bool takeReady(std::int64_t nowUs);
    void tickRate(std::int64_t nowUs);
    void readSocketDrops();

    Options options_;
    std::string name_;
    std::string error_;
    int fd_ = -1;
    int endFd_ = -1;  // an eventfd that endStream() raises
    bool ended_ = false;
    FeedCounters counters_;
    cSflowLossCounter sflowLoss_;
    cNetflowDecoder netflow_;
    cFlowPlayer player_;
    std::vector<std::uint8_t> buffers_;  // kBatch datagrams of the largest size
    std::deque<FeedFrame> ready_;
    FeedFrame current_;
    pcap_t* filterHandle_ = nullptr;
    bpf_program filter_{};
    bool haveFilter_ = false;
    std::string firstExporter_;
    // Exporters heard, for counting distinct ones (bounded).
    std::map<std::pair<std::pair<std::uint64_t, std::uint64_t>, std::uint32_t>, bool> exporters_;
    // The estimated traffic rate, sampled once a second of wall time.
    StatsState rateState_;
    std::int64_t rateSecondEndUs_ = 0;
    std::uint64_t rateBytes_ = 0;
};

}  // namespace tessel
