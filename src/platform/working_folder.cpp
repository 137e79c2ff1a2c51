#include "platform/working_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/config_file.h"
#include "platform/process.h"

namespace tessel {

namespace fs = std::filesystem;

std::string installedDataFolder(const std::string& programDir) {
    std::error_code ec;
    if (fs::exists(programDir + "/res.dat", ec)) return "";
    std::string data = programDir + "/../share/tessel";
    if (!fs::exists(data + "/res.dat", ec)) return "";
    return fs::weakly_canonical(data, ec).string();
}

std::string userWorkingFolder() {
    return xdgBaseFolder("XDG_DATA_HOME", ".local/share") + "/Ashgrove/Tessel";
}

std::string enterUserWorkingFolder() {
    std::string data = installedDataFolder(programDirectory());
    if (data.empty()) return "";
    std::string work = userWorkingFolder();
    std::error_code ec;
    fs::create_directories(work + "/intel", ec);
    for (const char* name : {"res.dat", "splash.bmp", "services.txt", "readme.txt", "demo.pcap"}) {
        fs::path from = fs::path(data) / name, to = fs::path(work) / name;
        if (!fs::exists(from, ec)) continue;
        // Refresh copies that an upgrade made stale; leave the user's own edits of newer files.
        bool stale =
            !fs::exists(to, ec) || fs::last_write_time(to, ec) < fs::last_write_time(from, ec);
        if (stale) fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    }
    if (chdir(work.c_str()) != 0) return "";
    return work;
}

}  // namespace tessel
