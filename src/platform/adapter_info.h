#pragma once
#include <string>
#include <vector>

namespace tessel {

// IPv4 configuration of the machine's interfaces (getifaddrs and /proc/net/route). Any thread.

// One IPv6 address of an interface, with the length of its on-link prefix.
struct InterfaceIPv6 {
    std::string address;  // RFC 5952 text
    int prefixLength = 0;
};

struct InterfaceAddress {
    std::string name;     // kernel interface name, also libpcap's device name
    std::string address;  // dotted decimal, empty when the interface has no IPv4 address
    std::string netmask;
    bool up = false;
    std::vector<InterfaceIPv6> ipv6;  // global and temporary first, then link-local
};

// Every interface with its first IPv4 address, in getifaddrs order (one entry per name).
std::vector<InterfaceAddress> listInterfaceAddresses();

// The default gateway of `nic` in the text of /proc/net/route: the row of that interface with
// destination 0, mask 0 and flags RTF_UP|RTF_GATEWAY. The hex fields hold s_addr as stored in
// memory, so they are printed without byte swapping. Empty text when there is none.
std::string defaultGatewayIn(const std::string& routeTable, const std::string& nic);
// The interface of the first default route in the table, empty when there is none.
std::string defaultRouteInterfaceIn(const std::string& routeTable);
// The text of /proc/net/route (empty when it cannot be read).
std::string readRouteTable();
// The IPv6 default router of `nic` in the text of /proc/net/ipv6_route: the row of that
// interface with destination ::/0 and a next hop. Empty text when there is none.
std::string defaultIPv6GatewayIn(const std::string& routeTable, const std::string& nic);
// The text of /proc/net/ipv6_route (empty when it cannot be read, as without IPv6).
std::string readIPv6RouteTable();

// The kernel's hardware type of an interface (ARPHRD_*, /sys/class/net/NAME/type), or -1.
int adapterHardwareType(const std::string& nic);

}  // namespace tessel
