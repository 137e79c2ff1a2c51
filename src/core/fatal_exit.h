#pragma once
#include <string>

namespace tessel {

// The one way a condition that stops the program ends it: the message box (when there is a
// text), the configuration tool started with "respawn" (when asked, so the user can mend the
// cause), the event log and every other stream flushed, and the process ended with `status`. Main
// thread.
[[noreturn]] void endAfterFatal(const std::string& message, bool startTool, int status = 0);

// The common case: tell the user, start the configuration tool, end.
[[noreturn]] inline void restartConfigToolAndExit(const std::string& message) {
    endAfterFatal(message, true);
}

}  // namespace tessel
