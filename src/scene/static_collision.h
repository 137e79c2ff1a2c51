#pragma once
// A collision response for scene objects that normally stand still (node cubes, beams, and the
// camera between moves).
//
// The engine's collision response animator runs a full collision query against its world on
// every frame, even when its node has not moved; with one animator per cube over a world of
// every cube this cost grows with the square of the node count. StaticCollisionResponse holds
// the engine's animator, created with the very same parameters, and hands it the frame only
// when the result could differ from standing still: any frame on which the node's position
// changed since the last frame handed on, a non-zero gravity, a reset (time 0), a jump, or any
// change of its settings. Before the first move the engine's animator is first shown the start
// position, so a node that is ever moved collides exactly as with the engine's animator, and a
// still one costs a position compare per frame, from its first frame on (a scene pass that adds
// a hundred cubes does not stall the next frame).
//
// A query without movement finds nothing, whatever the world holds, but it takes the position
// through the ellipsoid's space and back, which can move the node by a rounding step. So after a
// move, still frames are handed on until one leaves the node where it was; from then on the
// engine would give the same position every frame. The camera, whose position must follow the
// engine's exactly from the start, has its first frames handed on too (`kForwardFirst`).
//
// Main thread only, like every engine object.
#include <irrlicht.h>

#include "core/irr_ptr.h"

namespace tessel {

// What the wrapper does with a node's first frames, before it ever moves.
enum class ECollisionStart {
    kRememberFirst,  // cubes and beams: only remember where the node stands
    kForwardFirst,   // the camera: hand them on until the engine leaves the node in place
};

class StaticCollisionResponse : public irr::scene::ISceneNodeAnimatorCollisionResponse {
  public:
    // Takes over the reference that `engineAnimator` carries (may not be null).
    explicit StaticCollisionResponse(
        irr::scene::ISceneNodeAnimatorCollisionResponse* engineAnimator,
        ECollisionStart start = ECollisionStart::kRememberFirst);

    void animateNode(irr::scene::ISceneNode* node, irr::u32 timeMs) override;
    irr::scene::ISceneNodeAnimator* createClone(irr::scene::ISceneNode* node,
                                                irr::scene::ISceneManager* newManager) override;
    irr::scene::ESCENE_NODE_ANIMATOR_TYPE getType() const override;
    bool hasFinished() const override;
    bool isEventReceiverEnabled() const override;
    bool OnEvent(const irr::SEvent& event) override;

    bool isFalling() const override;
    void setEllipsoidRadius(const irr::core::vector3df& radius) override;
    irr::core::vector3df getEllipsoidRadius() const override;
    void setGravity(const irr::core::vector3df& gravity) override;
    irr::core::vector3df getGravity() const override;
    void jump(irr::f32 jumpSpeed) override;
    void setAnimateTarget(bool enable) override;
    bool getAnimateTarget() const override;
    void setEllipsoidTranslation(const irr::core::vector3df& translation) override;
    irr::core::vector3df getEllipsoidTranslation() const override;
    void setWorld(irr::scene::ITriangleSelector* newWorld) override;
    irr::scene::ITriangleSelector* getWorld() const override;
    void setTargetNode(irr::scene::ISceneNode* node) override;
    irr::scene::ISceneNode* getTargetNode() const override;
    bool collisionOccurred() const override;
    const irr::core::vector3df& getCollisionPoint() const override;
    const irr::core::triangle3df& getCollisionTriangle() const override;
    const irr::core::vector3df& getCollisionResultPosition() const override;
    irr::scene::ISceneNode* getCollisionNode() const override;
    void setCollisionCallback(irr::scene::ICollisionCallback* callback) override;

    // Frames handed on to the engine's animator so far (for tests and benchmarks).
    unsigned forwardedFrames() const { return forwarded_; }

  private:
    void forward(irr::scene::ISceneNode* node, irr::u32 timeMs);
    void catchUp();

    IrrPtr<irr::scene::ISceneNodeAnimatorCollisionResponse> engine_;
    irr::scene::ISceneNode* lastNode_ = nullptr;  // not owned; compared only
    irr::core::vector3df lastPosition_;
    irr::u32 lastTimeMs_ = 0;    // of the last frame seen
    irr::u32 engineTimeMs_ = 0;  // of the last frame handed on
    ECollisionStart start_;
    bool started_ = false;  // the engine's animator has seen a frame
    bool mustForward_ = false;
    // The last frame handed on was still and left the node where it was (set by the constructor:
    // nodes that start by remembering count as settled).
    bool settled_;
    unsigned forwarded_ = 0;
};

// The engine's collision response animator with these parameters, wrapped as above. Null when
// the engine gives none. The caller owns the returned reference.
irr::scene::ISceneNodeAnimatorCollisionResponse* createStaticCollisionResponse(
    irr::scene::ISceneManager* smgr, irr::scene::ITriangleSelector* world,
    irr::scene::ISceneNode* node, const irr::core::vector3df& ellipsoidRadius,
    const irr::core::vector3df& gravityPerSecond, const irr::core::vector3df& ellipsoidTranslation,
    irr::f32 slidingValue, ECollisionStart start = ECollisionStart::kRememberFirst);

}  // namespace tessel
