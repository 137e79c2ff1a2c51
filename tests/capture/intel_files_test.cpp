#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <set>
#include <thread>

#include "app/render_loop.h"
#include "capture/intel_reader.h"
#include "capture/intel_writer.h"
#include "core/hand_off.h"
#include "platform/directory.h"
#include "platform/lcg_random.h"
#include "support/test_support.h"
#include "support/worldnodes_support.h"

namespace tessel {
namespace {

TrafficRecord udpRecord() {
    TrafficRecord r;
    r.udp = 1;
    r.src = "10.0.0.1";
    r.dst = "10.0.0.2";
    r.srcport = 53;
    r.dstport = 1025;
    r.size = 15360;
    return r;
}

std::vector<TrafficRecord> consume(const std::string& folder, bool* listed = nullptr) {
    std::vector<TrafficRecord> out;
    bool ok = consumeIntelFolder(folder, [&](const TrafficRecord& a) { out.push_back(a); });
    if (listed) *listed = ok;
    return out;
}

TEST(IntelFiles, WriterProducesTheFourLinesUnderAnAnodeName) {
    test::TempDir dir;
    test::ScopedCwd cwd(dir.path());
    ASSERT_EQ(mkdir("intel", 0755), 0);
    lcgSeed(1);
    int a = 0, b = 0;
    lcgDrawPair(&a, &b);
    lcgSeed(1);
    writeIntelRecords({udpRecord()});
    std::vector<std::string> names;
    ASSERT_TRUE(listDirectory("intel", &names));
    ASSERT_EQ(names.size(), 1u);  // no temporary left behind
    EXPECT_EQ(names[0], "anode." + std::to_string(a) + std::to_string(b) + ".xml");
    EXPECT_EQ(test::readFile("intel/" + names[0]),
              "<?xml version='1.0'?>\n<map>\n"
              "<anode tcp='0' udp='1' icmp='0' src='10.0.0.1' dst='10.0.0.2' srcport='53' "
              "dstport='1025' size='15360' />\n</map>\n");

    // The same draws again: the name is taken, so two new numbers are drawn instead of
    // replacing the unread record.
    lcgSeed(1);
    TrafficRecord other = udpRecord();
    other.srcport = 54;
    writeIntelRecords({other});
    names.clear();
    listDirectory("intel", &names);
    EXPECT_EQ(names.size(), 2u);
    std::vector<TrafficRecord> read = consume("intel");
    ASSERT_EQ(read.size(), 2u);
    std::multiset<int> ports{read[0].srcport, read[1].srcport};
    EXPECT_EQ(ports, (std::multiset<int>{53, 54}));
}

TEST(IntelFiles, ReaderTakesEveryAnodeKeepsEmptyMapsAndSkipsTemporaries) {
    test::TempDir dir;
    const std::string f = dir.path();
    test::writeFile(f + "/two.xml",
                    "<?xml version='1.0'?>\n<map>\n"
                    "<anode size='7' tcp='1' udp='0' icmp='0' src='1.1.1.1' dst='2.2.2.2' "
                    "srcport=' 12' dstport='+80x' />\n"
                    "<anode tcp='0' udp='0' icmp='1' src='3.3.3.3' dst='4.4.4.4' srcport='0' "
                    "dstport='0' size='-5' />\n</map>\n");
    test::writeFile(f + "/maponly.xml", "<?xml version='1.0'?>\n<map>\n</map>\n");
    test::writeFile(f + "/noext", "<map><anode src='5.5.5.5' tcp='1' /></map>");
    test::writeFile(f + "/.anode.1.2.tmp", "<map><anode src='6.6.6.6' tcp='1' /></map>");
    test::writeFile(f + "/ANODE.xml", "<map><ANODE src='7.7.7.7' tcp='1' /></map>");
    test::writeFile(f + "/half.xml", "<?xml version='1.0'?>\n<map>\n<anode tcp='0' u");
    ASSERT_EQ(mkdir((f + "/sub.xml").c_str(), 0755), 0);

    std::vector<TrafficRecord> got = consume(f);
    std::vector<std::string> sources;
    for (const TrafficRecord& a : got) sources.push_back(a.src);
    std::multiset<std::string> set(sources.begin(), sources.end());
    EXPECT_EQ(set, (std::multiset<std::string>{"1.1.1.1", "3.3.3.3", "5.5.5.5"}));
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (got[i].src == "1.1.1.1") {
            // File order within one file.
            ASSERT_LT(i + 1, got.size());
            EXPECT_EQ(got[i + 1].src, "3.3.3.3");
            EXPECT_EQ(got[i].srcport, 12);  // leading blank skipped, as atoi does
            EXPECT_EQ(got[i].dstport, 80);
            EXPECT_EQ(got[i].size, 7);
            EXPECT_EQ(got[i + 1].size, -5);
            EXPECT_EQ(got[i + 1].icmp, 1);
        }
        if (got[i].src == "5.5.5.5") {  // missing attributes read as empty / 0
            EXPECT_EQ(got[i].dst, "");
            EXPECT_EQ(got[i].size, 0);
        }
    }
    EXPECT_FALSE(test::fileExists(f + "/two.xml"));
    EXPECT_FALSE(test::fileExists(f + "/noext"));
    EXPECT_TRUE(test::fileExists(f + "/maponly.xml"));
    EXPECT_TRUE(test::fileExists(f + "/.anode.1.2.tmp"));
    EXPECT_TRUE(test::fileExists(f + "/ANODE.xml"));
    EXPECT_TRUE(test::fileExists(f + "/half.xml"));
    // A second pass finds nothing new: kept files stay kept.
    EXPECT_TRUE(consume(f).empty());
    EXPECT_TRUE(test::fileExists(f + "/maponly.xml"));
    bool listed = true;
    EXPECT_TRUE(consume(f + "/missing", &listed).empty());
    EXPECT_FALSE(listed);
}

TEST(IntelFiles, MissingFolderEndsTheProcessWithStatusZero) {
    test::TempDir dir;
    test::ScopedCwd cwd(dir.path());
    setenv("TESSEL_DIALOGS", "stderr", 1);
    // The reader thread finds the folder missing and says so through the channel; the main
    // thread's intel pass then ends the process.
    HandOffChannel channel;
    cIntelReaderWorker reader(intelFolder, channel);
    EXPECT_FALSE(reader.pass());
    HandOffBatch batch = channel.drain(true);
    EXPECT_TRUE(batch.intelFolderMissing);
    SSceneContext context = test::testSceneContext();
    EXPECT_EXIT(loadIntelFiles(context, batch.records, batch.intelFolderMissing),
                ::testing::ExitedWithCode(0), "Failed to open 'intel' folder\\. Failing\\.\\.\\.");
}

TEST(IntelFiles, SlowRecordsGetAFileEachFastOnesShareFilesOnTime) {
    test::TempDir dir;
    test::ScopedCwd cwd(dir.path());
    ASSERT_EQ(mkdir("intel", 0755), 0);
    using Clock = cIntelWriter::Clock;
    using std::chrono::milliseconds;
    const Clock::time_point t0 = Clock::now();
    auto files = [] {
        std::vector<std::string> names;
        listDirectory("intel", &names);
        return names.size();
    };
    cIntelWriter writer;
    TrafficRecord r = udpRecord();
    // Slower than one per 50 ms: each record is in place the moment it is written.
    for (int i = 0; i < 3; ++i) {
        r.srcport = i;
        writer.write(r, t0 + milliseconds(60 * i));
        EXPECT_FALSE(writer.hasPending());
        EXPECT_EQ(files(), std::size_t(i + 1));
    }
    // Faster: gathered, and in place 50 ms after the first of them at the latest.
    const Clock::time_point t1 = t0 + milliseconds(1000);
    writer.write(r, t1);  // after a pause: alone, at once
    EXPECT_EQ(files(), 4u);
    for (int i = 0; i < 10; ++i) writer.write(r, t1 + milliseconds(1 + i));
    EXPECT_TRUE(writer.hasPending());
    EXPECT_EQ(writer.deadline(), t1 + milliseconds(51));
    writer.flushIfDue(t1 + milliseconds(50));
    EXPECT_EQ(files(), 4u);
    writer.flushIfDue(t1 + milliseconds(51));
    EXPECT_EQ(files(), 5u);
    // After 60 ms one alone again, then a full file goes at once.
    const Clock::time_point t2 = t1 + milliseconds(70);
    for (std::size_t i = 0; i < 1 + cIntelWriter::kRecordsPerFile; ++i) writer.write(r, t2);
    EXPECT_FALSE(writer.hasPending());
    EXPECT_EQ(files(), 7u);
    EXPECT_EQ(consume("intel").size(), 3 + 1 + 10 + 1 + cIntelWriter::kRecordsPerFile);
}

TEST(IntelFiles, EveryRecordReachesTheMainThreadOnceWhileReaderAndWriterRace) {
    test::TempDir dir;
    test::ScopedCwd cwd(dir.path());
    ASSERT_EQ(mkdir("intel", 0755), 0);
    constexpr int kRecords = 20000;
    HandOffChannel channel;
    cIntelReaderWorker reader(intelFolder, channel);
    std::thread readerThread([&reader] { reader.run(); });
    std::atomic<bool> done{false};
    cIntelWriter writer;
    std::thread writerThread([&] {
        for (int i = 0; i < kRecords; ++i) {
            TrafficRecord r = udpRecord();
            r.srcport = i % 65536;
            r.size = i / 65536;
            writer.write(r, cIntelWriter::Clock::now());
            writer.flushIfDue(cIntelWriter::Clock::now());
        }
        writer.flush();
        done = true;
    });
    // The main thread's part: take what the reader handed over, as the intel pass does.
    std::vector<int> seen(kRecords, 0);
    auto take = [&] {
        for (const TrafficRecord& a : channel.drain(true).records) {
            const int i = a.size * 65536 + a.srcport;
            if (i >= 0 && i < kRecords) seen[std::size_t(i)] += 1;
        }
    };
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < until &&
           !(done && reader.recordsRead() == std::uint64_t(kRecords))) {
        take();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    writerThread.join();
    reader.requestStop();
    readerThread.join();
    take();
    int missing = 0, doubled = 0;
    for (int n : seen) {
        missing += n == 0;
        doubled += n > 1;
    }
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(doubled, 0);
    EXPECT_EQ(writer.counters().written.load(), std::uint64_t(kRecords));
    EXPECT_EQ(writer.counters().lost.load(), 0u);
    EXPECT_EQ(reader.recordsRead(), std::uint64_t(kRecords));
    std::vector<std::string> left;
    listDirectory("intel", &left);
    EXPECT_TRUE(left.empty());
}

TEST(IntelFiles, AFullChannelLeavesTheFilesInTheFolder) {
    test::TempDir dir;
    test::ScopedCwd cwd(dir.path());
    ASSERT_EQ(mkdir("intel", 0755), 0);
    HandOffChannel channel;
    std::vector<TrafficRecord> filler(HandOffChannel::kRecordLimit - 1);
    channel.pushRecords(std::move(filler));
    writeIntelRecords(std::vector<TrafficRecord>(3, udpRecord()));
    writeIntelRecords({udpRecord()});
    cIntelReaderWorker reader(intelFolder, channel);
    EXPECT_TRUE(reader.pass());  // room for one record: one file is taken, however long
    std::vector<std::string> left;
    listDirectory("intel", &left);
    EXPECT_EQ(left.size(), 1u);
    EXPECT_EQ(channel.recordRoom(), 0u);
    EXPECT_TRUE(reader.pass());  // full: nothing read
    listDirectory("intel", &(left = {}));
    EXPECT_EQ(left.size(), 1u);
    EXPECT_GE(channel.drain(true).records.size(), HandOffChannel::kRecordLimit);
    EXPECT_TRUE(reader.pass());
    EXPECT_GE(channel.drain(true).records.size(), 1u);
    listDirectory("intel", &(left = {}));
    EXPECT_TRUE(left.empty());
}

TEST(IntelFiles, MalformedTextYieldsNoRecordInsteadOfCrashingTheReader) {
    // Each of these once sent the engine's XML reader past the end of its buffer.
    const std::string crashers[] = {"<",
                                    "\xff\xfe<",
                                    "<map><a<node src=\"&amp;\" /></map>",
                                    "<anode src='1' tcp='1'",
                                    "<anode src=1.1.1.1 tcp=1/>",
                                    "<?xml a='>'<anode tcp='?>' />",
                                    "<!-- <x> --><map/>",
                                    "<!---><map><anode tcp='1'/></map>",
                                    "<map><![CDATA[<]]></map>"};
    for (const std::string& t : crashers)
        EXPECT_TRUE(parseIntelText(t.data(), t.size()).empty()) << t;
    const std::string good[] = {
        "<map><anode src='1.2.3.4' tcp='1'/><anode/></map>",
        "<?xml version='1.0'?>\r\n<map>\r\n<anode src=\"1.2.3.4\" tcp = '1' />"
        "<anode/>\r\n</map>\r\n",
    };
    for (const std::string& t : good) EXPECT_EQ(parseIntelText(t.data(), t.size()).size(), 2u) << t;
}

// What hand-edited texts have always given; the scene draws these values as they are.
TEST(IntelFiles, OddTextsGiveTheRecordsTheyAlwaysGave) {
    struct Case {
        const char* text;
        std::vector<std::string> records;  // "src dst srcport dstport size tcp udp icmp"
    };
    const Case cases[] = {
        {"", {}},
        {"no markup at all", {}},
        {"<?xml version='1.0'?>\n<map>\n</map>\n", {}},
        {"\xef\xbb\xbf<anode tcp='1'/>", {}},  // byte-order mark: not plain ASCII
        {"<anode tcp='1'/>\n\x01", {"|| 0 0 0 1 0 0"}},
        {"<anode tcp='1'/>\nx\xc3\xa9", {}},
        {"<ANODE tcp='1'/><Anode tcp='1'/><anodes tcp='1'/><x:anode tcp='1'/>", {}},
        {"<anode src='a'tcp='1'/>", {}},  // attributes must be spaced
        {"<map><x><anode udp = \"1\" src=\"it's\"\n dst='say \"hi\"'></anode></x>",
         {"it's|say \"hi\"| 0 0 0 0 1 0"}},
        {"<anode size='70000' srcport='99999' dstport='-1' tcp='1' src='a' dst='b'/>",
         {"a|b| 99999 -1 70000 1 0 0"}},
        {"<anode size=' \t-5' srcport='+12x' dstport='99999999999' udp=' +1'/>",
         {"|| 12 2147483647 -5 0 1 0"}},
        {"<anode tcp='1' tcp='0' src='x' src='y' size='&#49;'/>", {"x|| 0 0 0 1 0 0"}},
        // Entities decode, but the one character after an entity ending one short of the end
        // is dropped, and a lone "&" is nothing.
        {"<anode src='&lt;&gt;&quot;&apos;&amp;!!' dst='1&amp;2' icmp='&' size='&amp;12'/>",
         {"<>\"'&!!|1&| 0 0 0 0 0 0"}},
        {"<anode src='a>b' icmp='1'/></map><anode/>", {"a>b|| 0 0 0 0 0 1", "|| 0 0 0 0 0 0"}},
    };
    for (const Case& c : cases) {
        const std::string text = c.text;
        std::vector<std::string> got;
        for (const TrafficRecord& r : parseIntelText(text.data(), text.size()))
            got.push_back(r.src + "|" + r.dst + "| " + std::to_string(r.srcport) + " " +
                          std::to_string(r.dstport) + " " + std::to_string(r.size) + " " +
                          std::to_string(r.tcp) + " " + std::to_string(r.udp) + " " +
                          std::to_string(r.icmp));
        EXPECT_EQ(got, c.records) << text;
    }
    // The writer's extremes read back as written.
    TrafficRecord edge;
    edge.tcp = 1;
    edge.src = "255.255.255.255";
    edge.dst = "0.0.0.0";
    edge.srcport = 65535;
    edge.size = 65535;
    const std::string batch = intelFileContent(std::vector<TrafficRecord>{edge, udpRecord()});
    std::vector<TrafficRecord> back = parseIntelText(batch.data(), batch.size());
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].src, edge.src);
    EXPECT_EQ(back[0].dst, edge.dst);
    EXPECT_EQ(back[0].srcport, 65535);
    EXPECT_EQ(back[0].size, 65535);
    EXPECT_EQ(back[0].tcp, 1);
    EXPECT_EQ(back[1].dstport, 1025);
    EXPECT_EQ(back[1].udp, 1);
}

}  // namespace
}  // namespace tessel
