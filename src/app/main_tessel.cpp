#include "app/startup.h"
#include "platform/process.h"

// runTessel stops and joins the threads it owns (the capture session's, the resolver). The
// process still ends through endProcess: a fatal path ends it from anywhere with _exit, and the
// normal end takes the same road, so no static destructor ever runs while a thread the libraries
// started (the engine's, the desktop dialogs') may still be using what it frees.
int main(int argc, char** argv) { tessel::endProcess(tessel::runTessel(argc, argv)); }
