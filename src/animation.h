// animation.h: the 20 ms heartbeat that lets the music move the spheres.
#pragma once

constexpr int TICK_MS = 20;  // period of the animation timer

// Installed with glutTimerFunc by main, then re-armed by itself: refreshes the
// band levels, steps the spheres and asks for a redraw.
void on_timer(int value);

// One step of all ten spheres under the current band levels; from on_timer.
void step_spheres();
