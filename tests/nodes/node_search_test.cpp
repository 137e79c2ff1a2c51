#include "nodes/node_search.h"

#include <gtest/gtest.h>

using namespace tessel;

namespace {

SNetNode host(const std::string& address, const std::string& name, const std::string& country = "",
              std::uint32_t asNumber = 0, const std::string& asName = "") {
    SNetNode n;
    n.address = address;
    n.hostName = name;
    n.location.countryCode = country;
    n.location.asNumber = asNumber;
    n.location.asName = asName;
    return n;
}

TEST(NodeSearch, AnyPartOfAddressNameCountryOrNetworkInAnyCase) {
    const std::vector<SNetNode> nodes = {
        host("10.0.0.1", ""),
        host("192.0.2.7", "(failed to resolve)"),
        host("198.51.100.20", "Mail.Example.ORG", "DE", 3320, "Deutsche Telekom AG"),
        host("203.0.113.5", "www.example.org", "US", 15169, "GOOGLE"),
        host("2001:db8::15", "", "FR", 0, ""),
    };
    auto found = [&](const std::string& text) { return matchingNodes(nodes, text); };
    using V = std::vector<int>;
    EXPECT_EQ(found("203.0.113"), V({3}));
    EXPECT_EQ(found("DB8::"), V({4}));           // IPv6, upper case
    EXPECT_EQ(found("EXAMPLE.org"), V({2, 3}));  // in list order
    EXPECT_EQ(found("mail"), V({2}));
    EXPECT_EQ(found("de"), V({2}));  // country code, lower case
    EXPECT_EQ(found("us"), V({3}));
    EXPECT_EQ(found("AS15169"), V({3}));
    EXPECT_EQ(found("as15169"), V({3}));
    EXPECT_EQ(found("15169"), V({3}));
    EXPECT_EQ(found("3320"), V({2}));
    EXPECT_EQ(found("telekom"), V({2}));  // AS name
    EXPECT_EQ(found("Google"), V({3}));
    EXPECT_EQ(found("resolve"), V());   // the failed look-up's word is no name
    EXPECT_EQ(found("AS0"), V());       // no AS number known is no "AS0"
    EXPECT_EQ(found("15"), V({3, 4}));  // AS number and address alike
    EXPECT_EQ(found(""), V());
    EXPECT_EQ(found("nowhere"), V());
}

}  // namespace
