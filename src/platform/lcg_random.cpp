#include "platform/lcg_random.h"

#include <cstdint>
#include <mutex>

namespace tessel {
namespace {
std::mutex g_lock;
std::uint32_t g_state = 1;

int drawLocked() {
    g_state = g_state * 214013u + 2531011u;
    return static_cast<int>((g_state >> 16) & 0x7FFF);
}
}  // namespace

void lcgSeed(unsigned seed) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_state = seed;
}

void lcgSeedAndDraw(unsigned seed, int count, int* out) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_state = seed;
    for (int i = 0; i < count && i < 4; ++i) out[i] = drawLocked();
}

void lcgDrawPair(int* first, int* second) {
    std::lock_guard<std::mutex> guard(g_lock);
    *first = drawLocked();
    *second = drawLocked();
}

}  // namespace tessel
