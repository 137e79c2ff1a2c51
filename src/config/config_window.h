#pragma once
#include <string>

namespace tessel {

// The settings window of tessel-config, drawn with the engine's GUI in Tessel's look. Saving
// writes every setting (firstrun=1) and, when `startTesselAfterSave`, starts tessel detached in
// the current folder. Gives the exit status. Main thread; needs an X display.
int runConfigWindow(bool startTesselAfterSave);

// The program tessel-config starts after saving ($TESSEL_PROGRAM overrides it, for tests).
std::string tesselProgramPath();

}  // namespace tessel
