// Draws every picture Tessel needs (textures, icons, the bitmap font, the help card, the splash)
// and writes them with the engine's own image writers, so what the program loads is exactly what
// the engine can read. Run by the build: make_media OUTDIR HELP_TEXT BOLD_FONT REGULAR_FONT
#include <ft2build.h>
#include FT_FREETYPE_H
#include <irrlicht.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace irr;

namespace {

struct Rgba {
    u8 r = 0, g = 0, b = 0, a = 0;
};

Rgba rgb(int r, int g, int b, int a = 255) {
    return Rgba{static_cast<u8>(r), static_cast<u8>(g), static_cast<u8>(b), static_cast<u8>(a)};
}

// A plain RGBA raster; drawing clips at the edges.
class Canvas {
  public:
    Canvas(int w, int h, Rgba fill = Rgba{}) : width(w), height(h), px(w * h, fill) {}

    void set(int x, int y, Rgba c) {
        if (x >= 0 && y >= 0 && x < width && y < height) px[y * width + x] = c;
    }
    Rgba get(int x, int y) const { return px[y * width + x]; }

    // Blends `c` over the pixel with coverage `cover` (0..1).
    void blend(int x, int y, Rgba c, float cover) {
        if (x < 0 || y < 0 || x >= width || y >= height || cover <= 0) return;
        Rgba& d = px[y * width + x];
        float a = cover * c.a / 255.0f;
        float da = d.a / 255.0f;
        float oa = a + da * (1 - a);
        if (oa <= 0) return;
        auto mix = [&](u8 s, u8 t) {
            return static_cast<u8>(std::lround((s * a + t * da * (1 - a)) / oa));
        };
        d = Rgba{mix(c.r, d.r), mix(c.g, d.g), mix(c.b, d.b),
                 static_cast<u8>(std::lround(oa * 255))};
    }

    void fillRect(int x0, int y0, int x1, int y1, Rgba c) {
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) set(x, y, c);
    }
    void frame(int x0, int y0, int x1, int y1, int t, Rgba c) {
        fillRect(x0, y0, x1, y0 + t, c);
        fillRect(x0, y1 - t, x1, y1, c);
        fillRect(x0, y0, x0 + t, y1, c);
        fillRect(x1 - t, y0, x1, y1, c);
    }
    // A thick anti-aliased segment.
    void line(float x0, float y0, float x1, float y1, float thick, Rgba c) {
        int minx = static_cast<int>(std::floor(std::min(x0, x1) - thick));
        int maxx = static_cast<int>(std::ceil(std::max(x0, x1) + thick));
        int miny = static_cast<int>(std::floor(std::min(y0, y1) - thick));
        int maxy = static_cast<int>(std::ceil(std::max(y0, y1) + thick));
        float dx = x1 - x0, dy = y1 - y0, len2 = dx * dx + dy * dy;
        for (int y = miny; y <= maxy; ++y)
            for (int x = minx; x <= maxx; ++x) {
                float px0 = x + 0.5f - x0, py0 = y + 0.5f - y0;
                float t = len2 > 0 ? std::clamp((px0 * dx + py0 * dy) / len2, 0.0f, 1.0f) : 0;
                float ex = px0 - t * dx, ey = py0 - t * dy;
                float d = std::sqrt(ex * ex + ey * ey);
                blend(x, y, c, std::clamp(thick / 2 - d + 0.5f, 0.0f, 1.0f));
            }
    }
    void disc(float cx, float cy, float r, Rgba c) {
        for (int y = static_cast<int>(cy - r - 1); y <= cy + r + 1; ++y)
            for (int x = static_cast<int>(cx - r - 1); x <= cx + r + 1; ++x) {
                float d = std::hypot(x + 0.5f - cx, y + 0.5f - cy);
                blend(x, y, c, std::clamp(r - d + 0.5f, 0.0f, 1.0f));
            }
    }
    void ring(float cx, float cy, float r, float thick, Rgba c) {
        for (int y = static_cast<int>(cy - r - thick); y <= cy + r + thick; ++y)
            for (int x = static_cast<int>(cx - r - thick); x <= cx + r + thick; ++x) {
                float d = std::fabs(std::hypot(x + 0.5f - cx, y + 0.5f - cy) - r);
                blend(x, y, c, std::clamp(thick / 2 - d + 0.5f, 0.0f, 1.0f));
            }
    }

    int width, height;
    std::vector<Rgba> px;
};

class Typeface {
  public:
    Typeface(FT_Library lib, const std::string& file) {
        ok = FT_New_Face(lib, file.c_str(), 0, &face) == 0;
    }
    ~Typeface() {
        if (ok) FT_Done_Face(face);
    }
    bool ok = false;
    FT_Face face = nullptr;

    void size(int pixels) { FT_Set_Pixel_Sizes(face, 0, pixels); }
    int ascender() const { return static_cast<int>(face->size->metrics.ascender >> 6); }
    int lineHeight() const {
        return static_cast<int>((face->size->metrics.ascender - face->size->metrics.descender) >>
                                6);
    }
    int textWidth(const std::string& text) {
        int w = 0;
        for (unsigned char ch : text) {
            if (FT_Load_Char(face, ch, FT_LOAD_DEFAULT) == 0) w += face->glyph->advance.x >> 6;
        }
        return w;
    }
    // Draws `text` with its baseline at y; gives the pen position after it.
    int draw(Canvas& c, int x, int baseline, const std::string& text, Rgba colour) {
        for (unsigned char ch : text) {
            if (FT_Load_Char(face, ch, FT_LOAD_RENDER) != 0) continue;
            FT_GlyphSlot g = face->glyph;
            for (unsigned row = 0; row < g->bitmap.rows; ++row)
                for (unsigned col = 0; col < g->bitmap.width; ++col) {
                    u8 v = g->bitmap.buffer[row * g->bitmap.pitch + col];
                    c.blend(x + g->bitmap_left + static_cast<int>(col),
                            baseline - g->bitmap_top + static_cast<int>(row), colour, v / 255.0f);
                }
            x += g->advance.x >> 6;
        }
        return x;
    }
};

class Writer {
  public:
    Writer(video::IVideoDriver* d, std::string dir) : driver(d), out(std::move(dir)) {}
    bool save(const Canvas& c, const std::string& name, bool opaque = false) {
        video::IImage* img = driver->createImage(
            video::ECF_A8R8G8B8,
            core::dimension2d<u32>(static_cast<u32>(c.width), static_cast<u32>(c.height)));
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                Rgba p = c.get(x, y);
                img->setPixel(static_cast<u32>(x), static_cast<u32>(y),
                              video::SColor(opaque ? 255 : p.a, p.r, p.g, p.b));
            }
        std::string path = out + "/" + name;
        bool ok = driver->writeImageToFile(img, path.c_str(), 92);
        img->drop();
        if (!ok) std::fprintf(stderr, "make_media: cannot write %s\n", path.c_str());
        return ok;
    }

  private:
    video::IVideoDriver* driver;
    std::string out;
};

// Engine bitmap font: glyph i is character 32 + i. Each glyph box starts with an upper-left
// marker pixel and ends at a lower-right marker one pixel right of and below the box. Pixel (0,0)
// gives the upper-left marker colour, (1,0) the lower-right one, (2,0) the background. Glyphs are
// drawn white on black, one-bit, so the engine's tint colours them cleanly.
Canvas makeFont(Typeface& tf, int pixels) {
    tf.size(pixels);
    const Rgba kUpperLeft = rgb(255, 255, 0), kLowerRight = rgb(255, 0, 0),
               kBackground = rgb(0, 0, 0);
    const int boxHeight = tf.lineHeight() + 1;  // one padding row carries the markers
    const int imageWidth = 512;
    struct Glyph {
        int advance;
        FT_Bitmap bitmap;
        int left, top;
        std::vector<u8> bits;
        int pitch;
    };
    std::vector<Glyph> glyphs;
    for (int ch = 32; ch < 127; ++ch) {
        Glyph g{};
        if (FT_Load_Char(tf.face, static_cast<FT_ULong>(ch),
                         FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) == 0) {
            FT_GlyphSlot s = tf.face->glyph;
            g.advance = std::max(1, static_cast<int>(s->advance.x >> 6));
            g.bitmap = s->bitmap;
            g.left = s->bitmap_left;
            g.top = s->bitmap_top;
            g.pitch = s->bitmap.pitch;
            g.bits.assign(s->bitmap.buffer,
                          s->bitmap.buffer + s->bitmap.rows * std::abs(s->bitmap.pitch));
        } else {
            g.advance = pixels / 3;
        }
        glyphs.push_back(g);
    }
    // Lay out rows.
    std::vector<std::pair<int, int>> origin;
    int x = 0, y = 0;
    for (const Glyph& g : glyphs) {
        if (x + g.advance + 2 > imageWidth) {
            x = 0;
            y += boxHeight + 2;
        }
        origin.push_back({x, y});
        x += g.advance + 2;
    }
    int imageHeight = y + boxHeight + 2;
    Canvas c(imageWidth, imageHeight, kBackground);
    const int baseline = 1 + tf.ascender();
    for (std::size_t i = 0; i < glyphs.size(); ++i) {
        const Glyph& g = glyphs[i];
        int ox = origin[i].first, oy = origin[i].second;
        for (unsigned row = 0; row < g.bitmap.rows; ++row)
            for (unsigned col = 0; col < g.bitmap.width; ++col) {
                bool on = (g.bits[row * g.pitch + col / 8] >> (7 - col % 8)) & 1;
                int px = ox + g.left + static_cast<int>(col);
                int py = oy + baseline - g.top + static_cast<int>(row);
                // Ink stays inside the glyph's own box, below the marker row.
                if (on && px >= ox && px < ox + g.advance && py > oy && py < oy + boxHeight)
                    c.set(px, py, rgb(255, 255, 255));
            }
        c.set(ox, oy, kUpperLeft);
        c.set(ox + g.advance, oy + boxHeight, kLowerRight);
    }
    c.set(1, 0, kLowerRight);  // names the lower-right colour; the engine repaints it
    c.set(2, 0, kBackground);
    return c;
}

Canvas makeWallTexture(Rgba face, Rgba edge, Rgba accent, const std::string& label, Typeface& tf) {
    Canvas c(128, 128, face);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            // A faint diagonal weave so the turning cube reads as solid.
            if (((x + y) / 8) % 2 == 0) {
                Rgba p = c.get(x, y);
                c.set(x, y, rgb(p.r * 9 / 10, p.g * 9 / 10, p.b * 9 / 10));
            }
        }
    c.frame(0, 0, 128, 128, 8, edge);
    c.frame(12, 12, 116, 116, 2, accent);
    if (!label.empty()) {
        tf.size(44);
        int w = tf.textWidth(label);
        tf.draw(c, (128 - w) / 2, 80, label, accent);
    }
    return c;
}

Canvas makeGlow(int size, Rgba colour) {
    Canvas c(size, size, rgb(0, 0, 0));
    float r = size / 2.0f;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            float d = std::hypot(x + 0.5f - r, y + 0.5f - r) / r;
            float k = std::clamp(1.0f - d, 0.0f, 1.0f);
            k = k * k;
            float core = std::clamp(1.0f - d * 3, 0.0f, 1.0f);
            auto ch = [&](u8 v) {
                return std::min(255, static_cast<int>(v * k + 255 * core * 0.8f));
            };
            c.set(x, y, rgb(ch(colour.r), ch(colour.g), ch(colour.b)));
        }
    return c;
}

Canvas makeIcon(const std::string& kind) {
    const Rgba ink = rgb(235, 245, 235), plate = rgb(40, 62, 44, 230), rim = rgb(105, 155, 106);
    Canvas c(32, 32, rgb(0, 0, 0, 0));
    c.fillRect(1, 1, 31, 31, plate);
    c.frame(1, 1, 31, 31, 2, rim);
    if (kind == "exit") {
        c.line(9, 9, 23, 23, 3, ink);
        c.line(23, 9, 9, 23, 3, ink);
    } else if (kind == "demo") {
        for (int y = 8; y <= 24; ++y) {
            int half = 8 - std::abs(y - 16);
            c.fillRect(11, y, 11 + half * 3 / 2 + 1, y + 1, ink);
        }
    } else if (kind == "graph") {
        c.line(6, 25, 26, 25, 2, ink);
        c.line(6, 25, 6, 6, 2, ink);
        c.line(8, 20, 13, 14, 2, rgb(255, 80, 80));
        c.line(13, 14, 18, 18, 2, rgb(255, 80, 80));
        c.line(18, 18, 25, 8, 2, rgb(255, 80, 80));
    } else if (kind == "log") {
        c.fillRect(8, 6, 24, 26, rgb(220, 230, 220));
        for (int y = 10; y <= 22; y += 4) c.fillRect(10, y, 22, y + 2, rgb(60, 90, 64));
    } else if (kind == "screenshot") {
        c.fillRect(6, 11, 26, 25, ink);
        c.fillRect(11, 8, 18, 11, ink);
        c.disc(16, 18, 5, plate);
        c.disc(16, 18, 3, rim);
    } else if (kind == "config") {
        for (int i = 0; i < 8; ++i) {
            float a = i * 3.14159265f / 4;
            c.line(16 + 6 * std::cos(a), 16 + 6 * std::sin(a), 16 + 11 * std::cos(a),
                   16 + 11 * std::sin(a), 4, ink);
        }
        c.disc(16, 16, 8, ink);
        c.disc(16, 16, 3.5f, plate);
    } else if (kind == "help") {
        c.ring(16, 12, 5, 3, ink);
        c.fillRect(10, 6, 16, 13, plate);  // opens the ring into a hook
        c.line(16, 17, 16, 21, 3, ink);
        c.disc(16, 25, 2, ink);
    }
    return c;
}

// Window and desktop icon: a little cube, drawn on a grid of 32 and scaled to `size`.
Canvas makeAppIcon(int size) {
    const float k = size / 32.0f;
    auto at = [k](int v) { return static_cast<int>(std::lround(v * k)); };
    Canvas c(size, size, rgb(0, 0, 0, 0));
    c.fillRect(at(6), at(10), at(22), at(26), rgb(70, 120, 75));
    c.fillRect(at(22), at(10), at(27), at(26), rgb(45, 80, 50));
    c.fillRect(at(6), at(5), at(22), at(10), rgb(150, 200, 150));
    c.frame(at(6), at(10), at(22), at(26), std::max(1, at(1)), rgb(220, 240, 220));
    c.line(10 * k, 18 * k, 26 * k, 6 * k, 2 * k, rgb(255, 60, 60));
    return c;
}

std::vector<std::string> readLines(const std::string& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: make_media OUTDIR HELP_TEXT BOLD_FONT REGULAR_FONT\n");
        return 2;
    }
    std::string outDir = argv[1];
    std::string mediaDir = outDir + "/Media";
    mkdir(outDir.c_str(), 0755);
    mkdir(mediaDir.c_str(), 0755);

    SIrrlichtCreationParameters params;
    params.DriverType = video::EDT_NULL;
    params.LoggingLevel = ELL_ERROR;
    IrrlichtDevice* device = createDeviceEx(params);
    if (!device) return 1;
    video::IVideoDriver* driver = device->getVideoDriver();

    FT_Library ft;
    if (FT_Init_FreeType(&ft) != 0) return 1;
    bool ok = true;
    {  // the faces go before the library
        Typeface bold(ft, argv[3]);
        Typeface regular(ft, argv[4]);
        if (!bold.ok || !regular.ok) {
            std::fprintf(stderr, "make_media: cannot load the fonts %s, %s\n", argv[3], argv[4]);
            return 1;
        }

        Writer media(driver, mediaDir);
        Writer top(driver, outDir);
        const Rgba tint = rgb(105, 155, 106);

        ok &= media.save(makeFont(bold, 13), "fonthaettenschweiler.bmp", true);

        for (const char* kind : {"exit", "demo", "graph", "log", "screenshot", "config", "help"})
            ok &= media.save(makeIcon(kind), std::string("icon-") + kind + ".png");

        {  // Logo: the name in the HUD tint with a dark outline, on transparency.
            Canvas c(220, 56, rgb(0, 0, 0, 0));
            bold.size(40);
            for (int dy = -2; dy <= 2; ++dy)
                for (int dx = -2; dx <= 2; ++dx)
                    bold.draw(c, 8 + dx, 42 + dy, "TESSEL", rgb(10, 20, 12, 200));
            bold.draw(c, 8, 42, "TESSEL", tint);
            regular.size(11);
            regular.draw(c, 12, 54, "live network traffic", rgb(200, 225, 200, 230));
            ok &= media.save(c, "tessel5logo.png");
        }
        ok &= media.save(makeAppIcon(32), "tessel-icon.png");
        // The desktop icon in the sizes of the hicolor theme, installed by the package; drawn
        // at each size rather than scaled from 32 pixels.
        for (int size : {16, 32, 48, 64, 128, 256})
            ok &= top.save(makeAppIcon(size), "tessel-icon-" + std::to_string(size) + ".png");
        {  // Help card: the keys and buttons, readable at 512 x 512.
            Canvas c(512, 512, rgb(18, 30, 20, 225));
            c.frame(0, 0, 512, 512, 3, tint);
            std::vector<std::string> lines = readLines(argv[2]);
            // Lines close up (down to 16 pixels) rather than fall off the card.
            int headings = 0;
            for (const std::string& l : lines) headings += !l.empty() && l[0] == '#';
            const int plain = int(lines.size()) - headings;
            const int room = 500 - 34 - headings * 44 + 14;
            const int step = plain > 0 ? std::max(16, std::min(20, room / plain)) : 20;
            int y = 34;
            for (std::size_t i = 0; i < lines.size() && y < 505; ++i) {
                const std::string& l = lines[i];
                bool heading = !l.empty() && l[0] == '#';
                if (heading && i > 0) y += 14;
                Typeface& tf = heading ? bold : regular;
                tf.size(heading ? 22 : 15);
                std::string text = heading ? l.substr(l.find_first_not_of("# ")) : l;
                std::size_t tab = text.find('\t');
                if (tab != std::string::npos) {
                    bold.size(15);
                    bold.draw(c, 24, y, text.substr(0, tab), rgb(190, 235, 190));
                    regular.size(15);
                    regular.draw(c, 150, y, text.substr(tab + 1), rgb(230, 240, 230));
                } else {
                    tf.draw(c, 24, y, text, heading ? tint : rgb(230, 240, 230));
                }
                y += heading ? 30 : step;
            }
            ok &= media.save(c, "help.png");
        }
        {  // Frame and grid behind the traffic-rate graph.
            Canvas c(220, 120, rgb(10, 18, 12, 170));
            for (int x = 10; x < 220; x += 20) c.fillRect(x, 0, x + 1, 120, rgb(105, 155, 106, 90));
            for (int y = 10; y < 120; y += 20) c.fillRect(0, y, 220, y + 1, rgb(105, 155, 106, 90));
            c.frame(0, 0, 220, 120, 2, tint);
            ok &= media.save(c, "statsgrid.png");
        }
        {  // Flat heightmap: 129 x 129 at scale 100 covers 0..12800 in x and z.
            Canvas c(129, 129, rgb(0, 0, 0));
            ok &= media.save(c, "terrain-flatheightmap.jpg", true);
        }
        {  // Ground texture, stretched once over the whole terrain: 32 x 32 cells of 400 units.
            Canvas c(512, 512, rgb(12, 22, 14));
            for (int i = 0; i < 512; i += 16) {
                Rgba line = (i % 128 == 0) ? rgb(90, 160, 95) : rgb(40, 85, 45);
                c.fillRect(i, 0, i + 1, 512, line);
                c.fillRect(0, i, 512, i + 1, line);
            }
            ok &= media.save(c, "grid.jpg", true);
        }
        ok &= media.save(Canvas(64, 64, rgb(0, 0, 0)), "blacktile.jpg", true);
        ok &= media.save(
            makeWallTexture(rgb(170, 120, 30), rgb(230, 180, 60), rgb(255, 235, 160), "G", bold),
            "gateway.bmp", true);
        ok &= media.save(
            makeWallTexture(rgb(40, 110, 50), rgb(105, 155, 106), rgb(220, 255, 220), "T", bold),
            "wall-tessel.bmp", true);
        ok &= media.save(
            makeWallTexture(rgb(45, 75, 120), rgb(90, 130, 190), rgb(190, 215, 255), "", bold),
            "wall.bmp", true);
        ok &= media.save(
            makeWallTexture(rgb(120, 45, 45), rgb(180, 80, 70), rgb(255, 200, 190), "", bold),
            "wallb.bmp", true);
        {  // Beam: hot core fading to red at the edges.
            Canvas c(64, 64, rgb(0, 0, 0));
            for (int y = 0; y < 64; ++y)
                for (int x = 0; x < 64; ++x) {
                    float d = std::fabs(x + 0.5f - 32) / 32;
                    float k = std::clamp(1.0f - d, 0.0f, 1.0f);
                    c.set(x, y,
                          rgb(static_cast<int>(80 + 175 * k), static_cast<int>(230 * k * k * k),
                              static_cast<int>(200 * k * k * k * k)));
                }
            ok &= media.save(c, "laserbeam.bmp", true);
        }
        ok &= media.save(makeGlow(64, rgb(255, 40, 30)), "particlered.bmp", true);
        ok &= media.save(makeGlow(64, rgb(40, 110, 255)), "particleblue.bmp", true);
        ok &= media.save(makeGlow(64, rgb(40, 255, 70)), "particlegreen.bmp", true);
        {  // Splash: pure green (the see-through colour) around a dark card.
            Canvas c(420, 220, rgb(0, 255, 0));
            for (int y = 20; y < 200; ++y)
                for (int x = 20; x < 400; ++x) c.set(x, y, rgb(16, 28 + (y - 20) / 6, 18));
            c.frame(20, 20, 400, 200, 3, tint);
            bold.size(64);
            int w = bold.textWidth("TESSEL");
            bold.draw(c, (420 - w) / 2, 120, "TESSEL", tint);
            regular.size(16);
            std::string sub = "watching your network in 3D";
            w = regular.textWidth(sub);
            regular.draw(c, (420 - w) / 2, 160, sub, rgb(200, 225, 200));
            // Anti-aliased edges may not blend into the key colour: keep the border pure.
            for (int y = 0; y < 220; ++y)
                for (int x = 0; x < 420; ++x)
                    if (x < 20 || y < 20 || x >= 400 || y >= 200) c.set(x, y, rgb(0, 255, 0));
            ok &= top.save(c, "splash.bmp", true);
        }
    }
    FT_Done_FreeType(ft);
    device->drop();
    return ok ? 0 : 1;
}
