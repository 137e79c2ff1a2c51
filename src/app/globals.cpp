#include "app/globals.h"

#include <shared_mutex>

#include "app/event_log.h"
#include "app/fading_text_list.h"
#include "platform/message_box.h"
#include "platform/process.h"

namespace tessel {

int windowWidth = 1000;
int windowHeight = 600;
int enteredEnvironment = 0;
std::atomic<int> loggingEnabled{0};
int statsGraphShown = 0;
int pauseState = 1;
int helpState = 1;

irr::IrrlichtDevice* engineDevice = nullptr;
cLog* eventLog = nullptr;
CFadingTextList* messageList = nullptr;

namespace {
// Worker threads post while the main thread may be tearing these down; the pointers are read
// under a shared lock and destroyed under an exclusive one.
std::shared_mutex g_sinks;
}  // namespace

void postMessage(const std::string& text) {
    std::shared_lock<std::shared_mutex> guard(g_sinks);
    if (messageList) messageList->addMessage(text);
}

void logLine(const std::string& text) {
    std::shared_lock<std::shared_mutex> guard(g_sinks);
    if (eventLog) eventLog->logEvent(text);
}

void destroyEventLog() {
    std::unique_lock<std::shared_mutex> guard(g_sinks);
    delete eventLog;
    eventLog = nullptr;
}

void destroyMessageList() {
    std::unique_lock<std::shared_mutex> guard(g_sinks);
    delete messageList;
    messageList = nullptr;
}

void restartConfigToolAndExit(const std::string& message) {
    showMessageBox(message);
    startConfigTool();
    destroyEventLog();
    endProcess(0);
}

}  // namespace tessel
