#pragma once
#include <string>

namespace tessel {

// The switches the user's commands change, read by the render loop, the HUD and the scene dump.
// Part of the run's UI state (SUiState, owned by runTessel); main thread only. The packet trace
// ("logging") is not here: the capture thread reads it, so it is the hand-off channel's.
struct ProcessFlags {
    int windowWidth = 1000;  // size of the 3D window; 800 x 600 in full-screen mode
    int windowHeight = 600;
    int enteredEnvironment = 0;  // 1 while the camera follows the mouse
    int statsGraphShown = 0;
    int pauseState = 1;         // 1 running, 3 paused
    int helpState = 1;          // 1 hidden, 3 shown
    std::string captureFilter;  // the capture filter in use, "" for none; set at start-up
};

}  // namespace tessel
