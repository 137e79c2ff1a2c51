#include "nodes/info_text.h"

#include <gtest/gtest.h>

#include "nodes/connection_list.h"
#include "nodes/node_manager.h"
#include "support/worldnodes_support.h"

using namespace tessel;

namespace {

void setNode(int index, int pickId, const std::string& hostName = std::string()) {
    test::testNodes().updateNode(index, [&](SNetNode& n) {
        n.pickId = pickId;
        n.hostName = hostName;
    });
}

TEST(InfoText, NodeTextsByKindAndBeamTextsByEnds) {
    test::resetNodeWorld();
    cNodeManager& manager = test::testNodes();
    ASSERT_EQ(manager.addLocalNode("192.168.0.5"), 0);
    ASSERT_EQ(manager.addGatewayNode("192.168.0.1"), 1);
    ASSERT_EQ(manager.addLocalNode("192.168.0.7"), 2);
    ASSERT_EQ(manager.findOrAddNode("198.51.100.4", 0), 3);
    ASSERT_EQ(manager.findOrAddNode("198.51.100.5", 0), 4);
    for (int i = 0; i < 5; ++i) setNode(i, kNodePickBit | (1000 + i));
    setNode(3, kNodePickBit | 1003, "host.example");

    EXPECT_EQ(nodeInfoText(manager, kNodePickBit | 1000), "Tessel Host:\n\n\n192.168.0.5");
    EXPECT_EQ(nodeInfoText(manager, kNodePickBit | 1001), "Default Gateway:\n\n\n192.168.0.1");
    EXPECT_EQ(nodeInfoText(manager, kNodePickBit | 1002), "Local Node:\n\n\n192.168.0.7");
    EXPECT_EQ(nodeInfoText(manager, kNodePickBit | 1003),
              "Foreign Node:\n\nhost.example\n198.51.100.4");
    EXPECT_EQ(nodeInfoText(manager, kNodePickBit | 1004), "Foreign Node:\n\n\n198.51.100.5");
    EXPECT_EQ(nodeInfoText(manager, kNodePickBit | 1999), "");
    setNode(4, kNodePickBit | 1002);  // shared identifier: the first in list order
    EXPECT_EQ(nodeInfoText(manager, kNodePickBit | 1002), "Local Node:\n\n\n192.168.0.7");

    test::testConnections().clear();
    STrafficBeam beam;
    beam.source = "192.168.0.5";
    beam.destination = "198.51.100.4";
    beam.service = "http";
    beam.pickId = kBeamPickBit | 1999;
    test::testConnections().append(beam);
    beam.destination = "203.0.113.77";  // not in the node list (any more)
    beam.pickId = kBeamPickBit | 2000;
    test::testConnections().append(beam);
    EXPECT_EQ(beamInfoText(manager, test::testConnections(), kBeamPickBit | 1999),
              "TCP (http):\n\n192.168.0.5 to host.example");
    EXPECT_EQ(beamInfoText(manager, test::testConnections(), kBeamPickBit | 2000),
              "TCP (http):\n\n192.168.0.5 to ");
    EXPECT_EQ(beamInfoText(manager, test::testConnections(), kBeamPickBit | 2001), "");
}

}  // namespace

namespace {

TEST(InfoText, ForeignNodeOnceLocatedShowsCountryAndNetworkInLinesThatFit) {
    test::resetNodeWorld();
    cNodeManager& manager = test::testNodes();
    ASSERT_EQ(manager.addLocalNode("192.168.0.5"), 0);
    ASSERT_EQ(manager.findOrAddNode("8.8.8.8", 0), 1);
    ASSERT_EQ(manager.addLocalNode("192.168.0.7"), 2);
    auto locate = [&](int index, const HostLocation& where) {
        manager.updateNode(index, [&](SNetNode& n) {
            n.pickId = kNodePickBit | (1000 + index);
            n.hostName = "dns.google";
            n.location = where;
            n.locateState = 2;
        });
        return nodeInfoText(manager, kNodePickBit | (1000 + index));
    };
    const std::string head = "Foreign Node:\n\ndns.google\n8.8.8.8\n";

    HostLocation google;
    google.countryCode = "US";
    google.countryName = "United States of America";
    google.asNumber = 15169;
    google.asName = "GOOGLE";
    google.anycast = true;
    EXPECT_EQ(locate(1, google),
              head + "country: United States (US)\nnetwork: AS15169 GOOGLE\nanycast network");

    HostLocation wide;
    wide.countryCode = "GB";
    wide.countryName = "United Kingdom of Great Britain and Northern Ireland";
    wide.asNumber = 3333;
    wide.asName = "Reseaux IP Europeens Network Coordination Centre (RIPE NCC)";
    EXPECT_EQ(locate(1, wide), head + "country: United Kingdom (GB)\nnetwork: AS3333 Reseaux...");
    wide.countryName = "Bosnia-and-Herzegovina-Republic";  // one word too wide: cut
    EXPECT_EQ(locate(1, wide), head + "country: Bosnia-and-... (GB)\nnetwork: AS3333 Reseaux...");

    HostLocation unknown;
    EXPECT_EQ(locate(1, unknown), head + "country: unknown\nnetwork: unknown");
    unknown.countryCode = "DE";  // a code without a name, a number without a name
    unknown.asNumber = 64500;
    EXPECT_EQ(locate(1, unknown), head + "country: DE\nnetwork: AS64500");

    HostLocation none;
    none.noData = true;
    EXPECT_EQ(locate(1, none), head + "no location data");
    HostLocation inside;
    inside.rangeWording = "private network";
    EXPECT_EQ(locate(1, inside), head + "private network");

    // Not yet located: as before. Local nodes never show a location.
    manager.updateNode(1, [](SNetNode& n) { n.locateState = 1; });
    EXPECT_EQ(nodeInfoText(manager, kNodePickBit | 1001), "Foreign Node:\n\ndns.google\n8.8.8.8");
    EXPECT_EQ(locate(2, google).find("country"), std::string::npos);
}

}  // namespace
