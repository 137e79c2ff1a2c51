#include "scene/rate_graph.h"

namespace tessel {
using namespace irr;

std::vector<core::line2di> rateGraphLines(const std::vector<std::int32_t>& samples, float rateMax,
                                          int width, int height) {
    std::vector<core::line2di> lines;
    lines.reserve(samples.size());
    core::position2di start(width - 220, height - 11);
    for (std::int32_t sample : samples) {
        core::position2di end(start.X + 4, height - 11);
        // rateMax starts at 10000 and never falls, so the divisor is never 0; the cast truncates
        // toward zero.
        if (sample != 0) end.Y = height - static_cast<int>(sample / (rateMax / 100.0f)) - 11;
        lines.emplace_back(start, end);
        start = end;
    }
    return lines;
}

void drawRateGraph(video::IVideoDriver* driver, int width, int height,
                   const std::vector<std::int32_t>& samples, float rateMax) {
    if (!driver) return;
    const video::SColor red(0xFFFF0000);
    for (const core::line2di& line : rateGraphLines(samples, rateMax, width, height))
        driver->draw2DLine(line.start, line.end, red);
}

}  // namespace tessel
