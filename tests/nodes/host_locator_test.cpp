// The locator on Debian's own location database, on .mmdb files written here, and on files that
// are missing or damaged.
#include "nodes/host_locator.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "support/mmdb_writer.h"
#include "support/test_support.h"

using namespace tessel;

namespace {

bool haveLocationDatabase() { return access(kLocationDatabase, R_OK) == 0; }

// The data's answer, as one comparable text: "US United States of America AS15169 GOOGLE
// anycast", or the range's wording.
std::string where(const cHostLocator& locator, const std::string& address) {
    const HostLocation l = locator.locate(address);
    if (l.noData) return "no data" + (l.rangeWording.empty() ? "" : " " + l.rangeWording);
    if (!l.rangeWording.empty()) return l.rangeWording;
    return l.countryCode + " " + l.countryName + " AS" + std::to_string(l.asNumber) + " " +
           l.asName + (l.anycast ? " anycast" : "");
}

TEST(HostLocator, SpecialRangesAreNamedByTheAddressWhateverTheData) {
    const cHostLocator none("", "/nonexistent/location.db");
    const std::pair<const char*, const char*> cases[] = {
        {"10.1.2.3", "private network"},
        {"172.31.255.255", "private network"},
        {"192.168.1.1", "private network"},
        {"100.64.0.1", "carrier-grade NAT"},
        {"127.0.0.1", "loopback"},
        {"169.254.7.1", "link-local"},
        {"198.51.100.4", "documentation range"},
        {"198.19.0.1", "benchmarking range"},
        {"239.255.255.250", "multicast"},
        {"255.255.255.255", "broadcast"},
        {"::1", "loopback"},
        {"fe80::1", "link-local"},
        {"fd12:3456::1", "unique local"},
        {"ff02::fb", "multicast"},
        {"2001:db8::5", "documentation range"},
        {"::ffff:10.0.0.1", "private network"},
        // Just outside: public.
        {"172.32.0.1", ""},
        {"100.128.0.1", ""},
        {"11.0.0.1", ""},
        {"fec0::1", ""},
        {"not an address", ""},
    };
    for (const auto& [address, wording] : cases) {
        EXPECT_EQ(specialRangeWording(address), wording) << address;
        EXPECT_EQ(none.locate(address).rangeWording, wording) << address;
    }
    // Without any data a public address has nothing but the flag; the panel says so.
    EXPECT_TRUE(none.locate("8.8.8.8").noData);
    EXPECT_FALSE(none.locate("10.1.2.3").noData);
    EXPECT_EQ(none.warning(), "");
    EXPECT_EQ(none.describe(), "location data: none (install libloc-database)");
}

TEST(HostLocator, DebianDatabaseGivesCountryAndNetworkOfWellKnownHosts) {
    if (!haveLocationDatabase()) GTEST_SKIP() << "libloc-database is not installed";
    const cHostLocator locator("");
    EXPECT_EQ(where(locator, "8.8.8.8"), "US United States of America AS15169 GOOGLE anycast");
    EXPECT_EQ(where(locator, "2001:4860:4860::8888"), "US United States of America AS15169 GOOGLE");
    EXPECT_EQ(where(locator, "193.0.6.139"),
              "NL Netherlands AS3333 Reseaux IP Europeens Network Coordination Centre (RIPE NCC)");
    EXPECT_EQ(where(locator, "2001:67c:2e8:22::c100:68b"),
              "NL Netherlands AS3333 Reseaux IP Europeens Network Coordination Centre (RIPE NCC)");
    EXPECT_EQ(where(locator, "::ffff:8.8.8.8"), where(locator, "8.8.8.8"));
    // The data places documentation and private ranges too; the address decides first.
    EXPECT_EQ(where(locator, "203.0.113.5"), "documentation range");
    EXPECT_EQ(where(locator, "192.168.1.1"), "private network");
    EXPECT_EQ(where(locator, "fe80::1"), "link-local");
    EXPECT_EQ(locator.describe(), std::string("location data: ") + kLocationDatabase);
}

// GeoLite2-Country-like and GeoLite2-ASN-like files, with 8.8.8.0/24 somewhere else than the
// Debian data has it.
test::MmdbWriter countryFile() {
    test::MmdbWriter w("GeoLite2-Country");
    w.add("8.8.8.0/24", test::countryRecord("DE", "Germany"));
    w.add("2001:4860::/32", test::countryRecord("SE", "Sweden"));
    test::MmdbValue anycast = test::countryRecord("JP", "Japan");
    anycast.entries.push_back(
        {"traits", test::MmdbValue::mapOf({{"is_anycast", test::MmdbValue::boolOf(true)}})});
    w.add("192.0.0.0/29", anycast);  // not a special range of ours
    return w;
}

TEST(HostLocator, ConfiguredMmdbComesFirstAndTheDebianDataFillsWhatItLacks) {
    test::TempDir dir;
    ASSERT_TRUE(countryFile().write(dir.file("country.mmdb")));
    test::MmdbWriter asn("GeoLite2-ASN");
    asn.add("8.8.8.0/24", test::asnRecord(64500, "EXAMPLE-NET"));
    ASSERT_TRUE(asn.write(dir.file("asn.mmdb")));

    const cHostLocator countryOnly(dir.file("country.mmdb"), "/nonexistent/location.db");
    EXPECT_EQ(countryOnly.warning(), "");
    EXPECT_EQ(where(countryOnly, "8.8.8.8"), "DE Germany AS0 ");
    EXPECT_EQ(where(countryOnly, "2001:4860:4860::8888"), "SE Sweden AS0 ");
    EXPECT_EQ(where(countryOnly, "192.0.0.3"), "JP Japan AS0  anycast");
    EXPECT_EQ(where(countryOnly, "9.9.9.9"), "  AS0 ");  // not in the file
    EXPECT_EQ(where(countryOnly, "10.0.0.1"), "private network");
    EXPECT_EQ(countryOnly.describe(), "location data: " + dir.file("country.mmdb"));

    if (!haveLocationDatabase()) GTEST_SKIP() << "libloc-database is not installed";
    const cHostLocator withCountry(dir.file("country.mmdb"));
    EXPECT_EQ(where(withCountry, "8.8.8.8"), "DE Germany AS15169 GOOGLE anycast");
    EXPECT_EQ(where(withCountry, "193.0.6.139"), where(cHostLocator(""), "193.0.6.139"));
    const cHostLocator withAsn(dir.file("asn.mmdb"));
    EXPECT_EQ(where(withAsn, "8.8.8.8"), "US United States of America AS64500 EXAMPLE-NET anycast");
}

TEST(HostLocator, MissingOrDamagedMmdbIsOneLineAndTheDebianDataStillAnswers) {
    test::TempDir dir;
    const std::string missing = dir.file("none.mmdb");
    const cHostLocator locator(missing);
    const std::string libloc =
        haveLocationDatabase() ? "using the libloc database" : "no location data";
    EXPECT_EQ(locator.warning(),
              "geoip: cannot read " + missing + " (No such file or directory); " + libloc);
    if (haveLocationDatabase()) {
        EXPECT_EQ(locator.locate("8.8.8.8").asNumber, 15169u);
    }

    test::writeFile(dir.file("garbage.mmdb"), std::string(4096, '\x5a'));
    EXPECT_NE(cHostLocator(dir.file("garbage.mmdb")).warning(), "");

    // Every cut and every flipped byte of a good file: opened or refused, never a crash, and
    // whatever comes out is read safely.
    const std::vector<unsigned char> good = countryFile().bytes();
    auto tryFile = [&](const std::vector<unsigned char>& bytes) {
        // A new file each time: truncating one in place waits for the disk here.
        const std::string path = dir.file("damaged.mmdb");
        test::writeFile(path, std::string(bytes.begin(), bytes.end()));
        const cHostLocator damaged(path, "/nonexistent/location.db");
        for (const char* address : {"8.8.8.8", "2001:4860::1", "192.0.0.1", "1.2.3.4", "::"})
            damaged.locate(address);
        std::remove(path.c_str());
        return damaged.warning().empty();
    };
    int refused = 0;
    for (std::size_t cut = 0; cut < good.size(); ++cut)
        refused += !tryFile(std::vector<unsigned char>(good.begin(), good.begin() + cut));
    EXPECT_EQ(refused, static_cast<int>(good.size()));  // no cut file opens
    for (std::size_t at = 0; at < good.size(); ++at) {
        std::vector<unsigned char> flipped = good;
        flipped[at] ^= 0xA5;
        tryFile(flipped);
    }
    EXPECT_TRUE(tryFile(good));
}

}  // namespace
