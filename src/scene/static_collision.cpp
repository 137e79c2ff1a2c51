#include "scene/static_collision.h"

namespace tessel {

using namespace irr;

namespace {
// Exact on purpose (the engine's == allows a rounding error): any move at all is one the engine
// must see.
bool samePosition(const core::vector3df& a, const core::vector3df& b) {
    return a.X == b.X && a.Y == b.Y && a.Z == b.Z;
}
}  // namespace

StaticCollisionResponse::StaticCollisionResponse(
    scene::ISceneNodeAnimatorCollisionResponse* engineAnimator, ECollisionStart start)
    : engine_(engineAnimator), start_(start), settled_(start == ECollisionStart::kRememberFirst) {}

void StaticCollisionResponse::animateNode(scene::ISceneNode* node, u32 timeMs) {
    if (!node) return;
    const bool gravity = engine_->getGravity() != core::vector3df(0, 0, 0);
    if (!started_ && !lastNode_ && timeMs != 0 && !gravity &&
        start_ == ECollisionStart::kRememberFirst) {
        // First frame: only remember where the node starts.
        lastNode_ = node;
        lastPosition_ = node->getPosition();
        lastTimeMs_ = timeMs;
        return;
    }
    if (node != lastNode_ || timeMs == 0 || gravity) {
        // A new target, a reset or a falling node: the engine sees every such frame.
        forward(node, timeMs);
        return;
    }
    if (!mustForward_ && settled_ && samePosition(node->getPosition(), lastPosition_)) {
        lastTimeMs_ = timeMs;
        return;
    }
    if (!started_) {
        // The engine's animator takes the position it first sees as its start. Let it see the
        // start position at the time of the last still frame, as it would have, then the move.
        // (Without movement its collision query finds nothing, so those skipped frames changed
        // nothing.)
        const core::vector3df moved = node->getPosition();
        node->setPosition(lastPosition_);
        forward(node, lastTimeMs_);
        node->setPosition(moved);
    }
    forward(node, timeMs);
}

void StaticCollisionResponse::forward(scene::ISceneNode* node, u32 timeMs) {
    const core::vector3df before = node->getPosition();
    const bool still =
        started_ && !mustForward_ && node == lastNode_ && samePosition(before, lastPosition_);
    engine_->animateNode(node, timeMs);
    settled_ = still && samePosition(before, node->getPosition());
    engineTimeMs_ = timeMs;
    ++forwarded_;
    started_ = true;
    mustForward_ = false;
    lastNode_ = node;
    lastPosition_ = node->getPosition();
    lastTimeMs_ = timeMs;
}

void StaticCollisionResponse::catchUp() {
    // The engine's animator accumulates falling speed over the time since its last frame; the
    // still frames it did not see must not count under a gravity set now. A still frame changes
    // nothing else.
    if (started_ && lastNode_ && engineTimeMs_ != lastTimeMs_) forward(lastNode_, lastTimeMs_);
}

scene::ISceneNodeAnimator* StaticCollisionResponse::createClone(scene::ISceneNode* node,
                                                                scene::ISceneManager* newManager) {
    scene::ISceneNodeAnimator* clone = engine_->createClone(node, newManager);
    if (!clone) return nullptr;
    return new StaticCollisionResponse(
        static_cast<scene::ISceneNodeAnimatorCollisionResponse*>(clone), start_);
}

scene::ESCENE_NODE_ANIMATOR_TYPE StaticCollisionResponse::getType() const {
    return engine_->getType();
}
bool StaticCollisionResponse::hasFinished() const { return engine_->hasFinished(); }
bool StaticCollisionResponse::isEventReceiverEnabled() const {
    return engine_->isEventReceiverEnabled();
}
bool StaticCollisionResponse::OnEvent(const SEvent& event) { return engine_->OnEvent(event); }

bool StaticCollisionResponse::isFalling() const { return engine_->isFalling(); }
void StaticCollisionResponse::setEllipsoidRadius(const core::vector3df& radius) {
    engine_->setEllipsoidRadius(radius);
    mustForward_ = true;
}
core::vector3df StaticCollisionResponse::getEllipsoidRadius() const {
    return engine_->getEllipsoidRadius();
}
void StaticCollisionResponse::setGravity(const core::vector3df& gravity) {
    catchUp();
    engine_->setGravity(gravity);
    mustForward_ = true;
}
core::vector3df StaticCollisionResponse::getGravity() const { return engine_->getGravity(); }
void StaticCollisionResponse::jump(f32 jumpSpeed) {
    catchUp();
    engine_->jump(jumpSpeed);
    mustForward_ = true;
}
void StaticCollisionResponse::setAnimateTarget(bool enable) {
    engine_->setAnimateTarget(enable);
    mustForward_ = true;
}
bool StaticCollisionResponse::getAnimateTarget() const { return engine_->getAnimateTarget(); }
void StaticCollisionResponse::setEllipsoidTranslation(const core::vector3df& translation) {
    engine_->setEllipsoidTranslation(translation);
    mustForward_ = true;
}
core::vector3df StaticCollisionResponse::getEllipsoidTranslation() const {
    return engine_->getEllipsoidTranslation();
}
void StaticCollisionResponse::setWorld(scene::ITriangleSelector* newWorld) {
    engine_->setWorld(newWorld);
    mustForward_ = true;
}
scene::ITriangleSelector* StaticCollisionResponse::getWorld() const { return engine_->getWorld(); }
void StaticCollisionResponse::setTargetNode(scene::ISceneNode* node) {
    // The engine starts afresh from the node's current position (a teleport).
    engine_->setTargetNode(node);
    lastNode_ = node;
    if (node) lastPosition_ = node->getPosition();
    started_ = true;
    mustForward_ = true;
}
scene::ISceneNode* StaticCollisionResponse::getTargetNode() const {
    return engine_->getTargetNode();
}
bool StaticCollisionResponse::collisionOccurred() const { return engine_->collisionOccurred(); }
const core::vector3df& StaticCollisionResponse::getCollisionPoint() const {
    return engine_->getCollisionPoint();
}
const core::triangle3df& StaticCollisionResponse::getCollisionTriangle() const {
    return engine_->getCollisionTriangle();
}
const core::vector3df& StaticCollisionResponse::getCollisionResultPosition() const {
    return engine_->getCollisionResultPosition();
}
scene::ISceneNode* StaticCollisionResponse::getCollisionNode() const {
    return engine_->getCollisionNode();
}
void StaticCollisionResponse::setCollisionCallback(scene::ICollisionCallback* callback) {
    engine_->setCollisionCallback(callback);
    mustForward_ = true;
}

scene::ISceneNodeAnimatorCollisionResponse* createStaticCollisionResponse(
    scene::ISceneManager* smgr, scene::ITriangleSelector* world, scene::ISceneNode* node,
    const core::vector3df& ellipsoidRadius, const core::vector3df& gravityPerSecond,
    const core::vector3df& ellipsoidTranslation, f32 slidingValue, ECollisionStart start) {
    if (!smgr) return nullptr;
    scene::ISceneNodeAnimatorCollisionResponse* engine = smgr->createCollisionResponseAnimator(
        world, node, ellipsoidRadius, gravityPerSecond, ellipsoidTranslation, slidingValue);
    if (!engine) return nullptr;
    return new StaticCollisionResponse(engine, start);
}

}  // namespace tessel
