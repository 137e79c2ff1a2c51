#include "capture/net_interface.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "capture/capture_filter.h"
#include "capture/capture_session.h"
#include "capture/device_list.h"
#include "capture/helper_capture.h"
#include "core/adapter_addresses.h"
#include "core/event_log.h"
#include "core/fatal_exit.h"
#include "core/hand_off.h"
#include "platform/message_box.h"
#include "platform/process.h"

namespace tessel {

namespace {

// F1, F5, F6: the capture library's own failures go to standard error, not to a message box.
[[noreturn]] void endAfterLibraryFailure() { endAfterFatal("", false); }

// Without CAP_NET_RAW the open fails on every adapter, so choosing another one in the
// configuration tool cannot help: tell the user how to grant the right, which only the capture
// helper holds.
std::string permissionHelp(const std::string& device) {
    return "Tessel may not capture on " + device +
           ": its capture helper lacks the right to capture packets.\n\n"
           "Where Tessel came from its package, join the group tessel and log in again:\n"
           "    sudo usermod -aG tessel $USER\n"
           "Otherwise grant the right to the helper alone:\n"
           "    sudo setcap cap_net_raw,cap_net_admin=eip " +
           captureHelperPath() + "\n";
}

[[noreturn]] void failOpen(const char* deviceName, bool permissionDenied) {
    std::fprintf(stderr, "\nUnable to open the adapter. %s is not supported by WinPcap\n",
                 deviceName);
    std::fflush(stderr);
    const std::string help = permissionDenied ? permissionHelp(deviceName) : std::string();
    endAfterFatal(help, permissionDenied);
}

}  // namespace

AdapterConfig findAdapterConfig(const std::string& nic,
                                const std::vector<InterfaceAddress>& interfaces,
                                const std::string& routeTable, const std::string& routeTable6) {
    AdapterConfig c;
    for (const InterfaceAddress& i : interfaces) {
        if (i.name != nic) continue;  // exact, case-sensitive
        c.exists = true;
        c.address = i.address;
        c.netmask = i.netmask;
        c.ipv6 = i.ipv6;
        break;
    }
    if (c.exists) {
        c.gateway = defaultGatewayIn(routeTable, nic);
        c.gateway6 = defaultIPv6GatewayIn(routeTable6, nic);
    }
    return c;
}

namespace {

// The address that stands for an IPv6-only host: the first one beyond the link. Every adapter
// that is up has a link-local address, which alone does not make it usable (as no address).
std::string mainIPv6(const std::vector<InterfaceIPv6>& addresses) {
    for (const InterfaceIPv6& a : addresses)
        if (a.address.rfind("fe80:", 0) != 0) return a.address;
    return std::string();
}

}  // namespace

cNetInterface::cNetInterface(AdapterAddresses& adapter, HandOffChannel& channel)
    : adapter_(adapter), channel_(channel) {}

void cNetInterface::discoverAdapter(std::string nic) {
    AdapterConfig c =
        findAdapterConfig(nic, listInterfaceAddresses(), readRouteTable(), readIPv6RouteTable());
    if (c.exists) {
        // Linux interfaces have no description; the name stands in for it.
        std::printf("\tAdapter Desc: \t%s\n", nic.c_str());
        if (!c.address.empty()) {
            adapter_.localAddresses.push_back(c.address);
            if (!c.netmask.empty()) adapter_.netMasks.push_back(c.netmask);
            if (!c.gateway.empty()) adapter_.gatewayAddresses.push_back(c.gateway);
        } else if (!mainIPv6(c.ipv6).empty()) {
            // IPv6 only: its main address and router are this host and the gateway.
            adapter_.localAddresses.push_back(mainIPv6(c.ipv6));
            if (!c.gateway6.empty()) adapter_.gatewayAddresses.push_back(c.gateway6);
        }
        for (const InterfaceIPv6& a : c.ipv6) {
            adapter_.localIPv6Addresses.push_back(LocalIPv6{a.address, a.prefixLength});
            std::printf("netint: ipv6 %s/%d\n", a.address.c_str(), a.prefixLength);
        }
        adapter_.gatewayIPv6Address = c.gateway6;
        if (!c.gateway6.empty()) std::printf("netint: ipv6 gateway %s\n", c.gateway6.c_str());
    }
    std::fflush(stdout);
    if (adapter_.localAddresses.empty())
        restartConfigToolAndExit("Failed to find suitable NIC, reruning tessel-config");

    std::printf("netint: local ip  %s\n", adapter_.localAddresses[0].c_str());
    if (!adapter_.netMasks.empty())
        std::printf("netint: net mask %s\n", adapter_.netMasks[0].c_str());
    if (!adapter_.gatewayAddresses.empty())
        std::printf("netint: gateway %s\n", adapter_.gatewayAddresses[0].c_str());
    std::fflush(stdout);
}

bool cNetInterface::startCapture(std::string nic, const std::string& filter,
                                 std::string* filterError, cProgramTable* programs) {
    char errbuf[PCAP_ERRBUF_SIZE] = "";  // 256 bytes, as the library asks
    DeviceList devices;
    if (!findAllDevices(&devices, errbuf)) {
        std::fprintf(stderr, "Error in pcap_findalldevs: %s\n", errbuf);
        endAfterLibraryFailure();
    }
    if (adapter_.localAddresses.empty())
        restartConfigToolAndExit("Failed to find suitable NIC, reruning tessel-config");
    if (adapter_.localAddresses[0] == "0.0.0.0")
        restartConfigToolAndExit(
            "Failed to find a bindable ip address on selected NIC, rerunning tessel-config");

    pcap_if_t* chosen = nullptr;
    for (pcap_if_t* d = devices.get(); d; d = d->next) {
        // libpcap device names on Linux carry no prefix: the whole name is the key.
        const char* key = d->name ? d->name : "";
        std::printf("------\n1. |%s|\n2. |%s|\n", key, nic.c_str());
        if (nic == key) {
            chosen = d;
            break;
        }
    }
    std::fflush(stdout);
    if (!chosen) restartConfigToolAndExit("Failed to bind to NIC, reruning tessel-config");

    // The capture helper opens the frames and rates handles with the same filter, so the rate
    // graph shows the filtered traffic too; this program holds no rights.
    auto helper = std::make_unique<cHelperCapture>();
    std::string message;
    switch (helper->start(chosen->name, filter, &message)) {
        case HelperResult::Ok:
            break;
        case HelperResult::BadFilter:
            *filterError = message;
            return false;
        case HelperResult::NoRights:
            std::fprintf(stderr, "%s\n", message.c_str());
            failOpen(chosen->name, true);
        default:
            std::fprintf(stderr, "%s\n", message.c_str());
            failOpen(chosen->name, false);
    }

    std::printf("\nlistening on %s...\n",
                chosen->description && *chosen->description ? chosen->description : chosen->name);
    std::fflush(stdout);

    std::unique_ptr<cFrameSource> frames = helper->takeFrames();
    CaptureOptions options;
    options.helper = std::move(helper);
    options.programs = programs;
    session = std::make_unique<cCaptureSession>(std::move(frames), channel_, std::move(options));
    session->start();
    return true;
}

void cNetInterface::startReplay(std::unique_ptr<cFrameSource> source, bool loop, bool stepped) {
    CaptureOptions options;
    options.paced = true;
    options.loop = loop && !stepped;
    options.stepped = stepped;
    session = std::make_unique<cCaptureSession>(std::move(source), channel_, std::move(options));
    session->start();
}

void cNetInterface::startFeed(std::unique_ptr<cFrameSource> source) {
    session = std::make_unique<cCaptureSession>(std::move(source), channel_);
    session->start();
}

void cNetInterface::stopCapture() {
    if (session) session->stop();
}

cNetInterface::~cNetInterface() = default;

}  // namespace tessel
