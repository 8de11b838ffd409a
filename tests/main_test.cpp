// main_test.cpp: the built program, end to end, in a real window under Xvfb,
// driven by real X input events (xdotool uses the XTEST extension).
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
// GoogleTest before Xlib, whose macros (None, Status, ...) would break it.
#include <gtest/gtest.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

static const char TITLE[] = "Демонстрация анимации";

// A run of the program in a working directory of its own.
struct ProgramRun {
    pid_t pid = -1;
    std::string dir;
    Window window = 0;
};

static Display *display()
{
    static Display *d = XOpenDisplay(nullptr);
    return d;
}

static void sleep_ms(int ms)
{
    usleep(ms * 1000);
}

static std::string text_property(Window w, const char *name)
{
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char *data = nullptr;
    Atom atom = XInternAtom(display(), name, False);
    std::string s;
    if (XGetWindowProperty(display(), w, atom, 0, 1024, False, AnyPropertyType, &type, &format, &count, &after,
                           &data) == Success && data != nullptr) {
        s.assign(reinterpret_cast<char *>(data), count);
        XFree(data);
    }
    return s;
}

// Finds the program's window by its EWMH name, waiting up to timeout_ms.
static Window find_window(int timeout_ms)
{
    for (int waited = 0; waited < timeout_ms; waited += 20) {
        Window root, parent, *children = nullptr;
        unsigned int n = 0;
        Window found = 0;
        if (XQueryTree(display(), DefaultRootWindow(display()), &root, &parent, &children, &n)) {
            for (unsigned int i = 0; i < n && found == 0; i++)
                if (text_property(children[i], "_NET_WM_NAME") == TITLE)
                    found = children[i];
            XFree(children);
        }
        if (found != 0) {
            XWindowAttributes a;
            XGetWindowAttributes(display(), found, &a);
            if (a.map_state == IsViewable)
                return found;
        }
        sleep_ms(20);
    }
    return 0;
}

static ProgramRun start(std::vector<std::string> args = {})
{
    ProgramRun run;
    char dir[] = "/tmp/spheres-run-XXXXXX";
    run.dir = mkdtemp(dir);
    const char *program = MUSIC_SPHERES;
    run.pid = fork();
    if (run.pid == 0) {
        if (chdir(run.dir.c_str()) != 0)
            _exit(126);
        int err = open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(err, 2);
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(program));
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(program, argv.data());
        _exit(127);
    }
    run.window = find_window(5000);
    return run;
}

// Waits up to timeout_ms for the run to end; its wait status, or -1 if it
// is still running.
static int wait_exit(ProgramRun &run, int timeout_ms)
{
    for (int waited = 0; waited <= timeout_ms; waited += 10) {
        int status;
        if (waitpid(run.pid, &status, WNOHANG) == run.pid) {
            run.pid = -1;
            return status;
        }
        sleep_ms(10);
    }
    return -1;
}

static void stop(ProgramRun &run)
{
    if (run.pid > 0) {
        kill(run.pid, SIGKILL);
        waitpid(run.pid, nullptr, 0);
        run.pid = -1;
    }
    std::string cmd = "rm -rf '" + run.dir + "'";
    if (std::system(cmd.c_str()) != 0)
        ADD_FAILURE() << "could not remove " << run.dir;
}

// Real key presses through XTEST, with the pointer over the window so that
// the keys go to it.
static void press_keys(const ProgramRun &run, const std::string &keys)
{
    std::string cmd = "xdotool mousemove --window " + std::to_string(run.window) + " 256 256 key " + keys;
    ASSERT_EQ(0, std::system(cmd.c_str()));
}

TEST(Program, OpensOne512WindowWithItsTitle)
{
    ProgramRun run = start();
    ASSERT_NE(0u, run.window) << "no window titled " << TITLE;
    XWindowAttributes a;
    XGetWindowAttributes(display(), run.window, &a);
    EXPECT_EQ(512, a.width);
    EXPECT_EQ(512, a.height);

    // Both names read the title as written: the EWMH one as UTF-8 and the
    // ICCCM one as an encoded text property, never raw bytes as Latin-1.
    EXPECT_EQ(TITLE, text_property(run.window, "_NET_WM_NAME"));
    XTextProperty name;
    ASSERT_TRUE(XGetWMName(display(), run.window, &name));
    EXPECT_NE(XA_STRING, name.encoding);
    char **list = nullptr;
    int count = 0;
    ASSERT_EQ(Success, Xutf8TextPropertyToTextList(display(), &name, &list, &count));
    ASSERT_EQ(1, count);
    EXPECT_STREQ(TITLE, list[0]);
    XFreeStringList(list);
    XFree(name.value);
    stop(run);
}

TEST(Program, EscExitsAtOnceOtherKeysDoNothing)
{
    ProgramRun run = start();
    ASSERT_NE(0u, run.window);
    press_keys(run, "q space a Return");
    EXPECT_EQ(-1, wait_exit(run, 500)) << "a key other than Esc ended the program";
    press_keys(run, "Escape");
    int status = wait_exit(run, 2000);
    ASSERT_NE(-1, status) << "Esc did not end the program";
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    stop(run);
}

TEST(Program, ToolkitOptionsHonouredOthersIgnored)
{
    const struct {
        const char *label;
        std::vector<std::string> args;
        int x, y;  // where the window must be; -1 where nothing was asked
    } cases[] = {
        {"GeometryPlacesButDoesNotSize", {"-geometry", "300x200+40+50"}, 40, 50},
        {"UnknownArgumentsIgnored", {"--frobnicate", "extra", "-z"}, -1, -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        ProgramRun run = start(c.args);
        ASSERT_NE(0u, run.window);
        XWindowAttributes a;
        XGetWindowAttributes(display(), run.window, &a);
        EXPECT_EQ(512, a.width);
        EXPECT_EQ(512, a.height);
        if (c.x >= 0) {
            int x, y;
            Window child;
            XTranslateCoordinates(display(), run.window, DefaultRootWindow(display()), 0, 0, &x, &y, &child);
            EXPECT_EQ(c.x, x);
            EXPECT_EQ(c.y, y);
        }
        press_keys(run, "Escape");
        int status = wait_exit(run, 2000);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        stop(run);
    }
}
