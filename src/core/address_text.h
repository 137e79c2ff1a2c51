#pragma once
#include <string>

namespace tessel {

// Addresses are text everywhere: IPv4 dotted, IPv6 in RFC 5952 form (inet_ntop's).

// True for an IPv6 address (it has a colon).
bool isIPv6Text(const std::string& address);
// "a.b.c.d:p"; an IPv6 address goes in brackets: "[2001:db8::1]:443".
std::string addressWithPort(const std::string& address, int port);

}  // namespace tessel
