#include "core/fatal_exit.h"

#include <cstdio>

#include "core/event_log.h"
#include "platform/message_box.h"
#include "platform/process.h"

namespace tessel {

void endAfterFatal(const std::string& message, bool startTool, int status) {
    std::fflush(stdout);
    if (!message.empty()) showMessageBox(message);
    if (startTool) startConfigTool();
    destroyEventLog();
    endProcess(status);
}

}  // namespace tessel
