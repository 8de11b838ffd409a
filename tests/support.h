// support.h: what several test binaries share: a real GL window under Xvfb,
// and writers for the audio fixtures the tests make for themselves.
#pragma once

#include <string>

// ---- GL window ----

// Opens one 512 x 512 GLUT window (RGB, double buffer, depth) the first time it
// is called, makes its context current and pumps events until it is mapped.
void open_gl_window();

// ---- audio fixtures ----
