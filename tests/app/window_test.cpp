// The real program in a real window under a private X server.
#include <gtest/gtest.h>

#include "support/tessel_run.h"

namespace tessel {
namespace {

using test::BackgroundProcess;
using test::TesselRun;

void expectWindowWithCaption(const char* driver, const char* captionPattern) {
    test::Xvfb x;
    ASSERT_TRUE(x.ok());
    TesselRun t;
    t.settings({"firstrun=1", "nic=lo", std::string("videodriver=") + driver, "fullscreen=1",
                "width=640", "height=480"});
    std::map<std::string, std::string> env = t.baseEnv();
    env["DISPLAY"] = x.display();
    BackgroundProcess tessel({test::runDir() + "/tessel"}, t.path(), env);
    std::string window = test::waitForWindow(x.display(), captionPattern, 30000);
    ASSERT_FALSE(window.empty()) << tessel.output();
    std::string geometry =
        test::shellOutput("xdotool getwindowgeometry " + window, {{"DISPLAY", x.display()}});
    EXPECT_NE(geometry.find("640x480"), std::string::npos) << geometry;
    std::string icon = test::shellOutput("xprop -id " + window + " _NET_WM_ICON | head -c 200",
                                         {{"DISPLAY", x.display()}});
    EXPECT_NE(icon.find("Icon (32 x 32)"), std::string::npos) << icon;
    test::shellOutput(
        "xdotool windowfocus --sync " + window + "; xdotool key --window " + window + " Escape",
        {{"DISPLAY", x.display()}});
    EXPECT_EQ(tessel.wait(15000), 0) << tessel.output();
    std::string out = tessel.output();
    EXPECT_NE(out.find("This software is HIGHLY EXPERIMENTAL"), std::string::npos) << out;
}

TEST(Window, SoftwareDriverShowsTheFrameRateCaption) {
    expectWindowWithCaption("3", "^Tessel \\[Irrlicht Software Driver 1.0\\] FPS:[0-9]+$");
}

TEST(Window, OpenGLDriverShowsTheFrameRateCaption) {
    expectWindowWithCaption("2", "^Tessel \\[OpenGL [0-9.]+\\] FPS:[0-9]+$");
}

}  // namespace
}  // namespace tessel
