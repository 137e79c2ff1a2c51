// The sFlow v5 decoder against datagrams of a real agent (pmacctd) as tshark reads them, against
// hostile datagrams, and the loss counter.
#include "capture/sflow_decoder.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "capture/feed_frame.h"
#include "capture/packet_decoder.h"
#include "support/capture_frames.h"
#include "support/test_support.h"

namespace tessel {
namespace {

using test::Bytes;

// The UDP payloads of a capture of Ethernet frames (IPv4 or IPv6, no extension headers).
std::vector<Bytes> udpPayloads(const std::string& path) {
    std::vector<Bytes> out;
    char err[PCAP_ERRBUF_SIZE] = "";
    pcap_t* p = pcap_open_offline(path.c_str(), err);
    EXPECT_NE(p, nullptr) << err;
    if (!p) return out;
    pcap_pkthdr* h = nullptr;
    const u_char* data = nullptr;
    while (pcap_next_ex(p, &h, &data) == 1) {
        const std::size_t ip = 14;
        const std::size_t udp = data[12] == 0x86 ? ip + 40 : ip + (data[ip] & 0x0F) * 4;
        out.emplace_back(data + udp + 8, data + h->caplen);
    }
    pcap_close(p);
    return out;
}

std::vector<std::vector<std::string>> tsharkLines(const std::string& path) {
    std::vector<std::vector<std::string>> out;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::vector<std::string> fields;
        for (std::string w; words >> w;) fields.push_back(w);
        if (!fields.empty()) out.push_back(fields);
    }
    return out;
}

std::string hex(const std::uint8_t* p, std::size_t n) {
    std::string s;
    char b[3];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, "%02x", p[i]);
        s += b;
    }
    return s;
}

std::string agentText(const SflowAgent& a) {
    char text[INET6_ADDRSTRLEN] = "";
    inet_ntop(a.ipVersion == 6 ? AF_INET6 : AF_INET, a.address, text, sizeof text);
    return text;
}

std::vector<SflowPacketSample> decodeAll(const Bytes& d, SflowOutcome* outcome,
                                         SflowDatagramInfo* info) {
    std::vector<SflowPacketSample> samples;
    *outcome = decodeSflow(d.data(), d.size(), info,
                           [&](const SflowPacketSample& s) { samples.push_back(s); });
    return samples;
}

TEST(SflowDecoder, PmacctdDatagramsReadAsTsharkReadsThem) {
    const std::string folder = test::sourceDir() + "/tests/captures/feeds/";
    int datagrams = 0, packets = 0, withPorts = 0;
    for (const char* name : {"sflow_pmacctd", "sflow_pmacctd_v6agent"}) {
        SCOPED_TRACE(name);
        const std::vector<Bytes> payloads = udpPayloads(folder + name + ".pcap");
        const auto want = tsharkLines(folder + name + ".tshark.txt");
        cSflowLossCounter loss;
        std::size_t line = 0;
        for (const Bytes& payload : payloads) {
            ASSERT_LT(line, want.size());
            const std::vector<std::string>& d = want[line++];
            ASSERT_EQ(d[0], "D");
            SCOPED_TRACE("datagram " + d[1]);
            SflowDatagramInfo info;
            SflowOutcome outcome;
            const std::vector<SflowPacketSample> got = decodeAll(payload, &outcome, &info);
            if (d[2] == "malformed") {
                EXPECT_EQ(outcome, SflowOutcome::Malformed);
                EXPECT_TRUE(got.empty());
                continue;
            }
            ASSERT_EQ(outcome, SflowOutcome::Ok);
            ++datagrams;
            EXPECT_EQ(agentText(info.agent), d[2]);
            EXPECT_EQ(std::to_string(info.agent.subAgent), d[3]);
            EXPECT_EQ(std::to_string(info.sequence), d[4]);
            EXPECT_EQ(std::to_string(info.samples), d[5]);
            EXPECT_EQ(loss.see(info.agent, info.sequence), 0u);
            EXPECT_EQ(info.packetSamples, got.size());
            // One passed over per sample: the extended switch record pmacctd puts beside each
            // raw header, or a counter sample.
            EXPECT_EQ(info.skippedRecords, info.samples);
            for (const SflowPacketSample& s : got) {
                ASSERT_LT(line, want.size());
                const std::vector<std::string>& w = want[line++];
                ASSERT_EQ(w.size(), 10u);
                ASSERT_EQ(w[0], "S");
                ++packets;
                EXPECT_EQ(std::to_string(s.samplingRate), w[1]);
                EXPECT_EQ(std::to_string(s.headerProtocol), w[2]);
                EXPECT_EQ(std::to_string(s.frameLength), w[3]);
                EXPECT_EQ(std::to_string(s.headerLength), w[4]);
                // tshark shows the opaque with its padding to four bytes (pmacctd pads with
                // whatever followed in its buffer).
                EXPECT_EQ(w[5].size(), (s.headerLength + 3) / 4 * 8);
                EXPECT_EQ(hex(s.header, s.headerLength), w[5].substr(0, 2 * s.headerLength));
                FeedFrame frame;
                ASSERT_TRUE(frameFromSample(s, 0, &frame));
                EXPECT_EQ(frame.weight, s.samplingRate);
                EXPECT_EQ(frame.header.len, s.frameLength);
                const DecodedFrame f = decodeFrame(DLT_EN10MB, frame.bytes, frame.header.caplen);
                if (w[8] != "-") {
                    ++withPorts;
                    ASSERT_EQ(f.outcome, FrameOutcome::Packet) << w[5];
                    EXPECT_EQ(std::to_string(f.record.srcport), w[8]);
                    EXPECT_EQ(std::to_string(f.record.dstport), w[9]);
                }
                if (f.outcome == FrameOutcome::Packet) {
                    EXPECT_EQ(f.record.src, w[6]);
                    EXPECT_EQ(f.record.dst, w[7]);
                }
            }
        }
        EXPECT_EQ(line, want.size());
        EXPECT_EQ(loss.lost(), 0u);
    }
    EXPECT_EQ(datagrams, 7);
    EXPECT_EQ(packets, 37);
    EXPECT_EQ(withPorts, 24);
}

// XDR by hand: big-endian words and padded opaque bytes.
struct Xdr {
    Bytes b;
    Xdr& w(std::uint32_t v) {
        for (int s = 24; s >= 0; s -= 8) b.push_back(std::uint8_t(v >> s));
        return *this;
    }
    Xdr& opaque(const Bytes& bytes) {
        b.insert(b.end(), bytes.begin(), bytes.end());
        while (b.size() % 4) b.push_back(0);
        return *this;
    }
    // A sample or record: format, length, body.
    Xdr& tagged(std::uint32_t format, const Xdr& body) {
        return w(format).w(std::uint32_t(body.b.size())).opaque(body.b);
    }
};

Xdr datagramHead(std::uint32_t samples, std::uint32_t sequence = 7) {
    return Xdr().w(5).w(1).w(0xC0000207).w(0).w(sequence).w(1000).w(samples);
}

Xdr rawHeader(std::uint32_t protocol, std::uint32_t frameLength, const Bytes& header) {
    return Xdr().w(protocol).w(frameLength).w(4).w(std::uint32_t(header.size())).opaque(header);
}

Xdr flowSample(std::uint32_t rate, const std::vector<std::pair<std::uint32_t, Xdr>>& records) {
    Xdr s;
    s.w(1).w(0x00000003).w(rate).w(100).w(0).w(1).w(2).w(std::uint32_t(records.size()));
    for (const auto& r : records) s.tagged(r.first, r.second);
    return s;
}

TEST(SflowDecoder, OtherRecordsAreSkippedAndIpHeadersMakeEthernetFrames) {
    const Bytes v4 = test::ipPacket(test::IpFields(), test::tcpHeader(4000, 443, 0x02));
    const Bytes v6 = test::ipv6Packet("2001:db8::1", "2001:db8::2", 17, test::udpHeader(53, 9));
    Xdr expanded;  // expanded flow sample: source type and index apart, interfaces as pairs
    expanded.w(9).w(1).w(5).w(42).w(50).w(0).w(0).w(1).w(0).w(6).w(2);
    expanded.tagged(1001, Xdr().w(1).w(0).w(1).w(0));
    expanded.tagged(1, rawHeader(12, 1500, v6));
    Xdr d = datagramHead(5);
    d.tagged(2, Xdr().w(1).w(3).w(0));  // counter sample
    d.tagged(4413 << 12 | 1,
             flowSample(8, {{1, rawHeader(1, 60,
                                          test::udpFrame("10.0.0.1", "10.0.0.2", 1,
                                                         2))}}));       // other enterprise
    d.tagged(1, flowSample(0, {{1, rawHeader(11, 60, v4)},              // IPv4, rate 0 reads 1
                               {1, rawHeader(2, 60, v4)},               // token ring: skipped
                               {9 << 12 | 1, rawHeader(1, 60, v4)}}));  // other enterprise
    d.tagged(3, expanded);
    d.tagged(4, Xdr().w(1).w(0).w(3).w(0));  // expanded counter sample
    SflowDatagramInfo info;
    SflowOutcome outcome;
    std::vector<SflowPacketSample> got = decodeAll(d.b, &outcome, &info);
    ASSERT_EQ(outcome, SflowOutcome::Ok);
    EXPECT_EQ(agentText(info.agent), "192.0.2.7");
    EXPECT_EQ(info.samples, 5u);
    EXPECT_EQ(info.packetSamples, 2u);
    EXPECT_EQ(info.skippedRecords, 6u);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].samplingRate, 1u);
    EXPECT_EQ(got[0].sourceId, 3u);
    EXPECT_EQ(got[1].samplingRate, 42u);
    EXPECT_EQ(got[1].sourceId, 0x01000005u);
    EXPECT_EQ(got[1].frameLength, 1500u);

    FeedFrame f4, f6;
    ASSERT_TRUE(frameFromSample(got[0], 1700000000123456, &f4));
    ASSERT_TRUE(frameFromSample(got[1], -1, &f6));
    EXPECT_EQ(f4.header.caplen, 14 + v4.size());
    EXPECT_EQ(f4.header.len, 60u);
    EXPECT_EQ(f4.header.ts.tv_sec, 1700000000);
    EXPECT_EQ(f4.header.ts.tv_usec, 123456);
    EXPECT_EQ(f6.header.ts.tv_sec, -1);
    EXPECT_EQ(f6.header.ts.tv_usec, 999999);
    EXPECT_EQ(f6.weight, 42u);
    EXPECT_EQ(Bytes(f6.bytes, f6.bytes + 14),
              Bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x86, 0xDD}));
    const DecodedFrame d4 = decodeFrame(DLT_EN10MB, f4.bytes, f4.header.caplen);
    const DecodedFrame d6 = decodeFrame(DLT_EN10MB, f6.bytes, f6.header.caplen);
    ASSERT_EQ(d4.outcome, FrameOutcome::Packet);
    EXPECT_EQ(traceLine(d4), "10.0.0.1:4000  ->  10.0.0.2:443");
    ASSERT_EQ(d6.outcome, FrameOutcome::Packet);
    EXPECT_EQ(traceLine(d6), "[2001:db8::1]:53  ->  [2001:db8::2]:9");

    // Long headers are cut to kMaxBytes; a wire length below what was kept reads as kept.
    const Bytes big(400, 0x45);
    SflowPacketSample s;
    s.header = big.data();
    s.headerLength = big.size();
    s.frameLength = 100;
    for (std::uint32_t protocol : {1u, 11u}) {
        s.headerProtocol = protocol;
        FeedFrame f;
        ASSERT_TRUE(frameFromSample(s, 0, &f));
        EXPECT_EQ(f.header.caplen, FeedFrame::kMaxBytes);
        EXPECT_EQ(f.header.len, FeedFrame::kMaxBytes);
        EXPECT_EQ(f.bytes[FeedFrame::kMaxBytes - 1], 0x45);
    }
    s.headerProtocol = 2;
    FeedFrame f;
    EXPECT_FALSE(frameFromSample(s, 0, &f));
}

TEST(SflowDecoder, HostileDatagramsVisitNothing) {
    const std::string folder = test::sourceDir() + "/tests/captures/feeds/";
    // Every cut of every real datagram: Malformed, or Ok with every header inside the cut. The
    // cut is copied to a buffer of its own size, so a sanitizer sees any read beyond.
    int cuts = 0;
    for (const Bytes& full : udpPayloads(folder + "sflow_pmacctd.pcap")) {
        for (std::size_t n = 0; n < full.size(); ++n) {
            const Bytes cut(full.begin(), full.begin() + n);
            SflowDatagramInfo info;
            SflowOutcome outcome;
            const auto got = decodeAll(cut, &outcome, &info);
            ++cuts;
            if (outcome != SflowOutcome::Ok) {
                EXPECT_EQ(outcome, SflowOutcome::Malformed) << n;
                EXPECT_TRUE(got.empty()) << n;
                continue;
            }
            for (const SflowPacketSample& s : got)
                EXPECT_LE(s.header + s.headerLength, cut.data() + cut.size()) << n;
        }
    }
    EXPECT_GT(cuts, 5000);

    const Bytes frame = test::udpFrame("10.0.0.1", "10.0.0.2", 1, 2);
    auto outcomeOf = [](const Xdr& d, int* visits) {
        SflowDatagramInfo info;
        return decodeSflow(d.b.data(), d.b.size(), &info,
                           [&](const SflowPacketSample&) { ++*visits; });
    };
    int visits = 0;
    // A good sample followed by one whose raw header runs past its record: nothing is visited.
    Xdr late = datagramHead(2);
    late.tagged(1, flowSample(1, {{1, rawHeader(1, 60, frame)}}));
    Xdr badRecord = rawHeader(1, 60, frame);
    badRecord.b[15] = 200;  // header length 200 in a record of 16 + 44 bytes
    late.tagged(1, flowSample(1, {{1, badRecord}}));
    EXPECT_EQ(outcomeOf(late, &visits), SflowOutcome::Malformed);
    // A sample count far beyond what the bytes can hold, answered at once.
    Xdr huge = datagramHead(0xFFFFFFFF);
    huge.tagged(1, flowSample(1, {{1, rawHeader(1, 60, frame)}}));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(outcomeOf(huge, &visits), SflowOutcome::Malformed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
    // A record count beyond the sample.
    Xdr records = datagramHead(1);
    Xdr sample = flowSample(1, {{1, rawHeader(1, 60, frame)}});
    sample.b[31] = 0xFF;  // num_records 255
    records.tagged(1, sample);
    EXPECT_EQ(outcomeOf(records, &visits), SflowOutcome::Malformed);
    // A sample longer than the datagram; a record longer than its sample.
    Xdr longSample = datagramHead(1);
    longSample.tagged(1, flowSample(1, {{1, rawHeader(1, 60, frame)}}));
    longSample.b[35] += 4;  // the sample's length, low byte
    EXPECT_EQ(outcomeOf(longSample, &visits), SflowOutcome::Malformed);
    Xdr longRecord = datagramHead(1);
    Xdr inner = flowSample(1, {{1, rawHeader(1, 60, frame)}});
    inner.b[39] += 4;  // the record's length, low byte
    longRecord.tagged(1, inner);
    EXPECT_EQ(outcomeOf(longRecord, &visits), SflowOutcome::Malformed);
    // An unknown agent address type.
    Xdr address = datagramHead(0);
    address.b[7] = 3;
    EXPECT_EQ(outcomeOf(address, &visits), SflowOutcome::Malformed);
    // Other versions.
    for (std::uint32_t version : {2u, 4u, 0x05000000u}) {
        Xdr other = datagramHead(0);
        other.b[0] = std::uint8_t(version >> 24);
        other.b[3] = std::uint8_t(version);
        EXPECT_EQ(outcomeOf(other, &visits), SflowOutcome::NotSflow) << version;
    }
    EXPECT_EQ(visits, 0);
}

SflowAgent agent(std::uint8_t last, std::uint32_t subAgent = 0, int version = 4) {
    SflowAgent a;
    a.ipVersion = version;
    a.address[0] = 192;
    a.address[3] = last;
    a.subAgent = subAgent;
    return a;
}

TEST(SflowLossCounter, GapsRestartsAgentsAndBound) {
    cSflowLossCounter c;
    EXPECT_EQ(c.see(agent(1), 100), 0u);  // first heard: no loss
    EXPECT_EQ(c.see(agent(1), 101), 0u);
    EXPECT_EQ(c.see(agent(1), 105), 3u);
    EXPECT_EQ(c.see(agent(1), 2), 0u);  // restarted
    EXPECT_EQ(c.see(agent(1), 4), 1u);
    EXPECT_EQ(c.see(agent(1), 4), 0u);            // repeated
    EXPECT_EQ(c.see(agent(1), 0x80000010u), 0u);  // too far forward to be loss
    // Sub-agents and the same bytes as IPv6 are agents of their own.
    EXPECT_EQ(c.see(agent(1, 1), 50), 0u);
    EXPECT_EQ(c.see(agent(1, 0, 6), 60), 0u);
    EXPECT_EQ(c.see(agent(1, 1), 52), 1u);
    EXPECT_EQ(c.see(agent(1, 0, 6), 63), 2u);
    // Across the wrap of the number space.
    EXPECT_EQ(c.see(agent(2), 0xFFFFFFFEu), 0u);
    EXPECT_EQ(c.see(agent(2), 0xFFFFFFFFu), 0u);
    EXPECT_EQ(c.see(agent(2), 2), 2u);
    EXPECT_EQ(c.lost(), 9u);
    EXPECT_EQ(c.agents(), 4u);

    // At the bound the one heard longest ago goes.
    cSflowLossCounter b;
    for (std::uint32_t i = 0; i < cSflowLossCounter::kMaxAgents; ++i) b.see(agent(0, i), 10);
    b.see(agent(0, 0), 11);       // refreshed
    b.see(agent(0, 999999), 10);  // one too many: sub-agent 1 is forgotten
    EXPECT_EQ(b.agents(), cSflowLossCounter::kMaxAgents);
    EXPECT_EQ(b.see(agent(0, 0), 13), 1u);  // still followed
    EXPECT_EQ(b.see(agent(0, 1), 20), 0u);  // heard as new
    EXPECT_EQ(b.agents(), cSflowLossCounter::kMaxAgents);
    EXPECT_EQ(b.lost(), 1u);
}

}  // namespace
}  // namespace tessel
