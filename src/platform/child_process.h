#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

namespace tessel {

// A program started with pipes on its standard output and error and, when asked, a third pipe
// on its descriptor 3; its standard input is /dev/null. The read ends are ours (close-on-exec).
struct ChildProcess {
    pid_t pid = -1;
    int out = -1;    // its standard output
    int err = -1;    // its standard error
    int extra = -1;  // its descriptor 3, or -1
};

// False when the program could not be started (nothing is left open then).
bool startChild(const std::string& program, const std::vector<std::string>& args, bool extraPipe,
                ChildProcess* child);
// Waits at most `timeoutMs` for the child to end: its exit status, 128 + signal number when a
// signal ended it, or -1 while it still runs.
int waitChild(ChildProcess* child, int timeoutMs);
// What the child wrote to its standard error so far (at most `limit` bytes), without waiting.
std::string readChildErrors(const ChildProcess& child, std::size_t limit = 4096);
// Asks the child to end (SIGTERM; SIGKILL if it is still there after `graceMs`), reaps it and
// closes our ends of its pipes.
void endChild(ChildProcess* child, int graceMs = 1000);

}  // namespace tessel
