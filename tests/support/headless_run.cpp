#include "support/headless_run.h"

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

namespace tessel::test {

using namespace std::chrono_literals;

HeadlessRun::HeadlessRun(const std::vector<std::string>& prefix,
                         const std::vector<std::string>& args,
                         const std::vector<std::string>& settings, const std::string& shellPipe) {
    run.settings(settings);
    std::vector<std::string> argv = prefix;
    argv.push_back(runDir() + "/tessel");
    argv.insert(argv.end(), args.begin(), args.end());
    std::map<std::string, std::string> env = run.baseEnv();
    env["TESSEL_NULL_DRIVER"] = "1";
    if (shellPipe.empty()) {
        tessel = std::make_unique<BackgroundProcess>(argv, run.path(), env);
        pid = tessel->pid();
        return;
    }
    // `shellPipe | tessel …`, started from a shell that says which process is tessel.
    std::string command = shellPipe + " | exec";
    for (const std::string& a : argv) command += " '" + a + "'";
    command += " & echo $! > tessel.pid; wait";
    tessel = std::make_unique<BackgroundProcess>(std::vector<std::string>{"sh", "-c", command},
                                                 run.path(), env);
    for (int i = 0; i < 250 && pid <= 0; ++i) {
        std::this_thread::sleep_for(20ms);
        const std::string text = readFile(run.file("tessel.pid"));
        if (!text.empty() && text.back() == '\n') pid = std::stoi(text);
    }
}

std::string HeadlessRun::dump() {
    const std::string file = run.file("scene-dump.txt");
    std::filesystem::remove(file);
    const std::string said = tessel->output();
    if (pid <= 0 || (said.find("replay: ") == std::string::npos &&
                     said.find("listening on") == std::string::npos))
        return "";
    if (kill(pid, SIGUSR1) != 0) return "";
    for (int i = 0; i < 250 && !fileExists(file); ++i) std::this_thread::sleep_for(20ms);
    return readFile(file);
}

bool HeadlessRun::waitDump(const std::string& pattern, int seconds, std::string* last) {
    const std::regex re(pattern);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        *last = dump();
        if (std::regex_search(*last, re)) return true;
        if (!tessel->running()) return false;
        std::this_thread::sleep_for(100ms);
    }
    return false;
}

}  // namespace tessel::test
