// scene.cpp: the sphere state, its fixed start layout, the GL state that never
// changes, and the display pass. Kept apart from the tick so that drawing
// never changes what it draws.
#include "scene.h"

#include <GL/gl.h>
#include <GL/glut.h>

#include "trackball.h"

constexpr double SPHERE_RADIUS = 0.2;  // cluster units
constexpr int SPHERE_SLICES = 25;
constexpr int SPHERE_STACKS = 25;
constexpr double CLUSTER_DISTANCE = 10.0;  // from the eye to the cube's centre
constexpr double FIELD_OF_VIEW = 45.0;     // vertical, degrees
constexpr double NEAR_PLANE = 1.0;
constexpr double FAR_PLANE = 100.0;
constexpr float COLOR_STEP = 0.1f;  // the ramp's factor, a float on purpose

double pos_x[SPHERE_COUNT], pos_y[SPHERE_COUNT], pos_z[SPHERE_COUNT];
double vel_x[SPHERE_COUNT], vel_y[SPHERE_COUNT], vel_z[SPHERE_COUNT];
float sphere_color[SPHERE_COUNT][4];

unsigned int random_state = 1;

static GLUquadric *sphere_quadric[SPHERE_COUNT];

// A start coordinate or velocity: -1.00 to +0.98 in steps of 0.02.
static double random_coordinate()
{
    return (next_random() % 100) * 0.02 - 1;
}

int next_random()
{
    random_state = random_state * 214013u + 2531011u;
    return (random_state >> 16) & 0x7FFF;
}

void init_scene()
{
    // Black background, depth test, smooth shading, and light 0 left at its
    // defaults: white, shining from the eye along -z. Only the diffuse
    // colour of each sphere is set, per sphere, when it is drawn.
    glClearColor(0, 0, 0, 0);
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glShadeModel(GL_SMOOTH);
    glMatrixMode(GL_MODELVIEW);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glEnable(GL_NORMALIZE);

    // The draw order fixes the layout: six draws per sphere, sphere by sphere.
    for (int i = 0; i < SPHERE_COUNT; i++) {
        sphere_quadric[i] = gluNewQuadric();
        // The product and difference are taken in double; only the result is
        // rounded, which fixes the last digit of each colour.
        float level = static_cast<float>(1.0 - static_cast<double>(COLOR_STEP) * i);
        sphere_color[i][0] = level;
        sphere_color[i][1] = 0.0f;
        sphere_color[i][2] = level;
        sphere_color[i][3] = 1.0f;
        pos_x[i] = random_coordinate();
        pos_y[i] = random_coordinate();
        pos_z[i] = random_coordinate();
        vel_x[i] = random_coordinate();
        vel_y[i] = random_coordinate();
        vel_z[i] = random_coordinate();
    }
}

void on_reshape(int width, int height)
{
    trackball_set_window_size(width, height);
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    // A window can be 0 pixels high or wide; count such a side as 1 pixel so
    // the aspect ratio, and so the projection, stays finite.
    double aspect = static_cast<double>(width > 0 ? width : 1) / (height > 0 ? height : 1);
    gluPerspective(FIELD_OF_VIEW, aspect, NEAR_PLANE, FAR_PLANE);
    glMatrixMode(GL_MODELVIEW);
}

void on_display()
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    // The rotation goes on before the translation, so the world turns about
    // the eye, not about the cluster's centre.
    apply_view_rotation();
    glTranslated(0.0, 0.0, -CLUSTER_DISTANCE);
    for (int i = 0; i < SPHERE_COUNT; i++) {
        glPushMatrix();
        glTranslated(pos_x[i], pos_y[i], pos_z[i]);
        glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, sphere_color[i]);
        gluSphere(sphere_quadric[i], SPHERE_RADIUS, SPHERE_SLICES, SPHERE_STACKS);
        glPopMatrix();
    }
    glFlush();
    glutSwapBuffers();
}
