// animation.h: the 20 ms heartbeat that lets the music move the spheres.
#pragma once

constexpr int TICK_MS = 20;  // period of the animation timer

// Installed with glutTimerFunc by main (value 0), then re-armed by itself
// every TICK_MS: refreshes the band levels, steps the spheres and asks for a
// redraw. The value it re-arms with is the next tick's due time.
void on_timer(int due_ms);

// One step of all ten spheres under the current band levels; from on_timer.
void step_spheres();
