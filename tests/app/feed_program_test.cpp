// The real program as a collector: fed sFlow by pmacctd, it shows the exporter as node 0 and the
// sampled hosts; a port it cannot bind ends it with a clear line (command line) or sends the user
// to the settings (settings file).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support/headless_run.h"
#include "support/tessel_run.h"

namespace tessel {
namespace {

std::uint16_t testPort() { return std::uint16_t(36000 + getpid() % 4000); }

// A UDP socket holding `port` on every address, for as long as it lives.
struct PortHolder {
    explicit PortHolder(std::uint16_t port) {
        fd = ::socket(AF_INET6, SOCK_DGRAM, 0);
        int off = 0;
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(port);
        a.sin6_addr = in6addr_any;
        bound = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~PortHolder() { ::close(fd); }
    int fd = -1;
    bool bound = false;
};

TEST(FeedProgram, SflowFromPmacctdShowsTheExporterAsNodeZeroAndTheSampledHosts) {
    if (test::runProcess({"sh", "-c", "command -v pmacctd"}, "", {}, 5000).status != 0)
        GTEST_SKIP() << "pmacctd is not installed (scripts/setup.sh installs it)";
    const std::uint16_t port = testPort();
    test::HeadlessRun feed({}, {"--sflow", "127.0.0.1:" + std::to_string(port)});
    for (int k = 0; k < 200 && feed.tessel->output().find("listening on") == std::string::npos; ++k)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    test::TempDir dir;
    const std::string conf = dir.file("pmacctd.conf");
    test::writeFile(conf, "daemonize: false\npcap_savefile: " + test::sourceDir() +
                              "/tests/captures/real_veth_clients.pcap\nplugins: sfprobe\n"
                              "sfprobe_receiver: 127.0.0.1:" +
                              std::to_string(port) +
                              "\nsfprobe_agentip: 10.1.0.7\nsampling_rate: 1\n");
    test::BackgroundProcess pmacctd({"pmacctd", "-f", conf}, dir.path(), {});
    std::string d;
    EXPECT_TRUE(feed.waitDump("\nnode 0 10\\.1\\.0\\.7 ", 30, &d)) << d << feed.tessel->output();
    EXPECT_TRUE(feed.waitDump("\nnode [0-9]+ 10\\.78\\.0\\.2 local ", 30, &d)) << d;
    EXPECT_TRUE(
        feed.waitDump("\nfeed sFlow datagrams [1-9][0-9]* exporters 1 .* malformed 0 ", 30, &d))
        << d;
    EXPECT_NE(d.find("\nstatus-3 sFlow "), std::string::npos) << d;
    EXPECT_NE(d.find("sampling 1/1"), std::string::npos) << d;
    const std::string said = feed.tessel->output();
    EXPECT_NE(said.find("sflow: node 0 is 10.1.0.7 (the first exporter heard)"), std::string::npos)
        << said;
}

TEST(FeedProgram, APortInUseIsNamedOnTheCommandLineAndSendsTheUserToTheSettings) {
    const std::uint16_t port = testPort() + 1;
    PortHolder holder(port);
    ASSERT_TRUE(holder.bound);
    {
        test::TesselRun t;
        t.settings({"firstrun=1"});
        test::ProcessResult r = t.run({"--netflow", std::to_string(port)});
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("NetFlow/IPFIX: cannot listen on UDP " + std::to_string(port)),
                  std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find("in use"), std::string::npos) << r.err;
        EXPECT_EQ(t.configToolArgs(200), "");
    }
    {
        test::TesselRun t;
        t.settings({"firstrun=1", "source=sflow", "listen=" + std::to_string(port)});
        test::ProcessResult r = t.run();
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.err.find("sFlow: cannot listen on UDP"), std::string::npos) << r.err;
        EXPECT_EQ(t.configToolArgs(), "respawn\n");
    }
    for (const char* bad : {"--sflow=70000", "--netflow=[::1", "--local=10.0.0.0/33"}) {
        test::TesselRun t;
        test::ProcessResult r = t.run({bad});
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_NE(r.err.find("tessel: --"), std::string::npos) << r.err;
    }
}

}  // namespace
}  // namespace tessel
