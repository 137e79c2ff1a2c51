#pragma once
#include <pcap/pcap.h>

#include <string>

namespace tessel {

// The capture filter: a BPF expression in tcpdump's syntax ("icmp", "not port 22"); the empty text
// lets everything through.

// Compiles `expression` for `handle` (live or a capture file) and sets it. False with *error
// holding libpcap's reason; the handle then keeps whatever filter it had.
bool applyCaptureFilter(pcap_t* handle, const std::string& expression, std::string* error);

// Whether `expression` compiles for frames of `linkType` (DLT_*), with no adapter opened and no
// capture rights. False with *error holding the reason.
bool checkCaptureFilter(int linkType, const std::string& expression, std::string* error);

// The link type a live capture on `nic` gives, from the kernel's hardware type of the interface
// (no capture rights needed); Ethernet when it is not known.
int linkTypeOfAdapter(const std::string& nic);

}  // namespace tessel
