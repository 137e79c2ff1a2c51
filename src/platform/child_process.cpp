#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

extern char** environ;

namespace tessel {

namespace {

void closeFd(int* fd) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
}

int statusOf(int raw) {
    if (WIFEXITED(raw)) return WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
    return -1;
}

}  // namespace

bool startChild(const std::string& program, const std::vector<std::string>& args, bool extraPipe,
                ChildProcess* child) {
    int out[2] = {-1, -1}, err[2] = {-1, -1}, extra[2] = {-1, -1};
    auto closeAll = [&] {
        for (int* p : {out, err, extra}) {
            closeFd(&p[0]);
            closeFd(&p[1]);
        }
    };
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0 ||
        (extraPipe && ::pipe2(extra, O_CLOEXEC) != 0)) {
        closeAll();
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    // dup2 clears close-on-exec on the copies the child keeps.
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    if (extraPipe) posix_spawn_file_actions_adddup2(&actions, extra[1], 3);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    closeFd(&out[1]);
    closeFd(&err[1]);
    closeFd(&extra[1]);
    if (rc != 0) {
        closeAll();
        return false;
    }
    child->pid = pid;
    child->out = out[0];
    child->err = err[0];
    child->extra = extra[0];
    return true;
}

int waitChild(ChildProcess* child, int timeoutMs) {
    if (child->pid < 0) return -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int raw = 0;
        const pid_t r = ::waitpid(child->pid, &raw, WNOHANG);
        if (r == child->pid) {
            child->pid = -1;
            return statusOf(raw);
        }
        if (r < 0 && errno != EINTR) return -1;
        if (std::chrono::steady_clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::string readChildErrors(const ChildProcess& child, std::size_t limit) {
    std::string text;
    if (child.err < 0) return text;
    char buffer[512];
    while (text.size() < limit) {
        struct pollfd p {};
        p.fd = child.err;
        p.events = POLLIN;
        if (::poll(&p, 1, 0) <= 0) break;
        const ssize_t n = ::read(child.err, buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, std::size_t(n));
    }
    if (text.size() > limit) text.resize(limit);
    return text;
}

void endChild(ChildProcess* child, int graceMs) {
    if (child->pid > 0) {
        ::kill(child->pid, SIGTERM);
        if (waitChild(child, graceMs) < 0 && child->pid > 0) {
            ::kill(child->pid, SIGKILL);
            waitChild(child, graceMs);
        }
    }
    closeFd(&child->out);
    closeFd(&child->err);
    closeFd(&child->extra);
}

}  // namespace tessel
