#pragma once
// The information panel's lines about programs: which program owns a beam's connection, and the
// programs of this host that carried the most in the last minute. Main thread.
#include <chrono>
#include <string>

namespace tessel {

class cProgramTable;
struct STrafficBeam;

// "program: firefox (pid 4242)"; on a replay or a flow feed "program: not known (not captured
// on this host)". Empty without a table.
std::string beamProgramLine(const cProgramTable* programs, const STrafficBeam& beam);
// "Top programs (1 min):" and up to three lines "firefox (pid 4242) 1.2 MB", or the line saying
// why there are none. Empty without a table.
std::string hostProgramLines(const cProgramTable* programs,
                             std::chrono::steady_clock::time_point now);

// A byte count for the panel: "512 B", "12.5 kB", "3.1 MB", "2.0 GB".
std::string byteCountText(unsigned long long bytes);

}  // namespace tessel
