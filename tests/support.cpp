// support.cpp: the shared test helpers declared in support.h.
#include "support.h"

#include <GL/freeglut.h>

// ---- GL window ----

void open_gl_window()
{
    static int window = 0;
    if (window != 0)
        return;
    int argc = 1;
    char name[] = "test";
    char *argv[] = {name, nullptr};
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowSize(512, 512);
    window = glutCreateWindow("test");
    glutDisplayFunc([] {});
    for (int i = 0; i < 10; i++)
        glutMainLoopEvent();
}

// ---- audio fixtures ----
