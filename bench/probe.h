// probe.h: what the benchmark builds of the program report on stderr, one
// line per event, stamped with CLOCK_MONOTONIC nanoseconds so that the
// runner (bench-measure) can put them against the moment it exec'd them.
#pragma once

constexpr int PROBE_TICKS_PER_LINE = 50;  // one line a second at 50 ticks/s

long long probe_now_ns();

// From the tick: counts it and prints "probe: tick N NS" on the first and
// every PROBE_TICKS_PER_LINE-th tick.
void probe_tick();
