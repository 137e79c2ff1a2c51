#pragma once
#include <irrlicht.h>

#include <cstddef>
#include <vector>

#include "core/traffic_record.h"
#include "scene/scene_context.h"

namespace tessel {

// The sprite textures of TCP, UDP and ICMP, in that order (the legend shows them too).
inline constexpr const char* kProtocolTextures[3] = {
    "Media/particlered.bmp", "Media/particleblue.bmp", "Media/particlegreen.bmp"};

// What one intel pass made of its records.
struct ImpactPass {
    int records = 0;         // records handed in
    int sprites = 0;         // sprites made; merged records share one
    int drawnRecords = 0;    // records those sprites stand for
    int countedRecords = 0;  // records over the cap: counted, not drawn
};

// Above this many live sprites a pass makes no more: their records are only counted. Chosen by
// measurement (bench/README.md, figure 4): the frame rate on a software renderer holds up to it.
constexpr std::size_t kImpactSpriteCap = 2000;

// One intel pass, main thread only (takes the node-list lock). Each record becomes a glowing
// sprite flying from the source node (through the gateway point when node 1 is the gateway) to
// the destination node, red/blue/green for TCP/UDP/ICMP, `size` / 100 wide, gone 2000 ms later;
// both nodes are looked up with refresh, so new addresses become nodes. Records of the pass with
// the same source, destination and protocol start together on the same path, so they fly as one
// sprite: as wide as the largest, as bright as that many overlapping additive sprites. Once
// `spriteCap` sprites are alive, further records are counted instead of drawn.
ImpactPass addParticleImpacts(SSceneContext& context, const std::vector<TrafficRecord>& records,
                              std::size_t spriteCap = kImpactSpriteCap);

// Records per second over the passes of the last two seconds: drawn, and all. The HUD says so
// while some were only counted. Main thread.
struct ImpactRates {
    int drawnPerSecond = 0;
    int totalPerSecond = 0;
};
ImpactRates recentImpactRates(irr::u32 nowMs);
// A new scene starts with no recent passes: its clock may start anywhere.
void forgetImpactRates();

// Records since start that flew on another record's sprite, and that were only counted. Main
// thread.
struct ImpactTotals {
    long long merged = 0;
    long long capped = 0;
};
ImpactTotals impactTotals();

// The sprite texture of a protocol (0 TCP, 1 UDP, 2 ICMP) for `count` merged sprites: the plain
// texture for one, otherwise a brighter copy made once per driver. Null when the texture is
// missing.
irr::video::ITexture* impactTexture(irr::video::IVideoDriver* driver, int protocol, int count);

}  // namespace tessel
