#include "ui/frame_requests.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/test_support.h"
#include "support/ui_fixture.h"
#include "ui/fading_text_list.h"

using namespace irr;
using namespace tessel;
using namespace tessel::test;

namespace {

// Samples a written picture: red rectangle top left (so rows are not upside down), blue clear
// colour elsewhere (so it is not the black front buffer).
void expectPicture(video::IVideoDriver* driver, const std::string& file) {
    video::IImage* image = driver->createImageFromFile(file.c_str());
    ASSERT_NE(image, nullptr) << file;
    EXPECT_EQ(image->getDimension(), core::dimension2d<u32>(320, 240));
    EXPECT_GT(image->getPixel(5, 5).getRed(), 200u);
    EXPECT_GT(image->getPixel(200, 150).getBlue(), 200u);
    EXPECT_LT(image->getPixel(200, 150).getRed(), 50u);
    image->drop();
}

// A real window on a private X server, serviced before endScene as the main loop does.
void checkDriver(video::E_DRIVER_TYPE type) {
    Xvfb x;
    ASSERT_TRUE(x.ok());
    setenv("DISPLAY", x.display().c_str(), 1);
    TempDir dir;
    ScopedCwd cwd(dir.path());
    SIrrlichtCreationParameters p;
    p.DriverType = type;
    p.WindowSize = core::dimension2d<u32>(320, 240);
    p.LoggingLevel = ELL_ERROR;
    IrrlichtDevice* device = createDeviceEx(p);
    ASSERT_NE(device, nullptr);
    video::IVideoDriver* driver = device->getVideoDriver();
    gui::IGUIEnvironment* gui = device->getGUIEnvironment();
    auto messageList = std::make_unique<CFadingTextList>(
        gui, gui->getBuiltInFont(), core::rect<s32>(0, 0, 99, 99), 255, 10, true);
    auto frame = [&] {
        device->run();
        driver->beginScene(true, true, video::SColor(255, 0, 0, 255));
        driver->draw2DRectangle(video::SColor(255, 255, 0, 0), core::rect<s32>(0, 0, 40, 30));
        serviceFrameRequests(driver, messageList.get());
        driver->endScene();
    };

    requestScreenshot("shot.png");
    requestPausePicture();
    frame();
    EXPECT_EQ(narrow(messageList->line(0)->getText()), "Screenshot Saved");
    EXPECT_EQ(pausePictureGeneration(), 1);
    expectPicture(driver, "shot.png");
    expectPicture(driver, "pausepicture.png");

    requestScreenshot("no-such-folder/shot.png");
    frame();
    EXPECT_EQ(narrow(messageList->line(0)->getText()), "Screenshot Failed");
    messageList.reset();
    device->drop();
}

TEST(FrameRequests, OpenGLPicturesComeFromTheBackBuffer) { checkDriver(video::EDT_OPENGL); }
TEST(FrameRequests, BurningsPicturesComeFromTheDriver) { checkDriver(video::EDT_BURNINGSVIDEO); }

}  // namespace
