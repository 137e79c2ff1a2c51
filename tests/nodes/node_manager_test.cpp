#include "nodes/node_manager.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/adapter_addresses.h"
#include "platform/lcg_random.h"
#include "support/worldnodes_support.h"

namespace tessel {
namespace {
using irr::core::vector3df;

vector3df positionOf(int index) {
    SNetNode copy;
    EXPECT_TRUE(test::testNodes().copyNodeAt(index, &copy)) << index;
    return vector3df(copy.position.X, copy.position.Y, copy.position.Z);
}

TEST(NodeManagerTest, PlacementByKindAndSpreading) {
    test::resetNodeWorld();
    test::setLocalSubnet("192.168.1.10", "255.255.255.0");
    cNodeManager& manager = test::testNodes();
    lcgSeed(77);
    int next[2], after[2];
    lcgDrawPair(&next[0], &next[1]);
    lcgSeed(77);
    ASSERT_EQ(manager.addLocalNode("192.168.1.10"), 0);
    lcgDrawPair(&after[0], &after[1]);
    EXPECT_EQ(after[0], next[0]);  // this host takes no draws
    EXPECT_EQ(positionOf(0), vector3df(500, 500, 500));
    // Right after this host a foreign node is compared with nothing: it stays level with it.
    // Seed 527 draws 1759: ((1759*184*200)%10000+1000, (1759*216*200)%1200+500, ...).
    ASSERT_EQ(manager.findOrAddNode("93.184.216.34", 0), 1);
    EXPECT_EQ(positionOf(1), vector3df(2200, 500, 2200));

    test::resetNodeWorld();
    test::setLocalSubnet("192.168.1.10", "255.255.255.0");
    lcgSeed(12345);  // whatever the generator did before does not matter
    test::testNodes().addLocalNode("192.168.1.10");
    ASSERT_EQ(test::testNodes().addGatewayNode("192.168.1.1"), 1);
    EXPECT_EQ(positionOf(1), vector3df(1000, 200, 1000));
    // Seed 381 draws 1282, 6862: the 200-grid at height 500.
    ASSERT_EQ(test::testNodes().findOrAddNode("192.168.1.20", 0), 2);
    EXPECT_EQ(positionOf(2), vector3df(4900, 500, 4900));
    // Compared with nodes 0 and 1 only: level with this host in y alone, it moves up once.
    ASSERT_EQ(test::testNodes().findOrAddNode("93.184.216.34", 0), 3);
    EXPECT_EQ(positionOf(3), vector3df(2200, 700, 2200));
    SNetNode foreign;
    test::testNodes().copyNodeAt(3, &foreign);
    EXPECT_EQ(foreign.isLocal, 0);
    EXPECT_EQ(foreign.pickId, 1003);
    EXPECT_EQ(foreign.needsSceneNode, 1);
}

// Naive model of the spreading rule: never compared with the newest older node.
vector3df referenceSpread(const std::vector<vector3df>& older, vector3df p) {
    for (int moved = 1; moved > 0;) {
        moved = 0;
        const vector3df c = p;
        for (std::size_t j = 0; j + 1 < older.size(); ++j) {
            const vector3df& q = older[j];
            if (q.X - 200 < c.X && c.X < q.X + 200) p.X += 200, ++moved;
            if (q.Y - 200 < c.Y && c.Y < q.Y + 200) p.Y += 200, ++moved;
            if (q.Z - 200 < c.Z && c.Z < q.Z + 200) p.Z += 200, ++moved;
        }
    }
    return p;
}

TEST(NodeManagerTest, RandomisedSpreadingMatchesReferenceAndGuarantee) {
    test::resetNodeWorld();
    test::setLocalSubnet("192.168.1.10", "255.255.255.0");
    cNodeManager& manager = test::testNodes();
    manager.addLocalNode("192.168.1.10");
    manager.addGatewayNode("192.168.1.1");
    std::vector<vector3df> placed = {positionOf(0), positionOf(1)};
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> octet(0, 255);
    for (int n = 0; n < 300; ++n) {
        int o[4] = {n % 4 == 0 ? 192 : octet(random), n % 4 == 0 ? 168 : octet(random),
                    n % 4 == 0 ? 1 : octet(random), octet(random)};
        const std::string address = std::to_string(o[0]) + "." + std::to_string(o[1]) + "." +
                                    std::to_string(o[2]) + "." + std::to_string(o[3]);
        const int before = manager.nodeCount();
        const int index = manager.findOrAddNode(address, 0);
        if (index < before) continue;  // drawn twice
        const vector3df p = positionOf(index);
        if (!manager.isInLocalSubnet(address)) {
            int r = 0;
            lcgSeedAndDraw(unsigned(o[0] + o[1] + o[2] + o[3]), 1, &r);
            const vector3df start(float((r * o[1] * 200) % 10000 + 1000),
                                  float((r * o[2] * 200) % 1200 + 500),
                                  float((r * o[3] * 200) % 10000 + 1000));
            ASSERT_EQ(p, referenceSpread(placed, start)) << address;
            for (std::size_t j = 0; j + 1 < placed.size(); ++j) {
                EXPECT_GE(std::abs(p.X - placed[j].X), 200) << address << " vs " << j;
                EXPECT_GE(std::abs(p.Y - placed[j].Y), 200) << address << " vs " << j;
                EXPECT_GE(std::abs(p.Z - placed[j].Z), 200) << address << " vs " << j;
            }
            EXPECT_GE(p.Y, 700);  // this host at 500 is always compared
        }
        placed.push_back(p);
    }
}

TEST(NodeManagerTest, IPv6AliasesLocalityAndStableSpots) {
    auto startDualStack = [] {
        test::resetNodeWorld();
        test::setLocalSubnet("192.168.1.10", "255.255.255.0");
        test::testAdapter().localIPv6Addresses = {{"2001:db8:1::10", 64}, {"fe80::10", 64}};
        test::testAdapter().gatewayIPv6Address = "fe80::1";
        cNodeManager& manager = test::testNodes();
        manager.addLocalNode("192.168.1.10");
        manager.addGatewayNode("192.168.1.1");
    };
    startDualStack();
    // This host's IPv6 addresses and the IPv6 router are the two cubes already there.
    EXPECT_EQ(test::testNodes().findOrAddNode("2001:db8:1::10", 0), 0);
    EXPECT_EQ(test::testNodes().findOrAddNode("fe80::10", 0), 0);
    EXPECT_EQ(test::testNodes().findOrAddNode("fe80::1", 0), 1);
    EXPECT_EQ(test::testNodes().nodeCount(), 2);

    auto isLocal = [&](const std::string& address) {
        SNetNode n;
        EXPECT_TRUE(test::testNodes().copyNodeAt(test::testNodes().findOrAddNode(address, 0), &n))
            << address;
        return n.isLocal == 1;
    };
    EXPECT_TRUE(isLocal("2001:db8:1::20"));    // on the on-link prefix
    EXPECT_TRUE(isLocal("fe80::99"));          // link-local
    EXPECT_TRUE(isLocal("ff02::1:ff00:20"));   // neighbour discovery's link-scope multicast
    EXPECT_FALSE(isLocal("2001:db8:2::20"));   // the next /64
    EXPECT_FALSE(isLocal("2606:4700::1111"));  // the Internet
    EXPECT_FALSE(isLocal("ff05::2"));          // multicast beyond the link

    // Each address has its own spot, derived from the address alone: the same every time it
    // comes back, whatever the generator did before.
    auto spots = [&](int seed) {
        startDualStack();
        lcgSeed(seed);
        std::vector<vector3df> out;
        for (const char* a : {"2001:db8:1::20", "2001:db8:1::21", "2606:4700::1111"})
            out.push_back(positionOf(test::testNodes().findOrAddNode(a, 0)));
        return out;
    };
    const std::vector<vector3df> first = spots(1), again = spots(4242);
    EXPECT_EQ(first, again);
    EXPECT_NE(first[0], first[1]);
    test::resetNodeWorld();
}

TEST(NodeManagerTest, LimitKeysRefreshAndOddInput) {
    test::resetNodeWorld();
    test::setLocalSubnet("10.20.30.40", "255.255.240.0");
    cNodeManager& manager = test::testNodes();
    EXPECT_TRUE(manager.isInLocalSubnet("10.20.17.1"));
    EXPECT_FALSE(manager.isInLocalSubnet("10.20.64.1"));
    EXPECT_FALSE(manager.isInLocalSubnet("10.20"));  // missing octets are 0, never read past
    // A flow feed's local ranges: the private ones and a range the user adds, prefixes that end
    // inside a byte included.
    std::string rangeError;
    test::testAdapter().localRanges = privateRanges();
    ASSERT_TRUE(parseAddressRanges("198.51.100.64/26,2001:db8:8000::/33",
                                   &test::testAdapter().localRanges, &rangeError));
    for (const char* local : {"172.31.255.1", "192.168.9.9", "fd12::1", "fe80::2", "198.51.100.127",
                              "2001:db8:ffff::1"})
        EXPECT_TRUE(manager.isInLocalSubnet(local)) << local;
    for (const char* foreign : {"172.32.0.1", "8.8.8.8", "198.51.100.128", "2001:db8:7fff::1",
                                "fe00::1", "2606:4700::1111"})
        EXPECT_FALSE(manager.isInLocalSubnet(foreign)) << foreign;
    EXPECT_FALSE(parseAddressRanges("10.0.0.0/8,", &test::testAdapter().localRanges, &rangeError));
    EXPECT_FALSE(parseAddressRanges("fc00::/129", &test::testAdapter().localRanges, &rangeError));
    test::testAdapter().localRanges.clear();

    const int a = manager.findOrAddNode("10.0.0.1", 0);
    const int b = manager.findOrAddNode("010.0.0.1", 0);  // exact text: another node
    EXPECT_NE(a, b);
    EXPECT_TRUE(manager.updateNode(a, [](SNetNode& n) { n.age = 2; }));
    EXPECT_FALSE(manager.updateNode(99, [](SNetNode& n) { n.age = 77; }));  // reaches no record
    EXPECT_EQ(manager.findOrAddNode("10.0.0.1", 1), a);
    SNetNode copy;
    manager.copyNodeAt(a, &copy);
    EXPECT_EQ(copy.age, 3);
    EXPECT_EQ(manager.displayNameFor("10.0.0.1"), "10.0.0.1");
    EXPECT_EQ(manager.displayNameFor("10.0.0.9"), "");
    EXPECT_GE(manager.findOrAddNode("", 0), 0);
    EXPECT_GE(manager.findOrAddNode("1.2.3.4.5.6", 0), 0);

    while (manager.nodeCount() < kNodeListLimit)
        manager.addGatewayNode("x" + std::to_string(manager.nodeCount()));
    testing::internal::CaptureStdout();
    EXPECT_EQ(manager.addLocalNode("10.20.17.2"), -1);
    EXPECT_EQ(manager.findOrAddNode("8.8.8.8", 0), -1);
    EXPECT_EQ(manager.findOrAddNode("8.8.4.4", 0), -1);
    EXPECT_EQ(manager.findOrAddNode("010.0.0.1", 0), b);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              std::string("nodemngr: node list limit exceeded.\n") +
                  "nodemngr: node list limit exceeded.\n" +
                  "nodemngr: node list limit exceeded.\n");
    EXPECT_EQ(manager.nodeCount(), 999);
}

}  // namespace
}  // namespace tessel
