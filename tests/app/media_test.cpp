// The media archive: it mounts, every picture the program asks for loads with the expected size,
// and the bitmap font reads as a font.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include "support/test_support.h"

namespace tessel {
namespace {

using namespace irr;

struct Expected {
    const char* name;
    u32 width, height;  // 0: any
};

const Expected kMedia[] = {
    {"Media/tessel5logo.png", 0, 0},   {"Media/icon-exit.png", 32, 32},
    {"Media/icon-demo.png", 32, 32},   {"Media/icon-graph.png", 32, 32},
    {"Media/icon-log.png", 32, 32},    {"Media/icon-screenshot.png", 32, 32},
    {"Media/icon-config.png", 32, 32}, {"Media/icon-help.png", 32, 32},
    {"Media/help.png", 512, 512},      {"Media/statsgrid.png", 220, 120},
    {"Media/grid.jpg", 0, 0},          {"Media/blacktile.jpg", 0, 0},
    {"Media/gateway.bmp", 0, 0},       {"Media/wall-tessel.bmp", 0, 0},
    {"Media/wall.bmp", 0, 0},          {"Media/wallb.bmp", 0, 0},
    {"Media/laserbeam.bmp", 0, 0},     {"Media/particlered.bmp", 0, 0},
    {"Media/particleblue.bmp", 0, 0},  {"Media/particlegreen.bmp", 0, 0},
    {"Media/tessel-icon.png", 32, 32}, {"Media/fonthaettenschweiler.bmp", 0, 0},
};

TEST(Media, EveryNameLoadsFromTheArchiveWithItsSize) {
    IrrlichtDevice* device = test::createNullDevice(true);
    ASSERT_NE(device, nullptr);
    video::IVideoDriver* driver = device->getVideoDriver();
    std::set<std::string> baseNames;
    for (const Expected& e : kMedia) {
        video::IImage* image = driver->createImageFromFile(e.name);
        ASSERT_NE(image, nullptr) << e.name;
        if (e.width) {
            EXPECT_EQ(image->getDimension().Width, e.width) << e.name;
            EXPECT_EQ(image->getDimension().Height, e.height) << e.name;
        }
        image->drop();
        std::string base = std::string(e.name).substr(6);
        EXPECT_TRUE(baseNames.insert(base).second) << "base names must be unique: " << base;
    }
    device->drop();
}

TEST(Media, HeightmapIsSquareFlatAndCoversTheWorld) {
    IrrlichtDevice* device = test::createNullDevice(true);
    ASSERT_NE(device, nullptr);
    video::IImage* map =
        device->getVideoDriver()->createImageFromFile("Media/terrain-flatheightmap.jpg");
    ASSERT_NE(map, nullptr);
    core::dimension2d<u32> size = map->getDimension();
    EXPECT_EQ(size.Width, size.Height);
    EXPECT_GE((size.Width - 1) * 100, 11000u);
    u32 first = map->getPixel(0, 0).getLuminance();
    for (u32 y = 0; y < size.Height; y += 7)
        for (u32 x = 0; x < size.Width; x += 7)
            ASSERT_EQ(map->getPixel(x, y).getLuminance(), first);
    map->drop();
    device->drop();
}

TEST(Media, FontLoadsHeadlessWithSaneGlyphs) {
    IrrlichtDevice* device = test::createNullDevice(true);
    ASSERT_NE(device, nullptr);
    gui::IGUIFont* font = device->getGUIEnvironment()->getFont("Media/fonthaettenschweiler.bmp");
    ASSERT_NE(font, nullptr);
    core::dimension2d<u32> a = font->getDimension(L"A");
    EXPECT_GE(a.Height, 10u);
    EXPECT_LE(a.Height, 20u);  // a 490-pixel message list holds 25 to 49 lines
    EXPECT_GT(font->getDimension(L"W").Width, font->getDimension(L"i").Width);
    EXPECT_EQ(font->getDimension(L"AB").Width,
              font->getDimension(L"A").Width + font->getDimension(L"B").Width);
    // Every printable ASCII character has a glyph of its own width (not the space's box).
    std::set<u32> widths;
    for (wchar_t c = L'!'; c <= L'~'; ++c) {
        wchar_t s[2] = {c, 0};
        u32 w = font->getDimension(s).Width;
        EXPECT_GT(w, 0u) << static_cast<char>(c);
        EXPECT_LT(w, 20u) << static_cast<char>(c);
        widths.insert(w);
    }
    EXPECT_GT(widths.size(), 4u);
    device->drop();
}

TEST(Media, SplashIsA24BitBitmapWithAPureGreenBorder) {
    std::string data = test::readFile(test::runDir() + "/splash.bmp");
    ASSERT_GT(data.size(), 54u);
    EXPECT_EQ(data.substr(0, 2), "BM");
    EXPECT_EQ(static_cast<unsigned char>(data[28]), 24);  // bits per pixel
    IrrlichtDevice* device = test::createNullDevice(false);
    video::IImage* image =
        device->getVideoDriver()->createImageFromFile((test::runDir() + "/splash.bmp").c_str());
    ASSERT_NE(image, nullptr);
    core::dimension2d<u32> s = image->getDimension();
    for (auto [x, y] : {std::pair<u32, u32>{0, 0},
                        {s.Width - 1, 0},
                        {0, s.Height - 1},
                        {s.Width - 1, s.Height - 1},
                        {s.Width / 2, 1}}) {
        video::SColor c = image->getPixel(x, y);
        EXPECT_EQ(c.getRed(), 0u);
        EXPECT_EQ(c.getGreen(), 255u);
        EXPECT_EQ(c.getBlue(), 0u);
    }
    video::SColor centre = image->getPixel(s.Width / 2, s.Height / 2);
    EXPECT_FALSE(centre.getRed() == 0 && centre.getGreen() == 255 && centre.getBlue() == 0);
    image->drop();
    device->drop();
}

}  // namespace
}  // namespace tessel
