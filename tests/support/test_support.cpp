#include "support/test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace tessel::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tessel-test-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    dir = buf.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir, ec);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

bool fileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string runDir() { return TESSEL_RUN_DIR; }
std::string sourceDir() { return TESSEL_SOURCE_DIR; }
bool isRoot() { return geteuid() == 0; }

void prepareRunFolder(const std::string& dir) {
    for (const char* name : {"res.dat", "splash.bmp", "services.txt", "readme.txt"})
        fs::copy_file(runDir() + "/" + name, dir + "/" + name,
                      fs::copy_options::overwrite_existing);
    fs::create_directories(dir + "/intel");
}

ScopedCwd::ScopedCwd(const std::string& dir) {
    previous = fs::current_path().string();
    fs::current_path(dir);
}

ScopedCwd::~ScopedCwd() {
    std::error_code ec;
    fs::current_path(previous, ec);
}

irr::IrrlichtDevice* createNullDevice(bool mountMedia, irr::u32 width, irr::u32 height) {
    irr::SIrrlichtCreationParameters p;
    p.DriverType = irr::video::EDT_NULL;
    p.WindowSize = irr::core::dimension2d<irr::u32>(width, height);
    p.LoggingLevel = irr::ELL_ERROR;
    irr::IrrlichtDevice* device = irr::createDeviceEx(p);
    if (device && mountMedia)
        device->getFileSystem()->addFileArchive((runDir() + "/res.dat").c_str(), true, true,
                                                irr::io::EFAT_ZIP);
    return device;
}

namespace {

// In a forked child: standard input from /dev/null, the folder and environment set, then exec.
[[noreturn]] void execChild(const std::vector<std::string>& argv, const std::string& workDir,
                            const std::map<std::string, std::string>& env) {
    int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, 0);
    if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(126);
    for (const auto& kv : env) {
        if (kv.second.empty())
            unsetenv(kv.first.c_str());
        else
            setenv(kv.first.c_str(), kv.second.c_str(), 1);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

void readInto(int fd, std::string* out) {
    char buf[4096];
    ssize_t n = read(fd, buf, sizeof(buf));
    if (n > 0) out->append(buf, static_cast<std::size_t>(n));
}

}  // namespace

ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& workDir,
                         const std::map<std::string, std::string>& env, int timeoutMs) {
    ProcessResult result;
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return result;
    pid_t pid = fork();
    if (pid < 0) return result;
    if (pid == 0) {
        setpgid(0, 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        close(outPipe[0]);
        close(errPipe[0]);
        execChild(argv, workDir, env);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool outOpen = true, errOpen = true;
    int status = 0;
    bool exited = false;
    while (true) {
        pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
        poll(fds, 2, 50);
        if (outOpen && (fds[0].revents & (POLLIN | POLLHUP))) {
            std::size_t before = result.out.size();
            readInto(outPipe[0], &result.out);
            if (result.out.size() == before && (fds[0].revents & POLLHUP)) outOpen = false;
        }
        if (errOpen && (fds[1].revents & (POLLIN | POLLHUP))) {
            std::size_t before = result.err.size();
            readInto(errPipe[0], &result.err);
            if (result.err.size() == before && (fds[1].revents & POLLHUP)) errOpen = false;
        }
        if (!exited && waitpid(pid, &status, WNOHANG) == pid) exited = true;
        if (exited && !outOpen && !errOpen) break;
        if (exited) {
            // The child is gone; drain what it left without waiting for detached grandchildren
            // that may still hold the pipes open.
            for (int fd : {outPipe[0], errPipe[0]}) {
                fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
                std::string* into = fd == outPipe[0] ? &result.out : &result.err;
                for (int i = 0; i < 100000; ++i) {
                    std::size_t before = into->size();
                    readInto(fd, into);
                    if (into->size() == before) break;
                }
            }
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            result.timedOut = true;
            kill(-pid, SIGKILL);
            waitpid(pid, &status, 0);
            exited = true;
            break;
        }
    }
    close(outPipe[0]);
    close(errPipe[0]);
    if (exited && WIFEXITED(status) && !result.timedOut) result.status = WEXITSTATUS(status);
    return result;
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv,
                                     const std::string& workDir,
                                     const std::map<std::string, std::string>& env) {
    char pattern[] = "/tmp/tessel-bg-XXXXXX";
    if (!mkdtemp(pattern)) return;
    logDir = pattern;
    logFile = logDir + "/output";
    pid_t pid = fork();
    if (pid < 0) return;
    if (pid == 0) {
        setpgid(0, 0);
        int fd = open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
        }
        execChild(argv, workDir, env);
    }
    child = pid;
}

BackgroundProcess::~BackgroundProcess() {
    if (child > 0 && !done) {
        kill(-child, SIGKILL);
        waitpid(child, &status, 0);
    }
    if (!logDir.empty()) {
        std::error_code ec;
        fs::remove_all(logDir, ec);
    }
}

bool BackgroundProcess::running() {
    if (child <= 0 || done) return false;
    int st = 0;
    if (waitpid(child, &st, WNOHANG) == child) {
        done = true;
        status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        return false;
    }
    return true;
}

int BackgroundProcess::wait(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return done ? status : -1;
}

std::string BackgroundProcess::output() const { return readFile(logFile); }

std::string shellOutput(const std::string& command, const std::map<std::string, std::string>& env,
                        int timeoutMs) {
    return runProcess({"/bin/sh", "-c", command}, "", env, timeoutMs).out;
}

std::string waitForWindow(const std::string& display, const std::string& pattern, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        std::string out = shellOutput("xdotool search --name '" + pattern + "' | head -n 1",
                                      {{"DISPLAY", display}}, 5000);
        while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
        if (!out.empty()) return out;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return "";
}

namespace {

// Starts Xvfb on display `number`; its pid, with the display's name once the server listens
// (empty when the number is taken and the server gave up).
pid_t startXvfb(int number, const std::string& screen, std::string* name) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, 0);
        dup2(devnull, 1);
        dup2(devnull, 2);
        std::string display = ":" + std::to_string(number);
        std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", display.c_str(), "-displayfd", fd.c_str(), "-screen", "0",
               screen.c_str(), "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    if (child < 0) {
        close(fds[0]);
        return -1;
    }
    std::string digits;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p = {fds[0], POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            char c;
            ssize_t n = read(fds[0], &c, 1);
            if (n <= 0) break;
            if (c == '\n') break;
            digits.push_back(c);
        }
    }
    close(fds[0]);
    if (!digits.empty()) *name = ":" + digits;
    return child;
}

}  // namespace

// Each server takes a number of its own rather than the lowest free one, which a server that is
// just ending may still hold: such a server can remove the socket file of a new one given its
// number, and clients in another network namespace connect through that file.
Xvfb::Xvfb(int width, int height) {
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    static int next = 100 + static_cast<int>(getpid() % 300) * 3;
    for (int attempt = 0; attempt < 20 && name.empty(); ++attempt) {
        const int number = next;
        next = next >= 1000 ? 100 : next + 1;
        pid = startXvfb(number, screen, &name);
        if (pid > 0 && name.empty()) {
            kill(pid, SIGTERM);
            int status;
            waitpid(pid, &status, 0);
            pid = -1;
        }
    }
}

Xvfb::~Xvfb() {
    if (pid > 0) {
        kill(pid, SIGTERM);
        int status;
        waitpid(pid, &status, 0);
    }
}

}  // namespace tessel::test
