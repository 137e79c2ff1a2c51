#include "ui/camera_tour.h"

#include <gtest/gtest.h>

#include "core/process_flags.h"
#include "support/ui_fixture.h"

using namespace irr;
using namespace tessel;
using namespace tessel::test;

namespace {

const core::vector3df kLookAt(5000, -3250, 5000);

TEST(CameraTour, FliesAFreshCameraFromTheUserAndBringsTheUserHome) {
    UiFixture ui;
    ASSERT_NE(ui.device, nullptr);
    scene::ICameraSceneNode* user =
        ui.smgr->addCameraSceneNode(0, core::vector3df(300, 400, 500), kLookAt, 1, true);
    ui.state.flags.enteredEnvironment = 1;
    ui.setTime(5000);

    ui.state.tour.toggleTour(user, ui.device->getTimer()->getTime(), ui.state.flags,
                             ui.state.messages.get());
    EXPECT_EQ(ui.state.flags.enteredEnvironment, 0);
    EXPECT_EQ(ui.newestMessage(), "Demo Mode Started");
    scene::ICameraSceneNode* tour = ui.smgr->getActiveCamera();
    ASSERT_NE(tour, user);
    EXPECT_EQ(tour->getPosition(), core::vector3df(300, 400, 500));
    EXPECT_FLOAT_EQ(tour->getFarValue(), 20000.0f);
    // Speed 0.2: 5 s in, the flight is at the second point; it loops back to P0 after 30 s.
    ui.setTime(10000);
    ui.drawScene();
    EXPECT_TRUE(tour->getPosition().equals(core::vector3df(0, 2500, 0), 1.0f));
    ui.setTime(35000);
    ui.drawScene();
    EXPECT_TRUE(tour->getPosition().equals(core::vector3df(300, 400, 500), 1.0f));
    // The tour camera (its box is the view frustum) is never the answer to a node pick.
    EXPECT_EQ(ui.smgr->getSceneCollisionManager()->getSceneNodeFromScreenCoordinatesBB(
                  core::position2d<s32>(10, 10), 0x1000000),
              nullptr);

    user->setPosition(core::vector3df(1, 2, 3));
    user->setInputReceiverEnabled(false);
    ui.state.tour.toggleTour(user, ui.device->getTimer()->getTime(), ui.state.flags,
                             ui.state.messages.get());
    EXPECT_EQ(ui.state.tour.active, 0);
    EXPECT_EQ(ui.state.flags.enteredEnvironment, 1);
    EXPECT_EQ(ui.newestMessage(), "Demo Mode Ended");
    EXPECT_EQ(ui.smgr->getActiveCamera(), user);
    EXPECT_EQ(user->getPosition(), core::vector3df(0, 2500, 0));
    EXPECT_EQ(user->getTarget(), kLookAt);
    EXPECT_TRUE(user->isInputReceiverEnabled());

    // Each start makes a new camera where the user stands; stopped ones leave the scene.
    ui.state.tour.toggleTour(user, ui.device->getTimer()->getTime(), ui.state.flags,
                             ui.state.messages.get());
    EXPECT_EQ(ui.smgr->getActiveCamera()->getPosition(), core::vector3df(0, 2500, 0));
    ui.state.tour.toggleTour(user, ui.device->getTimer()->getTime(), ui.state.flags,
                             ui.state.messages.get());
    ui.drawScene();
    EXPECT_EQ(ui.smgr->getRootSceneNode()->getChildren().size(), 1u);
}

}  // namespace
