#pragma once
#include <string>
#include <vector>

namespace tessel {

// Directory of the running program (from /proc/self/exe), without a trailing slash.
std::string programDirectory();

// Starts `program` (a path, or a name looked up in $PATH) with `args`, detached: own session,
// stdio on /dev/null, a child of init rather than of this process, so nobody has to wait for it.
// `workDir` empty keeps ours. Gives false when there is no such program or it could not be
// started.
bool spawnDetached(const std::string& program, const std::vector<std::string>& args,
                   const std::string& workDir = std::string());

// The configuration tool beside the program ($TESSEL_CONFIG_TOOL overrides it, for tests),
// started with the single argument "respawn". The result is ignored by every caller.
std::string configToolPath();
bool startConfigTool();

// Hands a file to the desktop's default viewer (xdg-open), detached; the result is ignored.
void openWithDesktop(const std::string& file);

// Names the calling thread (at most 15 characters are kept), for profilers, debuggers and
// /proc/self/task/*/comm.
void nameThisThread(const char* name);

// Ends the process at once with `status`, flushing stdio first. Worker threads are not joined
// and no static destructors run while they may still use shared state.
[[noreturn]] void endProcess(int status);

}  // namespace tessel
