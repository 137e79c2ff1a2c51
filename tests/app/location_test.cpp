// The real program locating the foreign hosts of a replay: a configured .mmdb comes first, the
// Debian location data fills what it lacks, and a damaged file is said once and left aside.
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include "nodes/host_locator.h"
#include "support/capture_frames.h"
#include "support/headless_run.h"
#include "support/mmdb_writer.h"

namespace tessel {
namespace {

// This host talking to two public IPv4 hosts and one public IPv6 host.
void writeCapture(const std::string& path) {
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    pcap_dumper_t* dumper = pcap_dump_open(dead, path.c_str());
    ASSERT_NE(dumper, nullptr) << pcap_geterr(dead);
    std::vector<test::Bytes> frames;
    for (const char* far : {"8.8.8.8", "193.0.6.139"}) {
        test::IpFields ip;
        ip.src = "192.168.1.10";
        ip.dst = far;
        ip.protocol = 17;
        frames.push_back(test::ethernet(test::ipPacket(ip, test::udpHeader(40000, 53))));
    }
    frames.push_back(test::ethernet(
        test::ipv6Packet("2001:db8:1::10", "2001:4860:4860::8888", 17, test::udpHeader(40001, 53)),
        0x86DD));
    int second = 1;
    for (const test::Bytes& frame : frames) {
        pcap_pkthdr header{};
        header.ts.tv_sec = second++;
        header.caplen = header.len = static_cast<bpf_u_int32>(frame.size());
        pcap_dump(reinterpret_cast<u_char*>(dumper), &header, frame.data());
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
}

TEST(LocationProgram, ConfiguredFileComesFirstAndADamagedOneIsSaidAndLeftAside) {
    if (access(kLocationDatabase, R_OK) != 0) GTEST_SKIP() << "libloc-database is not installed";
    test::TempDir files;
    const std::string capture = files.file("far.pcap");
    writeCapture(capture);
    test::MmdbWriter country("GeoLite2-Country");
    country.add("8.8.8.0/24", test::countryRecord("DE", "Germany"));
    country.add("2001:4860::/32", test::countryRecord("SE", "Sweden"));
    ASSERT_TRUE(country.write(files.file("country.mmdb")));
    test::writeFile(files.file("damaged.mmdb"), std::string(300, '\x01'));

    std::string d;
    {
        test::HeadlessRun run({}, {"-r", capture, "--speed", "10", "--loop"},
                              {"geoip=" + files.file("country.mmdb")});
        EXPECT_TRUE(
            run.waitDump("node [0-9]+ 8\\.8\\.8\\.8 foreign .* geo DE AS15169 name ", 60, &d))
            << d << run.tessel->output();
        EXPECT_TRUE(run.waitDump("node [0-9]+ 2001:4860:4860::8888 foreign .* geo SE AS15169 name ",
                                 30, &d))
            << d;
        EXPECT_TRUE(
            run.waitDump("node [0-9]+ 193\\.0\\.6\\.139 foreign .* geo NL AS3333 name ", 30, &d))
            << d;
        EXPECT_NE(run.tessel->output().find("location data: " + files.file("country.mmdb") + ", " +
                                            kLocationDatabase + "\n"),
                  std::string::npos)
            << run.tessel->output();
    }
    {
        // The command line overrides the setting, even with a file that cannot be read.
        test::HeadlessRun run(
            {}, {"-r", capture, "--speed", "10", "--loop", "--geoip", files.file("damaged.mmdb")},
            {"geoip=" + files.file("country.mmdb")});
        EXPECT_TRUE(
            run.waitDump("node [0-9]+ 8\\.8\\.8\\.8 foreign .* geo US AS15169 name ", 60, &d))
            << d << run.tessel->output();
        EXPECT_NE(d.find(" GeoIP file not read: see log\n"), std::string::npos) << d;
        const std::string line = "geoip: cannot read " + files.file("damaged.mmdb") + " (";
        EXPECT_NE(run.tessel->output().find("tessel: " + line), std::string::npos)
            << run.tessel->output();
        EXPECT_TRUE(run.tessel->running());
    }
}

}  // namespace
}  // namespace tessel
