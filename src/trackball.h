// trackball.h: the view rotation the user controls with the mouse. A virtual
// trackball turns drags into a rotation increment; every frame folds the
// increment into the accumulated rotation, so a flick keeps the view turning.
#pragma once

// From main, once, after the window (and so the GL context) exists.
void init_view_rotation();

// From the display pass, right after it loads the identity: advances the
// rotation by the current increment and multiplies it into the modelview.
void apply_view_rotation();

// From the reshape handler, first thing: the window size in pixels.
void trackball_set_window_size(int width, int height);

// From the mouse handler. Left button down at window pixel (x, y), origin at
// the top left, at time_ms on the toolkit's elapsed-time clock.
void trackball_start(int x, int y, int button, int time_ms);

// From the mouse handler: left button up at time_ms. Up in the same
// millisecond as the last press or drag leaves the view spinning.
void trackball_stop(int time_ms);

// From the motion handler: the pointer moved to (x, y) with a button held.
void trackball_motion(int x, int y);
