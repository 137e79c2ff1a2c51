// The real program's start-up paths, each failure row with its status, message and side effects.
#include <gtest/gtest.h>

#include <filesystem>

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

}  // namespace
}  // namespace tessel
