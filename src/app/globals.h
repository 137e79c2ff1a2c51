#pragma once
#include <atomic>
#include <string>

namespace irr {
class IrrlichtDevice;
}

namespace tessel {

class cLog;
class CFadingTextList;

// Process-wide state. Everything here is touched by the main thread only, except where noted.
extern int windowWidth;  // size of the 3D window; 800 x 600 in full-screen mode
extern int windowHeight;
extern int enteredEnvironment;           // 1 while the camera follows the mouse
extern std::atomic<int> loggingEnabled;  // read by the capture thread
extern int statsGraphShown;
extern int pauseState;  // 1 running, 3 paused
extern int helpState;   // 1 hidden, 3 shown

extern irr::IrrlichtDevice* engineDevice;  // null until the device exists
extern cLog* eventLog;                     // logEvent is safe from any thread
extern CFadingTextList* messageList;       // main thread only

// Posts to the message list when it exists. Main thread only: workers use the hand-off channel.
void postMessage(const std::string& text);
// Writes to the event log when it exists (any thread).
void logLine(const std::string& text);
// Destroy the event log (closing log.txt) and the message list. Main thread only.
void destroyEventLog();
void destroyMessageList();

// The fatal path shared by start-up and capture: message box, configuration tool started with
// "respawn", event log closed, process ended with status 0.
[[noreturn]] void restartConfigToolAndExit(const std::string& message);

}  // namespace tessel
