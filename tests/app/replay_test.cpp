// The real program replaying captures: what it makes of the frames of a file, or of a pipe from
// tcpdump, equals what live capture makes of the same frames; a file it cannot read ends it with
// status 2 and a message that names the file. Runs headless, without capture rights.
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

#include "capture/intel_reader.h"
#include "support/capture_sink.h"
#include "support/headless_run.h"
#include "support/veth_pair.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// What came of a capture's frames: the capture counters and the records written.
struct Outcome {
    std::uint64_t packets = 0, shortDrops = 0, malformed = 0, ignored = 0, records = 0;
};

std::ostream& operator<<(std::ostream& o, const Outcome& x) {
    return o << "packets " << x.packets << " short " << x.shortDrops << " malformed " << x.malformed
             << " ignored " << x.ignored << " records " << x.records;
}

bool sameCounts(const Outcome& a, const Outcome& b) {
    return a.packets == b.packets && a.shortDrops == b.shortDrops && a.malformed == b.malformed &&
           a.ignored == b.ignored && a.records == b.records;
}

// The frames of `file` handed to the capture callback, as a live capture hands them.
Outcome liveOutcome(const std::string& file) {
    test::TempDir dir;
    test::ScopedCwd cwd(dir.path());
    mkdir(intelFolder, 0755);
    char err[PCAP_ERRBUF_SIZE] = "";
    pcap_t* p = pcap_open_offline(file.c_str(), err);
    Outcome o;
    EXPECT_NE(p, nullptr) << err;
    if (!p) return o;
    test::CaptureSink capture(pcap_datalink(p));
    pcap_loop(p, 0, onPacket, capture.user());  // a file cut short plays what it holds
    pcap_close(p);
    const CaptureCounters& c = capture.counters;
    o.packets = c.packets;
    o.shortDrops = c.droppedShort;
    o.malformed = c.droppedMalformed;
    o.ignored = c.ignored;
    o.records = capture.takeRecords().size();
    return o;
}

Outcome outcomeOfDump(const std::string& dump) {
    Outcome o;
    std::smatch m;
    if (std::regex_search(dump, m,
                          std::regex("\nframes packets ([0-9]+) short ([0-9]+) malformed ([0-9]+) "
                                     "ignored ([0-9]+) "))) {
        o.packets = std::stoull(m[1]);
        o.shortDrops = std::stoull(m[2]);
        o.malformed = std::stoull(m[3]);
        o.ignored = std::stoull(m[4]);
    }
    if (std::regex_search(dump, m, std::regex("\nintel written ([0-9]+) ")))
        o.records = std::stoull(m[1]);
    return o;
}

// As root the program's capture capabilities are dropped first, so the runs prove that a replay
// needs none.
std::vector<std::string> withoutCaptureRights() {
    if (!test::isRoot()) return {};
    return {"setpriv", "--bounding-set", "-net_raw,-net_admin"};
}

TEST(ReplayProgram, FramesOfAFileMakeWhatTheyMakeLive) {
    const std::string captures = test::sourceDir() + "/tests/captures/";
    std::vector<std::string> files = {"eth_tcp_session.pcap",      "truncated_snapshot.pcap",
                                      "bad_ip_header_length.pcap", "fragments.pcap",
                                      "link_linux_sll2.pcap",      "link_null.pcap",
                                      "real_veth_clients.pcap",    "real_any_clients.pcap"};
    for (const auto& e : fs::directory_iterator(captures + "tcpdump")) {
        const std::string name = e.path().filename().string();
        if (name.find(".pcap") != std::string::npos) files.push_back("tcpdump/" + name);
    }
    // A file cut short inside its last frame plays the frames before it, then says so.
    test::TempDir cut;
    const std::string whole = test::readFile(captures + "eth_tcp_session.pcap");
    test::writeFile(cut.file("cut_short.pcap"), whole.substr(0, whole.size() - 10));
    files.push_back(cut.file("cut_short.pcap"));

    for (const std::string& name : files) {
        SCOPED_TRACE(name);
        const std::string file = name[0] == '/' ? name : captures + name;
        const Outcome live = liveOutcome(file);
        test::HeadlessRun replay(withoutCaptureRights(), {"-r", file, "--speed", "1000"});
        std::string dump;
        ASSERT_TRUE(replay.waitDump("\nmessage 0 Replay finished\n", 60, &dump))
            << dump << replay.tessel->output();
        const Outcome got = outcomeOfDump(dump);
        EXPECT_TRUE(sameCounts(got, live)) << "program: " << got << "\nlive: " << live;
        EXPECT_NE(dump.find("progress 1000 "), std::string::npos) << dump;
        EXPECT_NE(dump.find("\nmessage 0 Replay finished\n"), std::string::npos) << dump;
        const bool cutShort = name.find("cut_short") != std::string::npos;
        EXPECT_EQ(dump.find("\nmessage 1 Capture cut short\n") != std::string::npos, cutShort)
            << dump;
        EXPECT_TRUE(replay.tessel->running()) << "the scene stays until the user quits";
    }
}

TEST(ReplayProgram, StandardInputFromTcpdumpOnALiveLink) {
    if (!test::isRoot()) GTEST_SKIP() << "needs root for network namespaces and capture";
    if (test::runProcess({"tcpdump", "--version"}, "", {}, 5000).status != 0)
        GTEST_SKIP() << "tcpdump is not installed";
    test::VethPair lab;
    ASSERT_TRUE(lab.ok);
    std::string tcpdump;
    for (const std::string& a : lab.in(lab.client, {"tcpdump", "-Z", "root", "--immediate-mode",
                                                    "-U", "-i", lab.nic, "-w", "-", "icmp"}))
        tcpdump += "'" + a + "' ";
    test::HeadlessRun replay(withoutCaptureRights(), {"-r", "-"}, {}, tcpdump + "2>tcpdump.txt");
    ASSERT_GT(replay.pid, 0) << replay.tessel->output();
    for (int i = 0; i < 250; ++i) {
        if (test::readFile(replay.run.file("tcpdump.txt")).find("listening on") !=
            std::string::npos)
            break;
        std::this_thread::sleep_for(20ms);
    }
    const test::ProcessResult ping = test::runProcess(
        lab.in(lab.client, {"ping", "-c", "3", "-i", "0.2", "10.78.0.2"}), "", {}, 10000);
    ASSERT_NE(ping.out.find("3 received"), std::string::npos) << ping.out;

    // The frames arrive while the stream is still open: three echoes and their replies.
    std::string dump;
    EXPECT_TRUE(replay.waitDump("\nintel written 6 read 6 ", 30, &dump))
        << dump << replay.tessel->output();
    EXPECT_NE(dump.find("\nframes packets 6 short 0 malformed 0 ignored 0 "), std::string::npos)
        << dump;
    EXPECT_NE(dump.find(" progress -1 "), std::string::npos) << dump;
    EXPECT_NE(dump.find(" finished 0 source standard input\n"), std::string::npos) << dump;
    EXPECT_NE(dump.find(" 10.78.0.2 "), std::string::npos) << dump;

    // tcpdump ends; so does the stream, and the replay says it is finished.
    test::shellOutput("ip netns pids " + lab.client + " | xargs -r kill -INT", {}, 10000);
    EXPECT_TRUE(replay.waitDump("\nmessage 0 Replay finished\n", 30, &dump)) << dump;
    EXPECT_NE(dump.find(" finished 1 source standard input\n"), std::string::npos) << dump;
}

TEST(ReplayProgram, UnreadableFilesEndWithStatusTwoAndNameTheFile) {
    test::TempDir files;
    const std::string whole =
        test::readFile(test::sourceDir() + "/tests/captures/eth_tcp_session.pcap");
    test::writeFile(files.file("empty.pcap"), "");
    test::writeFile(files.file("notes.pcap"), "these are notes, not a capture\n");
    test::writeFile(files.file("header.pcap"), whole.substr(0, 12));
    mkdir(files.file("folder.pcap").c_str(), 0755);
    for (const char* name :
         {"empty.pcap", "notes.pcap", "header.pcap", "folder.pcap", "gone.pcap"}) {
        SCOPED_TRACE(name);
        test::TesselRun t;
        const test::ProcessResult r =
            t.run({"-r", files.file(name)}, {{"TESSEL_NULL_DRIVER", "1"}});
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find("tessel: cannot replay " + files.file(name) + ": "), std::string::npos)
            << r.err;
        EXPECT_EQ(t.configToolArgs(200), "") << "the configuration tool cannot mend a file";
    }
    test::TesselRun t;
    const test::ProcessResult r = t.run({"--speed", "0"}, {{"TESSEL_NULL_DRIVER", "1"}});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--speed: '0' is not a speed from 0.01 to 1000"), std::string::npos)
        << r.err;
}

}  // namespace
}  // namespace tessel
