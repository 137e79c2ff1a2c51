#pragma once
#include <irrlicht.h>

#include "core/irr_ptr.h"

namespace tessel {

class CFadingTextList;
struct ProcessFlags;

// The automatic camera flight, part of the run's UI state (SUiState). Main thread only.
class cCameraTour {
  public:
    virtual ~cCameraTour() = default;
    // `nowMs` is the device timer's time: the flight starts then. Says so in `messages` (may be
    // null) and leaves or enters the environment in `flags`.
    void toggleTour(irr::scene::ICameraSceneNode* camera, irr::u32 nowMs, ProcessFlags& flags,
                    CFadingTextList* messages);

    int active = 0;
    IrrPtr<irr::scene::ISceneNodeAnimator> splineAnimator;  // the tour's flight
    irr::scene::ICameraSceneNode* userCamera = nullptr;
    irr::scene::ICameraSceneNode* tourCamera = nullptr;
};

}  // namespace tessel
