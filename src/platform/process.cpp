#include "platform/process.h"

#include <fcntl.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

extern char** environ;

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

bool spawnDetached(const std::string& program, const std::vector<std::string>& args,
                   const std::string& workDir) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    if (posix_spawn_file_actions_init(&actions) != 0) return false;
    if (posix_spawnattr_init(&attr) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return false;
    }
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (!workDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    pid_t pid = 0;
    int rc = posix_spawnp(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return false;
    // Nobody waits for the child; reap it so it does not linger as a zombie.
    std::thread([pid] {
        int status = 0;
        waitpid(pid, &status, 0);
    }).detach();
    return true;
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
