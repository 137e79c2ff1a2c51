#include "support/mmdb_writer.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace tessel::test {

MmdbValue MmdbValue::textOf(const std::string& text) {
    MmdbValue v;
    v.kind = Text;
    v.text = text;
    return v;
}

MmdbValue MmdbValue::numberOf(Kind kind, std::uint64_t number) {
    MmdbValue v;
    v.kind = kind;
    v.number = number;
    return v;
}

MmdbValue MmdbValue::boolOf(bool value) {
    MmdbValue v;
    v.kind = Boolean;
    v.number = value ? 1 : 0;
    return v;
}

MmdbValue MmdbValue::mapOf(std::vector<std::pair<std::string, MmdbValue>> entries) {
    MmdbValue v;
    v.kind = Map;
    v.entries = std::move(entries);
    return v;
}

namespace {

using Bytes = std::vector<unsigned char>;

// The control byte(s): type in the top three bits (extended types through a second byte), then
// the size, with 29, 30 and 31 marking one, two and three further size bytes.
void control(Bytes& out, int type, std::size_t size) {
    unsigned char first = static_cast<unsigned char>((type <= 7 ? type : 0) << 5);
    Bytes sizeBytes;
    if (size < 29) {
        first |= static_cast<unsigned char>(size);
    } else if (size < 29 + 256) {
        first |= 29;
        sizeBytes = {static_cast<unsigned char>(size - 29)};
    } else {
        const std::size_t rest = size - 285;
        first |= 30;
        sizeBytes = {static_cast<unsigned char>(rest >> 8), static_cast<unsigned char>(rest)};
    }
    out.push_back(first);
    if (type > 7) out.push_back(static_cast<unsigned char>(type - 7));
    out.insert(out.end(), sizeBytes.begin(), sizeBytes.end());
}

void encodeText(Bytes& out, const std::string& text) {
    control(out, 2, text.size());
    out.insert(out.end(), text.begin(), text.end());
}

void encodeUnsigned(Bytes& out, int type, std::uint64_t number) {
    Bytes digits;
    for (; number; number >>= 8) digits.insert(digits.begin(), static_cast<unsigned char>(number));
    control(out, type, digits.size());
    out.insert(out.end(), digits.begin(), digits.end());
}

void encode(Bytes& out, const MmdbValue& v) {
    switch (v.kind) {
        case MmdbValue::Text:
            encodeText(out, v.text);
            break;
        case MmdbValue::Uint16:
            encodeUnsigned(out, 5, v.number);
            break;
        case MmdbValue::Uint32:
            encodeUnsigned(out, 6, v.number);
            break;
        case MmdbValue::Uint64:
            encodeUnsigned(out, 9, v.number);
            break;
        case MmdbValue::Boolean:
            control(out, 14, static_cast<std::size_t>(v.number));
            break;
        case MmdbValue::Array:
            control(out, 11, v.entries.size());
            for (const auto& entry : v.entries) encode(out, entry.second);
            break;
        case MmdbValue::Map:
            control(out, 7, v.entries.size());
            for (const auto& [key, value] : v.entries) {
                encodeText(out, key);
                encode(out, value);
            }
            break;
    }
}

std::vector<int> networkBits(const std::string& network) {
    const std::size_t slash = network.find('/');
    const std::string address = network.substr(0, slash);
    const int length = slash == std::string::npos ? -1 : std::atoi(network.c_str() + slash + 1);
    unsigned char bytes[16] = {};
    int bitCount = 128;
    if (inet_pton(AF_INET, address.c_str(), bytes + 12) == 1) {
        bitCount = 96 + (length < 0 ? 32 : length);
    } else if (inet_pton(AF_INET6, address.c_str(), bytes) == 1) {
        bitCount = length < 0 ? 128 : length;
    } else {
        throw std::invalid_argument("not a network: " + network);
    }
    std::vector<int> bits;
    for (int i = 0; i < bitCount; ++i) bits.push_back((bytes[i / 8] >> (7 - i % 8)) & 1);
    return bits;
}

}  // namespace

void MmdbWriter::add(const std::string& network, const MmdbValue& record) {
    networks_.emplace_back(networkBits(network), record);
}

std::vector<unsigned char> MmdbWriter::bytes() const {
    // The tree: each node's two records hold a node index (>= 0), no data (-1) or a record
    // (-2 - its index in networks_).
    std::vector<std::pair<long, long>> nodes(1, {-1, -1});
    for (std::size_t n = 0; n < networks_.size(); ++n) {
        const std::vector<int>& bits = networks_[n].first;
        std::size_t at = 0;
        for (std::size_t i = 0; i < bits.size(); ++i) {
            auto slot = [&]() -> long& { return bits[i] ? nodes[at].second : nodes[at].first; };
            if (i + 1 == bits.size()) {
                slot() = -2 - static_cast<long>(n);
            } else {
                if (slot() < 0) {
                    slot() = static_cast<long>(nodes.size());
                    nodes.push_back({-1, -1});  // may move the nodes: the slot is found again
                }
                at = static_cast<std::size_t>(slot());
            }
        }
    }
    Bytes data;
    std::vector<std::size_t> offsets;
    for (const auto& network : networks_) {
        offsets.push_back(data.size());
        encode(data, network.second);
    }
    const std::size_t nodeCount = nodes.size();
    auto recordValue = [&](long record) -> std::size_t {
        if (record >= 0) return static_cast<std::size_t>(record);
        if (record == -1) return nodeCount;
        return nodeCount + 16 + offsets[static_cast<std::size_t>(-2 - record)];
    };
    Bytes out;
    auto put24 = [&out](std::size_t value) {
        out.push_back(static_cast<unsigned char>(value >> 16));
        out.push_back(static_cast<unsigned char>(value >> 8));
        out.push_back(static_cast<unsigned char>(value));
    };
    for (const auto& node : nodes) {
        put24(recordValue(node.first));
        put24(recordValue(node.second));
    }
    out.insert(out.end(), 16, 0);  // the data section separator
    out.insert(out.end(), data.begin(), data.end());
    const std::string marker = "\xAB\xCD\xEFMaxMind.com";
    out.insert(out.end(), marker.begin(), marker.end());
    MmdbValue metadata = MmdbValue::mapOf({
        {"node_count", MmdbValue::uint32Of(static_cast<std::uint32_t>(nodeCount))},
        {"record_size", MmdbValue::numberOf(MmdbValue::Uint16, 24)},
        {"ip_version", MmdbValue::numberOf(MmdbValue::Uint16, 6)},
        {"database_type", MmdbValue::textOf(databaseType_)},
        {"languages",
         [] {
             MmdbValue languages;
             languages.kind = MmdbValue::Array;
             languages.entries = {{"", MmdbValue::textOf("en")}};
             return languages;
         }()},
        {"binary_format_major_version", MmdbValue::numberOf(MmdbValue::Uint16, 2)},
        {"binary_format_minor_version", MmdbValue::numberOf(MmdbValue::Uint16, 0)},
        {"build_epoch", MmdbValue::numberOf(MmdbValue::Uint64, 1700000000)},
        {"description", MmdbValue::mapOf({{"en", MmdbValue::textOf("test data")}})},
    });
    encode(out, metadata);
    return out;
}

bool MmdbWriter::write(const std::string& path) const {
    const Bytes all = bytes();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool ok = std::fwrite(all.data(), 1, all.size(), file) == all.size();
    return std::fclose(file) == 0 && ok;
}

MmdbValue countryRecord(const std::string& code, const std::string& englishName) {
    return MmdbValue::mapOf(
        {{"country", MmdbValue::mapOf({
                         {"iso_code", MmdbValue::textOf(code)},
                         {"names", MmdbValue::mapOf({{"en", MmdbValue::textOf(englishName)}})},
                     })}});
}

MmdbValue asnRecord(std::uint32_t number, const std::string& organisation) {
    return MmdbValue::mapOf({
        {"autonomous_system_number", MmdbValue::uint32Of(number)},
        {"autonomous_system_organization", MmdbValue::textOf(organisation)},
    });
}

}  // namespace tessel::test
