#include "nodes/service_names.h"

#include <fstream>

namespace tessel {

std::string lookupServiceName(int port) {
    const std::string serviceKey = std::to_string(port) + "/tcp";
    std::ifstream file("services.txt");
    if (!file) return "unknown";
    std::string line;
    // getline keeps a trailing CR, which belongs to the line.
    while (std::getline(file, line)) {
        if (line.find(serviceKey) == std::string::npos) continue;
        return line.substr(0, line.find('\t'));
    }
    return "unknown";
}

}  // namespace tessel
