#pragma once

#include <cstdint>

namespace call {

// The process-wide generator that thins voice in both directions. Never reseeded: state 0 at
// start, advanced as state * 134775813 + 1 before each draw. GUI thread only.
class SyncRandom
{
public:
    // A draw from 0..range-1: the high 32 bits of state * range.
    static uint32_t draw(uint32_t range);
    static uint32_t state();
    // For tests that need a known starting point.
    static void setState(uint32_t state);
};

} // namespace call
