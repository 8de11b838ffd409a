// measure.cpp: runs one program for a fixed time and measures it from the
// outside, the same way for every program compared: when its first frame
// shows (a mapped top-level window with a pixel that is not black), the CPU
// it used (utime + stime of all its threads) and its peak RSS (VmHWM), both
// read from /proc just before it is stopped with SIGTERM.
// Usage: bench-measure SECONDS WINDOW(0|1) PROGRAM [ARGS...]
// Prints one line: t0_ns=.. frame_ms=.. cpu_s=.. wall_s=.. hwm_kb=.. alive=..
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

constexpr int POLL_US = 2000;          // between looks at the screen
constexpr double FRAME_GIVE_UP_S = 5.0;

static long long now_ns()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

// A window can vanish between listing and reading it; that is not an error.
static int ignore_x_error(Display *, XErrorEvent *)
{
    return 0;
}

static bool shows_something(Display *display, Window window)
{
    XWindowAttributes about{};
    if (!XGetWindowAttributes(display, window, &about) || about.map_state != IsViewable ||
        about.width < 16 || about.height < 16)
        return false;
    // X refuses to read a window that hangs off the screen (freeglut puts
    // ours at -1, -1), so read the part of the screen it covers instead.
    const int x0 = about.x < 0 ? 0 : about.x, y0 = about.y < 0 ? 0 : about.y;
    const int w = about.x + about.width - x0, h = about.y + about.height - y0;
    XImage *image = XGetImage(display, DefaultRootWindow(display), x0, y0, w, h, AllPlanes, ZPixmap);
    if (image == nullptr)
        return false;
    bool lit = false;
    for (int y = 0; y < h && !lit; y += 2)
        for (int x = 0; x < w && !lit; x += 2)
            lit = (XGetPixel(image, x, y) & 0xFFFFFF) != 0;
    XDestroyImage(image);
    return lit;
}

static bool any_window_shows(Display *display)
{
    Window root, parent, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count))
        return false;
    bool lit = false;
    for (unsigned int i = 0; i < count && !lit; i++)
        lit = shows_something(display, children[i]);
    if (children != nullptr)
        XFree(children);
    return lit;
}

// One of the files /proc keeps for the process, or nullptr once it is gone.
static FILE *open_proc(pid_t pid, const char *name)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/%s", (int)pid, name);
    return std::fopen(path, "r");
}

static long long cpu_ticks(pid_t pid)
{
    FILE *f = open_proc(pid, "stat");
    if (f == nullptr)
        return -1;
    char line[4096];
    const bool got = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    // Fields after the command's closing parenthesis: 3 is state, 14 and 15
    // are utime and stime.
    const char *rest = got ? std::strrchr(line, ')') : nullptr;
    if (rest == nullptr)
        return -1;
    unsigned long long utime = 0, stime = 0;
    if (std::sscanf(rest + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu",
                    &utime, &stime) != 2)
        return -1;
    return (long long)(utime + stime);
}

static long hwm_kb(pid_t pid)
{
    FILE *f = open_proc(pid, "status");
    if (f == nullptr)
        return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, f) != nullptr)
        if (std::sscanf(line, "VmHWM: %ld", &kb) == 1)
            break;
    std::fclose(f);
    return kb;
}

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s SECONDS WINDOW(0|1) PROGRAM [ARGS...]\n", argv[0]);
        return 2;
    }
    const double seconds = std::atof(argv[1]);
    const bool window = std::atoi(argv[2]) != 0;
    Display *display = window ? XOpenDisplay(nullptr) : nullptr;
    if (window && display == nullptr) {
        std::fprintf(stderr, "bench-measure: no X display\n");
        return 1;
    }
    XSetErrorHandler(ignore_x_error);

    const long long t0 = now_ns();
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[3], argv + 3);
        std::perror(argv[3]);
        _exit(127);
    }
    double frame_ms = -1.0;
    while (window && frame_ms < 0 && (now_ns() - t0) < FRAME_GIVE_UP_S * 1e9) {
        if (any_window_shows(display))
            frame_ms = (now_ns() - t0) / 1e6;
        else
            usleep(POLL_US);
    }
    const long long end = t0 + (long long)(seconds * 1e9);
    while (now_ns() < end)
        usleep(10000);

    const long long ticks = cpu_ticks(child);
    const long hwm = hwm_kb(child);
    const double wall_s = (now_ns() - t0) / 1e9;
    int status = 0;
    const bool alive = waitpid(child, &status, WNOHANG) == 0;
    // SIGKILL: SDL turns SIGTERM into a quit event that the program never reads.
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    std::printf("t0_ns=%lld frame_ms=%.1f cpu_s=%.3f wall_s=%.3f hwm_kb=%ld alive=%d\n", t0,
                frame_ms, ticks < 0 ? -1.0 : (double)ticks / sysconf(_SC_CLK_TCK), wall_s, hwm,
                alive ? 1 : 0);
    return alive ? 0 : 1;
}
