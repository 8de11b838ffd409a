// scene_test.cpp: the start layout, the colour ramp, the projection, and a
// real frame drawn by Mesa under Xvfb and read back pixel by pixel.
#include <cmath>
#include <string>

#include <GL/glu.h>
#include <gtest/gtest.h>

#include "scene.h"
#include "support.h"
#include "trackball.h"

// Rewinds the generator and lays the spheres out afresh, as at start-up.
static void fresh_scene()
{
    open_gl_window();
    random_state = 1;
    init_view_rotation();
    init_scene();
    on_reshape(512, 512);
}

TEST(Layout, GeneratorStartsWithKnownDraws)
{
    random_state = 1;
    const int want[] = {41, 18467, 6334, 26500, 19169, 15724};
    for (int w : want)
        EXPECT_EQ(w, next_random());
}

struct layout_case {
    int sphere;
    double pos[3], vel[3];
};

TEST(Layout, SpheresStartWhereTheDrawsPutThem)
{
    fresh_scene();
    const layout_case cases[] = {
        {0, {-0.18, 0.34, -0.32}, {-1.00, 0.38, -0.52}},
        {1, {0.56, 0.16, 0.24}, {0.28, -0.90, -0.10}},
        {9, {-0.26, 0.18, -0.54}, {-0.18, -0.42, 0.56}},
    };
    for (const layout_case &c : cases) {
        SCOPED_TRACE("sphere " + std::to_string(c.sphere));
        int i = c.sphere;
        EXPECT_DOUBLE_EQ(c.pos[0], pos_x[i]);
        EXPECT_DOUBLE_EQ(c.pos[1], pos_y[i]);
        EXPECT_DOUBLE_EQ(c.pos[2], pos_z[i]);
        EXPECT_DOUBLE_EQ(c.vel[0], vel_x[i]);
        EXPECT_DOUBLE_EQ(c.vel[1], vel_y[i]);
        EXPECT_DOUBLE_EQ(c.vel[2], vel_z[i]);
    }
    // A remainder of 50 would give exactly 0.0, a velocity no music could
    // ever move; the fixed sequence has none.
    for (int i = 0; i < SPHERE_COUNT; i++) {
        SCOPED_TRACE("sphere " + std::to_string(i));
        const double drawn[] = {pos_x[i], pos_y[i], pos_z[i], vel_x[i], vel_y[i], vel_z[i]};
        for (double v : drawn)
            EXPECT_NE(0.0, v);
    }
}

TEST(Layout, ColoursRampFromBrightToDarkMagenta)
{
    fresh_scene();
    // Exact floats: the ramp is taken in double and rounded once, which is
    // what gives sphere 7 its last digit (float arithmetic gives 0.29999995).
    const struct {
        int sphere;
        float level;
    } cases[] = {{0, 1.0f}, {1, 0.89999998f}, {5, 0.5f}, {7, 0.29999998f}, {9, 0.099999987f}};
    for (const auto &c : cases) {
        SCOPED_TRACE("sphere " + std::to_string(c.sphere));
        EXPECT_EQ(c.level, sphere_color[c.sphere][0]);
        EXPECT_EQ(0.0f, sphere_color[c.sphere][1]);
        EXPECT_EQ(c.level, sphere_color[c.sphere][2]);
    }
}

TEST(Reshape, SetsViewportAndAspect)
{
    open_gl_window();
    on_reshape(800, 400);
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(0, viewport[0]);
    EXPECT_EQ(0, viewport[1]);
    EXPECT_EQ(800, viewport[2]);
    EXPECT_EQ(400, viewport[3]);
    float projection[16];
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    // gluPerspective puts f / aspect in [0] and f in [5].
    EXPECT_FLOAT_EQ(2.0f, projection[5] / projection[0]);
    // The reshape leaves the modelview matrix selected for the display pass.
    GLint mode;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(GL_MODELVIEW, mode);
}

TEST(Reshape, ZeroSizeKeepsProjectionFinite)
{
    open_gl_window();
    const int sizes[][2] = {{0, 0}, {512, 0}, {0, 512}};
    for (const auto &s : sizes) {
        SCOPED_TRACE(std::to_string(s[0]) + " x " + std::to_string(s[1]));
        on_reshape(s[0], s[1]);
        float projection[16];
        glGetFloatv(GL_PROJECTION_MATRIX, projection);
        for (float v : projection)
            EXPECT_TRUE(std::isfinite(v));
    }
    on_reshape(512, 512);
}

// A drawn frame, read back from the window.
class Frame : public testing::Test {
protected:
    unsigned char pixels[512 * 512 * 3];
    double modelview[16], projection[16];
    GLint viewport[4];

    void SetUp() override
    {
        fresh_scene();
        on_display();
        glGetDoublev(GL_MODELVIEW_MATRIX, modelview);
        glGetDoublev(GL_PROJECTION_MATRIX, projection);
        glGetIntegerv(GL_VIEWPORT, viewport);
        glReadBuffer(GL_BACK);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, 512, 512, GL_RGB, GL_UNSIGNED_BYTE, pixels);
    }

    // Pixel (x, y) with y counted from the bottom, as GL counts it.
    float channel(int x, int y, int c) const { return pixels[(y * 512 + x) * 3 + c] / 255.0f; }
};

TEST_F(Frame, NothingIsRotatedBeforeAnyInput)
{
    // After the display pass the modelview is the scene's translation alone.
    for (int k = 0; k < 16; k++) {
        double want = (k % 5 == 0) ? 1.0 : 0.0;
        if (k == 14)
            want = -10.0;
        EXPECT_EQ(want, modelview[k]) << "element " << k;
    }
}

TEST_F(Frame, BackgroundIsBlack)
{
    const int corners[][2] = {{0, 0}, {511, 0}, {0, 511}, {511, 511}, {2, 256}};
    for (const auto &p : corners)
        for (int c = 0; c < 3; c++)
            EXPECT_EQ(0.0f, channel(p[0], p[1], c)) << "pixel " << p[0] << "," << p[1];
}

TEST_F(Frame, EachLoneSphereShowsItsLitColourAtItsCentre)
{
    double win_x[SPHERE_COUNT], win_y[SPHERE_COUNT], radius[SPHERE_COUNT];
    for (int i = 0; i < SPHERE_COUNT; i++) {
        double z;
        gluProject(pos_x[i], pos_y[i], pos_z[i], modelview, projection, viewport, &win_x[i], &win_y[i], &z);
        // Seen from 10 - pos_z units away through a 45 degree field of view.
        radius[i] = 0.2 / (10.0 - pos_z[i]) / std::tan(M_PI / 8) * 256.0;
    }
    int lone = 0;
    for (int i = 0; i < SPHERE_COUNT; i++) {
        bool overlapped = false;
        for (int j = 0; j < SPHERE_COUNT; j++)
            overlapped |= j != i && std::hypot(win_x[i] - win_x[j], win_y[i] - win_y[j]) < radius[i] + radius[j] + 2;
        if (overlapped)
            continue;
        lone++;
        SCOPED_TRACE("sphere " + std::to_string(i));
        // Light 0 shines from the eye; the point facing us takes its diffuse
        // colour times the cosine to the light, plus the default ambient
        // 0.2 x 0.2 on every channel.
        double cosine = (10.0 - pos_z[i]) / std::sqrt(pos_x[i] * pos_x[i] + pos_y[i] * pos_y[i] +
                                                      (10.0 - pos_z[i]) * (10.0 - pos_z[i]));
        int x = static_cast<int>(std::lround(win_x[i])), y = static_cast<int>(std::lround(win_y[i]));
        EXPECT_NEAR(std::fmin(1.0, 0.04 + sphere_color[i][0] * cosine), channel(x, y, 0), 0.03);
        EXPECT_NEAR(0.04, channel(x, y, 1), 0.03);
        EXPECT_NEAR(std::fmin(1.0, 0.04 + sphere_color[i][2] * cosine), channel(x, y, 2), 0.03);
    }
    EXPECT_GE(lone, 3) << "too few spheres stand alone to judge the picture";
}
