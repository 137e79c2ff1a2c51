#pragma once
// Runs the real tessel binary in a temporary ready-to-run folder with its own settings file and a
// stand-in configuration tool that only records how it was started.
#include <map>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tessel::test {

class TesselRun {
  public:
    TesselRun();
    // Writes the settings file; each line "name=value" under the Tessel section.
    void settings(const std::vector<std::string>& lines);
    // Runs tessel with `args`; messages go to standard error, the splash is shortened.
    ProcessResult run(const std::vector<std::string>& args = {},
                      std::map<std::string, std::string> env = {}, int timeoutMs = 20000);
    // The arguments the configuration tool was started with, or "" when it was not started
    // (waits up to `waitMs` for the detached tool).
    std::string configToolArgs(int waitMs = 3000) const;
    std::string file(const std::string& name) const { return dir.file(name); }
    const std::string& path() const { return dir.path(); }
    std::map<std::string, std::string> baseEnv() const;

  private:
    TempDir dir;
    TempDir tools;
};

}  // namespace tessel::test
