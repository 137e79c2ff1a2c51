#include "scene/impact_sprites.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "scene/root_child.h"

namespace tessel {

using namespace irr;

namespace {

// The engine's follow-spline position at `timeMs` (its arithmetic, step by step, so a sprite
// stands where the engine's animator would put a billboard).
core::vector3df splinePosition(const core::vector3df* points, int count, u32 startMs, u32 timeMs) {
    const s32 size = count;
    if (size == 1) return points[0];
    const f32 dt = ((timeMs - startMs) * 1.0f * 0.001f);
    const s32 unwrapped = core::floor32(dt);
    if (unwrapped >= size - 1) return points[size - 1];
    const f32 u = core::fract(dt);
    const s32 idx = unwrapped % size;
    auto clamp = [size](s32 i) { return i < 0 ? size + i : (i >= size ? i - size : i); };
    const core::vector3df& p0 = points[clamp(idx - 1)];
    const core::vector3df& p1 = points[clamp(idx + 0)];
    const core::vector3df& p2 = points[clamp(idx + 1)];
    const core::vector3df& p3 = points[clamp(idx + 2)];
    const f32 h1 = 2.0f * u * u * u - 3.0f * u * u + 1.0f;
    const f32 h2 = -2.0f * u * u * u + 3.0f * u * u;
    const f32 h3 = u * u * u - 2.0f * u * u + u;
    const f32 h4 = u * u * u - u * u;
    const f32 tightness = 0.0f;
    const core::vector3df t1 = (p2 - p0) * tightness;
    const core::vector3df t2 = (p3 - p1) * tightness;
    return p1 * h1 + p2 * h2 + t1 * h3 + t2 * h4;
}

// Indices of quad q, in the billboard's order: (0, 2, 1), (0, 3, 2).
void writeQuadIndices(core::array<u16>& indices, u32 q) {
    const u16 b = static_cast<u16>(q * 4);
    const u16 quad[6] = {b, u16(b + 2), u16(b + 1), b, u16(b + 3), u16(b + 2)};
    for (int i = 0; i < 6; ++i) indices[q * 6 + i] = quad[i];
}

// Quads per buffer: 16-bit indices address 65536 vertices.
constexpr u32 kMaxQuadsPerBuffer = 65536 / 4;

}  // namespace

CImpactSprites::CImpactSprites(scene::ISceneNode* parent, scene::ISceneManager* manager)
    : scene::ISceneNode(parent, manager, 0) {
    // Each sprite is culled on its own, as a billboard is; the node itself always registers.
    setAutomaticCulling(scene::EAC_OFF);
    material_.Lighting = false;
    material_.MaterialType = video::EMT_TRANSPARENT_ADD_COLOR;
}

video::SMaterial& CImpactSprites::getMaterial(u32 i) {
    // Out of range, the engine's own answer: a scratch material nothing draws with.
    if (i >= slots_.size()) return ISceneNode::getMaterial(i);
    return slots_[i].buffer->Material;
}

int CImpactSprites::slotFor(video::ITexture* texture) {
    for (std::size_t i = 0; i < slots_.size(); ++i)
        if (slots_[i].texture.get() == texture) return static_cast<int>(i);
    Slot slot;
    slot.texture = tessel::grab(texture);
    slot.buffer.reset(new scene::SMeshBuffer());
    slot.buffer->setHardwareMappingHint(scene::EHM_STREAM);
    slot.buffer->Material = material_;
    slot.buffer->Material.setTexture(0, texture);
    slots_.push_back(std::move(slot));
    return static_cast<int>(slots_.size() - 1);
}

void CImpactSprites::addSprite(const core::vector3df* points, int pointCount, u32 startMs, f32 side,
                               video::ITexture* texture, int protocol, int records) {
    if (!points || pointCount < 1 || pointCount > 3) return;
    Sprite s;
    for (int i = 0; i < pointCount; ++i) s.points[i] = points[i];
    s.pointCount = pointCount;
    s.startMs = startMs;
    s.side = side;
    s.slot = slotFor(texture);
    s.protocol = protocol;
    s.records = std::max(records, 1);
    s.position = points[0];
    sprites_.push_back(s);
}

void CImpactSprites::dropEnded() {
    sprites_.erase(
        std::remove_if(sprites_.begin(), sprites_.end(), [](const Sprite& s) { return s.ended; }),
        sprites_.end());
}

void CImpactSprites::OnAnimate(u32 timeMs) {
    dropEnded();
    for (Sprite& s : sprites_) {
        s.position = splinePosition(s.points, s.pointCount, s.startMs, timeMs);
        // The delete animator's rule: strictly later than start + life.
        if (timeMs > s.startMs + kLifeMs) s.ended = true;
    }
    ISceneNode::OnAnimate(timeMs);
}

void CImpactSprites::OnRegisterSceneNode() {
    // The transparent pass, after every solid node: the sprites write no depth.
    if (IsVisible && !sprites_.empty())
        SceneManager->registerNodeForRendering(this, scene::ESNRP_TRANSPARENT);
    ISceneNode::OnRegisterSceneNode();
}

void CImpactSprites::render() {
    drawnLastFrame_ = 0;
    blendedLastFrame_ = wantedLastFrame_ = 0;
    video::IVideoDriver* driver = SceneManager->getVideoDriver();
    scene::ICameraSceneNode* camera = SceneManager->getActiveCamera();
    if (!camera || !driver) {
        dropEnded();
        return;
    }
    // The billboard's facing vectors, computed once: they depend only on the camera.
    core::vector3df campos = camera->getAbsolutePosition();
    core::vector3df target = camera->getTarget();
    core::vector3df up = camera->getUpVector();
    core::vector3df view = target - campos;
    view.normalize();
    core::vector3df horizontalUnit = up.crossProduct(view);
    if (horizontalUnit.getLength() == 0) horizontalUnit.set(up.Y, up.X, up.Z);
    horizontalUnit.normalize();
    const core::aabbox3d<f32> frustumBox = camera->getViewFrustum()->getBoundingBox();

    // Pass 1: the billboard's culling, and each sprite's area on the screen. An additive sprite
    // costs the software rasterizers its area in blended pixels, and under a flood most of them
    // converge on this host near the camera: past kBlendBudget screens of blended pixels a
    // frame, sprites that coincide are merged, and if that is not enough every sprite is drawn
    // smaller by one factor. Light traffic stays exactly as it was.
    const core::dimension2d<u32> screen = driver->getCurrentRenderTargetSize();
    const f64 screenArea = f64(screen.Width) * f64(screen.Height);
    const f32 tanHalfFov = std::tan(camera->getFOV() * 0.5f);
    const f32 pixelsPerUnitAtDepthOne =
        tanHalfFov > 0 ? static_cast<f32>(screen.Height) * 0.5f / tanHalfFov : 0.0f;
    const f32 nearValue = std::max(camera->getNearValue(), 0.001f);
    quads_.clear();
    // Blended pixels of a quad of `side` at `position`.
    auto pixelsOf = [&](const core::vector3df& position, f32 side) -> f64 {
        // Wholly behind the camera it covers nothing; next to it, at most the screen.
        const f32 depth = (position - campos).dotProduct(view);
        if (depth + side * 0.5f <= 0) return 0;
        const f64 pixels = f64(side) * pixelsPerUnitAtDepthOne / std::max(depth, nearValue);
        return std::min(pixels * pixels, screenArea);
    };
    f64 blended = 0;
    for (const Sprite& s : sprites_) {
        if (s.side == 0.0f) continue;  // nothing to see
        // The billboard's box culling: a box of +-(width + height) / 6 around it against the
        // view frustum's bounding box.
        const f32 avg = (s.side + s.side) / 6;
        const core::aabbox3d<f32> box(s.position - core::vector3df(avg, avg, avg),
                                      s.position + core::vector3df(avg, avg, avg));
        if (!box.intersectsWithBox(frustumBox)) continue;
        quads_.push_back(Quad{s.position, s.side, s.slot, s.protocol, s.records, false});
        blended += pixelsOf(s.position, s.side);
    }
    const f64 budget = kBlendBudget * screenArea;
    wantedLastFrame_ = blended;
    if (blended > budget && mergedTexture_) {
        mergeQuads();
        blended = 0;
        for (const Quad& q : quads_) blended += pixelsOf(q.position, q.side);
    }
    const f32 shrink = blended > budget ? static_cast<f32>(std::sqrt(budget / blended)) : 1.0f;
    blendedLastFrame_ = blended > budget ? budget : blended;

    std::vector<u32> quads(slots_.size(), 0);
    for (Slot& slot : slots_) slot.buffer->Vertices.set_used(0);
    for (const Quad& s : quads_) {
        Slot& slot = slots_[static_cast<std::size_t>(s.slot)];
        u32& q = quads[static_cast<std::size_t>(s.slot)];
        if (q >= kMaxQuadsPerBuffer) continue;
        const f32 side = s.side * shrink;

        core::vector3df horizontal = horizontalUnit;
        core::vector3df topHorizontal = horizontal * 0.5f * side;
        horizontal *= 0.5f * side;
        core::vector3df vertical = horizontal.crossProduct(view);  // pointing down
        vertical.normalize();
        vertical *= 0.5f * side;
        const core::vector3df normal = view * -1.0f;
        const video::SColor white(0xFFFFFFFF);
        const core::vector3df& pos = s.position;
        // 2--1
        // |\ |
        // | \|
        // 3--0
        core::array<video::S3DVertex>& v = slot.buffer->Vertices;
        v.push_back(video::S3DVertex(pos + horizontal + vertical, normal, white,
                                     core::vector2df(1.0f, 1.0f)));
        v.push_back(video::S3DVertex(pos + topHorizontal - vertical, normal, white,
                                     core::vector2df(1.0f, 0.0f)));
        v.push_back(video::S3DVertex(pos - topHorizontal - vertical, normal, white,
                                     core::vector2df(0.0f, 0.0f)));
        v.push_back(video::S3DVertex(pos - horizontal + vertical, normal, white,
                                     core::vector2df(0.0f, 1.0f)));
        ++q;
    }

    driver->setTransform(video::ETS_WORLD, core::IdentityMatrix);
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        Slot& slot = slots_[i];
        if (quads[i] == 0) continue;
        // Indices written once stay: shrinking `used` keeps them, and growing first restores
        // every written one so a reallocation copies them all.
        core::array<u16>& indices = slot.buffer->Indices;
        indices.set_used(slot.filledQuads * 6);
        if (quads[i] > slot.filledQuads) {
            indices.set_used(quads[i] * 6);
            for (u32 q = slot.filledQuads; q < quads[i]; ++q) writeQuadIndices(indices, q);
            slot.filledQuads = quads[i];
        }
        indices.set_used(quads[i] * 6);
        slot.buffer->setDirty();
        driver->setMaterial(slot.buffer->Material);
        driver->drawMeshBuffer(slot.buffer.get());
        drawnLastFrame_ += quads[i];
    }
    dropEnded();
}

void CImpactSprites::mergeQuads() {
    // Keyed by the exact point and the protocol, in order of first appearance.
    struct Key {
        u32 x, y, z;
        int protocol;
        bool operator==(const Key& o) const {
            return x == o.x && y == o.y && z == o.z && protocol == o.protocol;
        }
    };
    struct KeyHash {
        std::size_t operator()(const Key& k) const {
            return ((std::size_t(k.x) * 31 + k.y) * 31 + k.z) * 31 + std::size_t(k.protocol);
        }
    };
    auto bitsOf = [](f32 v) {
        u32 bits;
        std::memcpy(&bits, &v, sizeof bits);
        return bits;
    };
    std::unordered_map<Key, std::size_t, KeyHash> merged;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < quads_.size(); ++i) {
        const Quad q = quads_[i];
        if (q.protocol >= 0) {
            const Key key{bitsOf(q.position.X), bitsOf(q.position.Y), bitsOf(q.position.Z),
                          q.protocol};
            auto found = merged.emplace(key, kept);
            if (!found.second) {
                Quad& into = quads_[found.first->second];
                into.side = std::max(into.side, q.side);
                into.records += q.records;
                into.merged = true;
                continue;
            }
        }
        quads_[kept++] = q;
    }
    quads_.resize(kept);
    for (Quad& q : quads_)
        if (q.merged)
            if (video::ITexture* texture = mergedTexture_(q.protocol, q.records))
                q.slot = slotFor(texture);
}

CImpactSprites* impactSpritesOf(scene::ISceneManager* sceneManager) {
    return rootChildOf<CImpactSprites>(sceneManager);
}

}  // namespace tessel
