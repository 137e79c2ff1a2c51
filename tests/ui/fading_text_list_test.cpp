#include "ui/fading_text_list.h"

#include <gtest/gtest.h>

#include <thread>

#include "support/test_support.h"
#include "support/ui_fixture.h"

using namespace irr;
using namespace tessel;
using namespace tessel::test;

namespace {

struct ListTest : ::testing::Test {
    IrrlichtDevice* device = createNullDevice(false);
    gui::IGUIEnvironment* gui = device->getGUIEnvironment();
    gui::IGUIFont* font = gui->getBuiltInFont();
    s32 f = static_cast<s32>(font->getDimension(L"A").Height);

    ~ListTest() override { device->drop(); }
    static std::string text(const CFadingTextList& list, int i) {
        return narrow(list.line(i)->getText());
    }
};

TEST_F(ListTest, LinesFollowTheFontHeightAndFadeEvenly) {
    CFadingTextList list(gui, font, core::rect<s32>(780, 10, 990, 10 + 11 * f - 1), 255, 10, true);
    ASSERT_EQ(list.lineCount(), 10);
    // Step 245 / 9 = 27.22, subtracted repeatedly in single precision and truncated.
    const int expected[] = {255, 227, 200, 173, 146, 118, 91, 64, 37, 10};
    for (int i = 0; i < 10; ++i) {
        EXPECT_NEAR(static_cast<int>(list.line(i)->getOverrideColor().getAlpha()), expected[i], 1);
        EXPECT_EQ(list.line(i)->getRelativePosition(),
                  core::rect<s32>(780, 10 + i * f, 990, 10 + i * f + f));
    }
    CFadingTextList upward(gui, font, core::rect<s32>(0, 0, 100, 3 * f), 200, 50, false);
    EXPECT_EQ(upward.line(0)->getRelativePosition().UpperLeftCorner.Y, 2 * f);

    CFadingTextList noFont(gui, nullptr, core::rect<s32>(0, 0, 200, 400), 255, 10, true);
    EXPECT_EQ(noFont.lineCount(), 0);
    noFont.addMessage("dropped");
}

TEST_F(ListTest, OneLineListReplacesItsTextOnEveryPost) {
    CFadingTextList list(gui, font, core::rect<s32>(0, 0, 200, 2 * f - 1), 255, 10, true);
    ASSERT_EQ(list.lineCount(), 1);
    list.addMessage("first");
    list.addMessage("second");
    EXPECT_EQ(text(list, 0), "second");
    EXPECT_EQ(list.line(0)->getOverrideColor(), video::SColor(255, 105, 155, 106));
}

TEST_F(ListTest, MessagesMoveDownWithTheirColourAndTheOldestDropsOff) {
    CFadingTextList list(gui, font, core::rect<s32>(0, 0, 200, 4 * f), 255, 10, true);
    ASSERT_EQ(list.lineCount(), 4);
    const u32 bottomAlpha = list.line(3)->getOverrideColor().getAlpha();
    list.addMessage("m1");
    list.addMessage("m2");
    EXPECT_EQ(text(list, 0), "m2");
    EXPECT_EQ(text(list, 1), "m1");
    EXPECT_EQ(text(list, 2), "");
    EXPECT_EQ(list.line(1)->getOverrideColor().getGreen(), 155u);  // the colour came along
    EXPECT_EQ(list.line(2)->getOverrideColor().getGreen(), 255u);  // still untouched white

    for (const char* m : {"m3", "m4", "m5"}) list.addMessage(m);
    EXPECT_EQ(text(list, 0), "m5");
    EXPECT_EQ(text(list, 3), "m2");
    EXPECT_EQ(list.line(3)->getOverrideColor(), video::SColor(bottomAlpha, 105, 155, 106));

    std::string longText(250, 'x');
    longText[198] = 'y';
    list.addMessage(longText);
    EXPECT_EQ(text(list, 0), longText.substr(0, 199));
}

}  // namespace
