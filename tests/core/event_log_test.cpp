#include "core/event_log.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "support/test_support.h"

namespace tessel {
namespace {

using test::readFile;

TEST(EventLog, StampIsEnglishWhateverTheLocale) {
    setenv("TZ", "UTC", 1);
    tzset();
    setlocale(LC_ALL, "");
    // 2026-12-05 21:30:15 UTC
    EXPECT_EQ(logTimeStamp(1796506215), "Saturday, December 05, 2026, 21:30:15");
}

TEST(EventLog, LinesAreStampDashMessageCrLfAndStartEmpty) {
    test::TempDir dir;
    test::ScopedCwd cwd(dir.path());
    test::writeFile("log.txt", "left by an earlier run\n");
    {
        cLog log;
        EXPECT_EQ(readFile("log.txt"), "");
        log.logEvent("FLAG!");
        log.logEvent("");
        log.logEvent("10.0.0.1:0  ->  10.0.0.2:0");
    }
    std::string text = readFile("log.txt");
    std::regex line(
        "(Monday|Tuesday|Wednesday|Thursday|Friday|Saturday|Sunday), [A-Z][a-z]+ [0-9]{2}, "
        "[0-9]{4}, [0-9]{2}:[0-9]{2}:[0-9]{2} - (FLAG!|10\\.0\\.0\\.1:0  ->  "
        "10\\.0\\.0\\.2:0|)\r\n");
    auto begin = std::sregex_iterator(text.begin(), text.end(), line);
    EXPECT_EQ(std::distance(begin, std::sregex_iterator()), 3) << text;
    EXPECT_NE(text.find(" - \r\n"), std::string::npos);  // the empty message still makes a line
}

TEST(EventLog, WipeEmptiesTheFileAndTheNextLineIsTheFirst) {
    test::TempDir dir;
    test::ScopedCwd cwd(dir.path());
    cLog log;
    log.logEvent("one");
    log.logEvent("two");
    log.wipeLog();
    EXPECT_TRUE(test::fileExists("log.txt"));
    EXPECT_EQ(readFile("log.txt"), "");
    log.logEvent("three");
    log.wipeLog();  // closing flushes; reopened empty again
    log.logEvent("four");
    std::string before = readFile("log.txt");
    EXPECT_EQ(before, "");  // not flushed yet: lines reach the disk at close
}

TEST(EventLog, LinesFromManyThreadsStayWhole) {
    test::TempDir dir;
    test::ScopedCwd cwd(dir.path());
    {
        cLog log;
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&log, t] {
                for (int i = 0; i < 500; ++i) log.logEvent("thread " + std::to_string(t) + " line");
            });
        for (auto& th : threads) th.join();
    }
    std::string text = readFile("log.txt");
    std::regex line("[^\r\n]+ - thread [0-3] line\r\n");
    auto begin = std::sregex_iterator(text.begin(), text.end(), line);
    EXPECT_EQ(std::distance(begin, std::sregex_iterator()), 2000);
}

}  // namespace
}  // namespace tessel
