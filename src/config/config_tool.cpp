#include "config/config_tool.h"

#include <pcap/pcap.h>

#include <cstdio>
#include <cstring>

#include "capture/adapter_list.h"
#include "capture/listen_address.h"
#include "config/config_choices.h"
#include "config/config_window.h"
#include "platform/adapter_info.h"
#include "platform/config_file.h"

namespace tessel {

namespace {

const char* const kUsage =
    "Usage: tessel-config [options]\n"
    "Chooses the network adapter and the display settings of Tessel.\n"
    "\n"
    "  --list             list the capture adapters with their IPv4 and IPv6 addresses\n"
    "  --nic NAME         capture on adapter NAME (for example eth0, wlp2s0, lo)\n"
    "  --windowed         run in a window of --width x --height pixels\n"
    "  --fullscreen       run full screen at 800 x 600\n"
    "  --width N          window width in pixels (default 1000)\n"
    "  --height N         window height in pixels (default 600)\n"
    "  --driver NAME      opengl, software or burnings (or 2, 3, 4)\n"
    "  --opaque           draw the GUI opaque\n"
    "  --translucent      draw the GUI translucent (default)\n"
    "  --maxfps N         at most N frames a second (1 to 1000); 0: unlimited (default)\n"
    "  --filter EXPR      capture only what the filter lets through (tcpdump's syntax,\n"
    "                     for example 'icmp' or 'not port 22'); '' captures everything\n"
    "  --source NAME      where the traffic comes from: adapter (capture, the default),\n"
    "                     sflow (an sFlow v5 collector) or netflow (NetFlow v5/v9, IPFIX)\n"
    "  --listen [ADDR:]PORT  where sflow or netflow listens (UDP), e.g. 6343, 0.0.0.0:6343,\n"
    "                     [::1]:2055; '' for the default port (6343 or 2055) on every address\n"
    "  --help             show this text\n"
    "  respawn            (used by tessel) open the window and start tessel after saving\n"
    "\n"
    "Without options it opens the settings window.\n"
    "\n"
    "Settings are written to $TESSEL_CONFIG, or ~/.config/Ashgrove/Tessel.conf.\n";

bool parseSize(const std::string& text, std::string* out) {
    if (text.empty() || text.size() > 5) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    int value = std::stoi(text);
    if (value < 64 || value > 16384) return false;
    *out = std::to_string(value);
    return true;
}

bool parseDriver(const std::string& text, std::string* out) {
    if (text == "opengl" || text == "2")
        *out = "2";
    else if (text == "software" || text == "3")
        *out = "3";
    else if (text == "burnings" || text == "4")
        *out = "4";
    else
        return false;
    return true;
}

bool validNicName(const std::string& name) {
    if (name.empty() || name.size() > 255) return false;
    for (char c : name)
        if (c == '\n' || c == '\r' || c == '=' || static_cast<unsigned char>(c) < 0x20)
            return false;
    return true;
}

}  // namespace

bool parseConfigFlags(const std::vector<std::string>& args, ConfigRequest* request,
                      std::string* error) {
    auto needValue = [&](std::size_t i, const std::string& flag) -> bool {
        if (i + 1 < args.size()) return true;
        *error = flag + " needs a value";
        return false;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "respawn") {
            request->respawn = true;
        } else if (a == "--list") {
            request->list = true;
        } else if (a == "--help" || a == "-h") {
            request->help = true;
        } else if (a == "--windowed") {
            request->values["fullscreen"] = "1";
        } else if (a == "--fullscreen") {
            request->values["fullscreen"] = "0";
        } else if (a == "--opaque") {
            request->values["transparency"] = "0";
        } else if (a == "--translucent") {
            request->values["transparency"] = "1";
        } else if (a == "--nic") {
            if (!needValue(i, a)) return false;
            const std::string& v = args[++i];
            if (!validNicName(v)) {
                *error = "--nic: '" + v + "' is not an adapter name";
                return false;
            }
            request->values["nic"] = v;
        } else if (a == "--width" || a == "--height") {
            if (!needValue(i, a)) return false;
            std::string v;
            if (!parseSize(args[i + 1], &v)) {
                *error = a + ": '" + args[i + 1] + "' is not a size in pixels (64 to 16384)";
                return false;
            }
            request->values[a.substr(2)] = v;
            ++i;
        } else if (a == "--maxfps") {
            if (!needValue(i, a)) return false;
            const std::string& v = args[++i];
            const bool digits = !v.empty() && v.size() <= 4 &&
                                v.find_first_not_of("0123456789") == std::string::npos;
            if (!digits || (v != "0" && std::to_string(frameLimitFrom(v)) != v)) {
                *error = "--maxfps: '" + v + "' is not 0 or a frame rate from 1 to 1000";
                return false;
            }
            request->values["maxfps"] = v;
        } else if (a == "--filter") {
            if (!needValue(i, a)) return false;
            request->values["filter"] = args[++i];
        } else if (a == "--source") {
            if (!needValue(i, a)) return false;
            const std::string& v = args[++i];
            if (v != sourceWord(sourceFromWord(v))) {
                *error = "--source: '" + v + "' is not one of adapter, sflow, netflow";
                return false;
            }
            request->values["source"] = v;
        } else if (a == "--listen") {
            if (!needValue(i, a)) return false;
            const std::string& v = args[++i];
            ListenAddress listen;
            std::string why;
            if (!parseListenAddress(v, kSflowDefaultPort, &listen, &why)) {
                *error = "--listen: " + why;
                return false;
            }
            request->values["listen"] = v;
        } else if (a == "--driver") {
            if (!needValue(i, a)) return false;
            std::string v;
            if (!parseDriver(args[i + 1], &v)) {
                *error = "--driver: '" + args[i + 1] + "' is not one of opengl, software, burnings";
                return false;
            }
            request->values["videodriver"] = v;
            ++i;
        } else {
            *error = "unknown option '" + a + "'";
            return false;
        }
    }
    if (!request->values.empty()) request->values["firstrun"] = "1";
    return true;
}

int runConfigTool(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    ConfigRequest request;
    std::string error;
    if (!parseConfigFlags(args, &request, &error)) {
        std::fprintf(stderr, "tessel-config: %s\nTry 'tessel-config --help'.\n", error.c_str());
        return 2;
    }
    if (request.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (request.list) {
        std::vector<InterfaceAddress> adapters = listCaptureAdapters(&error);
        if (!error.empty()) {
            std::fprintf(stderr, "tessel-config: cannot list adapters: %s\n", error.c_str());
            return 1;
        }
        for (const InterfaceAddress& a : adapters) {
            // IPv6 addresses go last, so the first three columns stay where scripts read them.
            const std::string v6 = ipv6Text(a);
            std::printf("%-16s %-32s %s%s%s\n", a.name.c_str(), ipv4Text(a, "/").c_str(),
                        a.up ? "up" : "down", v6.empty() ? "" : "   ", v6.c_str());
        }
    }
    if (!request.values.empty()) {
        std::string path = configFilePath();
        // Checked for what it will run with: the value given with it, or the stored one.
        auto given = [&](const char* name) {
            auto v = request.values.find(name);
            return v != request.values.end() ? v->second : readConfigValue(path, name).value_or("");
        };
        const FeedKind source = sourceFromWord(given("source"));
        if (source != FeedKind::None &&
            (request.values.count("source") || request.values.count("listen"))) {
            const std::string problem = listenProblem(source, given("listen"));
            if (!problem.empty()) {
                std::fprintf(stderr, "tessel-config: --listen: %s cannot listen there: %s\n",
                             feedName(source), problem.c_str());
                return 2;
            }
        }
        auto filter = request.values.find("filter");
        if (filter != request.values.end()) {
            const std::string problem = filterProblem(source, given("nic"), filter->second);
            if (!problem.empty()) {
                std::fprintf(stderr, "tessel-config: --filter: '%s' does not compile: %s\n",
                             filter->second.c_str(), problem.c_str());
                return 2;
            }
        }
        if (!writeConfigValues(path, request.values, &error)) {
            std::fprintf(stderr, "tessel-config: %s\n", error.c_str());
            return 1;
        }
        std::printf("Settings written to %s\n", path.c_str());
    }
    // Started without flags (by a user, or by tessel with "respawn"): the settings window.
    if (request.values.empty() && !request.list) return runConfigWindow(request.respawn);
    return 0;
}

}  // namespace tessel
