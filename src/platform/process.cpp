#include "platform/process.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace tessel {

void nameThisThread(const char* name) {
    char cut[16];
    std::snprintf(cut, sizeof cut, "%s", name);
    pthread_setname_np(pthread_self(), cut);
}

std::string programDirectory() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0) return ".";
    path[n] = '\0';
    std::string full(path);
    std::size_t slash = full.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return full.substr(0, slash);
}

namespace {

// The file `program` names: a path as it is, a bare name looked up in $PATH. Empty when there is
// no such executable.
std::string findExecutable(const std::string& program) {
    if (program.empty()) return std::string();
    if (program.find('/') != std::string::npos)
        return access(program.c_str(), X_OK) == 0 ? program : std::string();
    const char* path = std::getenv("PATH");
    const std::string dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t from = 0;
    while (from <= dirs.size()) {
        std::size_t to = dirs.find(':', from);
        if (to == std::string::npos) to = dirs.size();
        const std::string dir = to > from ? dirs.substr(from, to - from) : ".";
        const std::string candidate = dir + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        from = to + 1;
    }
    return std::string();
}

}  // namespace

bool spawnDetached(const std::string& program, const std::vector<std::string>& args,
                   const std::string& workDir) {
    const std::string file = findExecutable(program);
    if (file.empty()) return false;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const char* dir = workDir.empty() ? nullptr : workDir.c_str();
    if (dir && access(dir, X_OK) != 0) return false;

    // Two forks: the middle process ends at once, so the program becomes init's child and no
    // thread of ours has to wait for it. Between fork and exec only async-signal-safe calls.
    const pid_t middle = fork();
    if (middle < 0) return false;
    if (middle == 0) {
        const pid_t child = fork();
        if (child != 0) _exit(child < 0 ? 1 : 0);
        setsid();
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
        }
        if (dir && chdir(dir) != 0) _exit(127);
        execv(file.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string configToolPath() {
    const char* overridden = std::getenv("TESSEL_CONFIG_TOOL");
    if (overridden && *overridden) return overridden;
    return programDirectory() + "/tessel-config";
}

bool startConfigTool() { return spawnDetached(configToolPath(), {"respawn"}); }

void openWithDesktop(const std::string& file) { spawnDetached("xdg-open", {file}); }

void endProcess(int status) {
    std::fflush(nullptr);
    _exit(status);
}

}  // namespace tessel
