#include "support/ui_fixture.h"

#include <cstring>

#include "core/wide_text.h"
#include "support/test_support.h"
#include "ui/fading_text_list.h"

namespace tessel::test {

using namespace irr;

UiFixture::UiFixture(bool mountMedia, bool withMessageList) {
    device = createNullDevice(mountMedia, 1000, 600);
    if (!device) return;
    smgr = device->getSceneManager();
    gui = device->getGUIEnvironment();
    state.flags.windowWidth = 1000;
    state.flags.windowHeight = 600;
    state.channel = &channel;
    device->getTimer()->stop();
    setTime(10000);
    if (withMessageList)
        state.messages = std::make_unique<CFadingTextList>(
            gui, gui->getBuiltInFont(), core::rect<s32>(780, 10, 990, 500), 255, 10, true);
}

UiFixture::~UiFixture() {
    state.messages.reset();
    if (device) device->drop();
}

void UiFixture::drawScene() {
    video::IVideoDriver* driver = device->getVideoDriver();
    driver->beginScene(true, true, video::SColor(0, 200, 200, 200));
    smgr->drawAll();
    driver->endScene();
}

std::string UiFixture::newestMessage() const {
    const CFadingTextList* messages = state.messages.get();
    return messages && messages->lineCount() > 0 ? narrow(messages->line(0)->getText())
                                                 : std::string();
}

SEvent keyEvent(EKEY_CODE key, bool pressed) {
    SEvent e;
    std::memset(&e, 0, sizeof(e));
    e.EventType = EET_KEY_INPUT_EVENT;
    e.KeyInput.Key = key;
    e.KeyInput.PressedDown = pressed;
    return e;
}

SEvent leftClickEvent() {
    SEvent e;
    std::memset(&e, 0, sizeof(e));
    e.EventType = EET_MOUSE_INPUT_EVENT;
    e.MouseInput.Event = EMIE_LMOUSE_PRESSED_DOWN;
    e.MouseInput.ButtonStates = EMBSM_LEFT;
    return e;
}

SEvent wheelEvent(float wheel) {
    SEvent e = leftClickEvent();
    e.MouseInput.Event = EMIE_MOUSE_WHEEL;
    e.MouseInput.Wheel = wheel;
    return e;
}

std::string narrow(const wchar_t* text) { return narrowText(text); }

}  // namespace tessel::test
