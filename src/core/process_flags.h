#pragma once
#include <atomic>
#include <string>

namespace tessel {

// Process-wide state switched by the user's commands and read by the render loop. Main thread
// only, except where noted.
extern int windowWidth;  // size of the 3D window; 800 x 600 in full-screen mode
extern int windowHeight;
extern int enteredEnvironment;           // 1 while the camera follows the mouse
extern std::atomic<int> loggingEnabled;  // also read by the capture thread
extern int statsGraphShown;
extern int pauseState;             // 1 running, 3 paused
extern int helpState;              // 1 hidden, 3 shown
extern std::string captureFilter;  // the capture filter in use, "" for none; set at start-up

}  // namespace tessel
