// Draws the figures against their targets as a PNG with the engine's image writer (NULL driver):
//
//   bench_plot figures.csv out.png [before.csv]
//
// One bar per row that has a numeric target, its length the share of the target met (value /
// target for ">=", target / value for "<="), on a log scale from 0.01 to 2 with the mark at 1:
// green when met,
// red when missed; the same row of before.csv, when given, as a thin grey bar above it. Each bar
// is labelled with its row number in figures.csv (data rows counted from 1), which the table of
// run.sh shows too.
#include <irrlicht.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {
using namespace irr;

struct Row {
    int number = 0;
    std::string key;  // figure + name
    double value = 0;
    std::string target;
};

std::vector<Row> readRows(const char* path) {
    std::vector<Row> rows;
    std::ifstream in(path);
    std::string line;
    int number = 0;
    bool header = true;
    while (std::getline(in, line)) {
        if (header) {
            header = false;
            continue;
        }
        std::vector<std::string> f;
        std::stringstream s(line);
        std::string cell;
        while (std::getline(s, cell, ',')) f.push_back(cell);
        ++number;
        if (f.size() < 6) continue;
        Row r;
        r.number = number;
        r.key = f[0] + "|" + f[1];
        r.value = std::atof(f[2].c_str());
        r.target = f[4];
        rows.push_back(r);
    }
    return rows;
}

// Share of the target met, or a negative number when the row has no numeric target. An exact
// target ("0" drops) counts as met or as barely started.
double share(const Row& r) {
    const bool atLeast = r.target.rfind(">=", 0) == 0, atMost = r.target.rfind("<=", 0) == 0;
    if (r.target.empty() || r.target == "-" || r.target.find('(') != std::string::npos) return -1;
    const char* number = r.target.c_str() + ((atLeast || atMost) ? 2 : 0);
    char* end = nullptr;
    const double goal = std::strtod(number, &end);
    if (end == number) return -1;
    if (!atLeast && !atMost) return r.value == goal ? 1.0 : 0.05;
    if (goal <= 0) return -1;
    if (atLeast) return r.value / goal;
    return r.value > 0 ? goal / r.value : 2.0;
}

// 3 x 5 digits and a dot, one row of three bits per line.
const unsigned char kGlyphs[11][5] = {{7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7},
                                      {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1}, {7, 4, 7, 1, 7},
                                      {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7},
                                      {7, 5, 7, 1, 7}, {0, 0, 0, 0, 2}};

void fill(video::IImage* image, int x0, int y0, int w, int h, video::SColor c) {
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x)
            if (x >= 0 && y >= 0 && u32(x) < image->getDimension().Width &&
                u32(y) < image->getDimension().Height)
                image->setPixel(u32(x), u32(y), c);
}

void text(video::IImage* image, int x, int y, const std::string& s, video::SColor c) {
    const int scale = 2;
    for (char ch : s) {
        int g = ch == '.' ? 10 : (ch >= '0' && ch <= '9' ? ch - '0' : -1);
        if (g >= 0)
            for (int row = 0; row < 5; ++row)
                for (int col = 0; col < 3; ++col)
                    if (kGlyphs[g][row] & (4 >> col))
                        fill(image, x + col * scale, y + row * scale, scale, scale, c);
        x += 4 * scale;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_plot figures.csv out.png [before.csv]\n");
        return 2;
    }
    std::vector<Row> rows = readRows(argv[1]);
    std::map<std::string, Row> before;
    if (argc > 3)
        for (const Row& r : readRows(argv[3])) before[r.key] = r;
    std::vector<Row> plotted;
    for (const Row& r : rows)
        if (share(r) >= 0) plotted.push_back(r);

    const int left = 60, barArea = 600, rowHeight = 34, top = 20;
    const int width = left + barArea + 40;
    const int height = top * 2 + rowHeight * int(plotted.size() ? plotted.size() : 1);
    SIrrlichtCreationParameters params;
    params.DriverType = video::EDT_NULL;
    params.LoggingLevel = ELL_NONE;
    IrrlichtDevice* device = createDeviceEx(params);
    if (!device) return 1;
    video::IVideoDriver* driver = device->getVideoDriver();
    video::IImage* image =
        driver->createImage(video::ECF_A8R8G8B8, core::dimension2d<u32>(u32(width), u32(height)));
    image->fill(video::SColor(255, 255, 255, 255));
    // Logarithmic: 0.01 at the left edge, 1 (the target) and 2 at the right edge.
    const auto xOf = [&](double s) {
        const double clamped = s < 0.01 ? 0.01 : (s > 2 ? 2 : s);
        return left + int((std::log10(clamped) + 2.0) / (std::log10(2.0) + 2.0) * barArea);
    };
    for (std::size_t i = 0; i < plotted.size(); ++i) {
        const Row& r = plotted[i];
        const int y = top + int(i) * rowHeight;
        text(image, 8, y + 10, std::to_string(r.number), video::SColor(255, 0, 0, 0));
        auto b = before.find(r.key);
        if (b != before.end() && share(b->second) >= 0)
            fill(image, left, y + 2, xOf(share(b->second)) - left, 6,
                 video::SColor(255, 150, 150, 150));
        const double s = share(r);
        fill(image, left, y + 10, xOf(s) - left, 16,
             s >= 1.0 ? video::SColor(255, 40, 160, 60) : video::SColor(255, 200, 40, 40));
    }
    // The target mark (1) and ticks at 0.01, 0.1 and 2.
    fill(image, xOf(1.0), top - 6, 2, height - 2 * top + 12, video::SColor(255, 0, 0, 0));
    for (double t : {0.1, 2.0})
        fill(image, xOf(t), top - 6, 1, height - 2 * top + 12, video::SColor(255, 190, 190, 190));
    text(image, xOf(0.01), 4, ".01", video::SColor(255, 0, 0, 0));
    text(image, xOf(0.1) - 8, 4, ".1", video::SColor(255, 0, 0, 0));
    text(image, xOf(1.0) - 4, 4, "1", video::SColor(255, 0, 0, 0));
    text(image, xOf(2.0) - 10, 4, "2", video::SColor(255, 0, 0, 0));
    const bool ok = driver->writeImageToFile(image, argv[2]);
    image->drop();
    device->drop();
    return ok ? 0 : 1;
}
