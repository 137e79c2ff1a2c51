#include "nodes/connection_list.h"

#include <gtest/gtest.h>

#include <iterator>

namespace tessel {
namespace {

const STrafficBeam& nth(const cConnectionList& list, std::ptrdiff_t index) {
    return *std::next(list.begin(), index);
}

TEST(ConnectionListTest, LookupsByAddressPairAndIdentifier) {
    cConnectionList list;
    EXPECT_EQ(list.nextPickId(), 1999 | 0x02000000);
    EXPECT_EQ(list.find("10.0.0.1", "10.0.0.2", 1025, 80), nullptr);
    for (const char* source : {"10.0.0.1", "10.0.0.3", "10.0.0.4"}) {
        STrafficBeam b;
        b.source = source;
        b.destination = "10.0.0.2";
        b.sourcePort = 1025;
        b.destinationPort = 80;
        b.pickId = list.nextPickId();
        ASSERT_TRUE(list.append(b));
    }
    EXPECT_EQ(list.find("10.0.0.1", "10.0.0.2", 1025, 80), &nth(list, 0));
    EXPECT_EQ(list.find("10.0.0.2", "10.0.0.1", 80, 1025), &nth(list, 0));
    EXPECT_EQ(list.find("10.0.0.1", "10.0.0.2", 80, 1025), nullptr);
    EXPECT_EQ(list.find("010.0.0.1", "10.0.0.2", 1025, 80), nullptr);
    EXPECT_EQ(list.find("10.0.0.2", "10.0.0.3", 80, 1025), &nth(list, 1));
    EXPECT_FALSE(list.append(nth(list, 1)));  // each connection once
    EXPECT_TRUE(list.isEndpoint("10.0.0.3"));
    EXPECT_TRUE(list.isEndpoint("10.0.0.2"));
    EXPECT_FALSE(list.isEndpoint("10.0.0.5"));

    // After a removal the next identifier repeats one still listed; look-ups take the first.
    EXPECT_FALSE(list.removeDirected("10.0.0.2", "10.0.0.1", 80, 1025, nullptr));
    ASSERT_TRUE(list.removeDirected("10.0.0.1", "10.0.0.2", 1025, 80, nullptr));
    EXPECT_FALSE(list.isEndpoint("10.0.0.1"));
    EXPECT_TRUE(list.isEndpoint("10.0.0.2"));
    EXPECT_EQ(list.nextPickId(), 2001 | 0x02000000);
    STrafficBeam repeat = nth(list, 1);
    repeat.sourcePort = 1026;
    ASSERT_TRUE(list.append(repeat));
    EXPECT_EQ(list.findByPickId(2001 | 0x02000000), &nth(list, 1));
    EXPECT_EQ(list.findByPickId(1999 | 0x02000000), nullptr);
}

}  // namespace
}  // namespace tessel
