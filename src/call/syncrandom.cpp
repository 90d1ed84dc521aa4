#include "call/syncrandom.h"

namespace call {

namespace {
uint32_t g_state = 0;
}

uint32_t SyncRandom::draw(uint32_t range)
{
    g_state = g_state * 134775813u + 1u;
    return uint32_t((uint64_t(g_state) * range) >> 32);
}

uint32_t SyncRandom::state()
{
    return g_state;
}

void SyncRandom::setState(uint32_t state)
{
    g_state = state;
}

} // namespace call
