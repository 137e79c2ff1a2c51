#pragma once
// The real tessel on the NULL driver (no X server), in a ready-to-run folder of its own, watched
// through its scene dump.
#include <memory>
#include <string>
#include <vector>

#include "support/tessel_run.h"

namespace tessel::test {

class HeadlessRun {
  public:
    // Starts `prefix… tessel args…` (prefix: "ip netns exec NS", "setpriv …", or nothing) with
    // `settings` as its settings file; with `shellPipe`, tessel reads that command's output on
    // standard input.
    HeadlessRun(const std::vector<std::string>& prefix, const std::vector<std::string>& args,
                const std::vector<std::string>& settings = {}, const std::string& shellPipe = "");

    // Asks for a scene dump and gives it; "" until the program says it captures or replays
    // (before that it may not handle the signal yet).
    std::string dump();
    // Polls dumps until `pattern` is found, at most `seconds`; *last is the last dump.
    bool waitDump(const std::string& pattern, int seconds, std::string* last);

    TesselRun run;
    std::unique_ptr<BackgroundProcess> tessel;
    int pid = -1;  // of tessel itself
};

}  // namespace tessel::test
