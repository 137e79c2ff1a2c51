#include "platform/adapter_info.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tessel {

namespace {

std::string dotted(const sockaddr* sa) {
    if (!sa || sa->sa_family != AF_INET) return std::string();
    char text[INET_ADDRSTRLEN] = {0};
    const in_addr& a = reinterpret_cast<const sockaddr_in*>(sa)->sin_addr;
    if (!inet_ntop(AF_INET, &a, text, sizeof(text))) return std::string();
    return text;
}

struct RouteRow {
    std::string iface;
    std::uint32_t destination = 0, gateway = 0, mask = 0;
    unsigned flags = 0;
};

bool parseRow(const std::string& line, RouteRow* row) {
    std::istringstream in(line);
    std::string dest, gw, flags, refcnt, use, metric, mask;
    if (!(in >> row->iface >> dest >> gw >> flags >> refcnt >> use >> metric >> mask)) return false;
    char* end = nullptr;
    row->destination = static_cast<std::uint32_t>(std::strtoul(dest.c_str(), &end, 16));
    if (*end) return false;
    row->gateway = static_cast<std::uint32_t>(std::strtoul(gw.c_str(), &end, 16));
    if (*end) return false;
    row->flags = static_cast<unsigned>(std::strtoul(flags.c_str(), &end, 16));
    if (*end) return false;
    row->mask = static_cast<std::uint32_t>(std::strtoul(mask.c_str(), &end, 16));
    if (*end) return false;
    return true;
}

bool isDefaultRoute(const RouteRow& r) {
    return r.destination == 0 && r.mask == 0 &&
           (r.flags & (RTF_UP | RTF_GATEWAY)) == (RTF_UP | RTF_GATEWAY);
}

template <typename F>
void forEachRow(const std::string& table, F f) {
    std::istringstream in(table);
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        RouteRow row;
        if (parseRow(line, &row) && f(row)) return;
    }
}

// The number of leading one bits of an IPv6 netmask.
int prefixLengthOf(const sockaddr* mask) {
    if (!mask || mask->sa_family != AF_INET6) return 0;
    const auto* m = reinterpret_cast<const sockaddr_in6*>(mask);
    int length = 0;
    for (int k = 0; k < 16; ++k)
        for (int bit = 7; bit >= 0 && (m->sin6_addr.s6_addr[k] >> bit) & 1; --bit) ++length;
    return length;
}

}  // namespace

std::vector<InterfaceAddress> listInterfaceAddresses() {
    std::vector<InterfaceAddress> out;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return out;
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_name) continue;
        InterfaceAddress* entry = nullptr;
        for (InterfaceAddress& e : out)
            if (e.name == i->ifa_name) entry = &e;
        if (!entry) {
            out.push_back(InterfaceAddress{i->ifa_name, "", "", false, {}});
            entry = &out.back();
        }
        entry->up = entry->up || (i->ifa_flags & IFF_UP);
        if (entry->address.empty() && i->ifa_addr && i->ifa_addr->sa_family == AF_INET) {
            entry->address = dotted(i->ifa_addr);
            entry->netmask = dotted(i->ifa_netmask);
        }
        if (i->ifa_addr && i->ifa_addr->sa_family == AF_INET6) {
            char text[INET6_ADDRSTRLEN];
            const auto* a = reinterpret_cast<const sockaddr_in6*>(i->ifa_addr);
            if (inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof text))
                entry->ipv6.push_back(InterfaceIPv6{text, prefixLengthOf(i->ifa_netmask)});
        }
    }
    freeifaddrs(list);
    // Link-local addresses last, so the first one shown is the one the world sees.
    for (InterfaceAddress& e : out)
        std::stable_partition(e.ipv6.begin(), e.ipv6.end(), [](const InterfaceIPv6& a) {
            return a.address.compare(0, 4, "fe80") != 0;
        });
    return out;
}

std::string defaultGatewayIn(const std::string& routeTable, const std::string& nic) {
    std::string result;
    forEachRow(routeTable, [&](const RouteRow& r) {
        if (r.iface != nic || !isDefaultRoute(r)) return false;
        in_addr a;
        a.s_addr = r.gateway;
        char text[INET_ADDRSTRLEN] = {0};
        if (inet_ntop(AF_INET, &a, text, sizeof(text))) result = text;
        return true;
    });
    return result;
}

std::string defaultRouteInterfaceIn(const std::string& routeTable) {
    std::string result;
    forEachRow(routeTable, [&](const RouteRow& r) {
        if (!isDefaultRoute(r)) return false;
        result = r.iface;
        return true;
    });
    return result;
}

std::string readRouteTable() {
    std::ifstream in("/proc/net/route");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string defaultIPv6GatewayIn(const std::string& routeTable, const std::string& nic) {
    // Each row: destination, its prefix length, source, its prefix length, next hop, metric,
    // reference count, use count, flags (hex) and the interface.
    std::istringstream rows(routeTable);
    for (std::string line; std::getline(rows, line);) {
        std::istringstream in(line);
        std::string destination, destinationLength, source, sourceLength, hop, metric, refs, use,
            flags, device;
        if (!(in >> destination >> destinationLength >> source >> sourceLength >> hop >> metric >>
              refs >> use >> flags >> device))
            continue;
        if (device != nic || destinationLength != "00" || hop.size() != 32) continue;
        if (destination != std::string(32, '0') || hop == std::string(32, '0')) continue;
        in6_addr address{};
        for (int k = 0; k < 16; ++k)
            address.s6_addr[k] =
                std::uint8_t(std::strtoul(hop.substr(2 * k, 2).c_str(), nullptr, 16));
        char text[INET6_ADDRSTRLEN];
        if (inet_ntop(AF_INET6, &address, text, sizeof text)) return text;
    }
    return std::string();
}

std::string readIPv6RouteTable() {
    std::ifstream in("/proc/net/ipv6_route");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

int adapterHardwareType(const std::string& nic) {
    if (nic.empty() || nic.find('/') != std::string::npos || nic == "." || nic == "..") return -1;
    std::ifstream in("/sys/class/net/" + nic + "/type");
    int type = -1;
    in >> type;
    return in ? type : -1;
}

}  // namespace tessel
