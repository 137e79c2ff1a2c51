#include "platform/config_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

namespace tessel {

const char* const kConfigSection = "Software\\Ashgrove\\Tessel";

namespace {

std::string trim(const std::string& s) {
    std::size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return std::string();
    std::size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

bool isComment(const std::string& t) { return !t.empty() && (t[0] == '#' || t[0] == ';'); }

// Section name of a "[...]" line, or nullopt when the line is no header.
std::optional<std::string> sectionOf(const std::string& t) {
    if (t.size() >= 2 && t.front() == '[' && t.back() == ']')
        return trim(t.substr(1, t.size() - 2));
    return std::nullopt;
}

bool splitAssignment(const std::string& t, std::string* name, std::string* value) {
    std::size_t eq = t.find('=');
    if (eq == std::string::npos) return false;
    *name = trim(t.substr(0, eq));
    *value = trim(t.substr(eq + 1));
    return !name->empty();
}

std::vector<std::string> readLines(const std::string& path, bool* exists) {
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    *exists = static_cast<bool>(in);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool makeParents(const std::string& path) {
    for (std::size_t i = 1; i < path.size(); ++i) {
        if (path[i] != '/') continue;
        std::string dir = path.substr(0, i);
        if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    return true;
}

}  // namespace

std::string xdgBaseFolder(const char* variable, const char* homeRelative) {
    const char* xdg = std::getenv(variable);
    if (xdg && *xdg) return xdg;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/" + homeRelative;
}

std::string configFilePath() {
    const char* explicitPath = std::getenv("TESSEL_CONFIG");
    if (explicitPath && *explicitPath) return explicitPath;
    return xdgBaseFolder("XDG_CONFIG_HOME", ".config") + "/Ashgrove/Tessel.conf";
}

std::optional<std::string> readConfigValue(const std::string& path, const std::string& name) {
    bool exists = false;
    std::vector<std::string> lines = readLines(path, &exists);
    std::optional<std::string> result;
    bool inSection = false;
    for (const std::string& raw : lines) {
        std::string t = trim(raw);
        if (t.empty() || isComment(t)) continue;
        if (auto section = sectionOf(t)) {
            inSection = (*section == kConfigSection);
            continue;
        }
        std::string n, v;
        if (inSection && splitAssignment(t, &n, &v) && n == name) result = v;
    }
    return result;
}

bool writeConfigValues(const std::string& path, const std::map<std::string, std::string>& values,
                       std::string* error) {
    bool exists = false;
    std::vector<std::string> lines = readLines(path, &exists);
    std::vector<std::string> out;
    std::set<std::string> written;
    bool inSection = false, sawSection = false;
    std::size_t sectionEnd = 0;  // where missing names go: after the section's last assignment

    for (const std::string& raw : lines) {
        std::string t = trim(raw);
        if (auto section = sectionOf(t)) {
            inSection = (*section == kConfigSection);
            if (inSection) {
                sawSection = true;
                out.push_back(raw);
                sectionEnd = out.size();
                continue;
            }
        }
        std::string n, v;
        if (inSection && !isComment(t) && splitAssignment(t, &n, &v) && values.count(n)) {
            // Every duplicate is set, so whichever a reader takes as the last one agrees.
            out.push_back(n + "=" + values.at(n));
            written.insert(n);
            sectionEnd = out.size();
            continue;
        }
        out.push_back(raw);
        if (inSection && !t.empty()) sectionEnd = out.size();
    }

    std::vector<std::string> missing;
    for (const auto& kv : values)
        if (!written.count(kv.first)) missing.push_back(kv.first + "=" + kv.second);
    if (!sawSection) {
        if (!out.empty() && !trim(out.back()).empty()) out.push_back("");
        out.push_back(std::string("[") + kConfigSection + "]");
        sectionEnd = out.size();
    }
    out.insert(out.begin() + static_cast<std::ptrdiff_t>(sectionEnd), missing.begin(),
               missing.end());

    if (!makeParents(path)) {
        if (error) *error = "cannot create the folder of " + path + ": " + std::strerror(errno);
        return false;
    }
    std::string temp = path + ".tmp." + std::to_string(getpid());
    {
        std::ofstream o(temp, std::ios::binary | std::ios::trunc);
        if (!o) {
            if (error) *error = "cannot write " + temp + ": " + std::strerror(errno);
            return false;
        }
        for (const std::string& l : out) o << l << '\n';
        o.flush();
        if (!o) {
            if (error) *error = "cannot write " + temp;
            std::remove(temp.c_str());
            return false;
        }
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        if (error) *error = "cannot replace " + path + ": " + std::strerror(errno);
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace tessel
