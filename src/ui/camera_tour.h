#pragma once
#include <irrlicht.h>

#include "core/irr_ptr.h"

namespace tessel {

// The automatic camera flight. Main thread only.
class cCameraTour {
  public:
    virtual ~cCameraTour() = default;
    // `nowMs` is the device timer's time: the flight starts then.
    void toggleTour(irr::scene::ICameraSceneNode* camera, irr::u32 nowMs);

    int active = 0;
    IrrPtr<irr::scene::ISceneNodeAnimator> splineAnimator;  // the tour's flight
    irr::scene::ICameraSceneNode* userCamera = nullptr;
    irr::scene::ICameraSceneNode* tourCamera = nullptr;
};

extern cCameraTour cameraTour;

}  // namespace tessel
