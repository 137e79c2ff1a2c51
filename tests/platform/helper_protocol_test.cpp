// The lines the capture helper writes and tessel reads: what the helper formats parses back, and
// nothing else gets through, whatever arrives on the pipe.
#include "platform/helper_protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessel {
namespace {

using namespace std::string_literals;

TEST(HelperProtocol, WhatTheHelperWritesParsesBack) {
    HelperRateLine rate;
    rate.seconds = 1765200000;
    rate.micros = 999999;
    rate.packets = 12;
    rate.bytes = 18446744073709551615ull;  // 2^64 - 1
    char text[kHelperLongestLine];
    const int n = formatRateLine(text, sizeof text, rate);
    ASSERT_GT(n, 0);
    ASSERT_EQ(text[n - 1], '\n');
    HelperRateLine back;
    ASSERT_TRUE(parseRateLine(std::string(text, std::size_t(n - 1)), &back));
    EXPECT_EQ(back.seconds, rate.seconds);
    EXPECT_EQ(back.micros, rate.micros);
    EXPECT_EQ(back.packets, rate.packets);
    EXPECT_EQ(back.bytes, rate.bytes);

    HelperCountersLine counters;
    counters.received = 4294967295u;
    counters.dropped = 0;
    counters.interfaceDropped = 7;
    const int m = formatCountersLine(text, sizeof text, counters);
    ASSERT_GT(m, 0);
    EXPECT_EQ(std::string(text, std::size_t(m)), "4294967295 0 7\n");
    HelperCountersLine cback;
    ASSERT_TRUE(parseCountersLine(std::string(text, std::size_t(m - 1)), &cback));
    EXPECT_EQ(cback.received, counters.received);
    EXPECT_EQ(cback.dropped, 0u);
    EXPECT_EQ(cback.interfaceDropped, 7u);
}

TEST(HelperProtocol, HostileLinesAreRefusedAndChangeNothing) {
    const std::vector<std::string> notRates = {
        "",
        " ",
        "1 2 3",      // a field missing
        "1 2 3 4 5",  // a field too many
        "1 2 3 4 ",   // trailing space
        " 1 2 3 4",   // leading space
        "1  2 3 4",   // two spaces
        "1\t2 3 4",   // a tab
        "-1 2 3 4",   // negative
        "1 -2 3 4",
        "+1 2 3 4",                       // a sign
        "1 1000000 3 4",                  // a second's worth of microseconds
        "1 2 3 18446744073709551616",     // 2^64
        "1 2 3 99999999999999999999999",  // far beyond
        "9223372036854775808 0 1 1",      // seconds beyond a long long
        "1 2 3 4x",                       // trailing garbage
        "1 2 3 0x10",
        "1 2 3 4\r",     // a carriage return
        "1 2 3 4\0"s,    // NUL at the end
        "1 2 3 4\0 5"s,  // NUL inside: not the end of the line
        "1 2\0 3 4"s,
        "1.5 2 3 4",
        "a b c d",
        "1 2 3 " + std::string(300, '4'),  // longer than any line of the helper's
        std::string(100000, '1'),
    };
    for (const std::string& line : notRates) {
        HelperRateLine got;
        got.seconds = 11;
        got.micros = 22;
        got.packets = 33;
        got.bytes = 44;
        EXPECT_FALSE(parseRateLine(line, &got)) << testing::PrintToString(line);
        EXPECT_EQ(got.seconds, 11);
        EXPECT_EQ(got.micros, 22);
        EXPECT_EQ(got.packets, 33u);
        EXPECT_EQ(got.bytes, 44u);
    }
    const std::vector<std::string> notCounters = {
        "",         "1 2",
        "1 2 3 4",  "1 2 3 ",
        "1 -2 3",   "1 2 18446744073709551616",
        "1 2 3z",   "1 2 3\0"s,
        "1 2\0 3"s, "1 2 " + std::string(300, '3'),
    };
    for (const std::string& line : notCounters) {
        HelperCountersLine got;
        got.received = 5;
        EXPECT_FALSE(parseCountersLine(line, &got)) << testing::PrintToString(line);
        EXPECT_EQ(got.received, 5u);
    }
    // The edges that are sound.
    HelperRateLine rate;
    EXPECT_TRUE(parseRateLine("0 0 0 0", &rate));
    EXPECT_TRUE(parseRateLine("9223372036854775807 999999 0 18446744073709551615", &rate));
    EXPECT_EQ(rate.seconds, 9223372036854775807ll);
    HelperCountersLine counters;
    EXPECT_TRUE(parseCountersLine("007 0 18446744073709551615", &counters));
    EXPECT_EQ(counters.received, 7u);
    EXPECT_EQ(counters.interfaceDropped, 18446744073709551615ull);
}

}  // namespace
}  // namespace tessel
