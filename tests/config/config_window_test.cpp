// The settings window's rules, the window itself under a private X server, and an installed
// tessel running from a per-user folder.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "config/config_choices.h"
#include "platform/config_file.h"
#include "support/tessel_run.h"

namespace tessel {
namespace {

const char* kRoutes =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
    "eth1\t0000A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
    "eth1\t00000000\t0100A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n";

std::vector<InterfaceAddress> someAdapters() {
    return {{"eth0", "", "", false, {}},
            {"eth1", "192.168.0.5", "255.255.255.0", true, {}},
            {"lo", "127.0.0.1", "255.0.0.0", true, {}}};
}

TEST(ConfigChoices, FirstRunPreselectsTheDefaultRouteOtherwiseTheConfiguredAdapter) {
    test::TempDir dir;
    std::string conf = dir.file("Tessel.conf");
    ConfigChoices first = loadConfigChoices(conf, someAdapters(), kRoutes);
    EXPECT_EQ(first.selectedAdapter, 1);
    EXPECT_FALSE(first.fullscreen);  // no value: windowed, as the program reads it
    EXPECT_EQ(first.driver, 2);
    EXPECT_FALSE(first.opaque);
    EXPECT_EQ(first.maxFps, 0);               // unlimited unless asked
    EXPECT_EQ(first.source, FeedKind::None);  // the adapter unless a feed was chosen

    test::writeFile(conf,
                    "[Software\\Ashgrove\\Tessel]\nnic=lo\nfullscreen=yes\nvideodriver=3\n"
                    "transparency=0\nwidth=1280\nmaxfps=45\n");
    ConfigChoices again = loadConfigChoices(conf, someAdapters(), kRoutes);
    EXPECT_EQ(again.selectedAdapter, 2);
    EXPECT_TRUE(again.fullscreen);
    EXPECT_EQ(again.driver, 3);
    EXPECT_TRUE(again.opaque);
    EXPECT_EQ(again.width, "1280");
    EXPECT_EQ(again.height, "600");
    EXPECT_EQ(again.maxFps, 45);  // kept, though the window offers 60 and 30
}

TEST(ConfigChoices, SavingGivesEveryValueOrARefusal) {
    ConfigChoices c;
    c.adapters = someAdapters();
    std::map<std::string, std::string> values;
    std::string error;
    EXPECT_FALSE(choicesToValues(c, &values, &error));  // no adapter chosen
    EXPECT_TRUE(values.empty());

    c.selectedAdapter = 2;
    c.width = "12x";
    EXPECT_FALSE(choicesToValues(c, &values, &error));
    EXPECT_NE(error.find("64 to 16384"), std::string::npos);
    c.fullscreen = true;  // the size does not matter in full screen
    ASSERT_TRUE(choicesToValues(c, &values, &error)) << error;
    EXPECT_EQ(values.count("width"), 0u);  // a bad size is not stored

    c.fullscreen = false;
    c.width = "800";
    c.driver = 4;
    c.opaque = true;
    c.maxFps = 30;
    values.clear();
    ASSERT_TRUE(choicesToValues(c, &values, &error));
    std::map<std::string, std::string> expected = {
        {"firstrun", "1"}, {"nic", "lo"},         {"fullscreen", "1"},   {"width", "800"},
        {"height", "600"}, {"videodriver", "4"},  {"transparency", "0"}, {"maxfps", "30"},
        {"filter", ""},    {"source", "adapter"}, {"listen", ""}};
    EXPECT_EQ(values, expected);

    c.filter = "tcp and";
    values.clear();
    EXPECT_FALSE(choicesToValues(c, &values, &error));
    EXPECT_EQ(error,
              "The capture filter does not compile: can't parse filter expression: "
              "syntax error");
    c.filter = "icmp";
    ASSERT_TRUE(choicesToValues(c, &values, &error)) << error;
    EXPECT_EQ(values["filter"], "icmp");
}

TEST(ConfigChoices, AFeedNeedsNoAdapterButAPortItCanListenOnNow) {
    test::TempDir dir;
    const std::string conf = dir.file("Tessel.conf");
    // "any" captures Linux cooked frames, where Ethernet addresses do not exist; a feed's
    // frames are Ethernet whatever adapter is chosen.
    ConfigChoices c = loadConfigChoices(conf, {{"any", "", "", true, {}}}, "");
    c.selectedAdapter = -1;
    c.filter = "ether dst 00:11:22:33:44:55";
    c.source = FeedKind::Sflow;
    c.listen = "70000";
    std::map<std::string, std::string> values;
    std::string error;
    EXPECT_FALSE(choicesToValues(c, &values, &error));
    EXPECT_EQ(error,
              "The listen address is not valid: '70000' is not a port: give [ADDR:]PORT, e.g. "
              "6343");

    int taken = openUdpListener({"127.0.0.1", 0}, &error);
    ASSERT_GE(taken, 0) << error;
    sockaddr_in bound{};
    socklen_t length = sizeof(bound);
    getsockname(taken, reinterpret_cast<sockaddr*>(&bound), &length);
    const std::string port = std::to_string(ntohs(bound.sin_port));
    c.listen = "127.0.0.1:" + port;
    EXPECT_FALSE(choicesToValues(c, &values, &error));
    EXPECT_EQ(error,
              "Tessel cannot listen for sFlow: UDP port " + port + " is in use by another program");
    close(taken);

    ASSERT_TRUE(choicesToValues(c, &values, &error)) << error;
    EXPECT_EQ(values.count("nic"), 0u);  // none chosen: the stored one stays
    EXPECT_EQ(values["source"], "sflow");
    EXPECT_EQ(values["listen"], c.listen);
    ASSERT_TRUE(writeConfigValues(conf, values, &error)) << error;
    ConfigChoices again = loadConfigChoices(conf, {}, "");
    EXPECT_EQ(again.source, FeedKind::Sflow);
    EXPECT_EQ(again.listen, c.listen);
    EXPECT_EQ(again.filter, c.filter);

    c.source = FeedKind::None;  // the adapter again: its link type counts
    c.selectedAdapter = 0;
    EXPECT_FALSE(choicesToValues(c, &values, &error));
    EXPECT_NE(error.find("The capture filter does not compile"), std::string::npos) << error;

    test::writeFile(conf, "[Software\\Ashgrove\\Tessel]\nsource=netflow\n");
    EXPECT_EQ(loadConfigChoices(conf, {}, "").source, FeedKind::Netflow);
    test::writeFile(conf, "[Software\\Ashgrove\\Tessel]\nsource=pcap\n");
    EXPECT_EQ(loadConfigChoices(conf, {}, "").source, FeedKind::None);
}

TEST(ConfigChoices, CaptureRightsAreCheckedByOpeningTheAdapter) {
    if (!test::isRoot()) GTEST_SKIP() << "needs capture rights";
    EXPECT_EQ(captureRightsProblem("lo"), "");
    EXPECT_NE(captureRightsProblem("no-such-adapter0"), "");
}

TEST(ConfigWindow, PickingAnAdapterAndSavingWritesTheStoreAndStartsTessel) {
    test::Xvfb x;
    ASSERT_TRUE(x.ok());
    test::TempDir dir;
    std::string started = dir.file("started");
    std::string stand_in = dir.file("tessel");
    test::writeFile(stand_in, "#!/bin/sh\npwd > '" + started + ".tmp'; mv '" + started + ".tmp' '" +
                                  started + "'\n");
    chmod(stand_in.c_str(), 0755);
    std::map<std::string, std::string> env = {{"DISPLAY", x.display()},
                                              {"TESSEL_CONFIG", dir.file("Tessel.conf")},
                                              {"TESSEL_PROGRAM", stand_in}};
    test::BackgroundProcess tool({test::runDir() + "/tessel-config", "respawn"}, dir.path(), env);
    std::string window = test::waitForWindow(x.display(), "^Tessel settings$", 20000);
    ASSERT_FALSE(window.empty()) << tool.output();
    // The list takes the keyboard focus; typing an adapter's name selects it. Then a filter that
    // does not compile: Save is refused, nothing is written.
    const std::string conf = dir.file("Tessel.conf");
    test::shellOutput("xdotool windowfocus --sync " + window +
                          " type --delay 50 lo; xdotool mousemove --window " + window +
                          " 300 397 click 1 type --delay 20 'icmp and'; xdotool key Return",
                      {{"DISPLAY", x.display()}});
    EXPECT_EQ(tool.wait(700), -1) << tool.output();
    EXPECT_FALSE(test::fileExists(conf));
    test::shellOutput("xdotool key --delay 20 BackSpace BackSpace BackSpace BackSpace Return",
                      {{"DISPLAY", x.display()}});
    EXPECT_EQ(tool.wait(10000), 0) << tool.output();
    EXPECT_EQ(readConfigValue(conf, "filter"), std::optional<std::string>("icmp"));
    EXPECT_EQ(readConfigValue(conf, "nic"), std::optional<std::string>("lo"));
    EXPECT_EQ(readConfigValue(conf, "firstrun"), std::optional<std::string>("1"));
    for (const char* name :
         {"fullscreen", "width", "height", "videodriver", "transparency", "maxfps"})
        EXPECT_TRUE(readConfigValue(conf, name).has_value()) << name;
    for (int i = 0; i < 100 && !test::fileExists(started); ++i) usleep(20000);
    EXPECT_EQ(test::readFile(started), dir.path() + "\n");  // started in the tool's folder
}

TEST(ConfigWindow, CancelWritesNothingAndStartsNothing) {
    test::Xvfb x;
    ASSERT_TRUE(x.ok());
    test::TempDir dir;
    std::map<std::string, std::string> env = {{"DISPLAY", x.display()},
                                              {"TESSEL_CONFIG", dir.file("Tessel.conf")},
                                              {"TESSEL_PROGRAM", "/bin/false"}};
    test::BackgroundProcess tool({test::runDir() + "/tessel-config", "respawn"}, dir.path(), env);
    std::string window = test::waitForWindow(x.display(), "^Tessel settings$", 20000);
    ASSERT_FALSE(window.empty()) << tool.output();
    test::shellOutput("xdotool windowfocus --sync " + window + " key Escape",
                      {{"DISPLAY", x.display()}});
    EXPECT_EQ(tool.wait(10000), 0);
    EXPECT_FALSE(test::fileExists(dir.file("Tessel.conf")));
}

TEST(Install, InstalledTesselRunsFromAnyFolderInAPerUserFolder) {
    test::TempDir prefix, home, elsewhere;
    test::ProcessResult install = test::runProcess(
        {"cmake", "--install", TESSEL_BUILD_DIR, "--prefix", prefix.path()}, "", {}, 60000);
    ASSERT_EQ(install.status, 0) << install.out << install.err;
    for (const char* f :
         {"bin/tessel", "bin/tessel-config", "share/tessel/res.dat", "share/tessel/services.txt",
          "share/applications/tessel.desktop", "share/icons/hicolor/32x32/apps/tessel.png"})
        EXPECT_TRUE(test::fileExists(prefix.file(f))) << f;

    test::Xvfb x;
    ASSERT_TRUE(x.ok());
    test::writeFile(home.file("Tessel.conf"),
                    "[Software\\Ashgrove\\Tessel]\nfirstrun=1\nnic=lo\nvideodriver=3\n");
    std::map<std::string, std::string> env = {
        {"DISPLAY", x.display()},     {"HOME", home.path()},
        {"XDG_DATA_HOME", ""},        {"TESSEL_CONFIG", home.file("Tessel.conf")},
        {"TESSEL_DIALOGS", "stderr"}, {"TESSEL_SPLASH_MS", "0"}};
    test::BackgroundProcess tessel({prefix.file("bin/tessel")}, elsewhere.path(), env);
    std::string window = test::waitForWindow(x.display(), "^Tessel \\[", 30000);
    ASSERT_FALSE(window.empty()) << tessel.output();
    std::string work = home.file(".local/share/Ashgrove/Tessel");
    for (const char* f :
         {"res.dat", "splash.bmp", "services.txt", "readme.txt", "intel", "log.txt"})
        EXPECT_TRUE(test::fileExists(work + "/" + f)) << f;
    EXPECT_FALSE(test::fileExists(elsewhere.file("log.txt")));
    test::shellOutput("xdotool windowfocus --sync " + window + " key Escape",
                      {{"DISPLAY", x.display()}});
    EXPECT_EQ(tessel.wait(15000), 0) << tessel.output();
}

}  // namespace
}  // namespace tessel
