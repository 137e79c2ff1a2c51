#pragma once
// Headless engine set-up shared by the HUD, input and tour tests: a NULL-driver device published
// with its timer stopped (tests set the time), and optionally a message list on
// the built-in font so posts can be read back; a UI state of its own, whose logging switch is
// the trace switch of a channel of its own.
#include <irrlicht.h>

#include <string>

#include "core/hand_off.h"
#include "ui/ui_state.h"

namespace tessel::test {

class UiFixture {
  public:
    explicit UiFixture(bool mountMedia = false, bool withMessageList = true);
    ~UiFixture();
    UiFixture(const UiFixture&) = delete;
    UiFixture& operator=(const UiFixture&) = delete;

    void setTime(irr::u32 ms) { device->getTimer()->setTime(ms); }
    void setCursor(int x, int y) { device->getCursorControl()->setPosition(x, y); }
    // One frame of scene drawing, so transforms, animators and the pick ray are current.
    void drawScene();
    std::string newestMessage() const;
    // The logging switch: 1 on, 0 off.
    int logging() const { return channel.tracing() ? 1 : 0; }

    irr::IrrlichtDevice* device = nullptr;
    irr::scene::ISceneManager* smgr = nullptr;
    irr::gui::IGUIEnvironment* gui = nullptr;
    tessel::HandOffChannel channel;
    tessel::SUiState state;
};

irr::SEvent keyEvent(irr::EKEY_CODE key, bool pressed);
irr::SEvent leftClickEvent();
irr::SEvent wheelEvent(float wheel);
std::string narrow(const wchar_t* text);

}  // namespace tessel::test
