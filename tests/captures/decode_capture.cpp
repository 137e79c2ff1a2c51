// Prints the records the decoder makes of a capture file, in the form of tshark_records.py, so
// that the two can be compared (compare_with_tshark.sh builds and runs it):
//   decode_capture FILE
// One line per record: frame number, source, destination, protocol, ports, IP length.
#include <pcap/pcap.h>

#include <cstdio>

#include "capture/packet_decoder.h"

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    char err[PCAP_ERRBUF_SIZE] = "";
    pcap_t* p = pcap_open_offline(argv[1], err);
    if (!p) {
        std::fprintf(stderr, "%s\n", err);
        return 1;
    }
    const int link = pcap_datalink(p);
    pcap_pkthdr* h = nullptr;
    const u_char* data = nullptr;
    for (long frame = 1; pcap_next_ex(p, &h, &data) == 1; ++frame) {
        const tessel::DecodedFrame d = tessel::decodeFrame(link, data, h->caplen);
        if (d.outcome != tessel::FrameOutcome::Packet || !d.recorded) continue;
        const tessel::TrafficRecord& r = d.record;
        const unsigned length = unsigned((r.size >> 8) | ((r.size & 0xFF) << 8));
        std::printf("%ld %s %s %s %u %u %u\n", frame, r.src.c_str(), r.dst.c_str(),
                    r.tcp   ? "tcp"
                    : r.udp ? "udp"
                            : "icmp",
                    unsigned(r.srcport), unsigned(r.dstport), length);
    }
    pcap_close(p);
    return 0;
}
