#pragma once
#include <map>
#include <string>
#include <vector>

#include "capture/listen_address.h"
#include "core/frame_limit.h"
#include "platform/adapter_info.h"

namespace tessel {

// What the settings window edits, read from and written back to the settings store. Kept apart
// from the window so the rules can be checked without a display. The settings program has one
// thread.
struct ConfigChoices {
    std::vector<InterfaceAddress> adapters;
    int selectedAdapter = -1;  // index into adapters, -1 for none
    bool fullscreen = false;
    std::string width = "1000";
    std::string height = "600";
    int driver = 2;  // 2 OpenGL, 3 software, 4 Burning's Video
    bool opaque = false;
    int maxFps = 0;      // frames a second at most; 0: as fast as the driver allows
    std::string filter;  // capture filter (BPF), "" for everything
    // Where the frames come from: the adapter, or a flow feed listening on `listen`
    // ("[ADDR:]PORT" as entered; empty: the feed's default port on every address).
    FeedKind source = FeedKind::None;
    std::string listen;
};

// Current settings from the store at `path`; the adapter preselected is the configured one, or on
// a first run (no adapter configured) the adapter of the default route in `routeTable`.
ConfigChoices loadConfigChoices(const std::string& path, std::vector<InterfaceAddress> adapters,
                                const std::string& routeTable);

// The adapter's IPv4 address and netmask, joined by `between`, or "no IPv4 address".
std::string ipv4Text(const InterfaceAddress& adapter, const std::string& between);
// Its IPv6 addresses with their prefix lengths, "2001:db8::2/64 fe80::1/64"; empty for none.
std::string ipv6Text(const InterfaceAddress& adapter);

// Empty when `filter` compiles for a capture on `nic`, or with a feed for the Ethernet frames it
// makes (the adapter then does not matter); otherwise libpcap's reason.
std::string filterProblem(FeedKind source, const std::string& nic, const std::string& filter);

// Empty when `listen` reads as "[ADDR:]PORT" and, for a feed, a UDP socket can be bound there
// right now (it is closed at once); otherwise why not.
std::string listenProblem(FeedKind source, const std::string& listen);

// Every store value with firstrun=1, or false with a message for the user. With a feed chosen no
// adapter is needed (the chosen one is still stored), but the feed's port must be free.
bool choicesToValues(const ConfigChoices& choices, std::map<std::string, std::string>* values,
                     std::string* error);

// Empty when `nic` can be opened for capture; otherwise what stops it, with the command that
// grants the rights when rights are missing.
std::string captureRightsProblem(const std::string& nic);

// The command that gives the programs beside this one the right to capture.
std::string grantRightsCommand();

}  // namespace tessel
