#include "ui/camera_tour.h"

#include "core/process_flags.h"
#include "scene/world.h"
#include "ui/fading_text_list.h"

namespace tessel {

using namespace irr;

void cCameraTour::toggleTour(scene::ICameraSceneNode* camera, u32 nowMs, ProcessFlags& flags,
                             CFadingTextList* messages) {
    if (!camera) return;
    auto post = [messages](const char* text) {
        if (messages) messages->addMessage(text);
    };
    scene::ISceneManager* smgr = camera->getSceneManager();
    if (!active) {
        post("Demo Mode Started");
        active = 1;
        const core::vector3df start = camera->getPosition();
        userCamera = camera;
        // Id 0, not -1: an id of -1 has every bit set and would make the tour camera (whose box is
        // its view frustum) the answer to every node and beam pick.
        tourCamera = smgr->addCameraSceneNode(0, start, kViewTarget, 0, true);
        tourCamera->setFarValue(kViewFar);

        core::array<core::vector3df> points;
        points.push_back(start);
        points.push_back(core::vector3df(0.0f, 2500.0f, 0.0f));
        points.push_back(core::vector3df(10000.0f, 2500.0f, 0.0f));
        points.push_back(core::vector3df(7500.0f, 7500.0f, 7500.0f));
        points.push_back(core::vector3df(10000.0f, 2500.0f, 10000.0f));
        points.push_back(core::vector3df(0.0f, 2500.0f, 10000.0f));
        // The start time must not lie in the future (the animator subtracts it unsigned).
        splineAnimator.reset(smgr->createFollowSplineAnimator(static_cast<s32>(nowMs), points, 0.2f,
                                                              0.5f, true, false));
        tourCamera->addAnimator(splineAnimator.get());  // the tour keeps its own reference
        flags.enteredEnvironment = 0;
        return;
    }

    post("Demo Mode Ended");
    if (tourCamera && splineAnimator) tourCamera->removeAnimator(splineAnimator.get());
    splineAnimator.reset();
    smgr->setActiveCamera(userCamera);
    // Nothing uses the tour camera afterwards. This runs inside event dispatch, so the node goes
    // through the deletion queue rather than being removed on the spot.
    if (tourCamera) smgr->addToDeletionQueue(tourCamera);
    tourCamera = nullptr;
    camera->setPosition(kHomePosition);
    camera->setTarget(kViewTarget);
    camera->setFarValue(kViewFar);
    camera->setInputReceiverEnabled(true);
    active = 0;
    flags.enteredEnvironment = 1;
}

void cCameraTour::flyTo(scene::ICameraSceneNode* camera, const core::vector3df& to,
                        u32 durationMs) {
    if (!camera) return;
    endFlight();
    flight.reset(camera->getSceneManager()->createFlyStraightAnimator(camera->getPosition(), to,
                                                                      durationMs, false));
    if (!flight) return;
    camera->addAnimator(flight.get());
    flightCamera = camera;
}

void cCameraTour::endFinishedFlight() {
    if (flight && flight->hasFinished()) endFlight();
}

void cCameraTour::endFlight() {
    if (flight && flightCamera) flightCamera->removeAnimator(flight.get());
    flight.reset();
    flightCamera = nullptr;
}

}  // namespace tessel
