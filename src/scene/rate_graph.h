#pragma once
#include <irrlicht.h>

#include <cstdint>
#include <vector>

namespace tessel {

// The traffic-rate graph over the stats grid: one red 2D line per sample of the rate history
// (oldest first, bits per second, full scale at rateMax), 4 pixels apart, anchored 220 pixels
// from the right and 11 above the bottom. Between beginScene and endScene, after the GUI. Main
// thread only.
void drawRateGraph(irr::video::IVideoDriver* driver, int width, int height,
                   const std::vector<std::int32_t>& samples, float rateMax);

// The lines drawRateGraph draws for these samples (oldest first), in drawing order.
std::vector<irr::core::line2di> rateGraphLines(const std::vector<std::int32_t>& samples,
                                               float rateMax, int width, int height);

}  // namespace tessel
