#include "app/startup.h"
#include "platform/process.h"

// The capture, statistics and resolver threads are never joined; they may still be inside a
// callback. Ending with _exit keeps static destructors from freeing what they use.
int main(int argc, char** argv) { tessel::endProcess(tessel::runTessel(argc, argv)); }
