#pragma once
#include <irrlicht.h>

namespace tessel {

class cRegistry;

// Fader, toolbar, logo, font, information panel, message list and GUI colours. Main thread.
void buildHud(irr::IrrlichtDevice* device, cRegistry& registry);
// Main loop, first frame: the picture rises out of black over 3500 ms.
void startHudFade();
// Main loop, every frame while the window is active.
void updateInfoPanel(irr::IrrlichtDevice* device);

}  // namespace tessel
