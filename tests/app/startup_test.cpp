// The real program's start-up paths, each failure row with its status, message and side effects.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "support/tessel_run.h"

namespace tessel {
namespace {

using test::fileExists;
using test::TesselRun;

const char* kBanner =
    "This software is HIGHLY EXPERIMENTAL and comes with ABSOLUTELY NO WARRANTY.\n\n";

TEST(Startup, FirstRunStartsTheConfigToolBeforeTouchingTheLog) {
    for (bool withFile : {false, true}) {
        TesselRun t;
        if (withFile) t.settings({"nic=lo", "firstrun=0"});
        test::ProcessResult r = t.run();
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(t.configToolArgs(), "respawn\n");
        EXPECT_FALSE(fileExists(t.file("log.txt")));
        EXPECT_EQ(r.out.find(kBanner), std::string::npos);
    }
}

TEST(Startup, MissingAdapterNameAsksForTheConfigTool) {
    for (const char* line : {"firstrun=1", "firstrun=1\nnic="}) {
        TesselRun t;
        t.settings({line});
        test::writeFile(t.file("intel/anode.1.xml"), "old");
        test::ProcessResult r = t.run();
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.err.find("Please run tessel-config"), std::string::npos) << r.err;
        EXPECT_NE(r.out.find(kBanner), std::string::npos) << r.out;
        EXPECT_TRUE(fileExists(t.file("log.txt")));  // created (and emptied) before the check
        EXPECT_FALSE(fileExists(t.file("intel/anode.1.xml")));  // queue of the last run emptied
        EXPECT_EQ(t.configToolArgs(500), "");                   // this row only tells the user
    }
}

TEST(Startup, UnopenableLogShowsTheErrorNumberAndStops) {
    TesselRun t;
    t.settings({"firstrun=1", "nic=lo"});
    std::filesystem::create_directory(t.file("log.txt"));  // EISDIR even for root
    test::ProcessResult r = t.run();
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("Error: unable to open log.txt file (21)"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find(kBanner), std::string::npos);
}

TEST(Startup, NoVideoDeviceEndsWithStatusOne) {
    TesselRun t;
    t.settings({"firstrun=1", "nic=lo", "videodriver=2"});
    test::ProcessResult r = t.run({}, {{"DISPLAY", ""}});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Unable to start video driver"), std::string::npos) << r.err;
}

TEST(Startup, MissingArchiveEndsWithStatusOne) {
    TesselRun t;
    t.settings({"firstrun=1", "nic=lo"});
    std::filesystem::remove(t.file("res.dat"));
    test::ProcessResult r = t.run({}, {{"TESSEL_NULL_DRIVER", "1"}});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Failed to open res.dat file... Fatal error."), std::string::npos)
        << r.err;
}

// Under X the message is a real dialog: the program waits in it until the user presses OK.
TEST(Startup, MessageBoxUnderXWaitsForOk) {
    test::Xvfb x;
    ASSERT_TRUE(x.ok());
    TesselRun t;
    t.settings({"firstrun=1"});
    std::map<std::string, std::string> env = t.baseEnv();
    env["TESSEL_DIALOGS"] = "";
    env["DISPLAY"] = x.display();
    test::BackgroundProcess tessel({test::runDir() + "/tessel"}, t.path(), env);
    // SDL names its dialog in UTF-8 only, which xdotool's name search does not read.
    std::string box;
    for (int i = 0; i < 200 && box.empty(); ++i) {
        box = test::shellOutput("xwininfo -root -tree | awk '/\"Tessel\": /{printf $1; exit}'",
                                {{"DISPLAY", x.display()}});
        if (box.empty()) usleep(100000);
    }
    ASSERT_FALSE(box.empty()) << tessel.output();
    usleep(300000);
    EXPECT_TRUE(tessel.running()) << tessel.output();  // still waiting for the answer
    test::shellOutput("xdotool windowfocus --sync " + box + " key Return",
                      {{"DISPLAY", x.display()}});
    EXPECT_EQ(tessel.wait(10000), 0) << tessel.output();
    EXPECT_NE(tessel.output().find("Please run tessel-config"), std::string::npos);
}

}  // namespace
}  // namespace tessel
