// main.cpp: start-up and the wiring of every handler. Opens the one window,
// runs each module's initialisation in its order, installs the handlers and
// hands over to the toolkit's event loop. Also owns the keyboard: Esc quits.
#include <cstdlib>
#include <cstring>

#include <malloc.h>
#include <GL/glut.h>
#include <GL/glx.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "animation.h"
#include "music.h"
#include "scene.h"
#include "trackball.h"

constexpr int WINDOW_SIZE = 512;  // pixels, width and height
constexpr unsigned char KEY_ESCAPE = 27;
constexpr int HEAP_KEEP_BYTES = 4 << 20;  // freed heap kept for reuse, not trimmed
static const char WINDOW_TITLE[] = "Демонстрация анимации";  // UTF-8

// freeglut hands the title's bytes to X as a Latin-1 STRING, which turns UTF-8
// into mojibake. Set both names again, properly encoded: the EWMH name as
// UTF8_STRING, and the ICCCM name as a text property X converts for us.
static void set_window_title(const char *title)
{
    Display *display = glXGetCurrentDisplay();
    Window window = glXGetCurrentDrawable();
    if (display == nullptr || window == None)
        return;
    char *list[] = {const_cast<char *>(title)};
    XTextProperty text;
    if (Xutf8TextListToTextProperty(display, list, 1, XStdICCTextStyle, &text) == Success) {
        XSetWMName(display, window, &text);
        XSetWMIconName(display, window, &text);
        XFree(text.value);
    }
    Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(title);
    int length = static_cast<int>(std::strlen(title));
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False), utf8, 8,
                    PropModeReplace, bytes, length);
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_ICON_NAME", False), utf8, 8,
                    PropModeReplace, bytes, length);
    XFlush(display);
}

// Installed as glutKeyboardFunc: a key was typed. Esc ends the process at
// once, with no exit handlers and no clean-up; every other key is ignored.
static void on_keyboard(unsigned char key, int, int)
{
    if (key == KEY_ESCAPE)
        std::_Exit(0);
}

// Installed as glutMouseFunc: a button went down or up. Only the left button
// turns the view; the press and the release are stamped with the toolkit's
// clock, which tells a flick from a slow release.
static void on_mouse(int button, int state, int x, int y)
{
    if (button != GLUT_LEFT_BUTTON)
        return;
    if (state == GLUT_DOWN)
        trackball_start(x, y, button, glutGet(GLUT_ELAPSED_TIME));
    else if (state == GLUT_UP)
        trackball_stop(glutGet(GLUT_ELAPSED_TIME));
}

// Installed as glutMotionFunc: the pointer moved with a button held.
static void on_motion(int x, int y)
{
    trackball_motion(x, y);
}

int main(int argc, char **argv)
{
    // The software GL driver frees and re-allocates a few megabytes for every
    // frame. With glibc's defaults the heap is trimmed back to the kernel each
    // time and faulted in again on the next frame, some 26000 page faults a
    // second; keeping up to HEAP_KEEP_BYTES in the heap makes those frames
    // cost a third of the CPU. It changes nothing that is drawn.
    mallopt(M_MMAP_THRESHOLD, HEAP_KEEP_BYTES);
    mallopt(M_TRIM_THRESHOLD, HEAP_KEEP_BYTES);

    // The toolkit takes its own options (-geometry, -display, ...) off the
    // command line; the program has none and ignores the rest. The size is
    // set after that, so it wins over a size given there; a position stays.
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowSize(WINDOW_SIZE, WINDOW_SIZE);
    glutCreateWindow(WINDOW_TITLE);
    set_window_title(WINDOW_TITLE);

    // The rotation reads GL's initial modelview matrix, so it comes before
    // the scene selects its matrix mode.
    init_view_rotation();
    init_scene();
    start_music();

    glutReshapeFunc(on_reshape);
    glutDisplayFunc(on_display);
    glutTimerFunc(TICK_MS, on_timer, 0);
    glutKeyboardFunc(on_keyboard);
    glutMouseFunc(on_mouse);
    glutMotionFunc(on_motion);
    glutMainLoop();
    return 0;
}
