#include "app/startup.h"
#include "platform/process.h"

// runTessel stops and joins every thread it owns (the capture session's three, the standard-input
// pump of a replay, the resolver). The engine and the desktop libraries (GL, SDL's dialogs) may
// keep threads of their own, so the process ends the way a fatal path does, through endProcess,
// without running static destructors under them.
int main(int argc, char** argv) { tessel::endProcess(tessel::runTessel(argc, argv)); }
