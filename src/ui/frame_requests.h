#pragma once
#include <irrlicht.h>

#include <string>

#include "core/irr_ptr.h"

namespace tessel {

class CFadingTextList;

// Screenshots and the pause picture are taken by the main loop after the GUI is drawn and before
// endScene (the OpenGL driver's own screenshot reads the front buffer, black under Mesa).
// Commands only ask for them here. Main thread only.

// Asks for a screenshot written to `fileName` (the name is fixed when the user asks, not when the
// picture is taken). The outcome is posted to the message list given to serviceFrameRequests:
// "Screenshot Saved", or "Screenshot Failed" when no picture could be made or written.
void requestScreenshot(const std::string& fileName);
// Asks for "pausepicture.png" to be written from the next frame.
void requestPausePicture();
// True while a pause picture has been asked for but not yet taken: the loop keeps drawing the
// scene for that frame.
bool pausePicturePending();
// Counts pause pictures written; the loop reloads the picture when it changes.
int pausePictureGeneration();
// Takes what was asked for; called once per frame at the point named above.
void serviceFrameRequests(irr::video::IVideoDriver* driver, CFadingTextList* messages);

// The current frame as an image, or none when the driver cannot give one. OpenGL: read from the
// back buffer, so only valid between drawing and endScene.
IrrPtr<irr::video::IImage> captureFrame(irr::video::IVideoDriver* driver);

}  // namespace tessel
