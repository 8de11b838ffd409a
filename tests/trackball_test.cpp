// trackball_test.cpp: the view rotation and the drag gestures, seen only
// through trackball.h and the modelview matrix that apply_view_rotation()
// leaves behind. A drag's angle and axis are recovered from that matrix.
#include <cmath>
#include <string>

#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include "support.h"
#include "trackball.h"

constexpr int LEFT = 0;  // GLUT_LEFT_BUTTON

// The rotation after one more frame: what the display pass multiplies in.
struct Turn {
    float m[16];
    double angle;     // degrees
    double axis[3];   // unit length, meaningless when angle is 0
};

static Turn frame()
{
    Turn t;
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    apply_view_rotation();
    glGetFloatv(GL_MODELVIEW_MATRIX, t.m);
    // Column-major: element (row r, column c) is m[4c + r].
    double trace = t.m[0] + t.m[5] + t.m[10];
    t.angle = std::acos(std::fmax(-1.0, std::fmin(1.0, (trace - 1) / 2))) * 180 / M_PI;
    double ax = t.m[6] - t.m[9], ay = t.m[8] - t.m[2], az = t.m[1] - t.m[4];
    double n = std::sqrt(ax * ax + ay * ay + az * az);
    t.axis[0] = n > 0 ? ax / n : 0;
    t.axis[1] = n > 0 ? ay / n : 0;
    t.axis[2] = n > 0 ? az / n : 0;
    return t;
}

static bool is_identity(const Turn &t)
{
    for (int k = 0; k < 16; k++)
        if (t.m[k] != (k % 5 == 0 ? 1.0f : 0.0f))
            return false;
    return true;
}

class Trackball : public testing::Test {
protected:
    void SetUp() override
    {
        open_gl_window();
        trackball_stop(-1);  // a release no event matches: at rest
        init_view_rotation();
        trackball_set_window_size(512, 512);
    }

    // One frame's turn for a drag from (x0, y0) to (x1, y1), then a slow release.
    static Turn drag(int x0, int y0, int x1, int y1)
    {
        trackball_start(x0, y0, LEFT, 0);
        trackball_motion(x1, y1);
        Turn t = frame();
        trackball_stop(-1);
        init_view_rotation();
        return t;
    }
};

TEST_F(Trackball, ZeroIncrementLeavesIdentityExactly)
{
    // At rest the increment is 0 degrees about (0, 0, 0).
    for (int i = 0; i < 3; i++)
        EXPECT_TRUE(is_identity(frame()));
    // A drag event on the same point as the last one is also a zero turn.
    trackball_start(300, 200, LEFT, 0);
    trackball_motion(300, 200);
    EXPECT_TRUE(is_identity(frame()));
    EXPECT_TRUE(is_identity(frame()));
}

// Where a pointer position lands on the dome, recovered from a drag that
// starts at the centre (0, 0, 1): the angle gives the chord, so the height,
// and the axis (0, 0, 1) x p = (-py, px, 0) gives the direction.
struct lift_case {
    const char *label;
    int x, y;
    float want[3];
};

// Test names and failures show the row by its label.
static void PrintTo(const lift_case &c, std::ostream *os)
{
    *os << c.label;
}

static const lift_case LIFT_CASES[] = {
    {"CentreOnTop", 256, 256, {0.0f, 0.0f, 1.0f}},
    {"RightEdgeMiddleOnRim", 512, 256, {1.0f, 0.0f, 1.8e-9f}},
    {"TopLeftCornerOnRim", 0, 0, {-0.70710677f, 0.70710677f, 1.3e-9f}},
    {"QuarterWayRight", 384, 256, {0.57735026f, 0.0f, 0.81649661f}},
    {"OutsideWindowOnRim", 2000, 256, {1.0f, 0.0f, 0.0f}},
};

class Lift : public Trackball, public testing::WithParamInterface<lift_case> {};

TEST_P(Lift, PointLandsOnTheDome)
{
    const lift_case &c = GetParam();
    Turn t = drag(256, 256, c.x, c.y);
    double chord = t.angle / 90.0;
    double z = 1 - chord * chord / 2;
    double r = std::sqrt(std::fmax(0.0, 1 - z * z));
    EXPECT_NEAR(c.want[0], t.axis[1] * r, 2e-5);
    EXPECT_NEAR(c.want[1], -t.axis[0] * r, 2e-5);
    EXPECT_NEAR(c.want[2], z, 2e-5);
    EXPECT_NEAR(0.0, t.axis[2], 1e-6);
}

INSTANTIATE_TEST_SUITE_P(Window512, Lift, testing::ValuesIn(LIFT_CASES),
    [](const testing::TestParamInfo<lift_case> &p) { return std::string(p.param.label); });

TEST_F(Trackball, DragsTurnByChordAboutCrossProduct)
{
    const struct {
        const char *label;
        int x0, y0, x1, y1;
        double angle, axis[3];
    } cases[] = {
        {"CentreToRightEdge", 256, 256, 512, 256, 127.28, {0, 1, 0}},
        {"CentreToQuarterRight", 256, 256, 384, 256, 54.52, {0, 1, 0}},
        {"SmallDragRightTurnsAboutUp", 250, 256, 260, 256, 0.0, {0, 1, 0}},
        {"SmallDragUpTurnsAboutMinusX", 256, 260, 256, 250, 0.0, {-1, 0, 0}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        Turn t = drag(c.x0, c.y0, c.x1, c.y1);
        if (c.angle > 0)
            EXPECT_NEAR(c.angle, t.angle, 0.01);
        else
            EXPECT_GT(t.angle, 0.0);
        for (int k = 0; k < 3; k++)
            EXPECT_NEAR(c.axis[k], t.axis[k], 0.01);
    }
}

TEST_F(Trackball, NinetyDegreesFourTimesIsWhole)
{
    // Two points mirrored about the centre line, 60 degrees apart on the dome,
    // are a chord of 1 apart: 90 degrees about +y. A wide window makes a pixel
    // fine enough to hit that closely. The lifted x of such a point solves
    // x = cos(x * pi / 2) / sqrt(3).
    double px = 0.44;
    for (int i = 0; i < 50; i++)
        px = std::cos(px * 1.570796325) / std::sqrt(3.0);
    const int width = 1 << 22;
    int offset = static_cast<int>(std::lround(px * width / 2));
    trackball_set_window_size(width, 512);
    trackball_start(width / 2 - offset, 256, LEFT, 0);
    trackball_motion(width / 2 + offset, 256);
    Turn t = frame();
    EXPECT_NEAR(90.0, t.angle, 1e-3);
    EXPECT_NEAR(1.0, t.axis[1], 1e-6);
    for (int i = 0; i < 3; i++)
        t = frame();
    for (int k = 0; k < 16; k++)
        EXPECT_NEAR(k % 5 == 0 ? 1.0f : 0.0f, t.m[k], 1e-4) << "element " << k;
}

TEST_F(Trackball, MotionWithoutPressChangesNothing)
{
    trackball_motion(0, 0);
    trackball_motion(500, 10);
    EXPECT_TRUE(is_identity(frame()));
}

// Press, drag, and release: a release in the same millisecond as the last
// drag or press event leaves the increment turning the view every frame.
TEST_F(Trackball, ReleaseInTheSameMillisecondKeepsSpinning)
{
    int before, after;
    do {
        before = glutGet(GLUT_ELAPSED_TIME);
        trackball_start(256, 256, LEFT, before);
        trackball_motion(300, 256);
        after = glutGet(GLUT_ELAPSED_TIME);
    } while (before != after);
    trackball_stop(after);
    Turn first = frame();
    Turn second = frame();
    EXPECT_GT(first.angle, 0.1);
    EXPECT_NEAR(2 * first.angle, second.angle, 1e-3);

    // A later press and release at different milliseconds stops it.
    trackball_start(256, 256, LEFT, after + 5);
    trackball_stop(after + 6);
    Turn stopped = frame();
    EXPECT_NEAR(second.angle, stopped.angle, 1e-4);
}

TEST_F(Trackball, ReleaseWithoutPressStopsSpin)
{
    trackball_start(256, 256, LEFT, 0);
    trackball_motion(300, 256);
    int when;
    do {
        when = glutGet(GLUT_ELAPSED_TIME);
        trackball_motion(310, 256);
    } while (when != glutGet(GLUT_ELAPSED_TIME));
    trackball_stop(glutGet(GLUT_ELAPSED_TIME));
    Turn spinning = frame();
    ASSERT_GT(spinning.angle, 0.1);
    // The press happened outside the window; only the release comes here.
    trackball_stop(when + 1000);
    EXPECT_NEAR(spinning.angle, frame().angle, 1e-4);
}

TEST_F(Trackball, QuickClickAtRestSpinsByNothing)
{
    trackball_start(100, 100, LEFT, 42);
    trackball_stop(42);
    EXPECT_TRUE(is_identity(frame()));
    trackball_motion(200, 100);  // no press since the release: ignored
    EXPECT_TRUE(is_identity(frame()));
}

TEST_F(Trackball, ZeroWindowSizeKeepsViewFinite)
{
    const int sizes[][2] = {{0, 0}, {0, 512}, {512, 0}};
    for (const auto &s : sizes) {
        SCOPED_TRACE(std::to_string(s[0]) + " x " + std::to_string(s[1]));
        trackball_set_window_size(s[0], s[1]);
        trackball_start(10, 20, LEFT, 0);
        trackball_motion(300, 400);
        trackball_motion(-50, 7);
        Turn t = frame();
        for (float v : t.m)
            EXPECT_TRUE(std::isfinite(v));
        trackball_stop(-1);
    }
}
