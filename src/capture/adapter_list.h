#pragma once
#include <string>
#include <vector>

#include "platform/adapter_info.h"

namespace tessel {

// Every capture device, in libpcap's order, with its IPv4 address and mask (empty when it has
// none), its IPv6 addresses, and whether it is up. Pseudo-devices (dbus, bluetooth, nflog, ...)
// are left out. Empty with *error set when libpcap cannot list them. Any thread.
std::vector<InterfaceAddress> listCaptureAdapters(std::string* error);

}  // namespace tessel
