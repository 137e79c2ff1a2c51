#include "nodes/name_resolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <system_error>
#include <thread>

#include "nodes/node_manager.h"
#include "platform/process.h"

namespace tessel {

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

cNameResolver::cNameResolver(cNodeManager& nodes, ReverseLookup lookup, LocationLookup locate)
    : nodes_(nodes),
      lookup_(lookup ? std::move(lookup) : ReverseLookup(systemReverseLookup)),
      locate_(std::move(locate)) {}

cNameResolver::~cNameResolver() { stop(); }

bool cNameResolver::start() {
    if (thread_.joinable()) return true;
    stopping_ = false;
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void cNameResolver::wake() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        wanted_ = true;
    }
    wakeUp_.notify_one();
}

void cNameResolver::stop() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    wakeUp_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void cNameResolver::run() {
    nameThisThread("tessel-resolve");
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        wakeUp_.wait(guard, [this] { return wanted_ || stopping_.load(); });
        if (stopping_) return;
        wanted_ = false;
        guard.unlock();
        resolvePending();
        guard.lock();
    }
}

void cNameResolver::locateAt(int index) {
    if (!locate_) return;
    std::string address;
    nodes_.updateNode(index, [&address](SNetNode& node) {
        if (node.locateState != 0 || node.isLocal == 1) return;
        node.locateState = 1;
        address = node.address;
    });
    if (address.empty()) return;
    HostLocation location = locate_(address);
    nodes_.updateNode(address, [&location](SNetNode& node) {
        node.location = std::move(location);
        node.locateState = 2;
    });
}

void cNameResolver::resolvePending() {
    busy_ = true;
    for (int i = 0; i < nodes_.nodeCount() && !stopping_; ++i) locateAt(i);
    // The size is read again on every step, so nodes added meanwhile are visited in this pass.
    for (int i = 0; i < nodes_.nodeCount() && !stopping_; ++i) {
        locateAt(i);  // a node added while names were looked up
        std::string address;
        nodes_.updateNode(i, [&address](SNetNode& node) {
            if (node.resolveState != 0 || node.isLocal == 1) return;
            node.resolveState = 1;
            address = node.address;
        });
        if (address.empty()) continue;
        // Blocks until the name service answers; the list may change meanwhile.
        std::string name = lookup_(address);
        if (name.empty()) name = "(failed to resolve)";
        // The node may have moved or gone while the look-up ran: it is found by its key.
        nodes_.updateNode(address, [&name](SNetNode& node) {
            node.hostName = name;
            node.resolveState = 2;
        });
    }
    busy_ = false;
}

}  // namespace tessel
