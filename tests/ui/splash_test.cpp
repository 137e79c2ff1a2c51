#include "ui/splash.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "support/test_support.h"

using namespace tessel;
using namespace tessel::test;

namespace {

std::string writeSplashBitmap(const TempDir& dir) {
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, 64, 48, 24, SDL_PIXELFORMAT_RGB24);
    SDL_FillRect(s, nullptr, SDL_MapRGB(s->format, 128, 128, 128));
    SDL_Rect corner{0, 0, 8, 8};
    SDL_FillRect(s, &corner, SDL_MapRGB(s->format, 0, 255, 0));
    SDL_SaveBMP(s, dir.file("splash.bmp").c_str());
    SDL_FreeSurface(s);
    return dir.file("splash.bmp");
}

long bannerWindows(const std::string& display) {
    ProcessResult r =
        runProcess({"xdotool", "search", "--name", "^Banner$"}, "/", {{"DISPLAY", display}}, 10000);
    return std::count(r.out.begin(), r.out.end(), '\n');
}

TEST(Splash, ShowsOneBannerWindowUnderXAndClosesIt) {
    Xvfb x;
    ASSERT_TRUE(x.ok());
    TempDir dir;
    const std::string bitmap = writeSplashBitmap(dir);
    setenv("DISPLAY", x.display().c_str(), 1);

    CSplash splash(bitmap, 0x00FF00);
    EXPECT_FALSE(splash.closeSplash());
    EXPECT_TRUE(splash.showSplash());
    EXPECT_TRUE(splash.showSplash());  // replaces the first window
    EXPECT_EQ(bannerWindows(x.display()), 1);
    EXPECT_TRUE(splash.closeSplash());
    EXPECT_FALSE(splash.closeSplash());
    EXPECT_EQ(bannerWindows(x.display()), 0);

    CSplash missing(dir.file("no-such.bmp"), 0x00FF00);
    EXPECT_FALSE(missing.showSplash());
}

TEST(Splash, WithoutAnXServerThereIsNoWindow) {
    TempDir dir;
    unsetenv("DISPLAY");
    CSplash splash(writeSplashBitmap(dir), 0x00FF00);
    EXPECT_FALSE(splash.showSplash());
    EXPECT_FALSE(splash.closeSplash());
}

}  // namespace
