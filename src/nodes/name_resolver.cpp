#include "nodes/name_resolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <system_error>
#include <thread>

#include "nodes/node_manager.h"

namespace tessel {

std::atomic<int> resolverBusy{0};

namespace {

ReverseLookup& currentLookup() {
    static ReverseLookup lookup = systemReverseLookup;
    return lookup;
}

}  // namespace

std::string systemReverseLookup(const std::string& address) {
    sockaddr_storage storage;
    std::memset(&storage, 0, sizeof(storage));
    socklen_t length = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
    // A text that is no address is a failed look-up, not a query for 255.255.255.255.
    if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        length = sizeof(sockaddr_in);
    } else if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;  // asked under ip6.arpa
        length = sizeof(sockaddr_in6);
    } else {
        return std::string();
    }
    char host[NI_MAXHOST];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&storage), length, host, sizeof(host),
                    nullptr, 0, NI_NAMEREQD) != 0)
        return std::string();
    return host;
}

void setReverseLookup(ReverseLookup lookup) {
    currentLookup() = lookup ? std::move(lookup) : ReverseLookup(systemReverseLookup);
}

void resolvePendingNames() {
    int idle = 0;
    if (!resolverBusy.compare_exchange_strong(idle, 1)) return;  // a pass is still working

    cNodeManager manager;
    // The size is read again on every step, so nodes added meanwhile are visited in this pass.
    for (int i = 0; i < manager.nodeCount(); ++i) {
        std::string address;
        manager.updateNode(i, [&address](SNetNode& node) {
            if (node.resolveState != 0 || node.isLocal == 1) return;
            node.resolveState = 1;
            address = node.address;
        });
        if (address.empty()) continue;
        // Blocks until the name service answers; the list may change meanwhile.
        std::string name = currentLookup()(address);
        if (name.empty()) name = "(failed to resolve)";
        // The node may have moved or gone while the look-up ran: it is found by its key.
        manager.updateNode(address, [&name](SNetNode& node) {
            node.hostName = name;
            node.resolveState = 2;
        });
    }
    resolverBusy = 0;
}

void startResolverThread() {
    try {
        std::thread(resolvePendingNames).detach();
    } catch (const std::system_error&) {
        // No thread to be had right now: the next start, 26 frames on, tries again.
    }
}

}  // namespace tessel
