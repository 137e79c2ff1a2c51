#include "platform/registry.h"

#include "platform/config_file.h"

namespace tessel {

cRegistry::cRegistry() : keyPath(kConfigSection) {}
cRegistry::~cRegistry() = default;

std::string cRegistry::readValue(std::string name, std::string defaultValue) {
    std::optional<std::string> value = readConfigValue(configFilePath(), name);
    if (!value) return defaultValue;
    return *value;
}

}  // namespace tessel
