// End to end: the real program replaying the demo in a real window names this host, the gateway
// and the busiest hosts over their cubes; key N cycles the labels through every host in view and
// none. Checked through the scene dump.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <regex>
#include <thread>

#include "support/tessel_run.h"

namespace tessel {
namespace {

using namespace std::chrono_literals;

struct Labels {
    std::string mode;
    int count = -1;
    std::vector<std::string> addresses;  // of the "label" lines
};

Labels labelsOf(const std::string& dump) {
    Labels l;
    std::smatch m;
    if (std::regex_search(dump, m, std::regex("\nlabels (\\S+) ([0-9]+)\n"))) {
        l.mode = m[1];
        l.count = std::stoi(m[2]);
    }
    const std::regex line("\nlabel (\\S+) [^\n]+");
    for (auto it = std::sregex_iterator(dump.begin(), dump.end(), line);
         it != std::sregex_iterator(); ++it)
        l.addresses.push_back((*it)[1]);
    return l;
}

TEST(Labels, ReplayNamesTheBusiestHostsAndKeyNCyclesTheModes) {
    test::Xvfb x;
    ASSERT_TRUE(x.ok());
    test::TesselRun run;
    run.settings({"firstrun=1", "videodriver=3", "fullscreen=1", "width=800", "height=600"});
    std::map<std::string, std::string> env = run.baseEnv();
    env["DISPLAY"] = x.display();
    // A minute of traffic at its own pace: the busiest hosts change but never run out.
    test::BackgroundProcess tessel(
        {test::runDir() + "/tessel", "-r", test::runDir() + "/demo.pcap"}, run.path(), env);
    const std::string window = test::waitForWindow(x.display(), "^Tessel \\[", 30000);
    ASSERT_FALSE(window.empty()) << tessel.output();
    test::shellOutput("xdotool windowfocus --sync " + window, {{"DISPLAY", x.display()}});
    const auto key = [&](const char* name) {
        test::shellOutput("xdotool key --window " + window + " " + name,
                          {{"DISPLAY", x.display()}});
    };
    const auto dump = [&] {
        const std::string file = run.file("scene-dump.txt");
        std::filesystem::remove(file);
        kill(tessel.pid(), SIGUSR1);
        for (int i = 0; i < 250 && !test::fileExists(file); ++i) std::this_thread::sleep_for(20ms);
        return test::readFile(file);
    };
    std::string d;
    const auto waitFor = [&](const std::function<bool(const Labels&)>& done) {
        for (int i = 0; i < 150; ++i) {
            d = dump();
            if (done(labelsOf(d))) return true;
            std::this_thread::sleep_for(100ms);
        }
        return false;
    };
    const auto has = [](const Labels& l, const std::string& address) {
        return std::find(l.addresses.begin(), l.addresses.end(), address) != l.addresses.end();
    };
    const auto busyOnes = [](const Labels& l) {
        int n = 0;
        for (const std::string& a : l.addresses) n += a != "192.168.1.10" && a != "192.168.1.1";
        return n;
    };

    // By default: this host, the gateway and some of the busiest hosts, at most 12 of them.
    EXPECT_TRUE(waitFor([&](const Labels& l) {
        return l.mode == "busiest" && has(l, "192.168.1.10") && has(l, "192.168.1.1") &&
               busyOnes(l) > 0;
    })) << d;
    Labels busiest = labelsOf(d);
    EXPECT_EQ(busiest.count, int(busiest.addresses.size())) << d;
    EXPECT_LE(busyOnes(busiest), 12) << d;
    for (const std::string& a : busiest.addresses)
        EXPECT_TRUE(std::regex_search(
            d, std::regex("\nnode [0-9]+ " + std::regex_replace(a, std::regex("\\."), "\\.") +
                          " .* cube 1 ")))
            << a << "\n"
            << d;

    key("n");
    EXPECT_TRUE(waitFor([](const Labels& l) { return l.mode == "all" && l.count >= 3; })) << d;
    EXPECT_NE(d.find("\nmessage 0 Labels: all hosts in view\n"), std::string::npos) << d;
    EXPECT_LE(labelsOf(d).count, 64) << d;

    key("n");
    EXPECT_TRUE(waitFor([](const Labels& l) { return l.mode == "none"; })) << d;
    EXPECT_EQ(labelsOf(d).count, 0) << d;
    EXPECT_TRUE(labelsOf(d).addresses.empty()) << d;
    EXPECT_NE(d.find("\nmessage 0 Labels: none\n"), std::string::npos) << d;

    key("n");
    EXPECT_TRUE(waitFor([&](const Labels& l) {
        return l.mode == "busiest" && has(l, "192.168.1.10") && has(l, "192.168.1.1");
    })) << d;
    EXPECT_NE(d.find("\nmessage 0 Labels: busiest hosts\n"), std::string::npos) << d;

    key("Escape");
    EXPECT_EQ(tessel.wait(20000), 0) << tessel.output();
}

}  // namespace
}  // namespace tessel
