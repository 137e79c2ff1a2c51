#pragma once
#include <cstdint>
#include <string>

namespace tessel {

// What a flow collector listens on: "[ADDR:]PORT", where ADDR is an IPv4 address, an IPv6
// address in brackets ("[::1]:6343") or absent (every address, IPv4 and IPv6).
struct ListenAddress {
    std::string address;  // empty: every address
    std::uint16_t port = 0;
};

// The feeds a run can draw from besides an adapter and a file, with their default ports.
enum class FeedKind { None, Sflow, Netflow };
inline constexpr std::uint16_t kSflowDefaultPort = 6343;
inline constexpr std::uint16_t kNetflowDefaultPort = 2055;
std::uint16_t defaultPortOf(FeedKind kind);
// "sFlow", "NetFlow/IPFIX".
const char* feedName(FeedKind kind);
// The settings' word for a source (`source`): "adapter", "sflow", "netflow"; any other word
// reads as the adapter.
const char* sourceWord(FeedKind source);
FeedKind sourceFromWord(const std::string& word);

// Reads "[ADDR:]PORT" (an empty text gives `defaultPort` on every address). False with *error
// saying what is wrong.
bool parseListenAddress(const std::string& text, std::uint16_t defaultPort, ListenAddress* out,
                        std::string* error);
std::string listenText(const ListenAddress& listen);

// A UDP socket bound to `listen` (IPv6 and IPv4 on one socket when no address is given), non-
// blocking, close-on-exec, with a large receive buffer and the kernel's drop counter
// (SO_RXQ_OVFL) asked for. -1 with *error saying why ("port 6343 is in use", ...).
int openUdpListener(const ListenAddress& listen, std::string* error);

}  // namespace tessel
