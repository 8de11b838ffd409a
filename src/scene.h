// scene.h: the ten spheres (where they are, how they move, how they look) and
// the drawing of one frame. The tick moves them; the display pass only reads.
#pragma once

#include <GL/glu.h>

constexpr int SPHERE_COUNT = 10;

// Position in cluster units and velocity in cluster units per tick, one array
// per coordinate. Set by init_scene(); after that written only by the tick.
extern double pos_x[SPHERE_COUNT], pos_y[SPHERE_COUNT], pos_z[SPHERE_COUNT];
extern double vel_x[SPHERE_COUNT], vel_y[SPHERE_COUNT], vel_z[SPHERE_COUNT];

// Diffuse colour (r, g, b, a) of each sphere, a magenta ramp from bright to dark.
extern float sphere_color[SPHERE_COUNT][4];

// The layout's pseudo-random generator: 0 to 32767, the same sequence every
// run, since random_state starts at 1 and only next_random() moves it on.
// init_scene() is its one user; tests rewind random_state to replay it.
extern unsigned int random_state;
int next_random();

// From main, once, after the window exists: fixed GL state and the spheres.
void init_scene();

// Installed as glutReshapeFunc: window resized; sets viewport and projection.
void on_reshape(int width, int height);

// Installed as glutDisplayFunc: draws one frame and swaps the buffers.
void on_display();
