#include "nodes/host_locator.h"

#include <arpa/inet.h>
#include <maxminddb.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/address_range.h"

extern "C" {
#include <libloc/as.h>
#include <libloc/country.h>
#include <libloc/database.h>
#include <libloc/libloc.h>
#include <libloc/network.h>
}

namespace tessel {

namespace {

struct SpecialRange {
    AddressRange range;
    const char* wording;
};

const std::vector<SpecialRange>& specialRanges() {
    static const std::vector<SpecialRange> table = [] {
        const std::pair<const char*, const char*> written[] = {
            {"10.0.0.0/8", "private network"},
            {"172.16.0.0/12", "private network"},
            {"192.168.0.0/16", "private network"},
            {"100.64.0.0/10", "carrier-grade NAT"},
            {"127.0.0.0/8", "loopback"},
            {"169.254.0.0/16", "link-local"},
            {"192.0.2.0/24", "documentation range"},
            {"198.51.100.0/24", "documentation range"},
            {"203.0.113.0/24", "documentation range"},
            {"198.18.0.0/15", "benchmarking range"},
            {"224.0.0.0/4", "multicast"},
            {"0.0.0.0/8", "this network"},
            {"255.255.255.255/32", "broadcast"},
            {"240.0.0.0/4", "reserved"},
            {"::/128", "unspecified"},
            {"::1/128", "loopback"},
            {"fe80::/10", "link-local"},
            {"fc00::/7", "unique local"},
            {"ff00::/8", "multicast"},
            {"2001:db8::/32", "documentation range"},
            {"3fff::/20", "documentation range"},
        };
        std::vector<SpecialRange> out;
        for (const auto& [text, wording] : written) {
            SpecialRange special{AddressRange{}, wording};
            if (parseAddressRange(text, &special.range)) out.push_back(special);
        }
        return out;
    }();
    return table;
}

// "::ffff:192.0.2.1" as "192.0.2.1"; any other text as it is.
std::string unmappedAddress(const std::string& address) {
    in6_addr v6;
    if (inet_pton(AF_INET6, address.c_str(), &v6) != 1 || !IN6_IS_ADDR_V4MAPPED(&v6))
        return address;
    char text[INET_ADDRSTRLEN];
    if (!inet_ntop(AF_INET, &v6.s6_addr[12], text, sizeof text)) return address;
    return text;
}

bool isAddressText(const std::string& address) {
    unsigned char bytes[sizeof(in6_addr)];
    return inet_pton(AF_INET, address.c_str(), bytes) == 1 ||
           inet_pton(AF_INET6, address.c_str(), bytes) == 1;
}

// One value of an .mmdb record by its path; false when the record has none of that type.
bool mmdbValue(MMDB_entry_s& entry, std::initializer_list<const char*> path, int type,
               MMDB_entry_data_s* out) {
    std::vector<const char*> keys(path);
    keys.push_back(nullptr);
    return MMDB_aget_value(&entry, out, keys.data()) == MMDB_SUCCESS && out->has_data &&
           static_cast<int>(out->type) == type;
}

std::string mmdbText(MMDB_entry_s& entry, std::initializer_list<const char*> path) {
    MMDB_entry_data_s data;
    if (!mmdbValue(entry, path, MMDB_DATA_TYPE_UTF8_STRING, &data)) return std::string();
    return std::string(data.utf8_string, data.data_size);
}

std::uint32_t mmdbNumber(MMDB_entry_s& entry, std::initializer_list<const char*> path) {
    MMDB_entry_data_s data;
    if (mmdbValue(entry, path, MMDB_DATA_TYPE_UINT32, &data)) return data.uint32;
    if (mmdbValue(entry, path, MMDB_DATA_TYPE_UINT16, &data)) return data.uint16;
    if (mmdbValue(entry, path, MMDB_DATA_TYPE_UINT64, &data))
        return static_cast<std::uint32_t>(data.uint64);
    return 0;
}

}  // namespace

std::string specialRangeWording(const std::string& address) {
    const std::string plain = unmappedAddress(address);
    for (const SpecialRange& special : specialRanges())
        if (rangeHolds(special.range, plain)) return special.wording;
    return std::string();
}

struct cHostLocator::Sources {
    std::string mmdbPath, locationPath;
    MMDB_s mmdb{};
    bool haveMmdb = false;
    loc_ctx* context = nullptr;
    loc_database* database = nullptr;
    std::FILE* databaseFile = nullptr;

    ~Sources() {
        if (haveMmdb) MMDB_close(&mmdb);
        if (database) loc_database_unref(database);
        if (context) loc_unref(context);
        if (databaseFile) std::fclose(databaseFile);
    }

    bool openLibloc(const std::string& path) {
        databaseFile = std::fopen(path.c_str(), "r");
        if (!databaseFile) return false;
        if (loc_new(&context) != 0 || loc_database_new(context, &database, databaseFile) != 0) {
            database = nullptr;
            return false;
        }
        locationPath = path;
        return true;
    }

    // Empty on success, else why the file cannot be used.
    std::string openMmdb(const std::string& path) {
        // libmaxminddb's own text for a file that cannot be opened does not say why.
        std::FILE* probe = std::fopen(path.c_str(), "rb");
        if (!probe) return std::strerror(errno);
        std::fclose(probe);
        const int status = MMDB_open(path.c_str(), MMDB_MODE_MMAP, &mmdb);
        if (status != MMDB_SUCCESS) return MMDB_strerror(status);
        haveMmdb = true;
        mmdbPath = path;
        return std::string();
    }

    void fromMmdb(const std::string& address, HostLocation* out) {
        int addressError = 0, mmdbError = MMDB_SUCCESS;
        MMDB_lookup_result_s found =
            MMDB_lookup_string(&mmdb, address.c_str(), &addressError, &mmdbError);
        if (addressError != 0 || mmdbError != MMDB_SUCCESS || !found.found_entry) return;
        MMDB_entry_s& entry = found.entry;
        out->countryCode = mmdbText(entry, {"country", "iso_code"});
        out->countryName = mmdbText(entry, {"country", "names", "en"});
        // Anycast and satellite networks carry only where they are registered.
        if (out->countryCode.empty()) {
            out->countryCode = mmdbText(entry, {"registered_country", "iso_code"});
            out->countryName = mmdbText(entry, {"registered_country", "names", "en"});
        }
        out->asNumber = mmdbNumber(entry, {"autonomous_system_number"});
        out->asName = mmdbText(entry, {"autonomous_system_organization"});
        MMDB_entry_data_s flag;
        if (mmdbValue(entry, {"traits", "is_anycast"}, MMDB_DATA_TYPE_BOOLEAN, &flag))
            out->anycast = flag.boolean;
    }

    std::string countryName(const std::string& code) {
        loc_country* country = nullptr;
        if (loc_database_get_country(database, &country, code.c_str()) != 0 || !country)
            return std::string();
        const char* name = loc_country_get_name(country);
        std::string out = name ? name : "";
        loc_country_unref(country);
        return out;
    }

    // Fills what `out` lacks.
    void fromLibloc(const std::string& address, HostLocation* out) {
        if (!out->countryCode.empty() && out->asNumber != 0) {
            if (out->countryName.empty()) out->countryName = countryName(out->countryCode);
            return;
        }
        loc_network* network = nullptr;
        if (loc_database_lookup_from_string(database, address.c_str(), &network) != 0 || !network)
            return;
        if (out->countryCode.empty()) {
            const char* code = loc_network_get_country_code(network);
            out->countryCode = code ? code : "";
            out->countryName.clear();
        }
        if (out->countryName.empty() && !out->countryCode.empty())
            out->countryName = countryName(out->countryCode);
        if (out->asNumber == 0) {
            out->asNumber = loc_network_get_asn(network);
            out->asName.clear();
            loc_as* as = nullptr;
            if (out->asNumber != 0 && loc_database_get_as(database, &as, out->asNumber) == 0 &&
                as) {
                const char* name = loc_as_get_name(as);
                out->asName = name ? name : "";
                loc_as_unref(as);
            }
        }
        if (loc_network_has_flag(network, LOC_NETWORK_FLAG_ANYCAST)) out->anycast = true;
        loc_network_unref(network);
    }
};

cHostLocator::cHostLocator(const std::string& mmdbPath, const std::string& locationDb)
    : sources_(std::make_unique<Sources>()) {
    const bool libloc = sources_->openLibloc(locationDb);
    if (mmdbPath.empty()) return;
    const std::string why = sources_->openMmdb(mmdbPath);
    if (!why.empty())
        warning_ = "geoip: cannot read " + mmdbPath + " (" + why + "); " +
                   (libloc ? "using the libloc database" : "no location data");
}

cHostLocator::~cHostLocator() = default;

HostLocation cHostLocator::locate(const std::string& address) const {
    HostLocation out;
    out.rangeWording = specialRangeWording(address);
    if (!out.rangeWording.empty() || !isAddressText(address)) return out;
    if (!sources_->haveMmdb && !sources_->database) {
        out.noData = true;
        return out;
    }
    const std::string plain = unmappedAddress(address);
    if (sources_->haveMmdb) sources_->fromMmdb(plain, &out);
    if (sources_->database) sources_->fromLibloc(plain, &out);
    return out;
}

std::string cHostLocator::describe() const {
    std::string files;
    if (sources_->haveMmdb) files = sources_->mmdbPath;
    if (sources_->database) files += (files.empty() ? "" : ", ") + sources_->locationPath;
    return "location data: " + (files.empty() ? "none (install libloc-database)" : files);
}

}  // namespace tessel
