#include "core/address_text.h"

namespace tessel {

bool isIPv6Text(const std::string& address) { return address.find(':') != std::string::npos; }

std::string addressWithPort(const std::string& address, int port) {
    const std::string shown = isIPv6Text(address) ? "[" + address + "]" : address;
    return shown + ":" + std::to_string(port);
}

}  // namespace tessel
