#pragma once
// Shared helpers for the tests: temporary folders, headless engine devices, running the real
// programs with a bounded wait, and a private Xvfb server.
#include <irrlicht.h>

#include <map>
#include <string>
#include <vector>

namespace tessel::test {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it on destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return dir; }
    std::string file(const std::string& name) const { return dir + "/" + name; }

  private:
    std::string dir;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
bool fileExists(const std::string& path);

// Makes `dir` a ready-to-run folder: res.dat, splash.bmp, services.txt, readme.txt, intel/.
void prepareRunFolder(const std::string& dir);

// Changes the working directory for the lifetime of the object.
class ScopedCwd {
  public:
    explicit ScopedCwd(const std::string& dir);
    ~ScopedCwd();

  private:
    std::string previous;
};

// An engine device on the NULL driver (no X server needed), with res.dat mounted when `mountMedia`.
irr::IrrlichtDevice* createNullDevice(bool mountMedia = true, irr::u32 width = 1000,
                                      irr::u32 height = 600);

struct ProcessResult {
    int status = -1;  // exit status, or -1 when killed or not started
    bool timedOut = false;
    std::string out;  // standard output
    std::string err;  // standard error
};

// Runs `argv` in `workDir` with `env` added to ours (a value "" removes the variable), waits at
// most `timeoutMs`, then kills it.
ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& workDir,
                         const std::map<std::string, std::string>& env, int timeoutMs);

// A process running in the background while the test drives it; killed on destruction.
class BackgroundProcess {
  public:
    BackgroundProcess(const std::vector<std::string>& argv, const std::string& workDir,
                      const std::map<std::string, std::string>& env);
    ~BackgroundProcess();
    bool running();
    // Waits at most `timeoutMs` for the exit; gives the exit status, or -1 (killed or still
    // running).
    int wait(int timeoutMs);
    int pid() const { return child; }
    // Output so far, standard output and error together (read from a file in a TempDir).
    std::string output() const;

  private:
    int child = -1;
    int status = -1;
    bool done = false;
    std::string logFile;
    std::string logDir;
};

// Runs a command line through /bin/sh with `env` added; gives its standard output. Bounded.
std::string shellOutput(const std::string& command, const std::map<std::string, std::string>& env,
                        int timeoutMs = 10000);

// Waits for a window whose name matches `pattern` (xdotool search --name) on `display`; gives
// its id, or "" when none appeared within `timeoutMs`.
std::string waitForWindow(const std::string& display, const std::string& pattern, int timeoutMs);

// A private X server for the lifetime of the object; display() is ":N".
class Xvfb {
  public:
    Xvfb(int width = 1280, int height = 1024);
    ~Xvfb();
    bool ok() const { return pid > 0 && !name.empty(); }
    const std::string& display() const { return name; }

  private:
    int pid = -1;
    std::string name;
};

std::string runDir();     // the build's ready-to-run folder
std::string sourceDir();  // the source tree
bool isRoot();

}  // namespace tessel::test
