#pragma once

namespace tessel {

// The program: start-up, the render loop and shutdown, on the main thread. Gives the exit status.
int runTessel(int argc, char** argv);

// Engine driver type for the `videodriver` value (Direct3D does not exist here: OpenGL stands
// in for it and for every unknown value).
int driverTypeForSetting(int value);

}  // namespace tessel
