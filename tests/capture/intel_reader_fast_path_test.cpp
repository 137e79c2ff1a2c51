#include <gtest/gtest.h>

#include <string>

#include "capture/intel_reader.h"
#include "capture/intel_writer.h"

namespace tessel {
namespace {

// The writer's own text is read by a direct matcher; anything else by the engine's XML reader.
// Both must give the same record: a trailing blank line sends the same record the general way.
TEST(IntelReaderFastPath, WriterTextReadsAsTheGeneralReaderReadsIt) {
    TrafficRecord edge;
    edge.tcp = 1;
    edge.src = "255.255.255.255";
    edge.dst = "0.0.0.0";
    edge.srcport = 65535;
    edge.dstport = 0;
    edge.size = 65535;
    TrafficRecord plain;
    plain.icmp = 1;
    plain.src = "10.0.0.1";
    plain.dst = "192.168.100.20";
    plain.size = 10240;
    for (const TrafficRecord& r : {edge, plain}) {
        const std::string text = intelFileContent(r);
        const std::string general = text + "\n";
        std::vector<IntelAnode> fast = parseIntelText(text.data(), text.size());
        std::vector<IntelAnode> slow = parseIntelText(general.data(), general.size());
        ASSERT_EQ(fast.size(), 1u) << text;
        ASSERT_EQ(slow.size(), 1u) << general;
        const IntelAnode& a = fast[0];
        const IntelAnode& b = slow[0];
        EXPECT_EQ(a.src, b.src);
        EXPECT_EQ(a.dst, b.dst);
        EXPECT_EQ(a.src, r.src);
        EXPECT_EQ(a.dst, r.dst);
        EXPECT_EQ(a.srcport, b.srcport);
        EXPECT_EQ(a.dstport, b.dstport);
        EXPECT_EQ(a.size, b.size);
        EXPECT_EQ(a.tcp, b.tcp);
        EXPECT_EQ(a.udp, b.udp);
        EXPECT_EQ(a.icmp, b.icmp);
        EXPECT_EQ(a.srcport, int(r.srcport));
        EXPECT_EQ(a.size, int(r.size));
    }
    // A gathered file: every line read, in order, the same both ways.
    const std::string batch = intelFileContent(std::vector<TrafficRecord>{edge, plain, edge});
    const std::string batchGeneral = batch + "\n";
    std::vector<IntelAnode> fast = parseIntelText(batch.data(), batch.size());
    std::vector<IntelAnode> slow = parseIntelText(batchGeneral.data(), batchGeneral.size());
    ASSERT_EQ(fast.size(), 3u);
    ASSERT_EQ(slow.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(fast[i].src, slow[i].src);
        EXPECT_EQ(fast[i].size, slow[i].size);
        EXPECT_EQ(fast[i].tcp, slow[i].tcp);
    }
    EXPECT_EQ(fast[1].src, plain.src);
    // Near misses of the writer's text are not taken by the matcher; these are refused or read
    // the general way, never half read.
    const std::string cut = "<?xml version='1.0'?>\n<map>\n<anode tcp='1' udp='0' icmp='0' src='1";
    EXPECT_TRUE(parseIntelText(cut.data(), cut.size()).empty());
    const std::string escaped =
        "<?xml version='1.0'?>\n<map>\n<anode tcp='0' udp='1' icmp='0' src='1&amp;2' dst='3' "
        "srcport='1' dstport='2' size='3' />\n</map>\n";
    EXPECT_EQ(parseIntelText(escaped.data(), escaped.size()).size(), 1u);
}

}  // namespace
}  // namespace tessel
