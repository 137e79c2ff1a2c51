#include "scene/particle_impacts.h"

#include <cmath>
#include <cstdio>
#include <deque>
#include <string>
#include <unordered_map>

#include "core/irr_ptr.h"
#include "nodes/node_manager.h"
#include "scene/impact_sprites.h"

namespace tessel {

using namespace irr;

namespace {

// Brightness steps of merged sprites: a count takes the largest step not above it. Past 32 the
// glow is saturated where it shows at all.
const int kBrightnessSteps[] = {1, 2, 3, 4, 6, 8, 12, 16, 24, 32};

// The window of recentImpactRates.
constexpr u32 kRateWindowMs = 2000;

int brightnessStep(int count) {
    int step = 1;
    for (int s : kBrightnessSteps)
        if (s <= count) step = s;
    return step;
}

// The first answer of getTexture per protocol, by the name the driver keeps it under: getTexture
// resolves the name against the working folder and, for a texture from the archive, unpacks the
// entry again on every call; findTexture by the kept name costs a binary search.
io::path g_resolvedName[3];

video::ITexture* protocolTexture(video::IVideoDriver* driver, int protocol) {
    if (!g_resolvedName[protocol].empty())
        if (video::ITexture* t = driver->findTexture(g_resolvedName[protocol])) return t;
    video::ITexture* t = driver->getTexture(kProtocolTextures[protocol]);
    if (t) g_resolvedName[protocol] = t->getName().getPath();
    return t;
}

// k additive sprites over one another blend as one sprite of 1 - (1 - c)^k per channel (the
// material computes src + dst * (1 - src)).
IrrPtr<video::IImage> brighterImage(video::IVideoDriver* driver, video::IImage* base, int count) {
    const core::dimension2d<u32> size = base->getDimension();
    IrrPtr<video::IImage> out(driver->createImage(video::ECF_A8R8G8B8, size));
    if (!out) return {};
    for (u32 y = 0; y < size.Height; ++y)
        for (u32 x = 0; x < size.Width; ++x) {
            const video::SColor c = base->getPixel(x, y);
            auto channel = [count](u32 v) {
                const double dark = std::pow(1.0 - v / 255.0, count);
                return static_cast<u32>(std::lround((1.0 - dark) * 255.0));
            };
            out->setPixel(x, y,
                          video::SColor(255, channel(c.getRed()), channel(c.getGreen()),
                                        channel(c.getBlue())));
        }
    return out;
}

struct PassRecord {
    u32 timeMs;
    int drawn;
    int total;
};
std::deque<PassRecord> g_passes;  // main thread
ImpactTotals g_totals;            // main thread

// Passes older than the window, or from a clock that went back, no longer count.
void forgetPassesBefore(u32 nowMs) {
    while (!g_passes.empty() &&
           (g_passes.front().timeMs > nowMs || nowMs - g_passes.front().timeMs > kRateWindowMs))
        g_passes.pop_front();
}

}  // namespace

video::ITexture* impactTexture(video::IVideoDriver* driver, int protocol, int count) {
    if (!driver || protocol < 0 || protocol > 2) return nullptr;
    const int step = brightnessStep(count);
    if (step == 1) return protocolTexture(driver, protocol);
    char name[64];
    std::snprintf(name, sizeof name, "tessel-impact-%d-x%d", protocol, step);
    if (video::ITexture* made = driver->findTexture(name)) return made;
    if (!protocolTexture(driver, protocol)) return nullptr;
    IrrPtr<video::IImage> base(driver->createImageFromFile(kProtocolTextures[protocol]));
    if (!base) return nullptr;
    IrrPtr<video::IImage> bright = brighterImage(driver, base.get(), step);
    if (!bright) return nullptr;
    // Like the plain sprite textures, which are loaded after start-up switched mip-maps off.
    const bool mipMaps = driver->getTextureCreationFlag(video::ETCF_CREATE_MIP_MAPS);
    driver->setTextureCreationFlag(video::ETCF_CREATE_MIP_MAPS, false);
    video::ITexture* texture = driver->addTexture(name, bright.get());
    driver->setTextureCreationFlag(video::ETCF_CREATE_MIP_MAPS, mipMaps);
    return texture;
}

ImpactPass addParticleImpacts(SSceneContext& context, const std::vector<TrafficRecord>& records,
                              std::size_t spriteCap) {
    ImpactPass pass;
    pass.records = static_cast<int>(records.size());
    scene::ISceneManager* smgr = context.sceneManager;
    video::IVideoDriver* driver = context.videoDriver;
    if (!smgr || !driver || records.empty()) return pass;

    // One sprite per (source node, destination node, protocol), in order of first appearance.
    struct Group {
        int from, to, protocol;
        int count = 0;
        int largestSize = 0;
    };
    std::vector<Group> groups;
    std::unordered_map<unsigned long long, std::size_t> groupOf;
    std::vector<SNetNode> nodes;
    {
        cNodeManager& manager = *context.nodes;
        // Each address is looked up once per pass, in the order the records name them, which
        // adds new nodes exactly as a look-up per record would (a repeat only refreshes again).
        std::unordered_map<std::string, int> indexOf;
        auto lookUp = [&](const std::string& address) {
            auto it = indexOf.find(address);
            if (it != indexOf.end()) return it->second;
            int index = manager.findOrAddNode(address, 1);
            indexOf.emplace(address, index);
            return index;
        };
        for (const TrafficRecord& r : records) {
            if (r.src == r.dst) continue;
            const int from = lookUp(r.src);
            const int to = lookUp(r.dst);
            if (from < 0 || to < 0) continue;
            const int protocol = r.tcp == 1 ? 0 : r.udp == 1 ? 1 : r.icmp == 1 ? 2 : -1;
            if (protocol < 0) continue;
            const unsigned long long key = (static_cast<unsigned long long>(from) << 34) |
                                           (static_cast<unsigned long long>(to) << 2) |
                                           static_cast<unsigned long long>(protocol);
            auto found = groupOf.emplace(key, groups.size());
            if (found.second) groups.push_back(Group{from, to, protocol});
            Group& g = groups[found.first->second];
            g.largestSize = g.count == 0 ? r.size : std::max(g.largestSize, r.size);
            ++g.count;
        }
        // Only the main thread adds or removes nodes: the indices above hold for this copy.
        nodes = manager.copyAllNodes();
    }
    const bool viaGateway = nodes.size() > 1 && nodes[1].isGateway == 1;

    CImpactSprites* sprites = impactSpritesOf(smgr);
    sprites->setMergedTexture(
        [driver](int protocol, int records) { return impactTexture(driver, protocol, records); });
    // Start time "now" of the virtual timer: a later one would underflow in the flight.
    const u32 now = context.timer ? context.timer->getTime() : 0;
    for (const Group& g : groups) {
        if (sprites->liveCount() >= spriteCap) {
            pass.countedRecords += g.count;
            continue;
        }
        core::vector3df points[3];
        int n = 0;
        points[n++] = toVector(nodes[static_cast<std::size_t>(g.from)].position);
        if (viaGateway) points[n++] = toVector(kGatewayPosition);
        points[n++] = toVector(nodes[static_cast<std::size_t>(g.to)].position);
        const f32 side = static_cast<f32>(g.largestSize / 100.0);
        sprites->addSprite(points, n, now, side, impactTexture(driver, g.protocol, g.count),
                           g.protocol, g.count);
        ++pass.sprites;
        pass.drawnRecords += g.count;
    }

    g_totals.merged += pass.drawnRecords - pass.sprites;
    g_totals.capped += pass.countedRecords;
    forgetPassesBefore(now);
    g_passes.push_back(PassRecord{now, pass.drawnRecords, pass.drawnRecords + pass.countedRecords});
    return pass;
}

ImpactRates recentImpactRates(u32 nowMs) {
    forgetPassesBefore(nowMs);
    long long drawn = 0, total = 0;
    for (const PassRecord& p : g_passes) {
        drawn += p.drawn;
        total += p.total;
    }
    ImpactRates rates;
    rates.drawnPerSecond = static_cast<int>(drawn * 1000 / kRateWindowMs);
    rates.totalPerSecond = static_cast<int>(total * 1000 / kRateWindowMs);
    return rates;
}

void forgetImpactRates() { g_passes.clear(); }

ImpactTotals impactTotals() { return g_totals; }

}  // namespace tessel
