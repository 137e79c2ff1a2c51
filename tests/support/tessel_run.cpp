#include "support/tessel_run.h"

#include <sys/stat.h>

#include <chrono>
#include <thread>

namespace tessel::test {

TesselRun::TesselRun() {
    prepareRunFolder(dir.path());
    std::string script = tools.file("tessel-config");
    writeFile(script, "#!/bin/sh\necho \"$@\" > '" + tools.file("started.tmp") + "'\nmv '" +
                          tools.file("started.tmp") + "' '" + tools.file("started") + "'\n");
    chmod(script.c_str(), 0755);
}

void TesselRun::settings(const std::vector<std::string>& lines) {
    std::string text = "[Software\\Ashgrove\\Tessel]\n";
    for (const std::string& l : lines) text += l + "\n";
    writeFile(tools.file("Tessel.conf"), text);
}

std::map<std::string, std::string> TesselRun::baseEnv() const {
    return {{"TESSEL_CONFIG", tools.file("Tessel.conf")},
            {"TESSEL_CONFIG_TOOL", tools.file("tessel-config")},
            {"TESSEL_DIALOGS", "stderr"},
            {"TESSEL_SPLASH_MS", "0"}};
}

ProcessResult TesselRun::run(const std::vector<std::string>& args,
                             std::map<std::string, std::string> env, int timeoutMs) {
    std::map<std::string, std::string> all = baseEnv();
    for (const auto& kv : env) all[kv.first] = kv.second;
    std::vector<std::string> argv = {runDir() + "/tessel"};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(argv, dir.path(), all, timeoutMs);
}

std::string TesselRun::configToolArgs(int waitMs) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (fileExists(tools.file("started"))) return readFile(tools.file("started"));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return "";
}

}  // namespace tessel::test
