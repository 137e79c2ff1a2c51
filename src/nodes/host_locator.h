#pragma once
#include <functional>
#include <memory>
#include <string>

#include "core/host_location.h"

namespace tessel {

// Where an address belongs. Called on the resolver thread, once per foreign host.
using LocationLookup = std::function<HostLocation(const std::string& address)>;

// Debian's location database (package libloc-database), read through libloc.
inline constexpr const char* kLocationDatabase = "/usr/share/libloc-location/location.db";

// The wording of an address outside the public Internet ("private network", "link-local",
// "loopback", "documentation range", ...), decided by the address alone; empty for a public
// address and for a text that is no address. IPv4-mapped IPv6 addresses are judged as IPv4.
std::string specialRangeWording(const std::string& address);

// The look-up of country and network. A MaxMind-format file (.mmdb: GeoLite2 Country, ASN or
// City, DB-IP lite), when one is configured and can be read, is asked first; the libloc
// database fills in what it lacks (an AS for a country-only file, say). Owned by the run
// (runTessel), made before the resolver thread starts and destroyed after it stops. locate() is
// used by one thread at a time.
class cHostLocator {
  public:
    // `mmdbPath`: the configured .mmdb, empty for none. `locationDb`: the libloc database. A
    // configured file that cannot be opened leaves one line in warning(); the libloc database
    // is used alone then.
    explicit cHostLocator(const std::string& mmdbPath,
                          const std::string& locationDb = kLocationDatabase);
    ~cHostLocator();
    cHostLocator(const cHostLocator&) = delete;
    cHostLocator& operator=(const cHostLocator&) = delete;

    // The special range's wording, or what the data says; noData when no data could be read.
    HostLocation locate(const std::string& address) const;
    // Empty, or: "geoip: cannot read FILE (reason); using the libloc database".
    const std::string& warning() const { return warning_; }
    // Which data is in use, for the start-up trace: "location data: FILE[, FILE]" or
    // "location data: none (install libloc-database)".
    std::string describe() const;

  private:
    struct Sources;
    std::unique_ptr<Sources> sources_;
    std::string warning_;
};

}  // namespace tessel
