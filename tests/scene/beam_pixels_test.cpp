// The beam batch draws late on OpenGL, backwards and with a strict depth test, to skip the
// hidden parts of beams; the picture must stay the one of beams drawn first, in scene order.

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <vector>

#include "core/irr_ptr.h"
#include "scene/traffic_beams.h"
#include "support/test_support.h"
#include "ui/frame_requests.h"

using namespace irr;
using namespace tessel;

namespace {

// Stripes in both directions, so a beam and a cube face that tie in depth but map the texture
// differently give different pixels.
video::ITexture* stripedTexture(video::IVideoDriver* driver) {
    video::IImage* image = driver->createImage(video::ECF_A8R8G8B8, core::dimension2d<u32>(64, 64));
    for (u32 y = 0; y < 64; ++y)
        for (u32 x = 0; x < 64; ++x)
            image->setPixel(x, y, video::SColor(255, (x * 37) & 255, (y * 53) & 255, (x ^ y) * 4));
    video::ITexture* texture = driver->addTexture("stripes", image);
    image->drop();
    return texture;
}

IrrPtr<video::IImage> shot(IrrlichtDevice* device, const std::function<void()>& draw) {
    video::IVideoDriver* driver = device->getVideoDriver();
    device->run();
    driver->beginScene(true, true, video::SColor(255, 0, 0, 0));
    draw();
    IrrPtr<video::IImage> image = captureFrame(driver);
    driver->endScene();
    return image;
}

TEST(BeamPixels, TheLateStrictBatchDrawsWhatBeamsDrawnFirstInSceneOrderDraw) {
    test::Xvfb x;
    ASSERT_TRUE(x.ok());
    setenv("DISPLAY", x.display().c_str(), 1);
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
    SIrrlichtCreationParameters p;
    p.DriverType = video::EDT_OPENGL;
    p.WindowSize = core::dimension2d<u32>(320, 240);
    p.LoggingLevel = ELL_ERROR;
    IrrPtr<IrrlichtDevice> device(createDeviceEx(p));
    ASSERT_TRUE(device);
    video::IVideoDriver* driver = device->getVideoDriver();
    scene::ISceneManager* smgr = device->getSceneManager();
    smgr->addCameraSceneNode(nullptr, core::vector3df(0, 900, -1200), core::vector3df(0, 0, 0));
    video::ITexture* texture = stripedTexture(driver);

    // A gateway cube around the common base and beams fanning out from it. A spike whose tip is
    // 20 units (its width) below its base has its third face level: two such beams lie on the
    // top faces of two cubes, so beam and cube tie in depth there, and the one drawn last in the
    // old order, the cube, must still win.
    const core::vector3df base(0, 100, 0);
    for (const core::vector3df& at :
         {base, core::vector3df(300, 5, 150), core::vector3df(-300, 5, 150)}) {
        scene::IMeshSceneNode* cube = smgr->addCubeSceneNode(150, nullptr, -1, at);
        cube->setMaterialTexture(0, texture);
        cube->setMaterialFlag(video::EMF_LIGHTING, false);
    }
    const core::vector3df tips[] = {{600, 80, 300},   {-600, 80, 300},  {-600, 200, -200},
                                    {400, -50, -400}, {600, 150, -100}, {-100, 0, 500}};
    std::vector<CSampleSceneNode*> beams;
    for (const core::vector3df& tip : tips) {
        IrrPtr<CSampleSceneNode> beam(
            new CSampleSceneNode(smgr->getRootSceneNode(), smgr, -1, base, tip));
        beam->getMaterial(0).setTexture(0, texture);
        beam->getMaterial(0).Lighting = false;
        beams.push_back(beam.get());
    }
    smgr->drawAll();  // the camera's view and projection stay set for the reference below

    IrrPtr<video::IImage> batched = shot(device.get(), [&] { smgr->drawAll(); });
    ASSERT_TRUE(batched);
    EXPECT_EQ(beamBatchOf(smgr)->drawnLastFrame(), 6u);
    // The reference: every beam drawn on its own, in scene order, before the solid nodes.
    IrrPtr<video::IImage> reference = shot(device.get(), [&] {
        for (CSampleSceneNode* beam : beams) {
            beam->updateAbsolutePosition();
            beam->render();
            beam->setVisible(false);
        }
        smgr->drawAll();
    });
    ASSERT_TRUE(reference);

    int beamPixels = 0, differ = 0;
    for (u32 y = 0; y < 240; ++y)
        for (u32 x = 0; x < 320; ++x) {
            const video::SColor a = batched->getPixel(x, y), b = reference->getPixel(x, y);
            if (a.color != b.color) ++differ;
            if ((a.color & 0xFFFFFF) != 0) ++beamPixels;
        }
    EXPECT_GT(beamPixels, 500);  // something was drawn
    EXPECT_EQ(differ, 0);
}

}  // namespace
