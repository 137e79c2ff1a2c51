#include "ui/legend.h"

#include <algorithm>
#include <string>

#include "core/irr_ptr.h"
#include "scene/node_objects.h"
#include "scene/particle_impacts.h"
#include "scene/traffic_beams.h"

namespace tessel {

using namespace irr;

namespace {

// Left, under the status line; one row per entry.
constexpr s32 kLeft = 10, kTop = 138, kWidth = 230, kRowHeight = 22, kPad = 8, kSwatch = 18;

enum class Look { Sprite, Cube, Beam };

struct Entry {
    const char* texture;
    const wchar_t* meaning;
    Look look;
};

const Entry kEntries[] = {
    {kProtocolTextures[0], L"TCP packet", Look::Sprite},
    {kProtocolTextures[1], L"UDP packet", Look::Sprite},
    {kProtocolTextures[2], L"ICMP or ICMPv6 packet", Look::Sprite},
    {kHostCubeTexture, L"this host", Look::Cube},
    {kGatewayCubeTexture, L"gateway", Look::Cube},
    {kLocalCubeTexture, L"host on the LAN", Look::Cube},
    {kForeignCubeTexture, L"host beyond the LAN", Look::Cube},
    {kBeamTexture, L"TCP connection, open", Look::Beam},
    {kBeamTexture, L"gateway link", Look::Beam},
};
constexpr s32 kEntryCount = s32(sizeof kEntries / sizeof kEntries[0]);

gui::IGUIStaticText* g_panel = nullptr;

// A small copy of a scene texture, made once, so that every driver shows it the same (the
// software renderer does not scale GUI images). A beam's texture is turned a quarter, so that
// its bright core runs along the strip; a sprite keeps the brightest pixel of each cell, so that
// its glow shows as it does over the scene's black.
video::ITexture* swatchTexture(video::IVideoDriver* driver, const Entry& entry, u32 width,
                               u32 height) {
    const bool across = entry.look == Look::Beam;
    const std::string name = std::string("legend:") + entry.texture + (across ? ":across" : "");
    if (video::ITexture* made = driver->findTexture(name.c_str())) return made;
    IrrPtr<video::IImage> source(driver->createImageFromFile(entry.texture));
    if (!source) return nullptr;
    // A sprite's glow fills the middle half of its texture: the swatch shows that half.
    const bool sprite = entry.look == Look::Sprite;
    const core::dimension2d<u32> whole = source->getDimension();
    const core::dimension2d<u32> from = sprite ? whole / 2 : whole;
    const u32 left = sprite ? whole.Width / 4 : 0, top = sprite ? whole.Height / 4 : 0;
    IrrPtr<video::IImage> swatch(
        driver->createImage(video::ECF_A8R8G8B8, core::dimension2d<u32>(width, height)));
    for (u32 y = 0; y < height; ++y)
        for (u32 x = 0; x < width; ++x) {
            // The cell of the source that this pixel covers.
            const u32 cx = across ? y : x, cw = across ? height : width;
            const u32 cy = across ? x : y, ch = across ? width : height;
            const u32 u0 = cx * from.Width / cw, u1 = std::max(u0 + 1, (cx + 1) * from.Width / cw);
            const u32 v0 = cy * from.Height / ch,
                      v1 = std::max(v0 + 1, (cy + 1) * from.Height / ch);
            video::SColor pick = source->getPixel(left + (u0 + u1) / 2, top + (v0 + v1) / 2);
            if (sprite)
                for (u32 v = v0; v < v1; ++v)
                    for (u32 u = u0; u < u1; ++u) {
                        const video::SColor c = source->getPixel(left + u, top + v);
                        if (c.getLuminance() > pick.getLuminance()) pick = c;
                    }
            swatch->setPixel(x, y, pick);
        }
    return driver->addTexture(name.c_str(), swatch.get());
}

}  // namespace

void buildLegend(IrrlichtDevice* device) {
    gui::IGUIEnvironment* gui = device->getGUIEnvironment();
    video::IVideoDriver* driver = device->getVideoDriver();
    const s32 height = kPad * 2 + kRowHeight * (kEntryCount + 1);
    g_panel = gui->addStaticText(L"", core::rect<s32>(kLeft, kTop, kLeft + kWidth, kTop + height),
                                 true, false, 0, -1, true);
    gui::IGUIStaticText* title = gui->addStaticText(
        L"Legend (K): IPv4 and IPv6 alike", core::rect<s32>(kPad, kPad, kWidth - kPad, kPad + 18),
        false, false, g_panel, -1, false);
    title->setOverrideColor(video::SColor(255, 235, 245, 235));
    for (s32 i = 0; i < kEntryCount; ++i) {
        const Entry& e = kEntries[i];
        const s32 y = kPad + kRowHeight * (i + 1);
        const bool line = e.look == Look::Beam;
        const s32 swatchTop = line ? y + kSwatch / 2 - 2 : y;
        const s32 swatchBottom = line ? y + kSwatch / 2 + 2 : y + kSwatch;
        const s32 swatchRight = kPad + (line ? 2 * kSwatch : kSwatch);
        gui::IGUIImage* swatch =
            gui->addImage(core::rect<s32>(kPad, swatchTop, swatchRight, swatchBottom), g_panel, -1,
                          nullptr, false);
        swatch->setImage(
            swatchTexture(driver, e, u32(swatchRight - kPad), u32(swatchBottom - swatchTop)));
        gui::IGUIStaticText* text = gui->addStaticText(
            e.meaning, core::rect<s32>(kPad + 2 * kSwatch + 8, y, kWidth - kPad, y + kSwatch),
            false, false, g_panel, -1, false);
        text->setOverrideColor(video::SColor(255, 225, 225, 225));
    }
    g_panel->setVisible(false);
}

void toggleLegend() {
    if (g_panel) g_panel->setVisible(!g_panel->isVisible());
}

bool legendShown() { return g_panel && g_panel->isVisible(); }

}  // namespace tessel
