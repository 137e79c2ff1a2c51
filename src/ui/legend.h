#pragma once
#include <irrlicht.h>

namespace tessel {

// A panel that says what the colours and cubes mean: the three impact colours, the four kinds of
// cube with their own textures, a beam and the gateway link. Hidden at first; K shows and hides
// it. Main thread.
void buildLegend(irr::IrrlichtDevice* device);
void toggleLegend();
bool legendShown();

}  // namespace tessel
