#pragma once
#include <irrlicht.h>

#include <string>

#include "core/wide_text.h"

namespace tessel {

// The column of status messages at the right edge: line 0 is the newest; each post moves the
// older ones down a line, where they are fainter, until the oldest drops off the bottom.
// Main thread only (worker threads hand their messages over through the hand-off channel); the
// static texts belong to the GUI environment.
class CFadingTextList {
  public:
    CFadingTextList(irr::gui::IGUIEnvironment* gui, irr::gui::IGUIFont* font,
                    const irr::core::rect<irr::s32>& rectangle, irr::u8 startAlpha,
                    irr::u8 endAlpha, bool topToBottom);
    virtual ~CFadingTextList();

    // Cut to 199 characters, converted to wide text.
    void addMessage(const std::string& text);
    void addMessageWide(const wchar_t* text);

    int lineCount() const { return count; }
    irr::gui::IGUIStaticText* line(int i) const { return lines[i]; }

  private:
    void post(const std::wstring& text);

    irr::gui::IGUIStaticText** lines = nullptr;
    int count = 0;
};

// The process's message list: made by the HUD, destroyed at shutdown. Main thread only (the
// workers hand their messages over through the hand-off channel).
extern CFadingTextList* messageList;
// Posts to the message list when it exists.
void postMessage(const std::string& text);
void destroyMessageList();

}  // namespace tessel
