#include "ui/fading_text_list.h"

#include <cstdlib>

namespace tessel {

using namespace irr;

CFadingTextList::CFadingTextList(gui::IGUIEnvironment* gui, gui::IGUIFont* font,
                                 const core::rect<s32>& rectangle, u8 startAlpha, u8 endAlpha,
                                 bool topToBottom) {
    if (!gui || !font) return;
    s32 f = static_cast<s32>(font->getDimension(L"A").Height);
    if (f <= 0) return;
    count = (rectangle.LowerRightCorner.Y - rectangle.UpperLeftCorner.Y) / f;
    if (count <= 0) {
        count = 0;
        return;
    }
    f32 step = count > 1 ? (static_cast<f32>(startAlpha) - static_cast<f32>(endAlpha)) /
                               static_cast<f32>(count - 1)
                         : 0.0f;
    lines = new gui::IGUIStaticText*[count];
    f32 alpha = static_cast<f32>(startAlpha);
    const s32 left = rectangle.UpperLeftCorner.X, right = rectangle.LowerRightCorner.X;
    for (int i = 0; i < count; ++i) {
        gui::IGUIStaticText* t = gui->addStaticText(L"", rectangle, false, true, 0, -1, false);
        t->setOverrideFont(font);
        t->enableOverrideColor(true);
        s32 y = topToBottom ? rectangle.UpperLeftCorner.Y + i * f
                            : rectangle.LowerRightCorner.Y - i * f - f;
        t->setRelativePosition(core::rect<s32>(left, y, right, y + f));
        t->setOverrideColor(
            video::SColor(static_cast<u32>(static_cast<s32>(alpha)), 255, 255, 255));
        lines[i] = t;
        alpha -= step;
    }
}

CFadingTextList::~CFadingTextList() { delete[] lines; }

void CFadingTextList::addMessage(const std::string& text) { post(toWideCut(text)); }

void CFadingTextList::post(const std::wstring& text) {
    if (count == 0) return;
    for (int i = count - 1; i >= 1; --i) {
        lines[i]->setText(lines[i - 1]->getText());
        video::SColor above = lines[i - 1]->getOverrideColor();
        video::SColor own = lines[i]->getOverrideColor();
        lines[i]->setOverrideColor(
            video::SColor(own.getAlpha(), above.getRed(), above.getGreen(), above.getBlue()));
    }
    video::SColor top = lines[0]->getOverrideColor();
    lines[0]->setOverrideColor(video::SColor(top.getAlpha(), 105, 155, 106));
    lines[0]->setText(text.c_str());
}

}  // namespace tessel
