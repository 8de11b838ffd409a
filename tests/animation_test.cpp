// animation_test.cpp: one tick of the sphere rules, case by case.
#include <string>

#include <gtest/gtest.h>

#include "animation.h"
#include "music.h"
#include "scene.h"

enum axis { X, Y, Z };

// One tick of one sphere along one axis, driven by that axis's band. All
// values are exact in binary.
struct tick_case {
    const char *label;
    int sphere;
    axis along;
    double pos, vel;  // before the tick
    float band;       // band_level[3 * sphere + along]
    double want_pos, want_vel;
};

// Test names and failures show the row by its label.
static void PrintTo(const tick_case &c, std::ostream *os)
{
    *os << c.label;
}

static const tick_case TICK_CASES[] = {
    {"QuietHalvesSpeed", 0, X, 0.0, -1.0, 0.0f, -0.5, -0.5},
    {"BandPushesAlongSign", 0, X, 0.0, 0.375, 0.125f, 0.3125, 0.3125},
    {"BandPushesNegativeFurther", 3, Y, 0.25, -0.5, 0.25f, -0.25, -0.5},
    {"ZeroVelocityIgnoresMusic", 4, Z, 0.5, 0.0, 3.0f, 0.5, 0.0},
    {"FoldsBeforeMoving", 9, Z, 1.5, 0.25, 0.0f, -0.375, 0.125},
    {"FoldsUntilInside", 2, Y, 5.25, 0.0, 0.0f, -0.75, 0.0},
    {"FoldsUpToMinusOneOnly", 7, X, -3.0, 0.0, 0.0f, -1.0, 0.0},
    {"EdgeIsNotFolded", 0, X, 1.0, 0.0, 0.0f, 1.0, 0.0},
    {"LowerEdgeIsNotFolded", 5, Y, -1.0, 0.0, 0.0f, -1.0, 0.0},
};

static double *position(axis a, int i)
{
    return a == X ? &pos_x[i] : a == Y ? &pos_y[i] : &pos_z[i];
}

static double *velocity(axis a, int i)
{
    return a == X ? &vel_x[i] : a == Y ? &vel_y[i] : &vel_z[i];
}

class StepSpheres : public testing::TestWithParam<tick_case> {};

TEST_P(StepSpheres, MovesOneAxisByItsOwnBand)
{
    const tick_case &c = GetParam();
    for (float &b : band_level)
        b = 0.0f;
    *position(c.along, c.sphere) = c.pos;
    *velocity(c.along, c.sphere) = c.vel;
    band_level[3 * c.sphere + c.along] = c.band;
    step_spheres();
    EXPECT_DOUBLE_EQ(c.want_vel, *velocity(c.along, c.sphere));
    EXPECT_DOUBLE_EQ(c.want_pos, *position(c.along, c.sphere));
}

INSTANTIATE_TEST_SUITE_P(Rules, StepSpheres, testing::ValuesIn(TICK_CASES),
    [](const testing::TestParamInfo<tick_case> &p) { return std::string(p.param.label); });

TEST(StepSpheresOverTime, SteadyBandSettlesSpeedAtTwiceTheLevel)
{
    for (float &b : band_level)
        b = 0.5f;
    vel_x[6] = 0.02;
    vel_y[6] = -0.7;
    for (int tick = 0; tick < 60; tick++)
        step_spheres();
    EXPECT_NEAR(1.0, vel_x[6], 1e-12);
    EXPECT_NEAR(-1.0, vel_y[6], 1e-12);
    // However fast it goes, a sphere stays within one step of the cube.
    EXPECT_LE(std::abs(pos_x[6]), 2.0);
    EXPECT_LE(std::abs(pos_y[6]), 2.0);
}
