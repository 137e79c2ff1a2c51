#include "platform/directory.h"

#include <dirent.h>
#include <unistd.h>

#include <cstring>

namespace tessel {

bool listDirectory(const std::string& dir, std::vector<std::string>* names) {
    DIR* d = opendir(dir.c_str());
    if (!d) return false;
    while (dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        names->push_back(e->d_name);
    }
    closedir(d);
    return true;
}

void emptyDirectory(const std::string& dir) {
    std::vector<std::string> names;
    if (!listDirectory(dir, &names)) return;
    for (const std::string& n : names) unlink((dir + "/" + n).c_str());
}

}  // namespace tessel
