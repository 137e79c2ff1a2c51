#include "capture/listen_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tessel {

namespace {

constexpr int kReceiveBuffer = 32 * 1024 * 1024;  // bursts of datagrams wait here, not lost

bool parsePort(const std::string& text, std::uint16_t* port) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const long value = std::stol(text);
    if (value < 1 || value > 65535) return false;
    *port = static_cast<std::uint16_t>(value);
    return true;
}

// The address in the kernel's own spelling ("0:0::1" becomes "::1"); false when it is none.
bool canonicalAddress(int family, const std::string& text, std::string* out) {
    unsigned char bytes[sizeof(in6_addr)];
    char back[INET6_ADDRSTRLEN];
    if (inet_pton(family, text.c_str(), bytes) != 1) return false;
    if (!inet_ntop(family, bytes, back, sizeof(back))) return false;
    *out = back;
    return true;
}

bool isIPv6(const std::string& address) { return address.find(':') != std::string::npos; }

std::string bindError(int err, const ListenAddress& listen) {
    const std::string port = std::to_string(listen.port);
    switch (err) {
        case EADDRINUSE:
            return "UDP port " + port + " is in use by another program";
        case EACCES:
            return "no right to listen on UDP port " + port +
                   " (ports below 1024 need root or CAP_NET_BIND_SERVICE)";
        case EADDRNOTAVAIL:
            return "address " + listen.address + " is not on this machine";
        default:
            return "cannot listen on UDP " + listenText(listen) + ": " + std::strerror(err);
    }
}

void setInt(int fd, int level, int name, int value) {
    setsockopt(fd, level, name, &value, sizeof(value));
}

}  // namespace

std::uint16_t defaultPortOf(FeedKind kind) {
    switch (kind) {
        case FeedKind::Sflow:
            return kSflowDefaultPort;
        case FeedKind::Netflow:
            return kNetflowDefaultPort;
        default:
            return 0;
    }
}

const char* feedName(FeedKind kind) {
    switch (kind) {
        case FeedKind::Sflow:
            return "sFlow";
        case FeedKind::Netflow:
            return "NetFlow/IPFIX";
        default:
            return "adapter";
    }
}

bool parseListenAddress(const std::string& text, std::uint16_t defaultPort, ListenAddress* out,
                        std::string* error) {
    const std::string example =
        ": give [ADDR:]PORT, e.g. " + std::to_string(defaultPort ? defaultPort : kSflowDefaultPort);
    ListenAddress result;
    if (text.empty()) {
        result.port = defaultPort;
        *out = result;
        return true;
    }
    std::string portText = text;
    if (text[0] == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos) {
            *error = "'" + text + "' opens a bracket it does not close" + example;
            return false;
        }
        const std::string inside = text.substr(1, close - 1);
        if (!canonicalAddress(AF_INET6, inside, &result.address)) {
            *error = "'" + inside + "' is not an IPv6 address" + example;
            return false;
        }
        if (close + 1 >= text.size() || text[close + 1] != ':') {
            *error = "'" + text + "' has no port after the address" + example;
            return false;
        }
        portText = text.substr(close + 2);
    } else if (text.find(':') != std::string::npos) {
        const std::size_t colon = text.rfind(':');
        const std::string address = text.substr(0, colon);
        if (address.find(':') != std::string::npos) {
            *error = "'" + text + "': an IPv6 address goes in brackets, e.g. [::1]:" +
                     std::to_string(defaultPort ? defaultPort : kSflowDefaultPort);
            return false;
        }
        if (!canonicalAddress(AF_INET, address, &result.address)) {
            *error =
                "'" + address + "' is not an IPv4 address (nor an IPv6 one in brackets)" + example;
            return false;
        }
        portText = text.substr(colon + 1);
    }
    if (!parsePort(portText, &result.port)) {
        *error = "'" + portText + "' is not a port" + example;
        return false;
    }
    *out = result;
    return true;
}

std::string listenText(const ListenAddress& listen) {
    const std::string port = std::to_string(listen.port);
    if (listen.address.empty()) return port;
    if (isIPv6(listen.address)) return "[" + listen.address + "]:" + port;
    return listen.address + ":" + port;
}

int openUdpListener(const ListenAddress& listen, std::string* error) {
    const int type = SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC;
    const bool every = listen.address.empty();
    int family = every || isIPv6(listen.address) ? AF_INET6 : AF_INET;
    int fd = socket(family, type, 0);
    if (fd < 0 && every && errno == EAFNOSUPPORT) {
        family = AF_INET;  // a kernel without IPv6: every IPv4 address then
        fd = socket(family, type, 0);
    }
    if (fd < 0) {
        *error = "cannot open a UDP socket: " + std::string(std::strerror(errno));
        return -1;
    }
    sockaddr_storage where{};
    socklen_t whereLength = 0;
    bool known = true;
    if (family == AF_INET6) {
        auto* a6 = reinterpret_cast<sockaddr_in6*>(&where);
        a6->sin6_family = AF_INET6;
        a6->sin6_port = htons(listen.port);
        a6->sin6_addr = in6addr_any;
        if (!every) known = inet_pton(AF_INET6, listen.address.c_str(), &a6->sin6_addr) == 1;
        whereLength = sizeof(sockaddr_in6);
        // One socket for both families: IPv4 senders arrive as ::ffff:a.b.c.d.
        if (every) setInt(fd, IPPROTO_IPV6, IPV6_V6ONLY, 0);
    } else {
        auto* a4 = reinterpret_cast<sockaddr_in*>(&where);
        a4->sin_family = AF_INET;
        a4->sin_port = htons(listen.port);
        a4->sin_addr.s_addr = htonl(INADDR_ANY);
        if (!every) known = inet_pton(AF_INET, listen.address.c_str(), &a4->sin_addr) == 1;
        whereLength = sizeof(sockaddr_in);
    }
    if (!known) {
        close(fd);
        *error = "'" + listen.address + "' is not an IP address";
        return -1;
    }
    // The larger buffer past the system's limit needs CAP_NET_ADMIN; without it, what is allowed.
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &kReceiveBuffer, sizeof(kReceiveBuffer)) != 0)
        setInt(fd, SOL_SOCKET, SO_RCVBUF, kReceiveBuffer);
    // The kernel then tells with each datagram how many it dropped for want of room.
    setInt(fd, SOL_SOCKET, SO_RXQ_OVFL, 1);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&where), whereLength) != 0) {
        const int err = errno;
        close(fd);
        *error = bindError(err, listen);
        return -1;
    }
    return fd;
}

const char* sourceWord(FeedKind source) {
    switch (source) {
        case FeedKind::Sflow:
            return "sflow";
        case FeedKind::Netflow:
            return "netflow";
        default:
            return "adapter";
    }
}

FeedKind sourceFromWord(const std::string& word) {
    if (word == "sflow") return FeedKind::Sflow;
    if (word == "netflow") return FeedKind::Netflow;
    return FeedKind::None;
}

}  // namespace tessel
