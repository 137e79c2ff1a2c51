// The real program capturing live in a network namespace of the test's own, with a capture
// filter: only what the filter lets through is shown, and the status line counts the rest, and
// what the kernel dropped while the program could not read.
#include <gtest/gtest.h>
#include <signal.h>

#include <regex>

#include "platform/helper_protocol.h"
#include "support/headless_run.h"
#include "support/veth_pair.h"

namespace tessel {
namespace {

std::uint64_t numberAfter(const std::string& text, const std::string& label) {
    std::smatch m;
    return std::regex_search(text, m, std::regex(label + " ([0-9,]+)"))
               ? std::stoull(std::regex_replace(m[1].str(), std::regex(","), ""))
               : ~0ull;
}

TEST(LiveStatus, AFilterLetsOnlyItsTrafficThroughAndTheStatusLineCountsTheRest) {
    if (!test::isRoot()) GTEST_SKIP() << "needs root for network namespaces and capture";
    test::VethPair lab;
    ASSERT_TRUE(lab.ok);
    // A small capture buffer, so that frames are dropped while the program is stopped.
    test::HeadlessRun t({"env", std::string(kHelperBufferBytesVariable) + "=262144", "ip", "netns",
                         "exec", lab.client},
                        {}, {"firstrun=1", "nic=" + lab.nic, "filter=icmp or arp"});
    std::string dump;
    ASSERT_TRUE(t.waitDump("\nstatus-2 ", 30, &dump)) << t.tessel->output();
    EXPECT_NE(dump.find("filter: icmp or arp"), std::string::npos) << dump;

    // ARP (not IP, so not shown), three echoes with replies, and a refused TCP connection
    // that the filter keeps out.
    test::runProcess({"ip", "-n", lab.client, "neigh", "flush", "all"}, "", {}, 5000);
    const test::ProcessResult ping = test::runProcess(
        lab.in(lab.client, {"ping", "-c", "3", "-i", "0.2", "10.78.0.2"}), "", {}, 10000);
    ASSERT_NE(ping.out.find("3 received"), std::string::npos) << ping.out;
    test::runProcess(lab.in(lab.client, {"python3", "-c",
                                         "import socket\n"
                                         "try: socket.create_connection(('10.78.0.2', 9), 2)\n"
                                         "except OSError: pass\n"}),
                     "", {}, 10000);
    EXPECT_TRUE(t.waitDump("\nintel written 6 read 6 ", 20, &dump)) << dump;
    EXPECT_NE(dump.find("\nframes packets 6 short 0 malformed 0 "), std::string::npos) << dump;
    EXPECT_NE(dump.find("\nbeams 0 "), std::string::npos) << dump;
    const std::uint64_t arp = numberAfter(dump, "not-ip");
    EXPECT_GE(arp, 2u) << dump;
    // The status line says what the counters say (it is at most half a second behind).
    EXPECT_TRUE(t.waitDump(
        "\nstatus-1 [0-9,]+ packets/s  kernel drops 0  not shown: " + std::to_string(arp) +
            " not IP, 0 other IP, 0 truncated, 0 malformed, 0 "
            "fragments\n",
        5, &dump))
        << dump;
    EXPECT_NE(dump.find("\nstatus shown 1 drops-red 0 "), std::string::npos) << dump;

    // While the program is stopped, a flood fills its buffer: the kernel drops, the line says so.
    ASSERT_EQ(kill(t.pid, SIGSTOP), 0);
    test::runProcess(
        lab.in(lab.client, {"ping", "-f", "-c", "4000", "-s", "1000", "-q", "10.78.0.2"}), "", {},
        30000);
    ASSERT_EQ(kill(t.pid, SIGCONT), 0);
    EXPECT_TRUE(t.waitDump("\nstatus shown 1 drops-red 1 ", 20, &dump)) << dump;
    EXPECT_GT(numberAfter(dump, "kernel drops"), 0u) << dump;
    EXPECT_GT(numberAfter(dump, "\nkernel received [0-9]+ dropped"), 0u) << dump;
}

}  // namespace
}  // namespace tessel
