#pragma once
// The process-wide pseudo-random generator. Node placement and intel file names depend on draws in
// 0..32767 from the classic linear-congruential rule; glibc's rand() draws up to 2^31-1 and would
// move every node. Thread-safe: one lock around the state.

namespace tessel {

void lcgSeed(unsigned seed);
// Seeds and draws under one lock, so a placement's draws are not interleaved with another thread's.
// Gives `count` draws (at most 4) in `out`.
void lcgSeedAndDraw(unsigned seed, int count, int* out);
// Two draws taken together (intel file names).
void lcgDrawPair(int* first, int* second);

}  // namespace tessel
