#include "capture/capture_filter.h"

#include "platform/adapter_info.h"
#include "platform/helper_protocol.h"

namespace tessel {

namespace {

constexpr int kOptimize = 1;

// A filter is one line of the settings file.
bool oneLine(const std::string& expression, std::string* error) {
    for (char c : expression)
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
            *error = "a capture filter is one line of text";
            return false;
        }
    return true;
}

bool compileFor(pcap_t* handle, const std::string& expression, bpf_program* program,
                std::string* error) {
    if (!oneLine(expression, error)) return false;
    if (pcap_compile(handle, program, expression.c_str(), kOptimize, PCAP_NETMASK_UNKNOWN) != 0) {
        *error = pcap_geterr(handle);
        return false;
    }
    return true;
}

}  // namespace

bool applyCaptureFilter(pcap_t* handle, const std::string& expression, std::string* error) {
    bpf_program program{};
    if (!compileFor(handle, expression, &program, error)) return false;
    const bool set = pcap_setfilter(handle, &program) == 0;
    if (!set) *error = pcap_geterr(handle);
    pcap_freecode(&program);
    return set;
}

bool checkCaptureFilter(int linkType, const std::string& expression, std::string* error) {
    pcap_t* dead = pcap_open_dead(linkType, kHelperSnapLength);  // as the helper captures
    if (!dead) {
        *error = "cannot check the filter";
        return false;
    }
    bpf_program program{};
    const bool compiled = compileFor(dead, expression, &program, error);
    if (compiled) pcap_freecode(&program);
    pcap_close(dead);
    return compiled;
}

int linkTypeOfAdapter(const std::string& nic) {
    if (nic == "any") return DLT_LINUX_SLL;
    // Hardware types of <linux/if_arp.h>, mapped as libpcap maps them.
    constexpr int kNone = 65534, kSit = 776, kTunnel = 768, kTunnel6 = 769, kIpGre = 778,
                  kPpp = 512, kIeee80211 = 801, kRadiotap = 803;
    switch (adapterHardwareType(nic)) {
        case kNone:
        case kSit:
        case kTunnel:
        case kTunnel6:
        case kIpGre:
            return DLT_RAW;
        case kPpp:
            return DLT_LINUX_SLL;
        case kIeee80211:
            return DLT_IEEE802_11;
        case kRadiotap:
            return DLT_IEEE802_11_RADIO;
        default:
            return DLT_EN10MB;
    }
}

}  // namespace tessel
