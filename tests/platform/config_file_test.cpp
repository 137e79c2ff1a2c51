#include "platform/config_file.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace tessel {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

TEST(ConfigFile, ReadsOnlyTheTesselSectionWithTrimCommentsAndLastDuplicate) {
    TempDir dir;
    std::string path = dir.file("Tessel.conf");
    writeFile(path,
              "nic=outside-any-section\n"
              "[Other]\n"
              "nic=other-section\n"
              "[Software\\Ashgrove\\Tessel]\n"
              "  nic  =  eth0  \n"
              "# width=1\n"
              "; height=2\n"
              "width=800\r\n"
              "width=1024px\n"
              "transparency=\n"
              "broken line without equals\n");
    EXPECT_EQ(readConfigValue(path, "nic"), std::optional<std::string>("eth0"));
    EXPECT_EQ(readConfigValue(path, "width"), std::optional<std::string>("1024px"));
    EXPECT_EQ(readConfigValue(path, "height"), std::nullopt);
    // An empty value is the empty text, not a missing value.
    EXPECT_EQ(readConfigValue(path, "transparency"), std::optional<std::string>(""));
    EXPECT_EQ(readConfigValue(path, "firstrun"), std::nullopt);
    EXPECT_EQ(readConfigValue(dir.file("missing.conf"), "nic"), std::nullopt);
}

TEST(ConfigFile, WriteKeepsForeignLinesAndCreatesWhatIsMissing) {
    TempDir dir;
    std::string path = dir.file("sub/dir/Tessel.conf");
    std::string error;
    ASSERT_TRUE(writeConfigValues(path, {{"nic", "lo"}, {"firstrun", "1"}}, &error)) << error;
    EXPECT_EQ(readConfigValue(path, "nic"), std::optional<std::string>("lo"));

    writeFile(path,
              "# my notes\n"
              "[Software\\Ashgrove\\Tessel]\n"
              "nic=eth0\n"
              "colour=blue\n"
              "nic=eth1\n"
              "[Elsewhere]\n"
              "nic=keep-me\n");
    ASSERT_TRUE(writeConfigValues(path, {{"nic", "wlan0"}, {"width", "640"}}, &error)) << error;
    std::string text = readFile(path);
    EXPECT_NE(text.find("# my notes\n"), std::string::npos);
    EXPECT_NE(text.find("colour=blue\n"), std::string::npos);
    EXPECT_NE(text.find("[Elsewhere]\nnic=keep-me\n"), std::string::npos);
    EXPECT_EQ(text.find("eth0"), std::string::npos);
    EXPECT_EQ(text.find("eth1"), std::string::npos);
    EXPECT_EQ(readConfigValue(path, "nic"), std::optional<std::string>("wlan0"));
    EXPECT_EQ(readConfigValue(path, "width"), std::optional<std::string>("640"));
    // The new name went into our section, not the foreign one after it.
    EXPECT_LT(text.find("width=640"), text.find("[Elsewhere]"));
    EXPECT_FALSE(test::fileExists(path + ".tmp." + std::to_string(getpid())));
}

TEST(ConfigFile, WriteFailureIsReportedAndLeavesTheOldFile) {
    TempDir dir;
    std::string blocker = dir.file("not-a-folder");
    writeFile(blocker, "x");
    std::string error;
    EXPECT_FALSE(writeConfigValues(blocker + "/Tessel.conf", {{"nic", "lo"}}, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(readFile(blocker), "x");
}

TEST(ConfigFile, PathFollowsTheEnvironment) {
    setenv("TESSEL_CONFIG", "/x/y.conf", 1);
    EXPECT_EQ(configFilePath(), "/x/y.conf");
    unsetenv("TESSEL_CONFIG");
    setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(configFilePath(), "/cfg/Ashgrove/Tessel.conf");
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", "/home/u", 1);
    EXPECT_EQ(configFilePath(), "/home/u/.config/Ashgrove/Tessel.conf");
}

}  // namespace
}  // namespace tessel
