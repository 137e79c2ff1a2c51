// NetFlow v5/v9 and IPFIX as softflowd and pmacctd export them (tests/captures/feeds/, with the
// records tshark read from them once), then what real exporters do out of order and what a
// hostile sender may send.
#include "capture/netflow_decoder.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tessel {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Datagram {
    FlowExporter from;
    Bytes bytes;
    std::int64_t ms = 0;
};

std::string feedPath(const std::string& name) {
    return std::string(TESSEL_SOURCE_DIR) + "/tests/captures/feeds/" + name;
}

// The UDP payloads of an Ethernet capture of IPv4 datagrams on lo.
std::vector<Datagram> readFeed(const std::string& name) {
    std::vector<Datagram> out;
    char err[PCAP_ERRBUF_SIZE] = "";
    pcap_t* p = pcap_open_offline(feedPath(name + ".pcap").c_str(), err);
    EXPECT_NE(p, nullptr) << err;
    if (!p) return out;
    pcap_pkthdr* h = nullptr;
    const u_char* d = nullptr;
    while (pcap_next_ex(p, &h, &d) == 1) {
        if (h->caplen < 14 + 20 + 8 || d[12] != 0x08 || d[13] != 0x00) continue;
        const std::size_t ip = 14, udp = ip + (d[ip] & 0x0f) * 4u;
        if (d[ip + 9] != 17 || udp + 8 > h->caplen) continue;
        Datagram g;
        g.from.address[10] = g.from.address[11] = 0xff;
        std::copy(d + ip + 12, d + ip + 16, g.from.address + 12);
        g.bytes.assign(d + udp + 8, d + h->caplen);
        g.ms = std::int64_t(h->ts.tv_sec) * 1000 + h->ts.tv_usec / 1000;
        out.push_back(std::move(g));
    }
    pcap_close(p);
    return out;
}

std::vector<std::string> readLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

// One record in netflow_records.py's form.
std::string line(int frame, const FlowRecord& r) {
    char src[INET6_ADDRSTRLEN], dst[INET6_ADDRSTRLEN];
    const int af = r.ipVersion == 6 ? AF_INET6 : AF_INET;
    inet_ntop(af, r.src, src, sizeof src);
    inet_ntop(af, r.dst, dst, sizeof dst);
    std::ostringstream s;
    s << frame << " " << src << " " << dst << " " << r.srcPort << " " << r.dstPort << " "
      << int(r.protocol) << " " << int(r.tcpFlags) << " " << r.packets << " " << r.octets << " "
      << r.startMs << " " << r.endMs;
    return s.str();
}

std::string withoutFrame(const std::string& l) { return l.substr(l.find(' ') + 1); }

struct Decoded {
    std::vector<std::string> lines;
    std::vector<NetflowOutcome> outcomes;
    std::vector<NetflowDatagramInfo> infos;
};

// Feeds the datagrams in the given order (indexes into `feed`) to one decoder.
Decoded decodeAll(cNetflowDecoder& dec, const std::vector<Datagram>& feed,
                  const std::vector<std::size_t>& order) {
    Decoded run;
    for (std::size_t i : order) {
        NetflowDatagramInfo info;
        const int frame = int(i) + 1;
        run.outcomes.push_back(
            dec.decode(feed[i].from, feed[i].bytes.data(), feed[i].bytes.size(), feed[i].ms, &info,
                       [&](const FlowRecord& r) { run.lines.push_back(line(frame, r)); }));
        run.infos.push_back(info);
    }
    return run;
}

std::vector<std::size_t> inOrder(std::size_t n, std::size_t skip = SIZE_MAX) {
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < n; ++i)
        if (i != skip) order.push_back(i);
    return order;
}

const char* const kFeeds[] = {"netflow_v5_softflowd", "netflow_v9_softflowd", "ipfix_softflowd",
                              "ipfix_v6_softflowd",   "netflow_v9_pmacctd",   "ipfix_pmacctd"};

TEST(NetflowDecoder, RealExportsDecodeToTsharksRecords) {
    for (const char* name : kFeeds) {
        SCOPED_TRACE(name);
        const auto feed = readFeed(name);
        ASSERT_GT(feed.size(), 1u);
        cNetflowDecoder dec;
        const Decoded run = decodeAll(dec, feed, inOrder(feed.size()));
        for (NetflowOutcome o : run.outcomes) EXPECT_EQ(o, NetflowOutcome::Ok);
        const auto expected = readLines(feedPath(std::string(name) + ".records"));
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(run.lines, expected);
        EXPECT_EQ(dec.totals().lost, 0u);
        EXPECT_EQ(dec.totals().waiting, 0u);
        EXPECT_EQ(dec.totals().evicted, 0u);
        std::uint32_t visited = 0;
        for (const auto& info : run.infos) visited += info.records;
        EXPECT_EQ(visited, expected.size());
    }
}

TEST(NetflowDecoder, DataBeforeTemplatesWaitsAndIsBoundedByCountAndAge) {
    for (const char* name : {"netflow_v9_softflowd", "ipfix_softflowd", "netflow_v9_pmacctd"}) {
        SCOPED_TRACE(name);
        const auto feed = readFeed(name);
        const auto expected = readLines(feedPath(std::string(name) + ".records"));
        // The datagrams that bring templates come last; everything before them waits.
        cNetflowDecoder first;
        const Decoded full = decodeAll(first, feed, inOrder(feed.size()));
        std::vector<std::size_t> plain, templated;
        std::size_t lateRecords = 0;
        for (std::size_t i = 0; i < feed.size(); ++i) {
            if (full.infos[i].templates) {
                templated.push_back(i);
                lateRecords += full.infos[i].records;
            } else {
                plain.push_back(i);
            }
        }
        ASSERT_FALSE(templated.empty());
        ASSERT_GT(plain.size(), 2u);
        cNetflowDecoder dec;
        const Decoded early = decodeAll(dec, feed, plain);
        EXPECT_TRUE(early.lines.empty());
        const std::uint64_t sets = dec.totals().waiting;
        EXPECT_GE(sets, plain.size());
        const Decoded late = decodeAll(dec, feed, templated);
        EXPECT_EQ(dec.totals().waiting, 0u);
        EXPECT_EQ(dec.totals().evicted, 0u);
        // Only the first datagram came late, so no sequence went forward too far; IPFIX does not
        // know the waiting sets' record counts and takes the next sequence as it comes.
        if (templated.size() == 1) {
            EXPECT_EQ(dec.totals().lost, 0u);
        }
        std::vector<std::string> got, want;
        for (const auto& l : late.lines) got.push_back(withoutFrame(l));
        for (const auto& l : expected) want.push_back(withoutFrame(l));
        std::sort(got.begin(), got.end());
        std::sort(want.begin(), want.end());
        EXPECT_EQ(got, want);

        // Room for two sets only: the others are evicted, oldest first.
        cNetflowDecoder::Limits few;
        few.maxWaitingSets = 2;
        cNetflowDecoder small(few);
        decodeAll(small, feed, plain);
        EXPECT_EQ(small.totals().waiting, 2u);
        EXPECT_EQ(small.totals().evicted, sets - 2);
        // Too old: they all go, and the templates find nothing but their own datagrams' data.
        cNetflowDecoder::Limits quick;
        quick.maxWaitMs = 1000;
        cNetflowDecoder aged(quick);
        for (std::size_t i : plain)
            aged.decode(feed[i].from, feed[i].bytes.data(), feed[i].bytes.size(), feed[0].ms,
                        nullptr, nullptr);
        EXPECT_EQ(aged.totals().waiting, sets);
        aged.expire(feed[0].ms + 1001);
        EXPECT_EQ(aged.totals().waiting, 0u);
        EXPECT_EQ(aged.totals().evicted, sets);
        EXPECT_EQ(decodeAll(aged, feed, templated).lines.size(), lateRecords);
    }
}

// A hand-built IPFIX message.
struct Ipfix {
    Bytes b;
    explicit Ipfix(std::uint32_t sequence, std::uint32_t domain = 7) {
        put16(10), put16(0), put32(1700000000), put32(sequence), put32(domain);
    }
    void put8(unsigned v) { b.push_back(std::uint8_t(v)); }
    void put16(unsigned v) { put8(v >> 8), put8(v); }
    void put32(std::uint32_t v) { put16(v >> 16), put16(v & 0xffff); }
    std::size_t set(unsigned id) {
        put16(id), put16(0);
        return b.size() - 4;
    }
    void end(std::size_t at) {
        const std::size_t n = b.size() - at;
        b[at + 2] = std::uint8_t(n >> 8), b[at + 3] = std::uint8_t(n);
    }
    Bytes done() {
        Bytes out = b;
        out[2] = std::uint8_t(out.size() >> 8), out[3] = std::uint8_t(out.size());
        return out;
    }
};

struct Hand {
    cNetflowDecoder dec;
    FlowExporter from;
    std::vector<FlowRecord> records;
    NetflowDatagramInfo info;
    NetflowOutcome feed(const Bytes& m) {
        records.clear();
        return dec.decode(from, m.data(), m.size(), 1700000000000, &info,
                          [&](const FlowRecord& r) { records.push_back(r); });
    }
};

TEST(NetflowDecoder, IpfixTemplatesRedefinedWithdrawnAndOddFieldsSkipped) {
    Hand h;
    h.from.address[15] = 1;
    // Template 300: enterprise field (4+4 bytes), source v4, a variable-length field, ports,
    // protocol, octets in 3 bytes, a v4 address of length 3 (passed over), flowStartMilliseconds.
    Ipfix m(0);
    std::size_t s = m.set(2);
    m.put16(300), m.put16(9);
    m.put16(0x8000 | 100), m.put16(4), m.put32(9999);
    m.put16(8), m.put16(4);
    m.put16(0x8000 | 5), m.put16(65535), m.put32(9999);
    m.put16(7), m.put16(2), m.put16(11), m.put16(2), m.put16(4), m.put16(1);
    m.put16(1), m.put16(3), m.put16(12), m.put16(3), m.put16(152), m.put16(8);
    m.end(s);
    // Options template 301 and one record of it: skipped.
    s = m.set(3);
    m.put16(301), m.put16(2), m.put16(1), m.put16(143), m.put16(4), m.put16(41), m.put16(4);
    m.put16(0);  // padding
    m.end(s);
    s = m.set(301);
    m.put32(1), m.put32(2);
    m.end(s);
    s = m.set(300);
    auto record = [&](unsigned varLen, unsigned port) {
        m.put32(0xdeadbeef);
        m.put8(10), m.put8(0), m.put8(0), m.put8(1);
        if (varLen < 255) {
            m.put8(varLen);
        } else {
            m.put8(255), m.put16(varLen);
        }
        for (unsigned i = 0; i < varLen; ++i) m.put8(0xee);
        m.put16(port), m.put16(443), m.put8(6);
        m.put8(0x01), m.put8(0x00), m.put8(0x02);  // 65538
        m.put8(9), m.put8(9), m.put8(9);
        m.put32(0), m.put32(1234);
    };
    record(3, 1000);
    record(300, 1001);     // three-byte length form
    m.put8(0), m.put8(0);  // padding
    m.end(s);
    ASSERT_EQ(h.feed(m.done()), NetflowOutcome::Ok);
    EXPECT_EQ(h.info.templates, 1u);
    EXPECT_EQ(h.info.skipped, 2u);  // the options template and its record
    ASSERT_EQ(h.records.size(), 2u);
    for (const FlowRecord& r : h.records) {
        EXPECT_EQ(r.ipVersion, 4);
        EXPECT_EQ(r.src[0], 10);
        EXPECT_EQ(r.src[3], 1);
        EXPECT_EQ(r.dst[0], 0);  // the 3-byte "address" was not read
        EXPECT_EQ(r.dstPort, 443);
        EXPECT_EQ(r.protocol, 6);
        EXPECT_EQ(r.octets, 65538u);
        EXPECT_EQ(r.startMs, 1234);
    }
    EXPECT_EQ(h.records[0].srcPort, 1000);
    EXPECT_EQ(h.records[1].srcPort, 1001);

    // Redefined: 300 is now just a destination port.
    Ipfix r(2);
    s = r.set(2);
    r.put16(300), r.put16(1), r.put16(11), r.put16(2);
    r.end(s);
    s = r.set(300);
    r.put16(53);
    r.end(s);
    ASSERT_EQ(h.feed(r.done()), NetflowOutcome::Ok);
    ASSERT_EQ(h.records.size(), 1u);
    EXPECT_EQ(h.records[0].dstPort, 53);
    EXPECT_EQ(h.dec.totals().templatesKnown, 2u);

    // Withdrawn: its data now waits. Then "all templates" goes, options too only by set 3.
    Ipfix w(3);
    s = w.set(2);
    w.put16(300), w.put16(0);
    w.end(s);
    s = w.set(300);
    w.put16(53);
    w.end(s);
    ASSERT_EQ(h.feed(w.done()), NetflowOutcome::Ok);
    EXPECT_TRUE(h.records.empty());
    EXPECT_EQ(h.info.templates, 1u);
    EXPECT_EQ(h.dec.totals().waiting, 1u);
    EXPECT_EQ(h.dec.totals().templatesKnown, 1u);
    Ipfix all(3);
    s = all.set(2);
    all.put16(2), all.put16(0);
    all.end(s);
    ASSERT_EQ(h.feed(all.done()), NetflowOutcome::Ok);
    EXPECT_EQ(h.dec.totals().templatesKnown, 1u);  // the options template stays
    s = all.set(3);
    all.put16(3), all.put16(0);
    all.end(s);
    ASSERT_EQ(h.feed(all.done()), NetflowOutcome::Ok);
    EXPECT_EQ(h.dec.totals().templatesKnown, 0u);
}

TEST(NetflowDecoder, HostileDatagramsAreMalformedAndChangeNothing) {
    // Every truncation of every real datagram, to a decoder that knows the templates.
    for (const char* name : kFeeds) {
        SCOPED_TRACE(name);
        const auto feed = readFeed(name);
        cNetflowDecoder dec;
        decodeAll(dec, feed, inOrder(feed.size()));
        const NetflowTotals before = dec.totals();
        for (const Datagram& g : feed) {
            for (std::size_t n = 0; n < g.bytes.size(); ++n) {
                Bytes cut(g.bytes.begin(), g.bytes.begin() + std::ptrdiff_t(n));
                std::size_t visited = 0;
                NetflowDatagramInfo info;
                const NetflowOutcome o = dec.decode(g.from, cut.data(), cut.size(), g.ms, &info,
                                                    [&](const FlowRecord&) { ++visited; });
                if (o != NetflowOutcome::Ok) {
                    EXPECT_EQ(visited, 0u);
                    EXPECT_EQ(info.records, 0u);
                }
                // v5 and IPFIX say their length: a cut one is never read.
                if (g.bytes[1] != 9 && n >= 2) {
                    ASSERT_EQ(o, NetflowOutcome::Malformed) << n;
                }
            }
        }
        EXPECT_EQ(dec.totals().templatesKnown, before.templatesKnown);
    }

    Hand h;
    auto templ = [](std::uint32_t seq, unsigned fields, unsigned length) {
        Ipfix m(seq);
        std::size_t s = m.set(2);
        m.put16(400), m.put16(fields);
        for (unsigned i = 0; i < fields; ++i) m.put16(8), m.put16(length);
        m.end(s);
        return m;
    };
    ASSERT_EQ(h.feed(templ(0, 1, 4).done()), NetflowOutcome::Ok);
    ASSERT_EQ(h.dec.totals().templatesKnown, 1u);
    // A field of length 0, records longer than any message, thousands of fields: refused, and
    // the known template 400 stays.
    EXPECT_EQ(h.feed(templ(1, 1, 0).done()), NetflowOutcome::Malformed);
    EXPECT_EQ(h.feed(templ(1, 2, 40000).done()), NetflowOutcome::Malformed);
    EXPECT_EQ(h.feed(templ(1, 3000, 4).done()), NetflowOutcome::Malformed);
    // 16,000 variable-length fields would fit a message but not a template of ours.
    EXPECT_EQ(h.feed(templ(1, 4000, 65535).done()), NetflowOutcome::Malformed);
    // A field count larger than the set.
    Ipfix big(1);
    std::size_t s = big.set(2);
    big.put16(400), big.put16(60000), big.put16(8), big.put16(4);
    big.end(s);
    EXPECT_EQ(h.feed(big.done()), NetflowOutcome::Malformed);
    // A good template with a bad set after it: neither is applied.
    Ipfix later = templ(1, 2, 4);
    later.put16(400), later.put16(2);  // set length below 4
    EXPECT_EQ(h.feed(later.done()), NetflowOutcome::Malformed);
    Ipfix data(1);
    s = data.set(400);
    data.put32(0x0a000001);
    data.end(s);
    ASSERT_EQ(h.feed(data.done()), NetflowOutcome::Ok);
    ASSERT_EQ(h.records.size(), 1u);  // still the one-field template
    // Message length larger than the datagram, set length past the message.
    Bytes m = data.done();
    m[3] += 1;
    EXPECT_EQ(h.feed(m), NetflowOutcome::Malformed);
    m = data.done();
    m[16 + 3] += 4;
    EXPECT_EQ(h.feed(m), NetflowOutcome::Malformed);
    // A variable length that runs past the set ends the set, nothing read past it.
    Ipfix v(2);
    s = v.set(2);
    v.put16(401), v.put16(2), v.put16(82), v.put16(65535), v.put16(8), v.put16(4);
    v.end(s);
    s = v.set(401);
    v.put8(255), v.put16(60000), v.put32(0x0a000001);
    v.end(s);
    ASSERT_EQ(h.feed(v.done()), NetflowOutcome::Ok);
    EXPECT_TRUE(h.records.empty());

    // v9: variable length and length 0 do not exist there; v5: count and length must agree.
    Bytes v9 = {0, 9, 0, 1, 0, 0, 0, 0,  0, 0,  0, 0, 0, 0, 0,   0,
                0, 0, 0, 0, 0, 0, 0, 12, 1, 44, 0, 1, 0, 8, 255, 255};
    EXPECT_EQ(h.feed(v9), NetflowOutcome::Malformed);
    v9[30] = v9[31] = 0;
    EXPECT_EQ(h.feed(v9), NetflowOutcome::Malformed);
    Bytes v5(24 + 48, 0);
    v5[1] = 5;
    v5[3] = 1;
    EXPECT_EQ(h.feed(v5), NetflowOutcome::Ok);
    v5[3] = 2;
    EXPECT_EQ(h.feed(v5), NetflowOutcome::Malformed);
    v5.resize(24 + 31 * 48);
    v5[3] = 31;
    EXPECT_EQ(h.feed(v5), NetflowOutcome::Malformed);
    const Bytes other = {0, 7, 0, 0};
    EXPECT_EQ(h.feed(other), NetflowOutcome::NotNetflow);
}

TEST(NetflowDecoder, SequenceGapsCountLostUnitsPerVersion) {
    // v5 and IPFIX count records, v9 datagrams; a restart is no loss. softflowd's IPFIX counts
    // the records of the datagram itself too (seen from its second datagram on).
    for (const char* name : kFeeds) {
        SCOPED_TRACE(name);
        const auto feed = readFeed(name);
        if (feed.size() < 5) continue;
        cNetflowDecoder all;
        const Decoded full = decodeAll(all, feed, inOrder(feed.size()));
        const std::size_t drop = 3;
        std::uint64_t want = 1;
        if (full.infos[drop].version != 9)
            want = full.infos[drop].records + full.infos[drop].skipped;
        cNetflowDecoder dec;
        decodeAll(dec, feed, inOrder(feed.size(), drop));
        EXPECT_EQ(dec.totals().lost, want);
        // The exporter starts again from its first datagram: no loss.
        decodeAll(dec, feed, {0, 1});
        EXPECT_EQ(dec.totals().lost, want);
    }
}

}  // namespace
}  // namespace tessel
