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
