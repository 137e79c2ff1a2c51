#include "scene/connection_list.h"

#include <gtest/gtest.h>

namespace tessel {
namespace {

TEST(ConnectionListTest, LookupsByAddressPairAndIdentifier) {
    beamList.clear();
    EXPECT_EQ(nextBeamPickId(), 1999 | 0x02000000);
    EXPECT_EQ(findConnection("10.0.0.1", "10.0.0.2", 1025, 80), -1);
    for (const char* source : {"10.0.0.1", "10.0.0.3", "10.0.0.4"}) {
        STrafficBeam b;
        b.source = source;
        b.destination = "10.0.0.2";
        b.sourcePort = 1025;
        b.destinationPort = 80;
        b.pickId = nextBeamPickId();
        beamList.push_back(b);
    }
    EXPECT_EQ(findConnection("10.0.0.1", "10.0.0.2", 1025, 80), 0);
    EXPECT_EQ(findConnection("10.0.0.2", "10.0.0.1", 80, 1025), 0);
    EXPECT_EQ(findConnection("10.0.0.1", "10.0.0.2", 80, 1025), -1);
    EXPECT_EQ(findConnection("010.0.0.1", "10.0.0.2", 1025, 80), -1);
    EXPECT_EQ(findConnection("10.0.0.2", "10.0.0.3", 80, 1025), 1);
    EXPECT_TRUE(isBeamEndpoint("10.0.0.3"));
    EXPECT_FALSE(isBeamEndpoint("10.0.0.5"));

    // After a removal the next identifier repeats one still listed; look-ups take the first.
    beamList.erase(beamList.begin());
    EXPECT_EQ(nextBeamPickId(), 2001 | 0x02000000);
    beamList.push_back(beamList.back());
    EXPECT_EQ(findConnectionByPickId(2001 | 0x02000000), 1);
    EXPECT_EQ(findConnectionByPickId(1999 | 0x02000000), -1);
    beamList.clear();
}

}  // namespace
}  // namespace tessel
