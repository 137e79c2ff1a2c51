// The first input byte chooses the link type, the rest is the captured frame.
#include <pcap/pcap.h>

#include <cstdint>
#include <string>
#include <vector>

#include "capture/packet_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // New link types go at the end, so the seeds keep the link types they were made for.
    static const int kLinks[] = {
        DLT_EN10MB,     DLT_LINUX_SLL, DLT_LINUX_SLL2,   DLT_NULL,
        DLT_LOOP,       DLT_RAW,       DLT_IEEE802_11,   DLT_PPP,
        DLT_PPP_SERIAL, DLT_C_HDLC,    DLT_NFLOG,        DLT_IPNET,
        DLT_IPOIB,      DLT_ARCNET,    DLT_ARCNET_LINUX, DLT_IEEE802_11_RADIO,
        DLT_IPV4,       DLT_IPV6};
    if (size == 0) return 0;
    int link = kLinks[data[0] % (sizeof kLinks / sizeof kLinks[0])];
    // An exact-size copy: a read past the captured length is a sanitizer error.
    std::vector<std::uint8_t> frame(data + 1, data + size);
    tessel::DecodedFrame d = tessel::decodeFrame(link, frame.data(), frame.size());
    if (d.outcome == tessel::FrameOutcome::Packet) {
        std::string line = tessel::traceLine(d);
        if (d.record.tcp + d.record.udp + d.record.icmp != 1) __builtin_trap();
        if (d.record.src == d.record.dst) __builtin_trap();
        // "[ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff]:65535  ->  ..." is 100
        if (line.size() > 100) __builtin_trap();
    }
    return 0;
}
