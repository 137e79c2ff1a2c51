#pragma once
#include <irrlicht.h>

#include <string>

#include "core/wide_text.h"

namespace tessel {

// The column of status messages at the right edge: line 0 is the newest; each post moves the
// older ones down a line, where they are fainter, until the oldest drops off the bottom.
// Main thread only (worker threads hand their messages over through the hand-off channel); the
// static texts belong to the GUI environment. The run's list is SUiState::messages.
class CFadingTextList {
  public:
    CFadingTextList(irr::gui::IGUIEnvironment* gui, irr::gui::IGUIFont* font,
                    const irr::core::rect<irr::s32>& rectangle, irr::u8 startAlpha,
                    irr::u8 endAlpha, bool topToBottom);
    virtual ~CFadingTextList();

    // Cut to 199 characters, converted to wide text.
    void addMessage(const std::string& text);

    int lineCount() const { return count; }
    irr::gui::IGUIStaticText* line(int i) const { return lines[i]; }

  private:
    void post(const std::wstring& text);

    irr::gui::IGUIStaticText** lines = nullptr;
    int count = 0;
};

}  // namespace tessel
