#include "ui/toolbar.h"

namespace tessel {

using namespace irr;

namespace {
constexpr s32 kFirstLeft = 20;
constexpr s32 kPitch = 37;
constexpr s32 kSide = 32;
constexpr s32 kTopFromBottom = 52;
constexpr s32 kBottomFromBottom = 20;
}  // namespace

core::rect<s32> toolbarButtonRect(int k, int height) {
    const s32 left = kFirstLeft + kPitch * k;
    return core::rect<s32>(left, height - kTopFromBottom, left + kSide, height - kBottomFromBottom);
}

int toolbarButtonAt(const core::position2d<s32>& p, int height) {
    for (int k = 0; k < TB_COUNT; ++k) {
        const core::rect<s32> r = toolbarButtonRect(k, height);
        if (p.X > r.UpperLeftCorner.X && p.X < r.LowerRightCorner.X && p.Y > r.UpperLeftCorner.Y &&
            p.Y < r.LowerRightCorner.Y)
            return k;
    }
    return TB_NONE;
}

}  // namespace tessel
