#pragma once
#include <map>
#include <string>
#include <vector>

namespace tessel {

// tessel-config: chooses the adapter and the display settings and writes them to the settings
// store. With flags it works without a window (scripts, tests); "respawn" is how tessel starts it.
int runConfigTool(int argc, char** argv);

// Parses the flags into store values (firstrun=1 included when any value is set). Gives false with
// a message naming the bad flag or value; `list`, `help` and `respawn` report those words.
struct ConfigRequest {
    std::map<std::string, std::string> values;
    bool list = false;
    bool help = false;
    bool respawn = false;
};
bool parseConfigFlags(const std::vector<std::string>& args, ConfigRequest* request,
                      std::string* error);

}  // namespace tessel
