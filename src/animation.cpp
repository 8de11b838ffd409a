// animation.cpp: the tick. It owns no state: it reads the band levels, steps
// the sphere state the scene owns, and leaves the drawing to the display pass.
#include "animation.h"

#include <GL/glut.h>

#include "music.h"
#include "scene.h"

static_assert(BAND_COUNT == 3 * SPHERE_COUNT, "one band per sphere and axis");

constexpr double DAMPING = 0.5;     // velocity kept from one tick to the next
constexpr double CUBE_LIMIT = 1.0;  // positions are folded back into [-1, 1]
constexpr double CUBE_SIDE = 2.0;

// Damps v, then pushes it along its own sign by the band level: the music
// speeds a sphere up but never turns it round. A zero velocity stays zero.
static void kick(double &v, float level)
{
    v *= DAMPING;
    double sign = v < 0 ? -1.0 : v > 0 ? 1.0 : 0.0;
    v += sign * level;
}

// Brings a position that left the cube back in at the opposite face. The fold
// comes before the move, so a drawn position may lie one step outside.
static void fold_and_move(double &p, double v)
{
    if (p > CUBE_LIMIT) {
        while (p > CUBE_LIMIT)
            p -= CUBE_SIDE;
    } else if (p < -CUBE_LIMIT) {
        while (p < -CUBE_LIMIT)
            p += CUBE_SIDE;
    }
    p += v;
}

// The timer's value is the time, on the toolkit's clock, that this tick was
// due; 0 for the first. The toolkit counts an interval from when it is set
// and fires a little late, so re-arming with a plain TICK_MS would let each
// tick's lateness add up (49.5 ticks a second, not 50). Aiming at the next
// due time keeps the schedule; a tick more than a period late starts a new
// one rather than firing a burst to catch up.
void on_timer(int due_ms)
{
    // Re-armed before the work, so the work's own time doesn't stretch the period.
    int now = glutGet(GLUT_ELAPSED_TIME);
    int next = (due_ms > 0 ? due_ms : now) + TICK_MS;
    if (next < now)
        next = now + TICK_MS;
    glutTimerFunc(static_cast<unsigned int>(next - now), on_timer, next);
    update_spectrum_bands();
    step_spheres();
    glutPostRedisplay();
}

void step_spheres()
{
    for (int i = 0; i < SPHERE_COUNT; i++) {
        kick(vel_x[i], band_level[3 * i]);
        kick(vel_y[i], band_level[3 * i + 1]);
        kick(vel_z[i], band_level[3 * i + 2]);
        fold_and_move(pos_x[i], vel_x[i]);
        fold_and_move(pos_y[i], vel_y[i]);
        fold_and_move(pos_z[i], vel_z[i]);
    }
}
