// Real captures from tcpdump's test suite (IPv6, the rarer link types, encapsulations): the
// decoder's records equal the ones tshark read from them once (tests/captures/tshark/*.records,
// written by tests/captures/tshark_records.py).
#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "capture/packet_decoder.h"
#include "support/test_support.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;

// One line per record, in the form tshark_records.py prints.
std::set<std::string> decoderRecords(const std::string& path, std::string* error) {
    std::set<std::string> out;
    char err[PCAP_ERRBUF_SIZE] = "";
    pcap_t* p = pcap_open_offline(path.c_str(), err);
    if (!p) {
        *error = err;
        return out;
    }
    const int link = pcap_datalink(p);
    pcap_pkthdr* h = nullptr;
    const u_char* data = nullptr;
    for (long frame = 1; pcap_next_ex(p, &h, &data) == 1; ++frame) {
        const DecodedFrame d = decodeFrame(link, data, h->caplen);
        if (d.outcome != FrameOutcome::Packet || !d.recorded) continue;
        const TrafficRecord& r = d.record;
        std::ostringstream line;
        line << frame << " " << r.src << " " << r.dst << " "
             << (r.tcp   ? "tcp"
                 : r.udp ? "udp"
                         : "icmp")
             << " " << r.srcport << " " << r.dstport << " "
             << ((r.size >> 8) | ((r.size & 0xFF) << 8));
        out.insert(line.str());
    }
    pcap_close(p);
    return out;
}

std::set<std::string> storedRecords(const std::string& path) {
    std::set<std::string> out;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) out.insert(line);
    return out;
}

TEST(TsharkRecords, DecoderAgreesWithTsharkOnRealCaptures) {
    const std::string folder = test::sourceDir() + "/tests/captures/tshark";
    int files = 0;
    std::size_t records = 0;
    for (const auto& e : fs::directory_iterator(folder)) {
        if (e.path().extension() != ".records") continue;
        const std::string capture = e.path().parent_path() / e.path().stem();
        SCOPED_TRACE(capture);
        std::string error;
        const std::set<std::string> got = decoderRecords(capture, &error);
        ASSERT_TRUE(error.empty()) << error;
        const std::set<std::string> want = storedRecords(e.path());
        for (const std::string& w : want) EXPECT_EQ(got.count(w), 1u) << "missing: " << w;
        for (const std::string& g : got) EXPECT_EQ(want.count(g), 1u) << "unexpected: " << g;
        ++files;
        records += want.size();
    }
    EXPECT_GE(files, 29);
    EXPECT_GE(records, 250u);
}

}  // namespace
}  // namespace tessel
