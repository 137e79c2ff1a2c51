#pragma once
#include <irrlicht.h>

#include <cstddef>
#include <string>
#include <vector>

namespace tessel {

// A host that may get a label: where its cube stands and what the label says.
struct SLabelCandidate {
    std::string address;
    std::string text;               // the host name, or the address while none is known
    std::wstring shown;             // `text` as the font draws it
    irr::core::vector3df position;  // the cube's centre
};

// A label drawn in the last frame, with its box on the screen.
struct SDrawnLabel {
    std::string address;
    std::string text;
    irr::core::rect<irr::s32> box;
};

// Names over the cubes, drawn in 2D with the given (bitmap) font on a translucent dark box, so
// they read on either driver. Drawn after the scene and before the GUI, so the HUD always covers
// them. Main thread only.
class cNodeLabels {
  public:
    // Where the labels fade: full strength up to kFadeNear units from the camera, kFaintest at
    // kFadeFar and beyond.
    static constexpr irr::f32 kFadeNear = 3000.0f, kFadeFar = 15000.0f;
    static constexpr irr::u32 kFaintest = 90;
    // A label's box stands this far above the cube's centre (the largest cube's half edge).
    static constexpr irr::f32 kLift = 170.0f;

    // Labels the first `pinned` candidates in their order, then at most `limit` of the others,
    // nearest first. Only the candidates in the camera's view are projected. A label is skipped
    // when its box would leave the screen, touch one of `blocked` (the HUD's rectangles) or a
    // label already drawn.
    void draw(irr::video::IVideoDriver* driver, irr::scene::ISceneManager* sceneManager,
              irr::gui::IGUIFont* font, const std::vector<const SLabelCandidate*>& candidates,
              std::size_t pinned, std::size_t limit,
              const std::vector<irr::core::rect<irr::s32>>& blocked);
    void clear() { drawn_.clear(); }
    const std::vector<SDrawnLabel>& drawn() const { return drawn_; }

  private:
    struct SNear {
        irr::f32 distanceSq;
        const SLabelCandidate* candidate;
    };
    void place(irr::video::IVideoDriver* driver, irr::scene::ISceneCollisionManager* collision,
               irr::scene::ICameraSceneNode* camera, irr::gui::IGUIFont* font,
               const SLabelCandidate& candidate, irr::f32 distanceSq,
               const std::vector<irr::core::rect<irr::s32>>& blocked);

    std::vector<SNear> near_;  // kept between frames for its capacity
    std::vector<SDrawnLabel> drawn_;
};

}  // namespace tessel
