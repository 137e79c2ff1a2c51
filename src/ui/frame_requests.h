#pragma once
#include <irrlicht.h>

namespace tessel {

// Screenshots and the pause picture are taken by the main loop after the GUI is drawn and before
// endScene (the OpenGL driver's own screenshot reads the front buffer, black under Mesa).
// Commands only ask for them here. Main thread only.
void requestScreenshot();
void requestPausePicture();
// True while a pause picture has been asked for but not yet taken: the loop keeps drawing the
// scene for that frame.
bool pausePicturePending();
// Counts pause pictures written; the loop reloads the picture when it changes.
int pausePictureGeneration();
// Takes what was asked for; called once per frame at the point named above.
void serviceFrameRequests(irr::video::IVideoDriver* driver);

}  // namespace tessel
