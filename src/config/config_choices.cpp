#include "config/config_choices.h"

#include <unistd.h>

#include <cstring>

#include "capture/adapter_list.h"
#include "capture/capture_filter.h"
#include "capture/helper_capture.h"
#include "capture/listen_address.h"
#include "core/text_number.h"
#include "platform/adapter_info.h"
#include "platform/config_file.h"
#include "platform/process.h"

namespace tessel {

namespace {

std::string valueOr(const std::string& path, const char* name, const char* fallback) {
    std::optional<std::string> v = readConfigValue(path, name);
    return v ? *v : fallback;
}

bool validSize(const std::string& text) {
    if (text.empty() || text.size() > 5) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    int v = atoiText(text);
    return v >= 64 && v <= 16384;
}

}  // namespace

ConfigChoices loadConfigChoices(const std::string& path, std::vector<InterfaceAddress> adapters,
                                const std::string& routeTable) {
    ConfigChoices c;
    c.adapters = std::move(adapters);
    // Same readings as the program: only "1" means windowed, only "0" means opaque.
    c.fullscreen = valueOr(path, "fullscreen", "1") != "1";
    c.width = valueOr(path, "width", "1000");
    c.height = valueOr(path, "height", "600");
    int driver = atoiText(valueOr(path, "videodriver", "0"));
    c.driver = (driver == 3 || driver == 4) ? driver : 2;
    c.opaque = valueOr(path, "transparency", "1") == "0";
    c.maxFps = frameLimitFrom(valueOr(path, "maxfps", "0"));
    c.filter = valueOr(path, "filter", "");
    c.source = sourceFromWord(valueOr(path, "source", "adapter"));
    c.listen = valueOr(path, "listen", "");

    std::string nic = valueOr(path, "nic", "");
    if (nic.empty()) nic = defaultRouteInterfaceIn(routeTable);
    for (std::size_t i = 0; i < c.adapters.size(); ++i)
        if (c.adapters[i].name == nic) c.selectedAdapter = static_cast<int>(i);
    if (c.selectedAdapter < 0) {
        // Nothing configured and no default route: the first adapter with an address.
        for (std::size_t i = 0; i < c.adapters.size() && c.selectedAdapter < 0; ++i)
            if (!c.adapters[i].address.empty() && c.adapters[i].name != "lo")
                c.selectedAdapter = static_cast<int>(i);
    }
    return c;
}

bool choicesToValues(const ConfigChoices& c, std::map<std::string, std::string>* values,
                     std::string* error) {
    const bool feed = c.source != FeedKind::None;
    const bool adapterChosen =
        c.selectedAdapter >= 0 && c.selectedAdapter < static_cast<int>(c.adapters.size());
    if (!feed && !adapterChosen) {
        *error = "Choose the adapter to capture on.";
        return false;
    }
    if (!c.fullscreen && (!validSize(c.width) || !validSize(c.height))) {
        *error = "Width and height must be whole numbers from 64 to 16384.";
        return false;
    }
    ListenAddress listen;
    std::string listenError;
    if (!parseListenAddress(c.listen, defaultPortOf(feed ? c.source : FeedKind::Sflow), &listen,
                            &listenError)) {
        *error = "The listen address is not valid: " + listenError;
        return false;
    }
    if (feed) {
        const std::string problem = listenProblem(c.source, c.listen);
        if (!problem.empty()) {
            *error = std::string("Tessel cannot listen for ") + feedName(c.source) + ": " + problem;
            return false;
        }
    }
    const std::string nic = adapterChosen ? c.adapters[c.selectedAdapter].name : "";
    const std::string problem = filterProblem(c.source, nic, c.filter);
    if (!problem.empty()) {
        *error = "The capture filter does not compile: " + problem;
        return false;
    }
    (*values)["firstrun"] = "1";
    if (adapterChosen) (*values)["nic"] = nic;
    (*values)["fullscreen"] = c.fullscreen ? "0" : "1";
    if (validSize(c.width)) (*values)["width"] = c.width;
    if (validSize(c.height)) (*values)["height"] = c.height;
    (*values)["videodriver"] = std::to_string(c.driver);
    (*values)["transparency"] = c.opaque ? "0" : "1";
    (*values)["maxfps"] = std::to_string(c.maxFps);
    (*values)["filter"] = c.filter;
    (*values)["source"] = sourceWord(c.source);
    (*values)["listen"] = c.listen;
    return true;
}

std::string ipv4Text(const InterfaceAddress& adapter, const std::string& between) {
    return adapter.address.empty() ? "no IPv4 address"
                                   : adapter.address + between + adapter.netmask;
}

std::string ipv6Text(const InterfaceAddress& adapter) {
    std::string text;
    for (const InterfaceIPv6& a : adapter.ipv6)
        text += (text.empty() ? "" : " ") + a.address + "/" + std::to_string(a.prefixLength);
    return text;
}

std::string filterProblem(FeedKind source, const std::string& nic, const std::string& filter) {
    // A feed's frames are Ethernet whatever adapter is chosen.
    const int linkType = source != FeedKind::None ? DLT_EN10MB : linkTypeOfAdapter(nic);
    std::string error;
    if (filter.empty() || checkCaptureFilter(linkType, filter, &error)) return "";
    return error;
}

std::string listenProblem(FeedKind source, const std::string& listen) {
    ListenAddress where;
    std::string error;
    const FeedKind feed = source != FeedKind::None ? source : FeedKind::Sflow;
    if (!parseListenAddress(listen, defaultPortOf(feed), &where, &error)) return error;
    if (source == FeedKind::None) return "";
    const int fd = openUdpListener(where, &error);
    if (fd < 0) return error;
    close(fd);
    return "";
}

std::string grantRightsCommand() {
    return "sudo setcap cap_net_raw,cap_net_admin=eip " + captureHelperPath();
}

std::string captureRightsProblem(const std::string& nic) {
    // The capture helper alone holds the rights: it is what has to open the adapter.
    std::string error;
    switch (checkAdapterWithHelper(nic, "", &error)) {
        case HelperResult::Ok:
            return std::string();
        case HelperResult::NoRights:
            return "Tessel may not capture on " + nic +
                   ". Join the group tessel (then log in again), or grant the right once:\n" +
                   grantRightsCommand();
        default:
            return "Cannot capture on " + nic + ": " + error;
    }
}

}  // namespace tessel
