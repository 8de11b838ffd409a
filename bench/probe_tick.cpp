// probe_tick.cpp: the tick counter shared by the probe and the floor builds.
// Writes one short line a second, so it costs the program nothing measurable.
#include "probe.h"

#include <cstdio>
#include <ctime>

static long long ticks = 0;

long long probe_now_ns()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

void probe_tick()
{
    ticks++;
    if (ticks == 1 || ticks % PROBE_TICKS_PER_LINE == 0)
        std::fprintf(stderr, "probe: tick %lld %lld\n", ticks, probe_now_ns());
}
