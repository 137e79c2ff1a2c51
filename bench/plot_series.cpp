// Draws the columns of a whitespace-separated table as stacked line plots into a PNG, with the
// engine's own image writer on the NULL driver (no X server, no plotting package).
//   plot_series TABLE OUT.png [TITLE]
// The table's first line names the columns; the first column is the x axis (seconds), every
// other column gets a panel of its own, scaled from 0 (or its minimum, if negative) to its
// maximum. Labels use a built-in 3x5 pixel font (upper case, digits, a few signs).
#include <irrlicht.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using namespace irr;

namespace {

const std::map<char, const char*>& glyphs() {
    static const std::map<char, const char*> g = {
        {'0', "111101101101111"}, {'1', "010110010010111"}, {'2', "111001111100111"},
        {'3', "111001111001111"}, {'4', "101101111001001"}, {'5', "111100111001111"},
        {'6', "111100111101111"}, {'7', "111001001001001"}, {'8', "111101111101111"},
        {'9', "111101111001111"}, {'.', "000000000000010"}, {'-', "000000111000000"},
        {':', "000010000010000"}, {'%', "101001010100101"}, {'/', "001001010100100"},
        {'(', "010100100100010"}, {')', "010001001001010"}, {'=', "000111000111000"},
        {'_', "000000000000111"}, {'A', "010101111101101"}, {'B', "110101110101110"},
        {'C', "011100100100011"}, {'D', "110101101101110"}, {'E', "111100110100111"},
        {'F', "111100110100100"}, {'G', "011100101101011"}, {'H', "101101111101101"},
        {'I', "111010010010111"}, {'J', "001001001101010"}, {'K', "101101110101101"},
        {'L', "100100100100111"}, {'M', "101111111101101"}, {'N', "110101101101101"},
        {'O', "010101101101010"}, {'P', "110101110100100"}, {'Q', "010101101110011"},
        {'R', "110101110101101"}, {'S', "011100010001110"}, {'T', "111010010010010"},
        {'U', "101101101101111"}, {'V', "101101101101010"}, {'W', "101101111111101"},
        {'X', "101101010101101"}, {'Y', "101101010010010"}, {'Z', "111001010100111"},
    };
    return g;
}

class Canvas {
  public:
    Canvas(video::IVideoDriver* driver, u32 w, u32 h)
        : image(driver->createImage(video::ECF_R8G8B8, core::dimension2d<u32>(w, h))),
          width(int(w)),
          height(int(h)) {
        if (image) image->fill(video::SColor(255, 255, 255, 255));
    }
    ~Canvas() {
        if (image) image->drop();
    }
    video::IImage* get() const { return image; }
    void dot(int x, int y, video::SColor c) {
        if (image && x >= 0 && y >= 0 && x < width && y < height)
            image->setPixel(u32(x), u32(y), c);
    }
    void line(int x0, int y0, int x1, int y1, video::SColor c) {
        const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
        const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
        int err = dx + dy;
        for (int guard = 0; guard < 100000; ++guard) {
            dot(x0, y0, c);
            if (x0 == x1 && y0 == y1) break;
            const int e2 = 2 * err;
            if (e2 >= dy) err += dy, x0 += sx;
            if (e2 <= dx) err += dx, y0 += sy;
        }
    }
    // Text at 2x scale; gives the x after the last character.
    int text(int x, int y, const std::string& s, video::SColor c) {
        for (char ch : s) {
            auto g = glyphs().find(char(std::toupper(static_cast<unsigned char>(ch))));
            if (g != glyphs().end())
                for (int r = 0; r < 5; ++r)
                    for (int col = 0; col < 3; ++col)
                        if (g->second[r * 3 + col] == '1')
                            for (int k = 0; k < 4; ++k)
                                dot(x + col * 2 + k % 2, y + r * 2 + k / 2, c);
            x += 8;
        }
        return x;
    }

  private:
    video::IImage* image;
    int width, height;
};

std::string number(double v) {
    char b[32];
    if (std::fabs(v) >= 100 || v == std::floor(v))
        std::snprintf(b, sizeof b, "%.0f", v);
    else
        std::snprintf(b, sizeof b, "%.2f", v);
    return b;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: plot_series TABLE OUT.png [TITLE]\n");
        return 2;
    }
    std::ifstream in(argv[1]);
    std::string header;
    if (!std::getline(in, header)) {
        std::fprintf(stderr, "plot_series: %s is empty\n", argv[1]);
        return 1;
    }
    std::vector<std::string> names;
    {
        std::istringstream h(header);
        for (std::string n; h >> n;) names.push_back(n);
    }
    std::vector<std::vector<double>> rows;
    for (std::string line; std::getline(in, line);) {
        std::istringstream l(line);
        std::vector<double> row;
        for (double v; l >> v;) row.push_back(v);
        if (row.size() == names.size()) rows.push_back(row);
    }
    if (names.size() < 2 || rows.empty()) {
        std::fprintf(stderr, "plot_series: nothing to plot in %s\n", argv[1]);
        return 1;
    }

    const int panels = int(names.size()) - 1, panelHeight = 160, left = 90, right = 30, top = 40;
    const int w = 900, h = top + panels * panelHeight + 20;
    IrrlichtDevice* device = createDevice(video::EDT_NULL);
    if (!device) return 1;
    int status = 1;
    {
        Canvas canvas(device->getVideoDriver(), u32(w), u32(h));
        const video::SColor ink(255, 20, 20, 20), grid(255, 200, 200, 200);
        const video::SColor colours[] = {{255, 200, 30, 30},
                                         {255, 30, 90, 200},
                                         {255, 20, 150, 60},
                                         {255, 150, 60, 170},
                                         {255, 200, 120, 0}};
        canvas.text(left, 12, argc > 3 ? argv[3] : "SERIES", ink);
        double xMin = rows.front()[0], xMax = rows.back()[0];
        if (xMax <= xMin) xMax = xMin + 1;
        for (int p = 0; p < panels; ++p) {
            const int column = p + 1;
            const int y0 = top + p * panelHeight + 18, y1 = top + (p + 1) * panelHeight - 14;
            double lo = 0, hi = 0;
            for (const auto& r : rows) lo = std::min(lo, r[column]), hi = std::max(hi, r[column]);
            if (hi <= lo) hi = lo + 1;
            std::string title = names[column];
            std::replace(title.begin(), title.end(), '_', ' ');
            canvas.text(left, y0 - 16, title, colours[p % 5]);
            canvas.text(8, y0, number(hi), ink);
            canvas.text(8, y1 - 10, number(lo), ink);
            for (int x = left; x < w - right; x += 4) canvas.dot(x, (y0 + y1) / 2, grid);
            canvas.line(left, y0, left, y1, ink);
            canvas.line(left, y1, w - right, y1, ink);
            int px = -1, py = -1;
            for (const auto& r : rows) {
                const int x = left + int((r[0] - xMin) / (xMax - xMin) * (w - right - left));
                const int y = y1 - int((r[column] - lo) / (hi - lo) * (y1 - y0));
                if (px >= 0) canvas.line(px, py, x, y, colours[p % 5]);
                for (int k = -1; k <= 1; ++k)
                    canvas.line(x - 1, y + k, x + 1, y + k, colours[p % 5]);
                px = x, py = y;
            }
            if (p == panels - 1) {
                canvas.text(left, y1 + 4, number(xMin), ink);
                int end = w - right - 8 * int(number(xMax).size() + 2);
                canvas.text(canvas.text(end, y1 + 4, number(xMax), ink) + 4, y1 + 4, "S", ink);
            }
        }
        if (canvas.get() && device->getVideoDriver()->writeImageToFile(canvas.get(), argv[2]))
            status = 0;
        else
            std::fprintf(stderr, "plot_series: cannot write %s\n", argv[2]);
    }
    device->drop();
    return status;
}
