#pragma once
#include <irrlicht.h>

#include <string>

namespace tessel {

class cRegistry;

// Fader, toolbar, logo, font, information panel, message list and GUI colours. Main thread.
void buildHud(irr::IrrlichtDevice* device, cRegistry& registry);
// Main loop, first frame: the picture rises out of black over 3500 ms.
void startHudFade();
// Main loop, every frame while the window is active: shows the text of the node or beam under
// the cursor, and hides the panel 31 frames after the last hit.
void updateInfoPanel(irr::IrrlichtDevice* device);

// The one GUI colour: 105/155/106, opaque only when `transparency` is exactly "0".
irr::video::SColor guiTintFor(const std::string& transparency);

// The elements made by buildHud (null before it); the engine owns them.
irr::gui::IGUIInOutFader* hudFader();
irr::gui::IGUIStaticText* hudInfoText();
irr::gui::IGUIStaticText* hudInfoBox();

}  // namespace tessel
