#pragma once
#include <irrlicht.h>

#include <cstddef>
#include <functional>
#include <vector>

#include "core/irr_ptr.h"

namespace tessel {

// Every live impact sprite of a scene, drawn by this one scene node: per texture one streamed
// mesh buffer of camera-facing quads. Each sprite flies, faces the camera, is culled and blends
// exactly as an engine billboard with a follow-spline animator (speed 1, tightness 0, no loop)
// and a 2000 ms delete animator would: same path, timing, size and additive material. The scene
// graph owns the node; main thread only.
class CImpactSprites : public irr::scene::ISceneNode {
  public:
    static constexpr irr::scene::ESCENE_NODE_TYPE kType =
        static_cast<irr::scene::ESCENE_NODE_TYPE>(MAKE_IRR_ID('i', 'm', 'p', 's'));
    static constexpr irr::u32 kLifeMs = 2000;
    // Blended pixels a frame, in screens, past which every sprite is drawn smaller by one factor.
    static constexpr irr::f64 kBlendBudget = 0.5;

    CImpactSprites(irr::scene::ISceneNode* parent, irr::scene::ISceneManager* manager);

    // One sprite of `side` x `side` units starting at `startMs` on the path of two or three
    // points; `texture` may be null (an untextured sprite). A sprite of a `protocol` (0 or more)
    // stands for `records` records, and may be merged with others (see setMergedTexture).
    void addSprite(const irr::core::vector3df* points, int pointCount, irr::u32 startMs,
                   irr::f32 side, irr::video::ITexture* texture, int protocol = -1,
                   int records = 1);
    // The texture of one sprite that stands for `records` records of `protocol`. With it, past
    // the budget, sprites of one protocol at one point (flights of one pass on their shared last
    // leg) are drawn as one, as wide as the widest and as bright as all of them.
    void setMergedTexture(std::function<irr::video::ITexture*(int protocol, int records)> chooser) {
        mergedTexture_ = std::move(chooser);
    }
    std::size_t liveCount() const { return sprites_.size(); }
    // Every sprite goes at once (a replay went to another moment).
    void clear() { sprites_.clear(); }

    // What tests and the scene dump look at: sprite i in order of creation.
    irr::core::vector3df spritePosition(std::size_t i) const { return sprites_[i].position; }
    irr::f32 spriteSide(std::size_t i) const { return sprites_[i].side; }
    // Quads handed to the driver by the last render (culled and zero-sized sprites are not).
    std::size_t drawnLastFrame() const { return drawnLastFrame_; }
    // Pixels the last render's quads cover on the screen, added up (overlaps counted each time).
    irr::f64 blendedLastFrame() const { return blendedLastFrame_; }
    // The same before the blending budget shrank them (a sprite counted as one screen at most).
    irr::f64 wantedLastFrame() const { return wantedLastFrame_; }
    // The material every sprite is drawn with (the texture set per buffer).
    const irr::video::SMaterial& spriteMaterial() const { return material_; }

    void OnAnimate(irr::u32 timeMs) override;
    void OnRegisterSceneNode() override;
    void render() override;
    const irr::core::aabbox3d<irr::f32>& getBoundingBox() const override { return box_; }
    // One material per texture in use, in order of first use: what each batch is drawn with.
    irr::u32 getMaterialCount() const override { return static_cast<irr::u32>(slots_.size()); }
    irr::video::SMaterial& getMaterial(irr::u32 i) override;
    irr::scene::ESCENE_NODE_TYPE getType() const override { return kType; }

  private:
    struct Sprite {
        irr::core::vector3df points[3];
        int pointCount = 0;
        irr::u32 startMs = 0;
        irr::f32 side = 0;
        int slot = 0;
        int protocol = -1;
        int records = 1;
        irr::core::vector3df position;
        bool ended = false;  // its last frame has been animated; gone after that frame's render
    };
    struct Slot {
        IrrPtr<irr::video::ITexture> texture;
        IrrPtr<irr::scene::SMeshBuffer> buffer;
        irr::u32 filledQuads = 0;  // indices written for this many quads
    };

    // One quad to draw: a visible sprite, or several merged.
    struct Quad {
        irr::core::vector3df position;
        irr::f32 side = 0;
        int slot = 0;
        int protocol = -1;
        int records = 1;
        bool merged = false;
    };

    int slotFor(irr::video::ITexture* texture);
    void mergeQuads();
    void dropEnded();

    std::vector<Sprite> sprites_;
    std::vector<Slot> slots_;
    irr::video::SMaterial material_;
    irr::core::aabbox3d<irr::f32> box_;
    std::vector<Quad> quads_;  // of the render under way; kept for its capacity
    std::function<irr::video::ITexture*(int, int)> mergedTexture_;
    std::size_t drawnLastFrame_ = 0;
    irr::f64 blendedLastFrame_ = 0;
    irr::f64 wantedLastFrame_ = 0;
};

// The impact node of `sceneManager`, made as a child of the root on first use. Main thread.
CImpactSprites* impactSpritesOf(irr::scene::ISceneManager* sceneManager);

}  // namespace tessel
