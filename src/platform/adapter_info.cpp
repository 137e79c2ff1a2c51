#include "platform/adapter_info.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>

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
            out.push_back(InterfaceAddress{i->ifa_name, "", "", false});
            entry = &out.back();
        }
        entry->up = entry->up || (i->ifa_flags & IFF_UP);
        if (entry->address.empty() && i->ifa_addr && i->ifa_addr->sa_family == AF_INET) {
            entry->address = dotted(i->ifa_addr);
            entry->netmask = dotted(i->ifa_netmask);
        }
    }
    freeifaddrs(list);
    return out;
}

bool firstIPv4Of(const std::string& nic, std::string* address, std::string* netmask) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    bool found = false;
    for (ifaddrs* i = list; i && !found; i = i->ifa_next) {
        if (!i->ifa_name || nic != i->ifa_name) continue;
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        *address = dotted(i->ifa_addr);
        *netmask = dotted(i->ifa_netmask);
        found = true;
    }
    freeifaddrs(list);
    return found;
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

int adapterHardwareType(const std::string& nic) {
    if (nic.empty() || nic.find('/') != std::string::npos || nic == "." || nic == "..") return -1;
    std::ifstream in("/sys/class/net/" + nic + "/type");
    int type = -1;
    in >> type;
    return in ? type : -1;
}

}  // namespace tessel
