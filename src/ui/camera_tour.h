#pragma once
#include <irrlicht.h>

namespace tessel {

// The automatic camera flight. Main thread only.
class cCameraTour {
  public:
    virtual ~cCameraTour() = default;
    // `nowMs` is the device timer's time: the flight starts then.
    void toggleTour(irr::scene::ICameraSceneNode* camera, irr::u32 nowMs);

    int active = 0;
    irr::scene::ISceneNodeAnimator* splineAnimator = nullptr;
    irr::scene::ICameraSceneNode* userCamera = nullptr;
    irr::scene::ICameraSceneNode* tourCamera = nullptr;
};

extern cCameraTour cameraTour;

}  // namespace tessel
