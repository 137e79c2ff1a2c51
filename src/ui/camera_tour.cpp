#include "ui/camera_tour.h"

#include "app/globals.h"

namespace tessel {

using namespace irr;

cCameraTour cameraTour;

namespace {

const core::vector3df kLookAt(5000.0f, -3250.0f, 5000.0f);
const core::vector3df kHomePosition(0.0f, 2500.0f, 0.0f);
const f32 kFarValue = 20000.0f;

}  // namespace

void cCameraTour::toggleTour(scene::ICameraSceneNode* camera) {
    if (!camera) return;
    scene::ISceneManager* smgr = camera->getSceneManager();
    if (!active) {
        postMessage("Demo Mode Started");
        active = 1;
        const core::vector3df start = camera->getPosition();
        userCamera = camera;
        // Id 0, not -1: an id of -1 has every bit set and would make the tour camera (whose box is
        // its view frustum) the answer to every node and beam pick.
        tourCamera = smgr->addCameraSceneNode(0, start, kLookAt, 0, true);
        tourCamera->setFarValue(kFarValue);

        core::array<core::vector3df> points;
        points.push_back(start);
        points.push_back(core::vector3df(0.0f, 2500.0f, 0.0f));
        points.push_back(core::vector3df(10000.0f, 2500.0f, 0.0f));
        points.push_back(core::vector3df(7500.0f, 7500.0f, 7500.0f));
        points.push_back(core::vector3df(10000.0f, 2500.0f, 10000.0f));
        points.push_back(core::vector3df(0.0f, 2500.0f, 10000.0f));
        // The start time must not lie in the future (the animator subtracts it unsigned).
        const s32 now = engineDevice ? static_cast<s32>(engineDevice->getTimer()->getTime()) : 0;
        splineAnimator = smgr->createFollowSplineAnimator(now, points, 0.2f, 0.5f, true, false);
        tourCamera->addAnimator(splineAnimator);  // the tour keeps its own reference
        enteredEnvironment = 0;
        return;
    }

    postMessage("Demo Mode Ended");
    if (tourCamera && splineAnimator) tourCamera->removeAnimator(splineAnimator);
    if (splineAnimator) splineAnimator->drop();
    splineAnimator = nullptr;
    smgr->setActiveCamera(userCamera);
    // Nothing uses the tour camera afterwards. This runs inside event dispatch, so the node goes
    // through the deletion queue rather than being removed on the spot.
    if (tourCamera) smgr->addToDeletionQueue(tourCamera);
    tourCamera = nullptr;
    camera->setPosition(kHomePosition);
    camera->setTarget(kLookAt);
    camera->setFarValue(kFarValue);
    camera->setInputReceiverEnabled(true);
    active = 0;
    enteredEnvironment = 1;
}

}  // namespace tessel
