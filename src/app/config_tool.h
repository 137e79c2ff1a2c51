#pragma once
#include <map>
#include <string>
#include <vector>

namespace tessel {

// tessel-config: chooses the adapter and the display settings and writes them to the settings
// store. With flags it works without a window (scripts, tests); "respawn" is how tessel starts it.
int runConfigTool(int argc, char** argv);

// Parses the flags into store values (firstrun=1 included when any value is set). Gives false with
// a message naming the bad flag or value; `listRequested`/`helpRequested` report those flags.
struct ConfigRequest {
    std::map<std::string, std::string> values;
    bool list = false;
    bool help = false;
    bool respawn = false;
};
bool parseConfigFlags(const std::vector<std::string>& args, ConfigRequest* request,
                      std::string* error);

// One line per capture device that can carry IPv4: name, address/mask (or "no IPv4 address"),
// "up" or "down". Pseudo-devices (dbus, bluetooth, nflog, ...) are left out.
struct CaptureAdapter {
    std::string name;
    std::string address;
    std::string netmask;
    bool up = false;
};
std::vector<CaptureAdapter> listCaptureAdapters(std::string* error);

}  // namespace tessel
