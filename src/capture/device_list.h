#pragma once
#include <pcap/pcap.h>

#include <memory>

namespace tessel {

// libpcap's list of capture devices, freed with the holder on every way out.
struct DeviceListFree {
    void operator()(pcap_if_t* devices) const { pcap_freealldevs(devices); }
};
using DeviceList = std::unique_ptr<pcap_if_t, DeviceListFree>;

// The devices libpcap finds into *out (null when there are none); false with `errbuf`
// (PCAP_ERRBUF_SIZE bytes) saying why. Any thread.
inline bool findAllDevices(DeviceList* out, char* errbuf) {
    pcap_if_t* devices = nullptr;
    if (pcap_findalldevs(&devices, errbuf) != 0) return false;
    out->reset(devices);
    return true;
}

}  // namespace tessel
