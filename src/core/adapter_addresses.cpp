#include "core/adapter_addresses.h"

namespace tessel {

std::vector<std::string> localAddresses;
std::vector<std::string> netMasks;
std::vector<std::string> gatewayAddresses;

}  // namespace tessel
