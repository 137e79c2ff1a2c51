// The find field in the real program: a replay in a real window, driven by keys, whose foreign
// hosts get names from a private hosts file (a mount namespace of the test's own), so no look-up
// leaves the machine.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <regex>
#include <thread>

#include "support/odd_captures.h"
#include "support/tessel_run.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Point {
    double x = 0, y = 0, z = 0;
};

// The camera's position in a dump, and the distance from it to the cube of `address`; -1 when
// the dump lacks either.
double cameraDistanceTo(const std::string& dump, const std::string& address) {
    std::smatch m;
    const std::string number = "(-?[0-9.e+-]+)";
    if (!std::regex_search(dump, m,
                           std::regex("\ncamera " + number + " " + number + " " + number + " ")))
        return -1;
    const Point camera{std::stod(m[1]), std::stod(m[2]), std::stod(m[3])};
    std::string escaped = std::regex_replace(address, std::regex("\\."), "\\.");
    if (!std::regex_search(dump, m,
                           std::regex("\nnode [0-9]+ " + escaped + " \\S+ " + number + " " +
                                      number + " " + number + " ")))
        return -1;
    const Point host{std::stod(m[1]), std::stod(m[2]), std::stod(m[3])};
    return std::sqrt((camera.x - host.x) * (camera.x - host.x) +
                     (camera.y - host.y) * (camera.y - host.y) +
                     (camera.z - host.z) * (camera.z - host.z));
}

class FindRun {
  public:
    FindRun(const test::Xvfb& x, const std::string& capture, const std::string& hosts)
        : display(x.display()) {
        // fullscreen=0 asks for full screen (a window of 800 x 600 under Xvfb), which starts the
        // camera tour: finding a host ends it.
        run.settings(
            {"firstrun=1", "nic=lo", "videodriver=3", "fullscreen=0", "width=800", "height=600"});
        std::map<std::string, std::string> env = run.baseEnv();
        env["DISPLAY"] = display;
        // unshare and sh hand their process on to tessel (exec), so the pid is tessel's.
        tessel = std::make_unique<test::BackgroundProcess>(
            std::vector<std::string>{"unshare", "--mount", "sh", "-c",
                                     "mount --bind \"$0\" /etc/hosts && exec \"$@\"", hosts,
                                     test::runDir() + "/tessel", "-r", capture},
            run.path(), env);
        window = test::waitForWindow(display, "^Tessel \\[", 30000);
        if (!window.empty()) xdotool("windowfocus --sync " + window);
    }

    void xdotool(const std::string& args) {
        test::shellOutput("xdotool " + args, {{"DISPLAY", display}});
    }
    void key(const std::string& name) { xdotool("key --window " + window + " " + name); }
    void type(const std::string& text) { xdotool("type --delay 30 " + text); }

    std::string dump() {
        const std::string file = run.file("scene-dump.txt");
        fs::remove(file);
        kill(tessel->pid(), SIGUSR1);
        for (int i = 0; i < 250 && !test::fileExists(file); ++i) std::this_thread::sleep_for(20ms);
        return test::readFile(file);
    }

    bool waitDump(const std::string& pattern, int seconds, std::string* last) {
        const std::regex re(pattern);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < deadline) {
            *last = dump();
            if (std::regex_search(*last, re)) return true;
            if (!tessel->running()) return false;
            std::this_thread::sleep_for(100ms);
        }
        return false;
    }

    // Waits until the camera has come to rest within `within` of the cube of `address`.
    bool waitNear(const std::string& address, double within, std::string* last) {
        for (int i = 0; i < 100; ++i) {
            *last = dump();
            const double d = cameraDistanceTo(*last, address);
            if (d >= 0 && d < within) return true;
            std::this_thread::sleep_for(100ms);
        }
        return false;
    }

    std::string display;
    test::TesselRun run;
    std::unique_ptr<test::BackgroundProcess> tessel;
    std::string window;
};

// Three foreign hosts with names, two of them "web", each with a connection left open (so none
// is pruned as stale while the test looks at it), and one without a name.
test::CraftedCapture findCapture() {
    test::CraftedCapture c;
    c.file = "find.pcap";
    c.linkType = 1;
    const char* peers[] = {"198.51.100.7", "192.0.2.44", "203.0.113.9", "198.51.100.99"};
    std::uint16_t port = 40000;
    for (const char* peer : peers) {
        c.frames.push_back({test::tcpFrame("10.0.0.1", peer, port, 443, 0x02)});
        c.frames.push_back({test::tcpFrame(peer, "10.0.0.1", 443, port, 0x12)});
        c.frames.push_back({test::tcpFrame("10.0.0.1", peer, port, 443, 0x10, 0, 100)});
        ++port;
    }
    return c;
}

TEST(FindProgram, FindsHostsByNameFliesToThemAndKeepsItsKeysFromTheScene) {
    if (!test::isRoot()) GTEST_SKIP() << "needs root for a private /etc/hosts";
    test::TempDir files;
    const std::string capture = files.file("find.pcap");
    ASSERT_TRUE(test::writeCaptureFile(capture, findCapture()));
    const std::string hosts = files.file("hosts");
    test::writeFile(hosts,
                    "127.0.0.1 localhost\n"
                    "198.51.100.7 alpha-web.find.test\n"
                    "192.0.2.44 gamma-db.find.test\n"
                    "203.0.113.9 beta-WEB.find.test\n");
    test::Xvfb x;
    ASSERT_TRUE(x.ok());
    FindRun find(x, capture, hosts);
    ASSERT_FALSE(find.window.empty()) << find.tessel->output();
    std::string d;
    ASSERT_TRUE(find.waitDump(
        "203\\.0\\.113\\.9 foreign .* cube 1 .* name beta-WEB\\.find\\.test\n", 60, &d))
        << d << find.tessel->output();
    ASSERT_TRUE(find.waitDump("198\\.51\\.100\\.7 foreign .* cube 1 .* name alpha-web", 30, &d))
        << d;
    EXPECT_NE(d.find("\nfind closed matches 0 current - text \n"), std::string::npos) << d;
    EXPECT_NE(d.find(" tour-camera 1\n"), std::string::npos) << d;

    // Open, then letters that are commands while the field is closed: none runs.
    find.key("slash");
    EXPECT_TRUE(find.waitDump("\nfind open matches 0 current - text \n", 10, &d)) << d;
    find.type("gpskq");
    EXPECT_TRUE(find.waitDump("\nfind open matches 0 current - text gpskq\n", 10, &d)) << d;
    EXPECT_NE(d.find("\nhud graph 0 help 1 pause 1 logging 0\n"), std::string::npos) << d;
    EXPECT_NE(d.find("legend 0\n"), std::string::npos) << d;
    EXPECT_EQ(d.find("message 0 Flag!"), std::string::npos) << d;
    for (const auto& e : fs::directory_iterator(find.run.path()))
        EXPECT_NE(e.path().filename().string().rfind("screenshot-", 0), 0u) << e.path();
    for (int i = 0; i < 5; ++i) find.key("BackSpace");

    // Part of two names, in another case: two matches, in node list order.
    find.type("WeB");
    EXPECT_TRUE(find.waitDump("\nfind open matches 2 current - text WeB\n", 10, &d)) << d;
    const std::size_t alpha = d.find(" 198.51.100.7 "), beta = d.find(" 203.0.113.9 ");
    ASSERT_LT(alpha, beta) << d;

    find.key("Return");
    EXPECT_TRUE(
        find.waitDump("\nfind open matches 2 current 198\\.51\\.100\\.7 text WeB\n", 10, &d))
        << d;
    EXPECT_TRUE(find.waitNear("198.51.100.7", 700, &d)) << d;
    EXPECT_NE(d.find("\ninfo shown Foreign Node: / alpha-web.find.test / 198.51.100.7 / "
                     "documentation range\n"),
              std::string::npos)
        << d;
    EXPECT_NE(d.find(" tour-camera 0\nview entered 1 tour 0\n"), std::string::npos) << d;

    find.key("Tab");
    EXPECT_TRUE(find.waitDump("\nfind open matches 2 current 203\\.0\\.113\\.9 ", 10, &d)) << d;
    EXPECT_TRUE(find.waitNear("203.0.113.9", 700, &d)) << d;
    EXPECT_NE(d.find("\ninfo shown Foreign Node: / beta-WEB.find.test / 203.0.113.9 / "
                     "documentation range\n"),
              std::string::npos)
        << d;
    find.key("shift+Tab");
    EXPECT_TRUE(find.waitDump("\nfind open matches 2 current 198\\.51\\.100\\.7 ", 10, &d)) << d;
    EXPECT_TRUE(find.waitNear("198.51.100.7", 700, &d)) << d;

    // Esc closes the field and leaves the program running; Ctrl+F opens it without a flag.
    find.key("Escape");
    EXPECT_TRUE(find.waitDump("\nfind closed matches ", 10, &d)) << d;
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(find.tessel->running());
    find.key("ctrl+f");
    EXPECT_TRUE(find.waitDump("\nfind open matches 0 current - text \n", 10, &d)) << d;
    find.key("Escape");
    EXPECT_TRUE(find.waitDump("\nfind closed ", 10, &d)) << d;
    find.key("Escape");
    EXPECT_EQ(find.tessel->wait(20000), 0) << find.tessel->output();
    EXPECT_EQ(test::readFile(find.run.file("log.txt")).find("FLAG!"), std::string::npos);
}

}  // namespace
}  // namespace tessel
