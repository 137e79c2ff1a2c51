#include "scene/node_labels.h"

#include <algorithm>
#include <cmath>

namespace tessel {

using namespace irr;

namespace {

constexpr s32 kPad = 2;  // dark box around the text, in pixels

bool inView(const scene::SViewFrustum& frustum, const core::vector3df& p) {
    for (int i = 0; i < scene::SViewFrustum::VF_PLANE_COUNT; ++i)
        if (frustum.planes[i].classifyPointRelation(p) == core::ISREL3D_FRONT) return false;
    return true;
}

u32 alphaFor(f32 distanceSq) {
    const f32 d = std::sqrt(distanceSq);
    if (d <= cNodeLabels::kFadeNear) return 255;
    if (d >= cNodeLabels::kFadeFar) return cNodeLabels::kFaintest;
    const f32 t = (d - cNodeLabels::kFadeNear) / (cNodeLabels::kFadeFar - cNodeLabels::kFadeNear);
    return u32(255.0f - t * f32(255 - cNodeLabels::kFaintest));
}

}  // namespace

void cNodeLabels::place(video::IVideoDriver* driver, scene::ISceneCollisionManager* collision,
                        scene::ICameraSceneNode* camera, gui::IGUIFont* font,
                        const SLabelCandidate& candidate, f32 distanceSq,
                        const std::vector<core::rect<s32>>& blocked) {
    const core::vector3df anchor = candidate.position + core::vector3df(0, kLift, 0);
    const core::position2d<s32> at = collision->getScreenCoordinatesFrom3DPosition(anchor, camera);
    const core::dimension2d<u32> size = font->getDimension(candidate.shown.c_str());
    const s32 w = s32(size.Width) + 2 * kPad, h = s32(size.Height) + 2 * kPad;
    const core::rect<s32> box(at.X - w / 2, at.Y - h, at.X - w / 2 + w, at.Y);
    const core::dimension2d<u32> screen = driver->getScreenSize();
    if (box.UpperLeftCorner.X < 0 || box.UpperLeftCorner.Y < 0 ||
        box.LowerRightCorner.X > s32(screen.Width) || box.LowerRightCorner.Y > s32(screen.Height))
        return;
    for (const core::rect<s32>& r : blocked)
        if (r.isRectCollided(box)) return;
    for (const SDrawnLabel& l : drawn_)
        if (l.box.isRectCollided(box)) return;

    const u32 alpha = alphaFor(distanceSq);
    driver->draw2DRectangle(video::SColor(alpha * 150 / 255, 0, 0, 0), box);
    font->draw(candidate.shown.c_str(),
               core::rect<s32>(box.UpperLeftCorner.X + kPad, box.UpperLeftCorner.Y + kPad,
                               box.LowerRightCorner.X, box.LowerRightCorner.Y),
               video::SColor(alpha, 255, 255, 255));
    drawn_.push_back(SDrawnLabel{candidate.address, candidate.text, box});
}

void cNodeLabels::draw(video::IVideoDriver* driver, scene::ISceneManager* sceneManager,
                       gui::IGUIFont* font, const std::vector<const SLabelCandidate*>& candidates,
                       std::size_t pinned, std::size_t limit,
                       const std::vector<core::rect<s32>>& blocked) {
    drawn_.clear();
    scene::ICameraSceneNode* camera = sceneManager ? sceneManager->getActiveCamera() : nullptr;
    if (!driver || !camera || !font) return;
    scene::ISceneCollisionManager* collision = sceneManager->getSceneCollisionManager();
    const scene::SViewFrustum& frustum = *camera->getViewFrustum();
    const core::vector3df eye = camera->getAbsolutePosition();

    // Everything out of view is dropped before any projection; of the rest only the nearest
    // `limit` are projected.
    near_.clear();
    pinned = std::min(pinned, candidates.size());
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const SLabelCandidate* c = candidates[i];
        const core::vector3df anchor = c->position + core::vector3df(0, kLift, 0);
        if (!inView(frustum, anchor)) continue;
        const f32 d = eye.getDistanceFromSQ(anchor);
        if (i < pinned)
            place(driver, collision, camera, font, *c, d, blocked);
        else
            near_.push_back(SNear{d, c});
    }
    const auto nearer = [](const SNear& a, const SNear& b) { return a.distanceSq < b.distanceSq; };
    if (near_.size() > limit) {
        std::nth_element(near_.begin(), near_.begin() + std::ptrdiff_t(limit), near_.end(), nearer);
        near_.resize(limit);
    }
    std::sort(near_.begin(), near_.end(), nearer);
    for (const SNear& n : near_)
        place(driver, collision, camera, font, *n.candidate, n.distanceSq, blocked);
}

}  // namespace tessel
