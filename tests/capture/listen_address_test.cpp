// Where a flow collector listens: "[ADDR:]PORT" read and refused, and real UDP sockets bound on
// loopback, the one-socket-for-both-families listener included.
#include "capture/listen_address.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/test_support.h"

namespace tessel {
namespace {

bool hasIPv6Loopback() {
    return test::readFile("/proc/net/if_inet6").find("00000000000000000000000000000001") !=
           std::string::npos;
}

std::uint16_t portOf(int fd) {
    sockaddr_storage a{};
    socklen_t length = sizeof(a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    return a.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&a)->sin6_port)
                                   : ntohs(reinterpret_cast<sockaddr_in*>(&a)->sin_port);
}

// Sends one datagram from a socket of `family` to `address` and port, then closes it.
void sendTo(int family, const char* address, std::uint16_t port, const std::string& payload) {
    int fd = socket(family, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_storage to{};
    socklen_t length;
    if (family == AF_INET6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&to);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(port);
        inet_pton(AF_INET6, address, &a->sin6_addr);
        length = sizeof(*a);
    } else {
        auto* a = reinterpret_cast<sockaddr_in*>(&to);
        a->sin_family = AF_INET;
        a->sin_port = htons(port);
        inet_pton(AF_INET, address, &a->sin_addr);
        length = sizeof(*a);
    }
    EXPECT_EQ(
        sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to), length),
        static_cast<ssize_t>(payload.size()));
    close(fd);
}

std::string receive(int fd) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 2000) != 1) return "(nothing)";
    char buffer[64];
    ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
    return n < 0 ? "(error)" : std::string(buffer, static_cast<std::size_t>(n));
}

TEST(ListenAddress, ReadsPortAndAddressAndRefusesAnythingElse) {
    struct Good {
        const char* text;
        const char* address;
        std::uint16_t port;
        const char* shown;
    };
    for (const Good& g :
         {Good{"6343", "", 6343, "6343"}, Good{"", "", 2055, "2055"},
          Good{"0.0.0.0:6343", "0.0.0.0", 6343, "0.0.0.0:6343"},
          Good{"127.0.0.1:65535", "127.0.0.1", 65535, "127.0.0.1:65535"},
          Good{"[::1]:6343", "::1", 6343, "[::1]:6343"}, Good{"[::]:2055", "::", 2055, "[::]:2055"},
          Good{"[0:0::1]:1", "::1", 1, "[::1]:1"}}) {
        ListenAddress l;
        std::string error;
        ASSERT_TRUE(parseListenAddress(g.text, 2055, &l, &error)) << g.text << ": " << error;
        EXPECT_EQ(l.address, g.address) << g.text;
        EXPECT_EQ(l.port, g.port) << g.text;
        EXPECT_EQ(listenText(l), g.shown);
    }

    struct Bad {
        const char* text;
        const char* error;
    };
    for (const Bad& b :
         {Bad{"0", "'0' is not a port: give [ADDR:]PORT, e.g. 6343"},
          Bad{"65536", "'65536' is not a port: give [ADDR:]PORT, e.g. 6343"},
          Bad{"sflow", "'sflow' is not a port: give [ADDR:]PORT, e.g. 6343"},
          Bad{"-1", "'-1' is not a port: give [ADDR:]PORT, e.g. 6343"},
          Bad{"6343 ", "'6343 ' is not a port: give [ADDR:]PORT, e.g. 6343"},
          Bad{"127.0.0.1:", "'' is not a port: give [ADDR:]PORT, e.g. 6343"},
          Bad{"127.0.0.1:6343x", "'6343x' is not a port: give [ADDR:]PORT, e.g. 6343"},
          Bad{"[::1]:6343:1", "'6343:1' is not a port: give [ADDR:]PORT, e.g. 6343"},
          Bad{"::1:6343", "'::1:6343': an IPv6 address goes in brackets, e.g. [::1]:6343"},
          Bad{"[::1]6343",
              "'[::1]6343' has no port after the address: give [ADDR:]PORT, "
              "e.g. 6343"},
          Bad{"[::1]", "'[::1]' has no port after the address: give [ADDR:]PORT, e.g. 6343"},
          Bad{"[::1:6343",
              "'[::1:6343' opens a bracket it does not close: give [ADDR:]PORT, "
              "e.g. 6343"},
          Bad{"[127.0.0.1]:6343",
              "'127.0.0.1' is not an IPv6 address: give [ADDR:]PORT, e.g. 6343"},
          Bad{"collector:6343",
              "'collector' is not an IPv4 address (nor an IPv6 one in "
              "brackets): give [ADDR:]PORT, e.g. 6343"},
          Bad{"300.1.1.1:6343",
              "'300.1.1.1' is not an IPv4 address (nor an IPv6 one in "
              "brackets): give [ADDR:]PORT, e.g. 6343"}}) {
        ListenAddress l{"kept", 7};
        std::string error;
        EXPECT_FALSE(parseListenAddress(b.text, kSflowDefaultPort, &l, &error)) << b.text;
        EXPECT_EQ(error, b.error);
        EXPECT_EQ(l.address, "kept");  // a refusal leaves the target alone
    }
    EXPECT_EQ(defaultPortOf(FeedKind::Sflow), 6343);
    EXPECT_EQ(defaultPortOf(FeedKind::Netflow), 2055);
}

TEST(ListenAddress, BindsOnLoopbackAndSaysWhyItCannot) {
    std::string error;
    int v4 = openUdpListener({"127.0.0.1", 0}, &error);
    ASSERT_GE(v4, 0) << error;
    const std::uint16_t port = portOf(v4);
    int flags = 0;
    socklen_t length = sizeof(flags);
    EXPECT_EQ(getsockopt(v4, SOL_SOCKET, SO_RXQ_OVFL, &flags, &length), 0);
    EXPECT_EQ(flags, 1);

    // Taken, whether asked for on the same address or on every address.
    const std::string inUse = "UDP port " + std::to_string(port) + " is in use by another program";
    EXPECT_EQ(openUdpListener({"127.0.0.1", port}, &error), -1);
    EXPECT_EQ(error, inUse);
    EXPECT_EQ(openUdpListener({"", port}, &error), -1);
    EXPECT_EQ(error, inUse);
    close(v4);

    EXPECT_EQ(openUdpListener({"192.0.2.1", 6343}, &error), -1);  // TEST-NET-1, on no adapter
    EXPECT_EQ(error, "address 192.0.2.1 is not on this machine");

    if (hasIPv6Loopback()) {
        int v6 = openUdpListener({"::1", 0}, &error);
        ASSERT_GE(v6, 0) << error;
        sendTo(AF_INET6, "::1", portOf(v6), "six");
        EXPECT_EQ(receive(v6), "six");
        close(v6);
    }

    // Without root, a port below 1024 is refused, and the refusal says what would allow it.
    if (test::isRoot() &&
        test::readFile("/proc/sys/net/ipv4/ip_unprivileged_port_start").find("1024") == 0) {
        int pipeFds[2];
        ASSERT_EQ(pipe(pipeFds), 0);
        pid_t child = fork();
        if (child == 0) {
            std::string why;
            if (setgid(65534) == 0 && setuid(65534) == 0 &&
                openUdpListener({"127.0.0.1", 514}, &why) < 0)
                (void)!write(pipeFds[1], why.data(), why.size());
            _exit(0);
        }
        close(pipeFds[1]);
        char buffer[256];
        ssize_t n = read(pipeFds[0], buffer, sizeof(buffer));
        close(pipeFds[0]);
        waitpid(child, nullptr, 0);
        EXPECT_EQ(std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0),
                  "no right to listen on UDP port 514 (ports below 1024 need root or "
                  "CAP_NET_BIND_SERVICE)");
    }
}

TEST(ListenAddress, ListenerOnEveryAddressHearsIPv4AndIPv6Senders) {
    std::string error;
    int fd = openUdpListener({"", 0}, &error);
    ASSERT_GE(fd, 0) << error;
    const std::uint16_t port = portOf(fd);
    sendTo(AF_INET, "127.0.0.1", port, "four");
    EXPECT_EQ(receive(fd), "four");
    if (hasIPv6Loopback()) {
        sendTo(AF_INET6, "::1", port, "six");
        EXPECT_EQ(receive(fd), "six");
    }
    close(fd);
}

}  // namespace
}  // namespace tessel
