#pragma once
#include <irrlicht.h>

namespace tessel {

// The seven toolbar buttons along the bottom left of the window, in their order (the HUD draws
// them, the event receiver hits them). Main thread.
enum ToolbarCommand {
    TB_NONE = -1,
    TB_EXIT,
    TB_TOUR,
    TB_GRAPH,
    TB_LOG,
    TB_SCREENSHOT,
    TB_CONFIG,
    TB_HELP,
    TB_COUNT
};

// Where button `k` stands in a window `height` pixels high: 32 x 32, at x = 20 + 37k, from
// height - 52 to height - 20.
irr::core::rect<irr::s32> toolbarButtonRect(int k, int height);
// The button a click at `p` hits, or TB_NONE: a hit needs the cursor strictly inside the
// button's frame.
int toolbarButtonAt(const irr::core::position2d<irr::s32>& p, int height);

}  // namespace tessel
