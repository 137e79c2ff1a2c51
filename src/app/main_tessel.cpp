#include "app/startup.h"
#include "platform/process.h"

// runTessel stops and joins every thread it owns (the capture session's three, the standard-input
// pump of a replay, the resolver). Detached threads remain: each program started for the user
// (xdg-open, the configuration tool) has a reaper blocked in waitpid, and the engine and the
// desktop libraries may keep threads of their own. So the process ends the way a fatal path does,
// through endProcess, without running static destructors under them.
int main(int argc, char** argv) { tessel::endProcess(tessel::runTessel(argc, argv)); }
