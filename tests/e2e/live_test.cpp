// End to end: the real program on a real X server, capturing real traffic between test hosts in
// network namespaces of the test's own, driven only by keys; checked through its scene dump, its
// files and its exit status.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <regex>
#include <thread>

#include "support/tessel_run.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::BackgroundProcess;
using test::shellOutput;

// Three hosts on one bridge: the viewer (10.77.0.1, where Tessel runs), the gateway
// (10.77.0.254, which also owns the "foreign" 10.99.0.5) and a peer (10.77.0.2). The viewer's
// resolver is its own loopback, so reverse look-ups stay inside.
class NetLab {
  public:
    // With `dualStack` the three hosts also speak IPv6: fd77::/64 on the LAN, fd99::5 behind the
    // gateway, whose link-local fe80::fe is the IPv6 default router. No duplicate address
    // detection, so the addresses work at once.
    explicit NetLab(bool dualStack = false) {
        std::string s = std::to_string(getpid() % 100000);
        viewer = "tv" + s;
        gateway = "tg" + s;
        peer = "tp" + s;
        nic = "va" + s;
        std::string script =
            "set -e\n"
            "for n in " +
            viewer + " " + gateway + " " + peer +
            "; do ip netns add $n; "
            "ip -n $n link set lo up; " +
            (dualStack ? "ip netns exec $n sysctl -qw net.ipv6.conf.default.accept_dad=0 "
                         "net.ipv6.conf.all.accept_dad=0; "
                       : "") +
            "done\n"
            "mkdir -p /etc/netns/" +
            viewer +
            "\n"
            "echo 'nameserver 127.0.0.1' > /etc/netns/" +
            viewer +
            "/resolv.conf\n"
            "ip link add " +
            nic + " netns " + viewer + " type veth peer name ga" + s + " netns " + gateway +
            "\n"
            "ip link add vb" +
            s + " netns " + peer + " type veth peer name gb" + s + " netns " + gateway +
            "\n"
            "ip -n " +
            gateway +
            " link add br0 type bridge\n"
            "ip -n " +
            gateway + " link set ga" + s +
            " master br0 up\n"
            "ip -n " +
            gateway + " link set gb" + s +
            " master br0 up\n"
            "ip -n " +
            gateway +
            " link set br0 up\n"
            "ip -n " +
            gateway +
            " addr add 10.77.0.254/24 dev br0\n"
            "ip -n " +
            gateway +
            " addr add 10.99.0.5/32 dev lo\n"
            "ip -n " +
            viewer + " addr add 10.77.0.1/24 dev " + nic +
            "\n"
            "ip -n " +
            viewer + " link set " + nic +
            " up\n"
            "ip -n " +
            viewer +
            " route add default via 10.77.0.254\n"
            "ip -n " +
            peer + " addr add 10.77.0.2/24 dev vb" + s +
            "\n"
            "ip -n " +
            peer + " link set vb" + s +
            " up\n"
            "ip -n " +
            peer + " route add default via 10.77.0.254\n";
        if (dualStack)
            script += "ip netns exec " + gateway + " sysctl -qw net.ipv6.conf.all.forwarding=1\n" +
                      "ip -n " + gateway + " addr add fd77::fe/64 dev br0 nodad\n" + "ip -n " +
                      gateway + " addr add fe80::fe/64 dev br0 nodad\n" + "ip -n " + gateway +
                      " addr add fd99::5/128 dev lo\n" + "ip -n " + viewer +
                      " addr add fd77::1/64 dev " + nic + " nodad\n" + "ip -n " + viewer +
                      " -6 route add default via fe80::fe dev " + nic + "\n" + "ip -n " + peer +
                      " addr add fd77::2/64 dev vb" + s + " nodad\n" + "ip -n " + peer +
                      " -6 route add default via fe80::fe dev vb" + s + "\n";
        script += "echo ready\n";
        ok = shellOutput(script, {}, 20000).find("ready") != std::string::npos;
    }
    ~NetLab() {
        shellOutput("for n in " + viewer + " " + gateway + " " + peer +
                        "; do ip netns pids $n 2>/dev/null | xargs -r kill -9; ip netns delete $n; "
                        "done; rm -rf /etc/netns/" +
                        viewer,
                    {}, 20000);
    }
    // Runs a program in a host and waits for it (bounded); gives its output.
    std::string run(const std::string& host, std::vector<std::string> argv, int timeoutMs = 10000) {
        argv.insert(argv.begin(), {"ip", "netns", "exec", host});
        test::ProcessResult r = test::runProcess(argv, "", {}, timeoutMs);
        return r.out + r.err;
    }

    bool ok = false;
    std::string viewer, gateway, peer, nic;
};

struct ImageStats {
    bool loaded = false;
    int distinctSamples = 0;
    int redPixels = 0;  // in the given region
};

ImageStats imageStats(const std::string& file, irr::core::rect<irr::s32> redRegion) {
    ImageStats s;
    irr::IrrlichtDevice* device = test::createNullDevice(false);
    irr::video::IImage* image = device->getVideoDriver()->createImageFromFile(file.c_str());
    if (image) {
        s.loaded = true;
        std::set<irr::u32> colours;
        irr::core::dimension2d<irr::u32> size = image->getDimension();
        for (irr::u32 y = 0; y < size.Height; y += 5)
            for (irr::u32 x = 0; x < size.Width; x += 5)
                colours.insert(image->getPixel(x, y).color & 0xF0F0F0);
        s.distinctSamples = static_cast<int>(colours.size());
        for (irr::s32 y = redRegion.UpperLeftCorner.Y; y < redRegion.LowerRightCorner.Y; ++y)
            for (irr::s32 x = redRegion.UpperLeftCorner.X; x < redRegion.LowerRightCorner.X; ++x) {
                if (x < 0 || y < 0 || x >= static_cast<irr::s32>(size.Width) ||
                    y >= static_cast<irr::s32>(size.Height))
                    continue;
                irr::video::SColor c = image->getPixel(x, y);
                // JPEG smears a one-pixel red line: count clearly reddish pixels.
                if (c.getRed() > 110 && c.getRed() > c.getGreen() + 50 &&
                    c.getRed() > c.getBlue() + 50)
                    ++s.redPixels;
            }
        image->drop();
    }
    device->drop();
    return s;
}

// Pixels of a region that are clearly red, green or blue.
struct ColourCounts {
    int red = 0, green = 0, blue = 0;
};

ColourCounts colourCounts(const std::string& file, irr::core::rect<irr::s32> region) {
    ColourCounts c;
    irr::IrrlichtDevice* device = test::createNullDevice(false);
    irr::video::IImage* image = device->getVideoDriver()->createImageFromFile(file.c_str());
    if (image) {
        const irr::core::dimension2d<irr::u32> size = image->getDimension();
        for (irr::s32 y = std::max(0, region.UpperLeftCorner.Y);
             y < std::min<irr::s32>(region.LowerRightCorner.Y, size.Height); ++y)
            for (irr::s32 x = std::max(0, region.UpperLeftCorner.X);
                 x < std::min<irr::s32>(region.LowerRightCorner.X, size.Width); ++x) {
                const irr::video::SColor p = image->getPixel(x, y);
                const int r = p.getRed(), g = p.getGreen(), b = p.getBlue();
                c.red += r > 150 && r > g + 80 && r > b + 80;
                c.green += g > 150 && g > r + 80 && g > b + 80;
                c.blue += b > 150 && b > r + 80 && b > g + 80;
            }
        image->drop();
    }
    device->drop();
    return c;
}

class LiveRun {
  public:
    LiveRun(NetLab& lab, const test::Xvfb& x, const char* driver,
            const std::map<std::string, std::string>& extraEnv = {})
        : lab(lab), display(x.display()) {
        run.settings({"firstrun=1", "nic=" + lab.nic, std::string("videodriver=") + driver,
                      "fullscreen=1", "width=800", "height=600"});
        std::map<std::string, std::string> env = run.baseEnv();
        env["DISPLAY"] = display;
        for (const auto& kv : extraEnv) env[kv.first] = kv.second;
        tessel = std::make_unique<BackgroundProcess>(
            std::vector<std::string>{"ip", "netns", "exec", lab.viewer, test::runDir() + "/tessel"},
            run.path(), env);
        window = test::waitForWindow(display, "^Tessel \\[", 30000);
        if (!window.empty())
            shellOutput("xdotool windowfocus --sync " + window, {{"DISPLAY", display}});
    }

    void key(const std::string& name) {
        shellOutput("xdotool key --window " + window + " " + name, {{"DISPLAY", display}});
    }

    // A left click at a window position (the toolbar runs on the press).
    void click(int x, int y) {
        shellOutput("xdotool mousemove --window " + window + " " + std::to_string(x) + " " +
                        std::to_string(y) + " click 1",
                    {{"DISPLAY", display}});
    }

    // Asks the program for a scene dump and gives its text ("" when none came).
    std::string dump() {
        std::string file = run.file("scene-dump.txt");
        fs::remove(file);
        kill(tessel->pid(), SIGUSR1);
        for (int i = 0; i < 250 && !test::fileExists(file); ++i) std::this_thread::sleep_for(20ms);
        return test::readFile(file);
    }

    // Polls dumps until `pattern` matches (or not, with `present` false), at most `seconds`.
    bool waitDump(const std::string& pattern, bool present, int seconds, std::string* last) {
        std::regex re(pattern);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < deadline) {
            *last = dump();
            if (!last->empty() && std::regex_search(*last, re) == present) return true;
            std::this_thread::sleep_for(200ms);
        }
        return false;
    }

    // The program's clock (engine milliseconds) as a dump gives it, or -1.
    long clock() {
        std::smatch m;
        std::string d = dump();
        return std::regex_search(d, m, std::regex("\nclock ([0-9]+)\n")) ? std::stol(m[1]) : -1;
    }

    // Waits until the program's clock is more than the double-click time past `since`, so that
    // the next click is a single one.
    bool waitPastDoubleClick(long since) {
        for (int i = 0; i < 100; ++i) {
            if (clock() > since + 200) return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    std::string newestFile(const std::string& prefix) {
        std::string best;
        for (const auto& e : fs::directory_iterator(run.path())) {
            std::string name = e.path().filename().string();
            if (name.rfind(prefix, 0) == 0 && name > best) best = name;
        }
        return best.empty() ? "" : run.file(best);
    }

    NetLab& lab;
    std::string display;
    test::TesselRun run;
    std::unique_ptr<BackgroundProcess> tessel;
    std::string window;
};

void liveSession(const char* driver) {
    if (!test::isRoot()) GTEST_SKIP() << "needs root for network namespaces and capture";
    NetLab lab;
    ASSERT_TRUE(lab.ok);
    test::Xvfb x;
    ASSERT_TRUE(x.ok());
    test::TempDir serve;
    test::writeFile(serve.file("index.html"), std::string(5000, 'x'));
    // The gateway serves web pages and holds connections open until the client closes them.
    BackgroundProcess web({"ip", "netns", "exec", lab.gateway, "python3", "-m", "http.server",
                           "8000", "--bind", "10.77.0.254"},
                          serve.path(), {});
    BackgroundProcess holder(
        {"ip", "netns", "exec", lab.gateway, "python3", "-c",
         "import socket,threading\n"
         "s=socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)\n"
         "s.bind(('10.77.0.254', 9000)); s.listen(4)\n"
         "def serve(c):\n"
         "    while c.recv(100): pass\n"
         "    c.close()\n"
         "while True:\n"
         "    c,_=s.accept(); threading.Thread(target=serve,args=(c,),daemon=True).start()\n"},
        "", {});

    LiveRun live(lab, x, driver);
    ASSERT_FALSE(live.window.empty()) << live.tessel->output();
    std::string d;
    ASSERT_TRUE(live.waitDump("node 1 10\\.77\\.0\\.254 gateway [-0-9.]+ [-0-9.]+ [-0-9.]+ cube 1",
                              true, 60, &d))
        << d;
    EXPECT_NE(d.find("node 0 10.77.0.1 host 500 500 500 cube 1"), std::string::npos) << d;
    EXPECT_NE(d.find("gateway-links 1"), std::string::npos) << d;

    live.key("l");  // logging on
    test::TempDir flags;
    std::string release = flags.file("release");
    BackgroundProcess client(
        {"ip", "netns", "exec", lab.viewer, "python3", "-c",
         "import socket,os,time\n"
         "c=socket.create_connection(('10.77.0.254', 9000)); c.sendall(b'hello tessel')\n"
         "for i in range(600):\n"
         "    if os.path.exists('" +
             release +
             "'): break\n"
             "    time.sleep(0.05)\n"
             "c.close()\n"},
        "", {});
    EXPECT_TRUE(
        live.waitDump("beam 10\\.77\\.0\\.1:[0-9]+ 10\\.77\\.0\\.254:9000 \\S+ pick [0-9]+ drawn 1",
                      true, 60, &d))
        << d;

    std::string traffic =
        lab.run(lab.viewer,
                {"curl", "-s", "-o", "/dev/null", "http://10.77.0.254:8000/index.html"}) +
        lab.run(lab.viewer, {"ping", "-c", "2", "-i", "0.2", "10.77.0.2"}) +
        lab.run(lab.viewer, {"ping", "-c", "2", "-i", "0.2", "10.99.0.5"}) +
        lab.run(lab.viewer, {"python3", "-c",
                             "import socket\n"
                             "socket.socket(socket.AF_INET, socket.SOCK_DGRAM).sendto(b'x' * 60, "
                             "('10.77.0.2', 5353))\n"});
    // A quiet foreign host is pruned after 46 scene passes, seconds at a high frame rate; keep
    // it talking while we look for it.
    BackgroundProcess chatter(
        {"ip", "netns", "exec", lab.viewer, "ping", "-q", "-c", "400", "-i", "0.2", "10.99.0.5"},
        "", {});
    EXPECT_NE(traffic.find("2 received"), std::string::npos) << traffic;
    EXPECT_TRUE(live.waitDump("node [0-9]+ 10\\.77\\.0\\.2 local .* cube 1", true, 60, &d)) << d;
    EXPECT_TRUE(live.waitDump("node [0-9]+ 10\\.99\\.0\\.5 foreign .* cube 1", true, 60, &d)) << d;
    EXPECT_TRUE(live.waitDump("intel-waiting 0\\n", true, 60, &d)) << d;  // the queue drains
    EXPECT_TRUE(
        live.waitDump("node [0-9]+ 10\\.99\\.0\\.5 foreign .* resolve 2 geo private-network name "
                      "\\(failed to resolve\\)",
                      true, 30, &d))
        << d;

    test::writeFile(release, "");  // the client closes: its FIN ends the beam
    EXPECT_TRUE(live.waitDump("beam 10\\.77\\.0\\.1:[0-9]+ 10\\.77\\.0\\.254:9000", false, 60, &d))
        << d;
    EXPECT_EQ(client.wait(10000), 0);

    live.key("g");  // the rate graph over its grid
    EXPECT_TRUE(live.waitDump("hud graph 1 help 1 pause 1 logging 1\n", true, 10, &d)) << d;
    live.key("F1");
    EXPECT_TRUE(live.waitDump("hud graph 1 help 3 ", true, 10, &d)) << d;
    live.key("F1");
    EXPECT_TRUE(live.waitDump("hud graph 1 help 1 ", true, 10, &d)) << d;
    EXPECT_TRUE(live.waitDump("\nrate-samples [1-9]", true, 10, &d)) << d;  // a line to draw
    live.key("k");  // the legend, in the screenshot below
    EXPECT_TRUE(live.waitDump("\nstatus shown 1 drops-red 0 legend 1\n", true, 10, &d)) << d;
    live.key("s");
    std::string shot;
    for (int i = 0; i < 100 && (shot = live.newestFile("screenshot-")).empty(); ++i)
        std::this_thread::sleep_for(50ms);
    ASSERT_FALSE(shot.empty());
    ImageStats s =
        imageStats(shot, irr::core::rect<irr::s32>(800 - 222, 600 - 113, 800 - 18, 600 - 9));
    EXPECT_TRUE(s.loaded);
    EXPECT_GT(s.distinctSamples, 20) << "the screenshot holds the frame's real pixels";
    EXPECT_GT(s.redPixels, 10) << "the rate graph is drawn";
    // The legend's swatches: the red, blue and green sprites among the cube textures.
    const ColourCounts legend = colourCounts(shot, irr::core::rect<irr::s32>(10, 138, 240, 380));
    EXPECT_GT(legend.red, 10) << shot;
    EXPECT_GT(legend.green, 10) << shot;
    EXPECT_GT(legend.blue, 10) << shot;
    live.key("k");
    live.key("t");
    EXPECT_TRUE(live.waitDump("\nstatus shown 0 drops-red 0 legend 0\n", true, 10, &d)) << d;

    live.key("p");
    std::string pause = live.run.file("pausepicture.png");
    for (int i = 0; i < 100 && !test::fileExists(pause); ++i) std::this_thread::sleep_for(50ms);
    EXPECT_GT(imageStats(pause, {}).distinctSamples, 20);
    EXPECT_TRUE(live.waitDump("hud graph 1 help 1 pause 3 ", true, 10, &d)) << d;
    live.key("p");
    EXPECT_TRUE(live.waitDump("hud graph 1 help 1 pause 1 ", true, 10, &d)) << d;

    // Two toolbar buttons (32 wide from x = 20 + 37k, 52 to 20 above the bottom): the screenshot
    // button (k = 4) and the graph button (k = 2). Screenshots are named to the second, so the
    // first one goes before the button makes the next.
    fs::remove(shot);
    live.click(20 + 37 * 4 + 16, 600 - 36);
    std::string second;
    for (int i = 0; i < 100 && (second = live.newestFile("screenshot-")).empty(); ++i)
        std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(second.empty()) << "the screenshot button made a picture";
    EXPECT_TRUE(live.waitPastDoubleClick(live.clock()));
    live.click(20 + 37 * 2 + 16, 600 - 36);
    EXPECT_TRUE(live.waitDump("hud graph 0 ", true, 10, &d)) << d;

    live.key("Escape");
    EXPECT_EQ(live.tessel->wait(20000), 0) << live.tessel->output();
    std::string log = test::readFile(live.run.file("log.txt"));
    EXPECT_TRUE(std::regex_search(
        log, std::regex("[A-Z][a-z]+day, [A-Z][a-z]+ [0-9]{2}, [0-9]{4}, [0-9:]{8} - "
                        "10\\.77\\.0\\.1:[0-9]+  ->  10\\.77\\.0\\.254:9000\r\n")))
        << log.substr(0, 2000);
    EXPECT_NE(log.find("10.77.0.1:0  ->  10.77.0.2:0\r\n"), std::string::npos);  // ICMP
    std::string out = live.tessel->output();
    for (const char* report :
         {"AddressSanitizer", "runtime error:", "ThreadSanitizer", "LeakSanitizer"})
        EXPECT_EQ(out.find(report), std::string::npos)
            << out.substr(out.find(report) == std::string::npos ? 0 : out.find(report), 8000);
}

TEST(Live, SoftwareDriverShowsRealTraffic) { liveSession("3"); }
TEST(Live, OpenGLDriverShowsRealTraffic) { liveSession("2"); }

// On a dual-stack LAN, IPv6 traffic shows as IPv4 traffic does: this host's IPv6 addresses and
// the IPv6 router are the two cubes already there, other hosts get cubes of their own.
TEST(Live, DualStackShowsIPv6Traffic) {
    if (!test::isRoot()) GTEST_SKIP() << "needs root for network namespaces and capture";
    NetLab lab(true);
    ASSERT_TRUE(lab.ok);
    test::Xvfb x;
    ASSERT_TRUE(x.ok());
    test::TempDir serve;
    test::writeFile(serve.file("index.html"), std::string(5000, 'x'));
    BackgroundProcess web({"ip", "netns", "exec", lab.gateway, "python3", "-m", "http.server",
                           "8000", "--bind", "fd99::5"},
                          serve.path(), {});
    BackgroundProcess holder({"ip", "netns", "exec", lab.gateway, "python3", "-c",
                              "import socket\n"
                              "s=socket.socket(socket.AF_INET6)\n"
                              "s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)\n"
                              "s.bind(('fd99::5', 9000)); s.listen(4)\n"
                              "c,_=s.accept()\n"
                              "while c.recv(100): pass\n"},
                             "", {});

    LiveRun live(lab, x, "3");
    ASSERT_FALSE(live.window.empty()) << live.tessel->output();
    std::string d;
    ASSERT_TRUE(live.waitDump("node 1 10\\.77\\.0\\.254 gateway ", true, 60, &d)) << d;
    live.key("l");
    test::TempDir flags;
    const std::string release = flags.file("release");
    BackgroundProcess client({"ip", "netns", "exec", lab.viewer, "python3", "-c",
                              "import socket,os,time\n"
                              "c=socket.create_connection(('fd99::5', 9000)); c.sendall(b'hi')\n"
                              "for i in range(600):\n"
                              "    if os.path.exists('" +
                                  release +
                                  "'): break\n"
                                  "    time.sleep(0.05)\n"
                                  "c.close()\n"},
                             "", {});
    EXPECT_TRUE(
        live.waitDump("beam fd77::1:[0-9]+ fd99::5:9000 \\S+ pick [0-9]+ drawn 1", true, 60, &d))
        << d;
    const std::string traffic =
        lab.run(lab.viewer, {"curl", "-g", "-s", "-o", "/dev/null", "-w", "%{http_code}",
                             "http://[fd99::5]:8000/index.html"}) +
        lab.run(lab.viewer, {"ping", "-6", "-c", "2", "-i", "0.2", "fd77::2"}) +
        lab.run(lab.viewer, {"python3", "-c",
                             "import socket\n"
                             "socket.socket(socket.AF_INET6, socket.SOCK_DGRAM).sendto(b'x' * 60, "
                             "('fd77::2', 5353))\n"});
    BackgroundProcess chatter({"ip", "netns", "exec", lab.viewer, "ping", "-6", "-q", "-c", "400",
                               "-i", "0.2", "fd99::5"},
                              "", {});
    EXPECT_NE(traffic.find("200"), std::string::npos) << traffic;
    EXPECT_NE(traffic.find("2 received"), std::string::npos) << traffic;
    EXPECT_TRUE(live.waitDump("node [0-9]+ fd77::2 local .* cube 1", true, 60, &d)) << d;
    EXPECT_TRUE(live.waitDump(
        "node [0-9]+ fd99::5 foreign .* resolve 2 geo unique-local name \\(failed to resolve\\)",
        true, 60, &d))
        << d;
    EXPECT_NE(d.find("node 0 10.77.0.1 host 500 500 500 cube 1"), std::string::npos) << d;
    // Neither this host's IPv6 addresses nor the router's link-local made cubes of their own.
    std::smatch own;
    const std::string addresses =
        lab.run(lab.viewer, {"ip", "-6", "-o", "addr", "show", "dev", lab.nic, "scope", "link"});
    ASSERT_TRUE(std::regex_search(addresses, own, std::regex("inet6 (fe80::[0-9a-f:]+)/")))
        << addresses;
    for (const std::string& alias : {std::string("fd77::1"), std::string("fe80::fe"), own.str(1)})
        EXPECT_EQ(d.find(" " + alias + " "), std::string::npos) << alias << "\n" << d;

    test::writeFile(release, "");
    EXPECT_TRUE(live.waitDump("beam fd77::1:[0-9]+ fd99::5:9000", false, 60, &d)) << d;
    EXPECT_EQ(client.wait(10000), 0);
    live.key("Escape");
    EXPECT_EQ(live.tessel->wait(20000), 0) << live.tessel->output();
    const std::string log = test::readFile(live.run.file("log.txt"));
    EXPECT_TRUE(
        std::regex_search(log, std::regex("\\[fd77::1\\]:[0-9]+  ->  \\[fd99::5\\]:9000\r\n")))
        << log.substr(0, 2000);
    EXPECT_NE(log.find("[fd77::1]:0  ->  [fd77::2]:0\r\n"), std::string::npos)
        << log.substr(0, 2000);
}

// Real programs of the viewer make connections while Tessel watches its adapter: each beam names
// the program at this host's end (curl and nc as clients, python3's http.server as the server
// a peer connects to), and a UDP sender (python3) shows among the busiest programs.
TEST(Live, NamesTheProgramOfEachConnection) {
    if (!test::isRoot()) GTEST_SKIP() << "needs root for network namespaces and capture";
    NetLab lab;
    ASSERT_TRUE(lab.ok);
    test::Xvfb x;
    ASSERT_TRUE(x.ok());
    test::TempDir serve;
    test::writeFile(serve.file("index.html"), "x");
    BackgroundProcess holder(
        {"ip", "netns", "exec", lab.gateway, "python3", "-c",
         "import socket,threading\n"
         "s=socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)\n"
         "s.bind(('10.77.0.254', 9000)); s.listen(8)\n"
         "def serve(c):\n"
         "    while c.recv(100): pass\n"
         "    c.close()\n"
         "while True:\n"
         "    c,_=s.accept(); threading.Thread(target=serve,args=(c,),daemon=True).start()\n"},
        "", {});
    BackgroundProcess web({"ip", "netns", "exec", lab.viewer, "python3", "-m", "http.server",
                           "8000", "--bind", "10.77.0.1"},
                          serve.path(), {});
    // Connections made before a server listens would be refused: wait for both.
    for (const auto& [host, port] : {std::pair(lab.gateway, 9000), std::pair(lab.viewer, 8000)})
        ASSERT_NE(shellOutput("for i in $(seq 600); do ip netns exec " + host +
                                  " ss -ltnH | grep -q ':" + std::to_string(port) +
                                  " ' && echo listening && exit; sleep 0.1; done",
                              {}, 70000)
                      .find("listening"),
                  std::string::npos)
            << host << " " << port;
    LiveRun live(lab, x, "3");
    ASSERT_FALSE(live.window.empty()) << live.tessel->output();
    std::string d;
    ASSERT_TRUE(live.waitDump("node 1 10\\.77\\.0\\.254 gateway ", true, 60, &d)) << d;

    // The holder never answers: curl waits, and nc (not reading its input) stays connected.
    BackgroundProcess curl({"ip", "netns", "exec", lab.viewer, "curl", "-s", "--max-time", "60",
                            "http://10.77.0.254:9000/"},
                           "", {});
    BackgroundProcess nc({"ip", "netns", "exec", lab.viewer, "nc", "-d", "10.77.0.254", "9000"}, "",
                         {});
    BackgroundProcess visitor({"ip", "netns", "exec", lab.peer, "nc", "-d", "10.77.0.1", "8000"},
                              "", {});
    BackgroundProcess udp({"ip", "netns", "exec", lab.viewer, "python3", "-c",
                           "import socket,time\n"
                           "s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n"
                           "for i in range(600):\n"
                           "    s.sendto(b'u' * 600, ('10.77.0.2', 5353)); time.sleep(0.1)\n"},
                          "", {});
    const std::string beam = " \\S+ pick [0-9]+ drawn [01] program ";
    EXPECT_TRUE(live.waitDump("beam 10\\.77\\.0\\.1:[0-9]+ 10\\.77\\.0\\.254:9000" + beam +
                                  "curl " + std::to_string(curl.pid()) + "\n",
                              true, 60, &d))
        << d;
    EXPECT_TRUE(live.waitDump("beam 10\\.77\\.0\\.1:[0-9]+ 10\\.77\\.0\\.254:9000" + beam + "nc " +
                                  std::to_string(nc.pid()) + "\n",
                              true, 60, &d))
        << d;
    EXPECT_TRUE(live.waitDump("beam 10\\.77\\.0\\.2:[0-9]+ 10\\.77\\.0\\.1:8000" + beam +
                                  "python3 " + std::to_string(web.pid()) + "\n",
                              true, 60, &d))
        << d;
    EXPECT_TRUE(live.waitDump(
        "\nprogram-top program python3 " + std::to_string(udp.pid()) + " bytes ", true, 30, &d))
        << d;
    EXPECT_NE(d.find("\nprograms live 1 "), std::string::npos) << d;
    live.key("Escape");
    EXPECT_EQ(live.tessel->wait(20000), 0) << live.tessel->output();
}

// A burst of 1,000 connections that each live about 20 ms, eight at a time, from one client
// program of the viewer: the share whose program was found (printed).
TEST(Live, FindsTheProgramOfShortConnections) {
    if (!test::isRoot()) GTEST_SKIP() << "needs root for network namespaces and capture";
    NetLab lab;
    ASSERT_TRUE(lab.ok);
    test::Xvfb x;
    ASSERT_TRUE(x.ok());
    BackgroundProcess server(
        {"ip", "netns", "exec", lab.gateway, "python3", "-c",
         "import socket,threading\n"
         "s=socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)\n"
         "s.bind(('10.77.0.254', 9000)); s.listen(64)\n"
         "def serve(c):\n"
         "    while c.recv(100): pass\n"
         "    c.close()\n"
         "while True:\n"
         "    c,_=s.accept(); threading.Thread(target=serve,args=(c,),daemon=True).start()\n"},
        "", {});
    LiveRun live(lab, x, "3");
    ASSERT_FALSE(live.window.empty()) << live.tessel->output();
    std::string d;
    ASSERT_TRUE(live.waitDump("node 1 10\\.77\\.0\\.254 gateway ", true, 60, &d)) << d;
    const std::string out =
        lab.run(lab.viewer,
                {"python3", "-c",
                 "import socket,threading,time\n"
                 "def client(n):\n"
                 "    for i in range(n):\n"
                 "        c=socket.create_connection(('10.77.0.254', 9000)); c.sendall(b'x')\n"
                 "        time.sleep(0.02); c.close()\n"
                 "t=[threading.Thread(target=client,args=(125,)) for k in range(8)]\n"
                 "start=time.time()\n"
                 "[k.start() for k in t]; [k.join() for k in t]\n"
                 "print('done', time.time()-start)\n"},
                120000);
    ASSERT_NE(out.find("done"), std::string::npos) << out;
    // Every flow seen and looked up (a flow without an owner is tried again for some seconds).
    std::smatch m;
    const std::regex counts("\nprograms live 1 flows ([0-9]+) named ([0-9]+) ");
    long flows = 0, named = 0;
    for (int i = 0; i < 40; ++i) {
        d = live.dump();
        if (std::regex_search(d, m, counts)) {
            flows = std::stol(m[1]);
            named = std::stol(m[2]);
        }
        if (flows >= 1000 && i >= 25) break;
        std::this_thread::sleep_for(200ms);
    }
    const double share = flows ? double(named) / double(flows) : 0.0;
    std::printf("short connections: %ld flows, %ld named (%.1f %%), client: %s", flows, named,
                100.0 * share, out.c_str());
    RecordProperty("attributed_permille", static_cast<int>(share * 1000));
    EXPECT_GE(flows, 1000) << d;
    // 96-100 % on a quiet machine (the aim is 95 %); 89 % was seen beside another end-to-end
    // run on a loaded one, where a look-up can come after a 20 ms connection closed. Far less
    // means the look-up is slow or blocked.
    EXPECT_GE(share, 0.85) << d;
    EXPECT_NE(d.find("\nprogram-top program python3 "), std::string::npos) << d;
    live.key("Escape");
    EXPECT_EQ(live.tessel->wait(20000), 0) << live.tessel->output();
}

// The toolbar's buttons are 32 wide from x = 20 + 37k, between 52 and 20 above the bottom.
constexpr int buttonX(int k) { return 20 + 37 * k + 16; }
constexpr int kButtonY = 600 - 36;

struct View {
    bool found = false;
    irr::core::vector3df position, target;
    float far = 0;
    int input = -1, tourCamera = -1;
};

View viewOf(const std::string& dump) {
    View v;
    std::smatch m;
    static const std::regex re(
        "camera (\\S+) (\\S+) (\\S+) target (\\S+) (\\S+) (\\S+) far (\\S+) input ([01]) "
        "tour-camera ([01])");
    if (!std::regex_search(dump, m, re)) return v;
    v.found = true;
    v.position.set(std::stof(m[1]), std::stof(m[2]), std::stof(m[3]));
    v.target.set(std::stof(m[4]), std::stof(m[5]), std::stof(m[6]));
    v.far = std::stof(m[7]);
    v.input = std::stoi(m[8]);
    v.tourCamera = std::stoi(m[9]);
    return v;
}

// Every key of the key table and every toolbar button, pressed and clicked on the real window
// while the program captures; each is checked by what it visibly does.
TEST(Live, EveryKeyAndButtonRunsItsCommand) {
    if (!test::isRoot()) GTEST_SKIP() << "needs root for network namespaces and capture";
    NetLab lab;
    ASSERT_TRUE(lab.ok);
    test::Xvfb x;
    ASSERT_TRUE(x.ok());
    // The desktop's opener, replaced by one that notes what it was asked to open.
    test::TempDir bin;
    std::string opened = bin.file("opened");
    test::writeFile(bin.file("xdg-open"), "#!/bin/sh\necho \"$(pwd) $*\" >> '" + opened + "'\n");
    chmod(bin.file("xdg-open").c_str(), 0755);
    const char* path = std::getenv("PATH");
    std::map<std::string, std::string> env = {
        {"PATH", bin.path() + ":" + (path ? path : "/usr/bin:/bin")}};

    LiveRun live(lab, x, "2", env);
    ASSERT_FALSE(live.window.empty()) << live.tessel->output();
    std::string d;
    ASSERT_TRUE(live.waitDump("node 0 10\\.77\\.0\\.1 host 500 500 500 cube 1", true, 60, &d)) << d;
    auto message = [&](const std::string& text) {
        return live.waitDump("message 0 " + text + "\n", true, 10, &d);
    };
    // Presses a key, then reads views until `done` holds (at most 10 s); gives the last one.
    auto viewAfter = [&](const char* key, const std::function<bool(const View&)>& done) {
        live.key(key);
        View v;
        for (int i = 0; i < 100; ++i) {
            d = live.dump();
            v = viewOf(d);
            if (v.found && done(v)) break;
            std::this_thread::sleep_for(100ms);
        }
        return v;
    };
    auto standsAt = [](const irr::core::vector3df& p) {
        return [p](const View& v) { return v.position.equals(p, 0.5f); };
    };
    const irr::core::vector3df lookAt(5000, -3250, 5000);

    live.key("space");  // consumed, nothing changes
    const std::pair<const char*, irr::core::vector3df> views[] = {{"1", {7500, 7500, 7500}},
                                                                  {"2", {10000, 2500, 0}},
                                                                  {"3", {10000, 2500, 10000}},
                                                                  {"4", {0, 2500, 10000}},
                                                                  {"c", {0, 2500, 0}}};
    for (const auto& [key, at] : views) {
        View v = viewAfter(key, standsAt(at));
        ASSERT_TRUE(v.found) << d;
        EXPECT_TRUE(v.position.equals(at, 0.5f)) << key << "\n" << d;
        EXPECT_TRUE(v.target.equals(lookAt, 0.5f)) << key << "\n" << d;
        EXPECT_FLOAT_EQ(v.far, 20000.0f) << key;
    }
    // Q and A dolly 1250 units along the view and back.
    irr::core::vector3df start(0, 2500, 0);
    irr::core::vector3df forward = start + (lookAt - start).normalize() * 1250.0f;
    View v = viewAfter("q", standsAt(forward));
    EXPECT_TRUE(v.position.equals(forward, 0.5f)) << d;
    v = viewAfter("a", standsAt(start));
    EXPECT_TRUE(v.position.equals(start, 0.5f)) << d;

    // M switches the camera's input alone.
    int input = v.input;
    v = viewAfter("m", [&](const View& v) { return v.input == 1 - input; });
    EXPECT_EQ(v.input, 1 - input) << d;
    v = viewAfter("m", [&](const View& v) { return v.input == input; });
    EXPECT_EQ(v.input, input) << d;

    // The tour, by key and by the second button. A stop puts the user in the scene at the
    // overview position, steering.
    const char* started = "tour-camera 1\nview entered 0 tour 1\n";
    const char* stopped =
        "camera 0 2500 0 target .* input 1 tour-camera 0\nview entered 1 tour 0\n";
    live.key("d");
    EXPECT_TRUE(live.waitDump(started, true, 10, &d)) << d;
    live.key("d");
    EXPECT_TRUE(live.waitDump(stopped, true, 10, &d)) << d;
    live.click(buttonX(1), kButtonY);
    EXPECT_TRUE(live.waitDump(started, true, 10, &d)) << d;
    EXPECT_TRUE(live.waitPastDoubleClick(live.clock()));
    live.click(buttonX(1), kButtonY);
    EXPECT_TRUE(live.waitDump(stopped, true, 10, &d)) << d;

    // Flag, wipe, flag: the log holds only the second flag.
    live.key("f");
    EXPECT_TRUE(message("Flag!")) << d;
    live.key("w");
    EXPECT_TRUE(message("Wiped Log")) << d;
    live.key("f");
    EXPECT_TRUE(message("Flag!")) << d;

    // Logging by key and by button; the graph and the help picture share their state between
    // key and button.
    // While logging is on, and just after, captured frames are traced to the list too: the
    // message need not be the newest.
    live.key("l");
    EXPECT_TRUE(live.waitDump("message [0-9]+ Logging Traffic\n", true, 10, &d)) << d;
    live.click(buttonX(3), kButtonY);
    EXPECT_TRUE(live.waitDump("message [0-9]+ Stopped Logging\n", true, 10, &d)) << d;
    EXPECT_NE(d.find("logging 0\n"), std::string::npos) << d;
    live.key("g");
    EXPECT_TRUE(live.waitDump("hud graph 1 ", true, 10, &d)) << d;
    live.click(buttonX(2), kButtonY);
    EXPECT_TRUE(live.waitDump("hud graph 0 ", true, 10, &d)) << d;
    live.click(buttonX(6), kButtonY);
    EXPECT_TRUE(live.waitDump("hud graph 0 help 3 ", true, 10, &d)) << d;
    live.key("F1");
    EXPECT_TRUE(live.waitDump("hud graph 0 help 1 ", true, 10, &d)) << d;

    live.key("s");
    EXPECT_TRUE(message("Screenshot Saved")) << d;
    EXPECT_FALSE(live.newestFile("screenshot-").empty());
    live.key("p");
    EXPECT_TRUE(message("Paused \\(VHS pause quality\\)")) << d;
    EXPECT_NE(d.find(" pause 3 "), std::string::npos) << d;
    live.key("p");
    EXPECT_TRUE(live.waitDump(" pause 1 ", true, 10, &d)) << d;

    // R and V hand the readme and the log to the desktop, from the working folder. The two
    // openers run side by side, so either may write its line first.
    live.key("r");
    live.key("v");
    std::string asked;
    for (int i = 0; i < 100; ++i) {
        asked = test::readFile(opened);
        if (asked.find("log.txt") != std::string::npos &&
            asked.find("readme.txt") != std::string::npos)
            break;
        std::this_thread::sleep_for(50ms);
    }
    const std::string readmeLine = live.run.path() + " readme.txt\n";
    const std::string logLine = live.run.path() + " log.txt\n";
    EXPECT_TRUE(asked == readmeLine + logLine || asked == logLine + readmeLine) << asked;

    // The first button closes the device: the program ends normally.
    live.click(buttonX(0), kButtonY);
    EXPECT_EQ(live.tessel->wait(20000), 0) << live.tessel->output();
    std::string log = test::readFile(live.run.file("log.txt"));
    std::size_t first = log.find("FLAG!");
    EXPECT_NE(first, std::string::npos) << log;
    EXPECT_EQ(log.find("FLAG!", first + 1), std::string::npos) << log;

    // I and the sixth button start the configuration tool with "respawn" and end at once.
    for (bool byKey : {true, false}) {
        LiveRun again(lab, x, "2");
        ASSERT_FALSE(again.window.empty()) << again.tessel->output();
        ASSERT_TRUE(again.waitDump("frame [1-9]", true, 30, &d)) << d;
        if (byKey)
            again.key("i");
        else
            again.click(buttonX(5), kButtonY);
        EXPECT_EQ(again.tessel->wait(20000), 0) << byKey << again.tessel->output();
        EXPECT_EQ(again.run.configToolArgs(), "respawn\n") << byKey;
    }
}

}  // namespace
}  // namespace tessel
