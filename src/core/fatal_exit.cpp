#include "core/fatal_exit.h"

#include <cstdio>

#include "platform/message_box.h"
#include "platform/process.h"

namespace tessel {

void endAfterFatal(const std::string& message, bool startTool, int status) {
    std::fflush(stdout);
    if (!message.empty()) showMessageBox(message);
    if (startTool) startConfigTool();
    // Every open stream, the event log's among them, is written out: the process ends without
    // running destructors, while workers may still be writing.
    std::fflush(nullptr);
    endProcess(status);
}

}  // namespace tessel
