#include "capture/adapter_list.h"

#include <pcap/pcap.h>

#include <cstring>

#include "capture/device_list.h"

namespace tessel {

namespace {

bool isPseudoDevice(const std::string& name) {
    static const char* const prefixes[] = {"dbus", "bluetooth", "nflog", "nfqueue", "usbmon"};
    for (const char* p : prefixes)
        if (name.compare(0, std::strlen(p), p) == 0) return true;
    return false;
}

}  // namespace

std::vector<InterfaceAddress> listCaptureAdapters(std::string* error) {
    std::vector<InterfaceAddress> out;
    char errbuf[PCAP_ERRBUF_SIZE] = {0};
    DeviceList devices;
    if (!findAllDevices(&devices, errbuf)) {
        if (error) *error = errbuf;
        return out;
    }
    std::vector<InterfaceAddress> addresses = listInterfaceAddresses();
    for (pcap_if_t* d = devices.get(); d; d = d->next) {
        std::string name = d->name ? d->name : "";
        if (name.empty() || isPseudoDevice(name)) continue;
        InterfaceAddress a;
        a.name = name;
        a.up = (d->flags & PCAP_IF_UP) != 0;
        for (const InterfaceAddress& i : addresses) {
            if (i.name != name) continue;
            a.address = i.address;
            a.netmask = i.netmask;
            a.ipv6 = i.ipv6;
            a.up = a.up || i.up;
        }
        out.push_back(a);
    }
    return out;
}

}  // namespace tessel
