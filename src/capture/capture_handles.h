#pragma once
#include <pcap/pcap.h>

#include <string>

namespace tessel {

// A live handle of a device (snapshot 65536, promiscuous, 1000 ms time-out): the capture one
// with a large kernel buffer, or with `statistics` the second one for counting, in immediate
// mode. Null with `errbuf` set on failure; *permissionDenied tells a missing capture right apart.
// Main thread, at start-up (the session's threads then own the handles).
pcap_t* openHandle(const char* device, bool statistics, char* errbuf, bool* permissionDenied);
inline pcap_t* openStatsHandle(const char* device, char* errbuf, bool* permissionDenied) {
    return openHandle(device, true, errbuf, permissionDenied);
}

// True when a libpcap error text says the process lacks the right to capture.
bool isPermissionError(const std::string& errorText);

}  // namespace tessel
