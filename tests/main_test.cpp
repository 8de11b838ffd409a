// main_test.cpp: the built program, end to end, in a real window under Xvfb,
// driven by real X input events (xdotool uses the XTEST extension).
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
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

#include "support.h"

static const char TITLE[] = "Демонстрация анимации";

// A run of the program in a working directory of its own.
struct ProgramRun {
    pid_t pid = -1;
    std::string dir;
    Window window = 0;
};

// A window that goes away between a query and a read is no reason to end
// the test binary, which is what Xlib's default error handler would do.
static int ignore_x_error(Display *, XErrorEvent *)
{
    return 0;
}

static Display *display()
{
    static Display *d = nullptr;
    if (d == nullptr) {
        d = XOpenDisplay(nullptr);
        XSetErrorHandler(ignore_x_error);
    }
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

// The mapped top-level windows that carry the program's title.
static std::vector<Window> titled_windows()
{
    std::vector<Window> found;
    Window root, parent, *children = nullptr;
    unsigned int n = 0;
    if (XQueryTree(display(), DefaultRootWindow(display()), &root, &parent, &children, &n)) {
        for (unsigned int i = 0; i < n; i++) {
            XWindowAttributes a;
            if (text_property(children[i], "_NET_WM_NAME") == TITLE &&
                XGetWindowAttributes(display(), children[i], &a) && a.map_state == IsViewable)
                found.push_back(children[i]);
        }
        XFree(children);
    }
    return found;
}

// Waits up to timeout_ms for a titled window that is not among those already
// there, so that a stray window of another run is never taken for ours.
static Window find_new_window(const std::vector<Window> &old, int timeout_ms)
{
    for (int waited = 0; waited < timeout_ms; waited += 20) {
        for (Window w : titled_windows())
            if (std::find(old.begin(), old.end(), w) == old.end())
                return w;
        sleep_ms(20);
    }
    return 0;
}

// A fresh working directory for a run; the test puts its 1.mp3 there.
static ProgramRun new_run()
{
    ProgramRun run;
    char dir[] = "/tmp/spheres-run-XXXXXX";
    run.dir = mkdtemp(dir);
    return run;
}

// Starts the program in the run's directory, with stderr going to a file
// there, and waits up to window_ms for its window. audio_driver, when given,
// replaces the dummy driver the tests run with.
static void launch(ProgramRun &run, std::vector<std::string> args = {}, const char *audio_driver = nullptr,
                   int window_ms = 5000)
{
    const char *program = MUSIC_SPHERES;
    std::vector<Window> old = titled_windows();
    run.pid = fork();
    if (run.pid == 0) {
        if (chdir(run.dir.c_str()) != 0)
            _exit(126);
        int err = open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(err, 2);
        setenv("SDL_AUDIODRIVER", audio_driver != nullptr ? audio_driver : "dummy", 1);
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(program));
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(program, argv.data());
        _exit(127);
    }
    run.window = find_new_window(old, window_ms);
    // With no position asked for, the window sits at (-1, -1) until a window
    // manager places it, and Xvfb has none; X cannot read back pixels that
    // lie off the screen. Place it as a window manager would.
    int x, y;
    Window child;
    if (run.window != 0 &&
        XTranslateCoordinates(display(), run.window, DefaultRootWindow(display()), 0, 0, &x, &y, &child) &&
        (x < 0 || y < 0)) {
        XMoveWindow(display(), run.window, 0, 0);
        XSync(display(), False);
        sleep_ms(100);
    }
}

static ProgramRun start(std::vector<std::string> args = {})
{
    ProgramRun run = new_run();
    launch(run, args);
    return run;
}

static std::string stderr_text(const ProgramRun &run)
{
    std::ifstream in(run.dir + "/stderr.txt");
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What the window shows now, one 32-bit pixel per element.
using Frame = std::vector<unsigned int>;

static Frame grab(const ProgramRun &run)
{
    XImage *image = XGetImage(display(), run.window, 0, 0, 512, 512, AllPlanes, ZPixmap);
    Frame frame;
    if (image == nullptr)
        return frame;
    for (int y = 0; y < 512; y++)
        for (int x = 0; x < 512; x++)
            frame.push_back(static_cast<unsigned int>(XGetPixel(image, x, y)) & 0xFFFFFF);
    XDestroyImage(image);
    return frame;
}

// The mean x of the pixels that show a sphere, and how many there are.
static double cluster_x(const Frame &frame, int *count = nullptr)
{
    double sum = 0;
    int n = 0;
    for (size_t i = 0; i < frame.size(); i++)
        if (frame[i] != 0) {
            sum += static_cast<double>(i % 512);
            n++;
        }
    if (count != nullptr)
        *count = n;
    return n > 0 ? sum / n : -1;
}

// Whether the picture is the same now and 300 ms later.
static bool holds_still(const ProgramRun &run)
{
    Frame now = grab(run);
    sleep_ms(300);
    return now == grab(run);
}

// Runs xdotool, whose mouse and key commands are real input through XTEST.
static void xdotool(const ProgramRun &run, const std::string &commands)
{
    std::string w = std::to_string(run.window);
    std::string cmd = "xdotool " + commands;
    for (size_t at = cmd.find("WIN"); at != std::string::npos; at = cmd.find("WIN"))
        cmd.replace(at, 3, w);
    ASSERT_EQ(0, std::system(cmd.c_str())) << cmd;
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

// Esc ends the run within 2 s, with status 0. The pointer goes over the
// window first, so that the key goes to it.
static void expect_esc_quits(ProgramRun &run)
{
    xdotool(run, "mousemove --window WIN 256 256 key Escape");
    int status = wait_exit(run, 2000);
    ASSERT_NE(-1, status) << "Esc did not end the program";
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
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
    xdotool(run, "mousemove --window WIN 256 256 key q space a Return");
    EXPECT_EQ(-1, wait_exit(run, 500)) << "a key other than Esc ended the program";
    expect_esc_quits(run);
    stop(run);
}

TEST(Program, InterruptAndTerminateStillEndIt)
{
    // Ctrl+C in the terminal, and a plain kill, end the program as they end
    // any other: by the signal.
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(strsignal(signal));
        ProgramRun run = start();
        ASSERT_NE(0u, run.window);
        kill(run.pid, signal);
        int status = wait_exit(run, 2000);
        ASSERT_NE(-1, status) << "the signal did not end the program";
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal);
        stop(run);
    }
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
        expect_esc_quits(run);
        stop(run);
    }
}

// ---- music ----

TEST(Program, MusicMovesTheSpheresAndTheySettleAfterIt)
{
    ProgramRun run = new_run();
    // A tone at bin 150 (3230 Hz) for 2.5 s drives the x bands of spheres 0 to 5.
    ASSERT_TRUE(write_tone(run.dir + "/1.mp3", FIXTURE_MP3, 44100, 2, 2.5, 150 * 44100.0 / 2048, 0.5));
    launch(run);
    ASSERT_NE(0u, run.window);
    sleep_ms(500);
    Frame a = grab(run);
    sleep_ms(100);
    EXPECT_NE(a, grab(run)) << "the spheres stand still while the music plays";

    sleep_ms(3500);  // past the end, and long enough for the speed to halve away
    EXPECT_TRUE(holds_still(run)) << "the spheres still move after the music ended";
    int lit;
    cluster_x(grab(run), &lit);
    EXPECT_GT(lit, 0);
    EXPECT_EQ("", stderr_text(run));
    stop(run);
}

// ---- files and faults that must not stop the picture ----

static bool mp3_tone(const std::string &path, double seconds)
{
    return write_tone(path, FIXTURE_MP3, 44100, 2, seconds, 1000.0, 0.5);
}

static bool make_bytes(const std::string &dir, const std::string &bytes)
{
    return write_bytes(dir + "/1.mp3", bytes.data(), bytes.size());
}

// An MP3 behind an ID3v2 tag of 4 MB of padding, as some taggers leave.
static bool make_huge_tag(const std::string &dir)
{
    return mp3_tone(dir + "/1.mp3", 1.0) && prepend_id3_tag(dir + "/1.mp3", 4 << 20);
}

struct fault_case {
    const char *label;
    bool (*make)(const std::string &dir);  // puts the bad thing at dir/1.mp3
    const char *audio_driver;              // nullptr: the dummy driver
    const char *message;                   // all of stderr
};

// Test names and failures show the row by its label.
static void PrintTo(const fault_case &c, std::ostream *os)
{
    *os << c.label;
}

static const fault_case FAULT_CASES[] = {
    {"Empty", [](const std::string &d) { return make_bytes(d, ""); }, nullptr,
     "1.mp3: not a recognised audio format\n"},
    {"RandomBytes",
     [](const std::string &d) {
         std::string bytes;
         for (unsigned v = 7; bytes.size() < 5000; v = v * 1103515245u + 12345u)
             bytes.push_back(static_cast<char>(v >> 16));
         bytes[0] = 'x';
         return make_bytes(d, bytes);
     },
     nullptr, "1.mp3: not a recognised audio format\n"},
    {"PngNamedMp3",
     [](const std::string &d) { return make_bytes(d, std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)); },
     nullptr, "1.mp3: not a recognised audio format\n"},
    // Damaged but playable: these play what they hold and say nothing.
    {"TruncatedMidFrame", [](const std::string &d) { return mp3_tone(d + "/1.mp3", 1.0) && truncate_to(d + "/1.mp3", 0.437); },
     nullptr, ""},
    {"EightChannelsAt8kHz", [](const std::string &d) { return write_wav_header(d + "/1.mp3", 8, 8000, 1LL << 30); },
     nullptr, ""},
    {"StereoAt192kHz", [](const std::string &d) { return write_wav_header(d + "/1.mp3", 2, 192000, 1LL << 30); },
     nullptr, ""},
    {"HugeId3Tag", make_huge_tag, nullptr, ""},
    {"Directory", [](const std::string &d) { return mkdir((d + "/1.mp3").c_str(), 0755) == 0; }, nullptr,
     "1.mp3: is a directory\n"},
    {"Fifo", [](const std::string &d) { return mkfifo((d + "/1.mp3").c_str(), 0644) == 0; }, nullptr,
     "1.mp3: not a regular file\n"},
    {"DanglingLink", [](const std::string &d) { return symlink("gone.mp3", (d + "/1.mp3").c_str()) == 0; }, nullptr,
     "1.mp3: no such file\n"},
    {"LinkLoop", [](const std::string &d) { return symlink("1.mp3", (d + "/1.mp3").c_str()) == 0; }, nullptr,
     "1.mp3: symbolic link loop\n"},
    {"NoSoundDevice", [](const std::string &d) { return mp3_tone(d + "/1.mp3", 1.0); }, "no-such-driver",
     "no sound device; playing silently\n"},
};

class Fault : public testing::TestWithParam<fault_case> {};

TEST_P(Fault, WindowComesKeepsRunningSaysWhyAndEscStillQuits)
{
    const fault_case &c = GetParam();
    ProgramRun run = new_run();
    ASSERT_TRUE(c.make(run.dir));
    launch(run, {}, c.audio_driver, 2000);
    ASSERT_NE(0u, run.window) << "no window within 2 s";
    EXPECT_EQ(-1, wait_exit(run, 1000)) << "the program ended by itself";
    EXPECT_EQ(c.message, stderr_text(run));
    int lit;
    cluster_x(grab(run), &lit);
    EXPECT_GT(lit, 100) << "no spheres in the picture";
    expect_esc_quits(run);
    stop(run);
}

INSTANTIATE_TEST_SUITE_P(BadMusic, Fault, testing::ValuesIn(FAULT_CASES),
    [](const testing::TestParamInfo<fault_case> &p) { return std::string(p.param.label); });

// With no music the spheres come to rest within a second or so; after that
// the picture changes only when the view turns.
static ProgramRun start_at_rest()
{
    ProgramRun run = start();
    sleep_ms(1500);
    return run;
}

TEST(Program, ResizingToNothingAndBackLeavesThePictureAsItWas)
{
    ProgramRun run = start_at_rest();
    ASSERT_NE(0u, run.window);
    Frame before = grab(run);
    // X has no 0 x 0 window; 1 x 1 is as small as it goes.
    XResizeWindow(display(), run.window, 1, 1);
    XSync(display(), False);
    sleep_ms(100);
    for (int i = 0; i < 200; i++) {
        XResizeWindow(display(), run.window, 1 + (i * 37) % 700, 1 + (i * 53) % 600);
        XSync(display(), False);
        sleep_ms(5);
    }
    XResizeWindow(display(), run.window, 512, 512);
    XSync(display(), False);
    sleep_ms(500);
    EXPECT_EQ(before, grab(run));
    EXPECT_EQ(-1, wait_exit(run, 0));
    stop(run);
}

// ---- the trackball, by real pointer events ----

TEST(Program, SlowDragRightTurnsClusterLeftThenHoldsStill)
{
    ProgramRun run = start_at_rest();
    ASSERT_NE(0u, run.window);
    Frame rest = grab(run);

    // The right and middle buttons turn nothing.
    xdotool(run, "mousemove --window WIN 256 256 mousedown 3 mousemove --window WIN 300 256 sleep 0.1 mouseup 3");
    xdotool(run, "mousedown 2 mousemove --window WIN 256 256 sleep 0.1 mouseup 2");
    sleep_ms(200);
    EXPECT_EQ(rest, grab(run));

    // The release is slow by the program's clock, which reads the time when
    // it handles an event: a program running behind (under a sanitizer, say)
    // could take a quick hold for a flick. So the steps are small and the
    // hold long, and the view turns by the last step's turn while held.
    std::string steps = "mousemove --window WIN 250 256 mousedown 1 sleep 0.05";
    for (int x = 251; x <= 255; x++)
        steps += " mousemove --window WIN " + std::to_string(x) + " 256 sleep 0.03";
    xdotool(run, steps + " sleep 0.4 mouseup 1");
    sleep_ms(200);
    EXPECT_LT(cluster_x(grab(run)), cluster_x(rest) - 10) << "the cluster did not move left";
    EXPECT_TRUE(holds_still(run)) << "the view went on turning after a slow release";
    stop(run);
}

TEST(Program, FlickKeepsTurningAndAClickStopsIt)
{
    ProgramRun run = start_at_rest();
    ASSERT_NE(0u, run.window);
    // Along the rim in the top-right corner, where the dome is flat, so the
    // view turns about the line of sight and the cluster stays in sight.
    // The release must come in the same millisecond as the last drag event,
    // which the clock may split now and then: try a few times.
    bool spinning = false;
    for (int attempt = 0; attempt < 4 && !spinning; attempt++) {
        xdotool(run, "mousemove --window WIN 500 12 mousedown 1 sleep 0.05 mousemove --window WIN 506 30 mouseup 1");
        spinning = !holds_still(run) && !holds_still(run);
    }
    EXPECT_TRUE(spinning) << "a flick left the view still";

    xdotool(run, "mousemove --window WIN 256 256 mousedown 1 sleep 0.1 mouseup 1");
    sleep_ms(100);
    EXPECT_TRUE(holds_still(run)) << "a click did not stop the spin";
    stop(run);
}

TEST(Program, DragFarOutsideTheWindowBreaksNothing)
{
    ProgramRun run = start_at_rest();
    ASSERT_NE(0u, run.window);
    xdotool(run, "mousemove --window WIN 256 256 mousedown 1 sleep 0.05 mousemove 1279 1023 sleep 0.05 "
                 "mousemove 0 1023 sleep 0.05 mousemove 1279 0 sleep 0.1 mouseup 1");
    sleep_ms(300);
    EXPECT_EQ(-1, wait_exit(run, 0));
    expect_esc_quits(run);
    stop(run);
}
