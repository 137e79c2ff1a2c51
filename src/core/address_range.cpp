#include "core/address_range.h"

#include <arpa/inet.h>

#include <cstring>

#include "core/text_number.h"

namespace tessel {

namespace {

bool samePrefix(const std::uint8_t* a, const std::uint8_t* b, int bits) {
    const int whole = bits / 8;
    if (std::memcmp(a, b, std::size_t(whole)) != 0) return false;
    const int rest = bits % 8;
    if (rest == 0) return true;
    const std::uint8_t mask = std::uint8_t(0xFF << (8 - rest));
    return (a[whole] & mask) == (b[whole] & mask);
}

}  // namespace

bool parseAddressRange(const std::string& text, AddressRange* out) {
    AddressRange r;
    const std::size_t slash = text.find('/');
    const std::string address = text.substr(0, slash);
    if (inet_pton(AF_INET, address.c_str(), r.bytes) == 1) {
        r.ipVersion = 4;
        r.prefixLength = 32;
    } else if (inet_pton(AF_INET6, address.c_str(), r.bytes) == 1) {
        r.ipVersion = 6;
        r.prefixLength = 128;
    } else {
        return false;
    }
    if (slash != std::string::npos) {
        const std::string bits = text.substr(slash + 1);
        if (bits.empty() || bits.size() > 3 || bits.find_first_not_of("0123456789") != bits.npos)
            return false;
        const int n = atoiText(bits.c_str());
        if (n > r.prefixLength) return false;
        r.prefixLength = n;
    }
    *out = r;
    return true;
}

bool parseAddressRanges(const std::string& text, std::vector<AddressRange>* out,
                        std::string* error) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string one = text.substr(start, comma == text.npos ? text.npos : comma - start);
        AddressRange r;
        if (!parseAddressRange(one, &r)) {
            *error = "'" + one + "' is not an address range: give CIDR[,CIDR...], e.g. 10.0.0.0/8";
            return false;
        }
        out->push_back(r);
        if (comma == text.npos) return true;
        start = comma + 1;
    }
}

bool rangeHolds(const AddressRange& range, const std::string& address) {
    std::uint8_t bytes[16] = {};
    const int family = range.ipVersion == 4 ? AF_INET : AF_INET6;
    if (inet_pton(family, address.c_str(), bytes) != 1) return false;
    return samePrefix(bytes, range.bytes, range.prefixLength);
}

std::vector<AddressRange> privateRanges() {
    std::vector<AddressRange> ranges;
    for (const char* text : {"10.0.0.0/8", "172.16.0.0/12", "192.168.0.0/16", "169.254.0.0/16",
                             "fc00::/7", "fe80::/10"}) {
        AddressRange r;
        parseAddressRange(text, &r);
        ranges.push_back(r);
    }
    return ranges;
}

}  // namespace tessel
