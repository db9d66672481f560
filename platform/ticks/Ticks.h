// Millisecond tick count: 32 bits from the monotonic clock, wrapping after about 49.7 days.
#pragma once

#include <cstdint>

uint32_t GetTickCount();

// Milliseconds from `earlier` to `later`, correct across one wrap of the counter.
inline uint32_t TicksBetween(uint32_t earlier, uint32_t later) { return later - earlier; }
