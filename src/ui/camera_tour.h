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

    // Flies `camera` in a straight line from where it stands to `to` within `durationMs`, in
    // place of a flight under way. An arrived flight keeps holding the camera at `to` until
    // endFinishedFlight lets go of it.
    void flyTo(irr::scene::ICameraSceneNode* camera, const irr::core::vector3df& to,
               irr::u32 durationMs);
    // Main loop, every frame: takes an arrived flight off its camera, so keys and the mouse move
    // the camera again.
    void endFinishedFlight();

    int active = 0;
    IrrPtr<irr::scene::ISceneNodeAnimator> splineAnimator;  // the tour's flight
    irr::scene::ICameraSceneNode* userCamera = nullptr;
    irr::scene::ICameraSceneNode* tourCamera = nullptr;
    IrrPtr<irr::scene::ISceneNodeAnimator> flight;  // the flight of flyTo, while it holds on
    irr::scene::ICameraSceneNode* flightCamera = nullptr;

  private:
    void endFlight();
};

}  // namespace tessel
