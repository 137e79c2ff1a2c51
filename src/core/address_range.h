#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace tessel {

// An IPv4 or IPv6 prefix: "10.0.0.0/8", "fc00::/7"; an address alone is a prefix of its full
// length.
struct AddressRange {
    int ipVersion = 4;
    std::uint8_t bytes[16] = {};
    int prefixLength = 32;
};

// Reads one range. False when it is not one.
bool parseAddressRange(const std::string& text, AddressRange* out);
// Reads "CIDR[,CIDR...]". False with *error naming the first that is not a range.
bool parseAddressRanges(const std::string& text, std::vector<AddressRange>* out,
                        std::string* error);
// Whether the address written as `address` (dotted IPv4 or IPv6 text) lies in `range`.
bool rangeHolds(const AddressRange& range, const std::string& address);
// The private ranges: RFC 1918, IPv4 link-local, IPv6 unique local and link-local.
std::vector<AddressRange> privateRanges();

}  // namespace tessel
