#include "core/adapter_addresses.h"

namespace tessel {

std::vector<std::string> localAddresses;
std::vector<std::string> netMasks;
std::vector<std::string> gatewayAddresses;
std::vector<LocalIPv6> localIPv6Addresses;
std::string gatewayIPv6Address;

}  // namespace tessel
