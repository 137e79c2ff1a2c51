#pragma once
#include <string>
#include <vector>

#include "platform/adapter_info.h"

namespace tessel {

// Every capture device that can carry IPv4, in libpcap's order, with its IPv4 address and mask
// (empty when it has none) and whether it is up. Pseudo-devices (dbus, bluetooth, nflog, ...)
// are left out. Empty with *error set when libpcap cannot list them. Any thread.
std::vector<InterfaceAddress> listCaptureAdapters(std::string* error);

// Whether `nic` can be opened for capture now, as the capture handle is opened.
enum class CaptureAccess { Allowed, PermissionDenied, Unusable };
CaptureAccess probeCapture(const std::string& nic, std::string* errorText);

}  // namespace tessel
