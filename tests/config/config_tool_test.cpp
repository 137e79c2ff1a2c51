// tessel-config without a window: flags set values, bad values change nothing.
#include "config/config_tool.h"

#include <gtest/gtest.h>

#include "platform/config_file.h"
#include "support/test_support.h"

namespace tessel {
namespace {

using test::ProcessResult;

ProcessResult runTool(const std::string& conf, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {test::runDir() + "/tessel-config"};
    argv.insert(argv.end(), args.begin(), args.end());
    return test::runProcess(argv, "", {{"TESSEL_CONFIG", conf}}, 10000);
}

TEST(ConfigTool, FlagsBecomeStoreValues) {
    ConfigRequest r;
    std::string error;
    ASSERT_TRUE(parseConfigFlags({"--nic", "eth0", "--windowed", "--width", "1024", "--height",
                                  "768", "--driver", "software", "--opaque", "--maxfps", "60"},
                                 &r, &error))
        << error;
    std::map<std::string, std::string> expected = {
        {"nic", "eth0"},      {"fullscreen", "1"},   {"width", "1024"}, {"height", "768"},
        {"videodriver", "3"}, {"transparency", "0"}, {"firstrun", "1"}, {"maxfps", "60"}};
    EXPECT_EQ(r.values, expected);

    ConfigRequest f;
    ASSERT_TRUE(
        parseConfigFlags({"--fullscreen", "--translucent", "--driver", "burnings"}, &f, &error));
    EXPECT_EQ(f.values["fullscreen"], "0");
    EXPECT_EQ(f.values["transparency"], "1");
    EXPECT_EQ(f.values["videodriver"], "4");

    ConfigRequest feed;
    ASSERT_TRUE(parseConfigFlags({"--source", "netflow", "--listen", "[::1]:2055"}, &feed, &error))
        << error;
    EXPECT_EQ(feed.values["source"], "netflow");
    EXPECT_EQ(feed.values["listen"], "[::1]:2055");

    ConfigRequest nothing;
    ASSERT_TRUE(parseConfigFlags({"respawn"}, &nothing, &error));
    EXPECT_TRUE(nothing.respawn);
    EXPECT_TRUE(nothing.values.empty());  // starting the tool alone writes nothing
}

TEST(ConfigTool, BadValuesAreRefusedWithStatusTwoAndChangeNothing) {
    test::TempDir dir;
    std::string conf = dir.file("Tessel.conf");
    test::writeFile(conf, "[Software\\Ashgrove\\Tessel]\nnic=lo\nmine=kept\n");
    const std::vector<std::vector<std::string>> bad = {
        {"--width", "12abc"},
        {"--width", "0"},
        {"--height"},
        {"--driver", "d3d9"},
        {"--nic", ""},
        {"--nic", "a=b"},
        {"--bogus"},
        {"--nic", "eth0", "--width", "-5"},
        {"--maxfps", "-1"},
        {"--maxfps", "1001"},
        {"--maxfps", "060"},
        {"--filter", "tcp port"},
        {"--filter", "icmp\nnic=eth0"},
        {"--nic", "lo", "--filter", "wlan host 1.2.3.4"},
        {"--source", "pcap"},
        {"--listen", "::1:6343"},
        {"--source", "sflow", "--listen", "192.0.2.1:6343"}};  // not on this machine
    for (const auto& args : bad) {
        ProcessResult r = runTool(conf, args);
        EXPECT_EQ(r.status, 2) << args[0];
        EXPECT_NE(r.err.find("tessel-config: "), std::string::npos) << r.err;
        EXPECT_EQ(test::readFile(conf), "[Software\\Ashgrove\\Tessel]\nnic=lo\nmine=kept\n");
    }
}

TEST(ConfigTool, AFilterIsStoredOnlyWhenItCompilesForTheAdapter) {
    test::TempDir dir;
    const std::string conf = dir.file("Tessel.conf");
    test::writeFile(conf, "[Software\\Ashgrove\\Tessel]\nnic=lo\n");
    ProcessResult r = runTool(conf, {"--filter", "icmp or udp port 53"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(test::readFile(conf).find("\nfilter=icmp or udp port 53\n"), std::string::npos);

    r = runTool(conf, {"--filter", "icmp and"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err,
              "tessel-config: --filter: 'icmp and' does not compile: can't parse filter "
              "expression: syntax error\n");
    EXPECT_NE(test::readFile(conf).find("\nfilter=icmp or udp port 53\n"), std::string::npos);

    r = runTool(conf, {"--filter", ""});  // back to everything
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(test::readFile(conf).find("\nfilter=\n"), std::string::npos) << test::readFile(conf);
}

TEST(ConfigTool, WritesTheStoreKeepingUnknownLines) {
    test::TempDir dir;
    std::string conf = dir.file("Tessel.conf");
    test::writeFile(conf, "; comment\n[Software\\Ashgrove\\Tessel]\nmine=kept\nnic=eth9\n");
    ProcessResult r = runTool(conf, {"--nic", "lo", "--windowed", "--driver", "opengl"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readConfigValue(conf, "nic"), std::optional<std::string>("lo"));
    EXPECT_EQ(readConfigValue(conf, "fullscreen"), std::optional<std::string>("1"));
    EXPECT_EQ(readConfigValue(conf, "videodriver"), std::optional<std::string>("2"));
    EXPECT_EQ(readConfigValue(conf, "firstrun"), std::optional<std::string>("1"));
    EXPECT_EQ(readConfigValue(conf, "mine"), std::optional<std::string>("kept"));
    EXPECT_NE(test::readFile(conf).find("; comment\n"), std::string::npos);
}

TEST(ConfigTool, ListsThisMachinesAdapters) {
    ProcessResult r = runTool("/nonexistent/never-written.conf", {"--list"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("lo "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("127.0.0.1/255.0.0.0"), std::string::npos) << r.out;
    // The loopback's IPv6 address follows on its line, where the kernel has IPv6.
    if (test::readFile("/proc/net/if_inet6").find("00000000000000000000000000000001") !=
        std::string::npos) {
        EXPECT_NE(r.out.find("up   ::1/128\n"), std::string::npos) << r.out;
    }
    EXPECT_EQ(r.out.find("dbus"), std::string::npos);
    EXPECT_FALSE(test::fileExists("/nonexistent/never-written.conf"));
}

}  // namespace
}  // namespace tessel
