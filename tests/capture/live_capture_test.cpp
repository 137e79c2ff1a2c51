// Real capture on real interfaces, through the capture helper as the program captures: loopback
// connections between 127.0.0.1 and 127.0.0.2, the helper's rate samples, and adapter discovery
// plus capture start inside a network namespace of the test's own. Root only.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include "capture/capture_filter.h"
#include "capture/capture_session.h"
#include "capture/helper_capture.h"
#include "capture/net_interface.h"
#include "capture/packet_decoder.h"
#include "core/adapter_addresses.h"
#include "core/hand_off.h"
#include "nodes/connection_list.h"
#include "nodes/node_manager.h"
#include "platform/child_process.h"
#include "platform/helper_protocol.h"
#include "scene/traffic_beams.h"
#include "support/test_support.h"
#include "support/worldnodes_support.h"

namespace tessel {
namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in loopback(const char* address, int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(std::uint16_t(port));
    inet_pton(AF_INET, address, &a.sin_addr);
    return a;
}

int boundSocket(int type, const char* address, int* port) {
    int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    timeval limit{5, 0};  // every blocking call of these tests is bounded
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    sockaddr_in a = loopback(address, 0);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return -1;
    socklen_t n = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    *port = ntohs(a.sin_port);
    return fd;
}

TEST(LiveCapture, LoopbackConnectionMakesAndRemovesABeam) {
    if (!test::isRoot()) GTEST_SKIP() << "needs capture rights";
    test::TempDir dir;
    test::ScopedCwd cwd(dir.path());
    ASSERT_EQ(mkdir("intel", 0755), 0);
    irr::IrrlichtDevice* device = test::createNullDevice(false);
    ASSERT_NE(device, nullptr);
    test::resetNodeWorld();
    SSceneContext context = test::testSceneContext();
    context.sceneManager = device->getSceneManager();
    context.videoDriver = device->getVideoDriver();
    test::testAdapter().localAddresses = {"127.0.0.1"};
    test::testAdapter().netMasks = {"255.0.0.0"};
    cNodeManager& manager = test::testNodes();
    manager.addLocalNode("127.0.0.1");

    int serverPort = 0;
    int server = boundSocket(SOCK_STREAM, "127.0.0.2", &serverPort);
    ASSERT_GE(server, 0);
    ASSERT_EQ(listen(server, 1), 0);

    auto helper = std::make_unique<cHelperCapture>();
    std::string message;
    ASSERT_EQ(helper->start("lo", "tcp and host 127.0.0.2 and port " + std::to_string(serverPort),
                            &message),
              HelperResult::Ok)
        << message;
    std::unique_ptr<cFrameSource> frames = helper->takeFrames();
    CaptureOptions options;
    options.helper = std::move(helper);
    HandOffChannel channel;
    cCaptureSession session(std::move(frames), channel, std::move(options));
    session.start();

    int clientPort = 0;
    int client = boundSocket(SOCK_STREAM, "127.0.0.1", &clientPort);
    sockaddr_in to = loopback("127.0.0.2", serverPort);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    int accepted = accept(server, nullptr, nullptr);
    ASSERT_GE(accepted, 0);
    ASSERT_EQ(send(client, "hello tessel", 12, 0), 12);

    // The main loop's part, done here: apply the queue until the beam stands.
    auto until = Clock::now() + std::chrono::seconds(5);
    while (test::testConnections().empty() && Clock::now() < until) {
        applyBeamEvents(context, channel.drain(false).beams);
        std::this_thread::yield();
    }
    ASSERT_EQ(test::testConnections().size(), 1u);
    EXPECT_EQ(test::testConnections().at(0).source, "127.0.0.1");
    EXPECT_EQ(test::testConnections().at(0).destination, "127.0.0.2");
    EXPECT_EQ(test::testConnections().at(0).sourcePort, clientPort);
    EXPECT_EQ(test::testConnections().at(0).destinationPort, serverPort);
    EXPECT_NE(beamOf(context, test::testConnections().at(0)), nullptr);

    char buf[16];
    ASSERT_EQ(recv(accepted, buf, 12, MSG_WAITALL), 12);  // unread data would mean RST
    close(accepted);  // the responder's FIN first: the beam stays
    EXPECT_EQ(recv(client, buf, sizeof buf, 0), 0);
    close(client);  // the opener's FIN removes it
    until = Clock::now() + std::chrono::seconds(5);
    while (!test::testConnections().empty() && Clock::now() < until) {
        applyBeamEvents(context, channel.drain(false).beams);
        std::this_thread::yield();
    }
    EXPECT_TRUE(test::testConnections().empty());
    EXPECT_GE(session.counters().packets.load(), 6u);
    KernelCaptureStats kernel;
    EXPECT_TRUE(session.kernelStats(&kernel));

    session.stop();  // ends the helpers
    EXPECT_FALSE(session.kernelStats(&kernel));
    close(server);
    test::resetNodeWorld();
    device->drop();
}

// The helper's rates mode, as the statistics thread reads it: one line a second, idle or busy,
// each frame's bytes counted once.
TEST(LiveCapture, RatesHelperGivesOneSampleASecondIdleOrBusy) {
    if (!test::isRoot()) GTEST_SKIP() << "needs capture rights";
    int port = 0;
    int sink = boundSocket(SOCK_DGRAM, "127.0.0.2", &port);  // bound, so no ICMP replies
    ASSERT_GE(sink, 0);
    ChildProcess rates;
    ASSERT_TRUE(startChild(captureHelperPath(),
                           {kHelperModeRates, "lo", "udp and dst port " + std::to_string(port)},
                           false, &rates));
    const auto started = Clock::now();
    std::string pending;
    int samples = 0, emptySamples = 0;
    std::uint64_t bytes = 0;
    // Reads the lines that arrive until `done` or `limit`.
    auto readUntil = [&](auto done, std::chrono::seconds limit) {
        const auto until = Clock::now() + limit;
        while (!done() && Clock::now() < until) {
            struct pollfd p {};
            p.fd = rates.out;
            p.events = POLLIN;
            if (poll(&p, 1, 100) <= 0) continue;
            char buffer[512];
            const ssize_t n = read(rates.out, buffer, sizeof buffer);
            if (n <= 0) break;
            pending.append(buffer, std::size_t(n));
            for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
                HelperRateLine line;
                EXPECT_TRUE(parseRateLine(pending.substr(0, end), &line)) << pending;
                pending.erase(0, end + 1);
                samples += 1;
                emptySamples += line.bytes == 0;
                bytes += line.bytes;
            }
        }
    };
    // Idle: empty samples still arrive, one per second.
    readUntil([&] { return samples >= 2; }, std::chrono::seconds(5));
    EXPECT_EQ(samples, 2);
    EXPECT_EQ(emptySamples, 2);
    // Busy: the bytes of the datagrams are counted.
    int sender = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to = loopback("127.0.0.2", port);
    for (int i = 0; i < 10; ++i)
        sendto(sender, "0123456789", 10, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    readUntil([&] { return bytes >= 10 * 52u; }, std::chrono::seconds(5));
    readUntil([] { return false; }, std::chrono::seconds(1));  // nothing counted twice
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    EXPECT_EQ(bytes, 10 * 52u);                  // 14 + 20 + 8 + 10 bytes each, counted once
    EXPECT_NEAR(double(samples), seconds, 1.0);  // one per second
    endChild(&rates);
    close(sender);
    close(sink);
}

// --- inside a network namespace -------------------------------------------------------------

const char* kChildEnv = "TESSEL_CAPTURE_NETNS_CHILD";

std::string selfExe() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    path[n > 0 ? n : 0] = '\0';
    return path;
}

int sh(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

class Netns {
  public:
    Netns() : name("tessel-cap-" + std::to_string(getpid())) {
        ok = sh("ip netns add " + name) == 0 &&
             sh(exec() + "ip link add tva type veth peer name tvb") == 0 &&
             sh(exec() + "ip addr add 10.77.0.2/24 dev tva") == 0 &&
             sh(exec() + "ip link set tva up") == 0 && sh(exec() + "ip link set tvb up") == 0 &&
             sh(exec() + "ip link set lo up") == 0 &&
             sh(exec() + "ip route add default via 10.77.0.1 dev tva") == 0;
    }
    ~Netns() { sh("ip netns delete " + name); }
    std::string exec() const { return "ip netns exec " + name + " "; }
    test::ProcessResult run(const std::string& childTest, const std::string& mode,
                            const std::vector<std::string>& wrapper = {},
                            std::map<std::string, std::string> env = {}) {
        std::vector<std::string> argv = {"ip", "netns", "exec", name};
        argv.insert(argv.end(), wrapper.begin(), wrapper.end());
        argv.push_back(selfExe());
        argv.push_back("--gtest_filter=NetnsChild." + childTest);
        env.insert(
            {{kChildEnv, mode}, {"TESSEL_DIALOGS", "stderr"}, {"TESSEL_CONFIG_TOOL", "/bin/true"}});
        return test::runProcess(argv, wrapper.empty() || env.count("HOME") ? dir.path() : "/", env,
                                20000);
    }
    std::string name;
    bool ok = false;
    test::TempDir dir;
};

// Runs only when started by the tests below inside the namespace.
TEST(NetnsChild, Discover) {
    const char* mode = std::getenv(kChildEnv);
    if (!mode) GTEST_SKIP() << "started by LiveCapture.DiscoveryInANetworkNamespace";
    if (std::string(mode) != "denied") mkdir("intel", 0755);
    HandOffChannel channel;
    cNetInterface net(test::testAdapter(), channel);
    std::string m = mode;
    if (m == "zero") {
        test::testAdapter().localAddresses = {"0.0.0.0"};
        std::string error;
        net.startCapture("tva", "", &error);
    }
    std::string nic = (m == "found" || m == "unbound" || m == "denied") ? "tva"
                      : m == "nosuchnic"                                ? "TVA"
                                                                        : "tvb";
    const bool ipv6Only = m == "ipv6only";
    net.discoverAdapter(nic);
    cNodeManager& manager = test::testNodes();
    manager.addAdapterNodes();  // as start-up does right after discovery
    SNetNode n;
    ASSERT_TRUE(manager.copyNodeAt(0, &n));
    EXPECT_EQ(n.address, ipv6Only ? "fd77::5" : "10.77.0.2");
    ASSERT_TRUE(manager.copyNodeAt(1, &n));
    EXPECT_EQ(n.address, ipv6Only ? "fd77::1" : "10.77.0.1");
    EXPECT_EQ(n.isGateway, 1);
    // The session's threads, by name (a sanitizer may run threads of its own).
    const auto sessionThreads = [] {
        std::multiset<std::string> names;
        for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
            std::string name = test::readFile(task.path().string() + "/comm");
            if (name.rfind("tessel-", 0) == 0) names.insert(name.substr(0, name.size() - 1));
        }
        return names;
    };
    EXPECT_TRUE(sessionThreads().empty());
    std::string filterError;
    EXPECT_TRUE(net.startCapture(m == "unbound" ? "tva0" : nic, "", &filterError));
    std::printf("child: capture started\n");
    for (int i = 0; i < 100 && sessionThreads().size() < 3; ++i) usleep(10000);  // named at start
    EXPECT_EQ(sessionThreads(), (std::multiset<std::string>{cCaptureSession::kCaptureThreadName,
                                                            cCaptureSession::kStatsThreadName,
                                                            cCaptureSession::kIntelThreadName}));
    net.stopCapture();
    EXPECT_TRUE(sessionThreads().empty());  // every one joined
}

// Runs only when started by the test below, as a user without any right to capture.
TEST(NetnsChild, CaptureThroughTheHelper) {
    const char* mode = std::getenv(kChildEnv);
    if (!mode || (std::string(mode) != "helper" && std::string(mode) != "reference"))
        GTEST_SKIP() << "started by the test below";
    char err[PCAP_ERRBUF_SIZE] = "";
    if (std::string(mode) == "reference") {  // root, in process: what the adapter carries
        pcap_t* h = pcap_open_live("tva", kHelperSnapLength, 1, 1000, err);
        ASSERT_NE(h, nullptr) << err;
        std::string error;
        ASSERT_TRUE(applyCaptureFilter(h, "udp port 5300", &error)) << error;
        int packets = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(12);
        while (packets < 50 && std::chrono::steady_clock::now() < end) {
            pcap_pkthdr* header = nullptr;
            const u_char* data = nullptr;
            if (pcap_next_ex(h, &header, &data) == 1)
                packets += decodeFrame(pcap_datalink(h), data, header->caplen).outcome ==
                           FrameOutcome::Packet;
        }
        std::printf("reference: packets %d\n", packets);
        pcap_close(h);
        return;
    }
    pcap_t* own = pcap_create("tva", err);  // this process may not capture
    ASSERT_NE(own, nullptr) << err;
    EXPECT_EQ(pcap_activate(own), PCAP_ERROR_PERM_DENIED);
    pcap_close(own);
    ASSERT_EQ(mkdir("intel", 0755), 0);
    HandOffChannel channel;
    cNetInterface net(test::testAdapter(), channel);
    net.discoverAdapter("tva");
    std::string filterError;
    ASSERT_TRUE(net.startCapture("tva", "udp port 5300", &filterError)) << filterError;
    std::printf("child: capture started\n");
    std::fflush(stdout);
    const CaptureCounters& counters = net.captureSession()->counters();
    for (int i = 0; i < 1000 && counters.packets.load() < 50; ++i) usleep(10000);
    std::printf("child: packets %llu\n", (unsigned long long)counters.packets.load());
    net.stopCapture();
}

// The capture helper holds the rights; a program without any captures through it, and sees
// every frame an in-process capture of the same adapter sees.
TEST(LiveCapture, ThroughTheHelperWithoutRightsOfItsOwn) {
    if (!test::isRoot()) GTEST_SKIP() << "needs root for network namespaces and capture";
    Netns ns;
    ASSERT_TRUE(ns.ok);
    ASSERT_EQ(sh(ns.exec() + "ip neigh add 10.77.0.9 lladdr 02:00:00:00:00:09 dev tva"), 0);
    const std::string helper = ns.dir.file("tessel-capture");
    std::filesystem::copy_file(test::runDir() + "/tessel-capture", helper);
    ASSERT_EQ(sh("setcap cap_net_raw,cap_net_admin=eip " + helper), 0);
    ASSERT_EQ(chmod(ns.dir.path().c_str(), 0777), 0);
    // The reference: an in-process capture of the same adapter, as root.
    test::BackgroundProcess reference({"ip", "netns", "exec", ns.name, selfExe(),
                                       "--gtest_filter=NetnsChild.CaptureThroughTheHelper"},
                                      ns.dir.path(), {{kChildEnv, "reference"}});
    std::thread traffic([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // both are listening
        sh(ns.exec() +
           "python3 -c \"import socket\nfor i in range(50): "
           "socket.socket(socket.AF_INET, socket.SOCK_DGRAM).sendto(b'x' * 40, "
           "('10.77.0.9', 5300))\"");
    });
    test::ProcessResult r =
        ns.run("CaptureThroughTheHelper", "helper",
               // The bounding set stays: the helper's file capabilities
               // need it, as they would for any user.
               {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--inh-caps=-all"},
               {{"TESSEL_CAPTURE_HELPER", helper}, {"HOME", ns.dir.path()}});
    traffic.join();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("child: capture started"), std::string::npos) << r.out << r.err;
    EXPECT_NE(r.out.find("child: packets 50\n"), std::string::npos) << r.out << r.err;
    EXPECT_EQ(reference.wait(15000), 0);
    EXPECT_NE(reference.output().find("reference: packets 50\n"), std::string::npos)
        << reference.output();
}

TEST(LiveCapture, DiscoveryInANetworkNamespace) {
    if (!test::isRoot()) GTEST_SKIP() << "needs root for network namespaces";
    Netns ns;
    ASSERT_TRUE(ns.ok) << "could not set up " << ns.name;

    test::ProcessResult r = ns.run("Discover", "found");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("\tAdapter Desc: \ttva\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("netint: local ip  10.77.0.2\nnetint: net mask 255.255.255.0\n"
                         "netint: gateway 10.77.0.1\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("------\n1. |tva|\n2. |tva|\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nlistening on tva...\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("child: capture started"), std::string::npos);

    // A name that differs in letter case finds no adapter: the tool is restarted, status 0.
    r = ns.run("Discover", "nosuchnic");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("Failed to find suitable NIC, reruning tessel-config"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.out.find("netint:"), std::string::npos);

    // tvb exists but has no IPv4 address.
    r = ns.run("Discover", "noaddress");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\tAdapter Desc: \ttvb\n"), std::string::npos);
    EXPECT_NE(r.err.find("Failed to find suitable NIC, reruning tessel-config"), std::string::npos);

    r = ns.run("Discover", "zero");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("Failed to find a bindable ip address on selected NIC, rerunning "
                         "tessel-config"),
              std::string::npos)
        << r.err;

    // No device of that name: every device's block is printed, then F4.
    r = ns.run("Discover", "unbound");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("Failed to bind to NIC, reruning tessel-config"), std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("1. |tva|\n2. |tva0|\n"), std::string::npos);
    EXPECT_NE(r.out.find("1. |lo|\n2. |tva0|\n"), std::string::npos);
    EXPECT_EQ(r.out.find("child: capture started"), std::string::npos);

    // Without capture rights: the library's line, then how to grant them.
    r = ns.run("Discover", "denied",
               {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--inh-caps=-all",
                "--bounding-set=-all"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("\nUnable to open the adapter. tva is not supported by WinPcap\n"),
              std::string::npos)
        << r.err;
    // The right goes to the capture helper alone.
    EXPECT_NE(r.err.find("sudo setcap cap_net_raw,cap_net_admin=eip " + test::runDir() +
                         "/tessel-capture\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("eip /bin/true"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("child: capture started"), std::string::npos);

    // A link-local address alone did not make tvb usable (above); a global IPv6 address and an
    // IPv6 default route do: this host and the gateway are IPv6 addresses.
    ASSERT_EQ(sh(ns.exec() + "ip addr add fd77::5/64 dev tvb nodad"), 0);
    ASSERT_EQ(sh(ns.exec() + "ip -6 route add default via fd77::1 dev tvb"), 0);
    r = ns.run("Discover", "ipv6only");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("netint: ipv6 fd77::5/64\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("netint: ipv6 gateway fd77::1\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("child: capture started"), std::string::npos) << r.out << r.err;
}

}  // namespace
}  // namespace tessel
