// trackball.cpp: the accumulated view rotation, its per-frame increment, and
// the drag state that sets the increment. Everything but the six operations
// in trackball.h stays in here, so the mouse reaches the view only this way.
#include "trackball.h"

#include <cmath>

#include <GL/gl.h>
#include <GL/glut.h>

// Slightly less than pi / 2, so a point on the rim keeps a tiny z.
constexpr double DOME_FACTOR = 1.570796325;
constexpr float DEGREES_PER_UNIT = 90.0f;  // turn per unit of chord between lifted points
constexpr int NO_BUTTON = -1;

// A unit vector on the trackball: x right, y up, z towards the viewer.
struct TrackPoint {
    float x, y, z;
};

// The view rotation: column-major, as GL reads and returns matrices.
static float rotation_matrix[16];
static float rotation_angle = 0.0f;  // degrees
static float rotation_axis[3] = {0.0f, 0.0f, 0.0f};
static int window_width = 0, window_height = 0;  // pixels

// The drag in progress, if any.
static TrackPoint last_point = {0.0f, 0.0f, 0.0f};
static int last_event_time = 0;  // ms, toolkit elapsed time
static int tracking_button = NO_BUTTON;
static const bool spin_on_release = true;

// Lifts a window pixel onto a cosine dome over the window and normalises it.
// Points outside the inscribed circle, and outside the window, land on the rim.
static TrackPoint trackball_project(int x, int y, int width, int height)
{
    // The window is 0 pixels wide or high before the first reshape and after
    // a resize to nothing; counting such a side as 1 pixel keeps the point,
    // and so the view, finite.
    if (width < 1)
        width = 1;
    if (height < 1)
        height = 1;
    float px = static_cast<float>(static_cast<double>(2 * x - width) / width);
    float py = static_cast<float>(static_cast<double>(height - 2 * y) / height);
    double d = std::sqrt(static_cast<double>(px) * px + static_cast<double>(py) * py);
    if (d >= 1.0)
        d = 1.0;
    double pz = std::cos(d * DOME_FACTOR);
    double scale = 1.0 / std::sqrt(static_cast<double>(px) * px + static_cast<double>(py) * py + pz * pz);
    return {static_cast<float>(px * scale), static_cast<float>(py * scale), static_cast<float>(pz * scale)};
}

static void on_idle_spin()
{
    glutPostRedisplay();
}

void init_view_rotation()
{
    glPushMatrix();
    glLoadIdentity();
    glGetFloatv(GL_MODELVIEW_MATRIX, rotation_matrix);
    glPopMatrix();
}

void apply_view_rotation()
{
    glPushMatrix();
    glLoadIdentity();
    // A zero angle or a zero axis is no turn at all; skipping the call keeps
    // the matrix exactly as it was instead of trusting GL's rounding.
    bool turns = rotation_angle != 0.0f &&
                 (rotation_axis[0] != 0.0f || rotation_axis[1] != 0.0f || rotation_axis[2] != 0.0f);
    if (turns)
        glRotatef(rotation_angle, rotation_axis[0], rotation_axis[1], rotation_axis[2]);
    glMultMatrixf(rotation_matrix);
    glGetFloatv(GL_MODELVIEW_MATRIX, rotation_matrix);
    glPopMatrix();
    glMultMatrixf(rotation_matrix);
}

void trackball_set_window_size(int width, int height)
{
    window_width = width;
    window_height = height;
}

void trackball_start(int x, int y, int button, int time_ms)
{
    // The increment is left alone: a running spin goes on until the first
    // drag event replaces it.
    tracking_button = button;
    last_event_time = time_ms;
    last_point = trackball_project(x, y, window_width, window_height);
}

void trackball_stop(int time_ms)
{
    tracking_button = NO_BUTTON;
    if (time_ms == last_event_time && spin_on_release) {
        glutIdleFunc(on_idle_spin);
        return;
    }
    rotation_angle = 0.0f;
    if (spin_on_release)
        glutIdleFunc(nullptr);
}

void trackball_motion(int x, int y)
{
    if (tracking_button == NO_BUTTON)
        return;
    TrackPoint cur = trackball_project(x, y, window_width, window_height);
    TrackPoint l = last_point;
    float dx = cur.x - l.x, dy = cur.y - l.y, dz = cur.z - l.z;
    rotation_angle = DEGREES_PER_UNIT * std::sqrt(dx * dx + dy * dy + dz * dz);
    // The axis is last x cur, so the world turns the way the pointer went.
    rotation_axis[0] = l.y * cur.z - l.z * cur.y;
    rotation_axis[1] = l.z * cur.x - l.x * cur.z;
    rotation_axis[2] = l.x * cur.y - l.y * cur.x;
    last_event_time = glutGet(GLUT_ELAPSED_TIME);
    last_point = cur;
    glutPostRedisplay();
}
