#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace tessel::test {

// A value of a MaxMind DB data section: a text, an unsigned number, a boolean, a map or an array.
struct MmdbValue {
    enum Kind { Text, Uint16, Uint32, Uint64, Boolean, Map, Array } kind = Map;
    std::string text;
    std::uint64_t number = 0;
    std::vector<std::pair<std::string, MmdbValue>> entries;  // of a map; an array's keys are unused

    static MmdbValue textOf(const std::string& text);
    static MmdbValue numberOf(Kind kind, std::uint64_t number);
    static MmdbValue uint32Of(std::uint32_t number) { return numberOf(Uint32, number); }
    static MmdbValue boolOf(bool value);
    static MmdbValue mapOf(std::vector<std::pair<std::string, MmdbValue>> entries);
};

// A MaxMind DB (binary format 2.0) of IPv6 search tree with 24-bit records; IPv4 networks go
// under ::/96, as the format has them. Networks must not overlap.
class MmdbWriter {
  public:
    explicit MmdbWriter(std::string databaseType) : databaseType_(std::move(databaseType)) {}
    // "192.0.2.0/24" or "2001:db8::/32".
    void add(const std::string& network, const MmdbValue& record);
    std::vector<unsigned char> bytes() const;
    // False when the file cannot be written.
    bool write(const std::string& path) const;

  private:
    std::string databaseType_;
    std::vector<std::pair<std::vector<int>, MmdbValue>> networks_;  // bits, record
};

// GeoLite2-style records.
MmdbValue countryRecord(const std::string& code, const std::string& englishName);
MmdbValue asnRecord(std::uint32_t number, const std::string& organisation);

}  // namespace tessel::test
