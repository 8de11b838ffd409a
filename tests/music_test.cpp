// music_test.cpp: band levels from spectra whose answer is worked out by hand.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "music.h"

struct band_case {
    const char *label;
    float fill;                  // every bin
    std::vector<int> lit_bins;   // set to lit_value on top of the fill
    float lit_value;
    std::vector<int> lit_bands;  // bands that must read want_lit
    float want_lit, want_rest;
};

// Test names and failures show the row by its label.
static void PrintTo(const band_case &c, std::ostream *os)
{
    *os << c.label;
}

static const band_case BAND_CASES[] = {
    {"Silence", 0.0f, {}, 0.0f, {}, 0.0f, 0.0f},
    {"EvenSpectrumGivesMeanTimes25", 0.0625f, {}, 0.0f, {}, 0.0f, 1.5625f},
    // Bin 150 lies in the x bands [100, 200) to [150, 250) of spheres 0 to 5.
    {"OneBinReachesEveryBandHoldingIt", 0.0f, {150}, 1.0f, {0, 3, 6, 9, 12, 15}, 0.25f, 0.0f},
    {"BandStartIsInside", 0.0f, {100}, 1.0f, {0}, 0.25f, 0.0f},
    {"BandEndIsOutside", 0.0f, {790}, 1.0f, {}, 0.0f, 0.0f},
    {"LastBinOfLastBand", 0.0f, {789}, 1.0f, {29}, 0.25f, 0.0f},
    {"EveryZBandHolds699", 0.0f, {699}, 1.0f, {2, 5, 8, 11, 14, 17, 20, 23, 26, 29}, 0.25f, 0.0f},
    {"FirstYBandOnly", 0.0f, {300}, 1.0f, {1}, 0.25f, 0.0f},
    {"GapsAreNeverRead", 0.0f, {0, 95, 99, 290, 295, 299, 490, 500, 599, 800, 1023}, 1.0f, {}, 0.0f, 0.0f},
};

class Bands : public testing::TestWithParam<band_case> {};

TEST_P(Bands, LevelIs25TimesMeanOfItsBins)
{
    const band_case &c = GetParam();
    float spectrum[SPECTRUM_SIZE];
    for (float &m : spectrum)
        m = c.fill;
    for (int bin : c.lit_bins)
        spectrum[bin] = c.lit_value;
    levels_from_spectrum(spectrum);
    for (int k = 0; k < BAND_COUNT; k++) {
        bool lit = false;
        for (int b : c.lit_bands)
            lit |= b == k;
        EXPECT_FLOAT_EQ(lit ? c.want_lit : c.want_rest, band_level[k]) << "band " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Spectra, Bands, testing::ValuesIn(BAND_CASES),
    [](const testing::TestParamInfo<band_case> &p) { return std::string(p.param.label); });

TEST(BandSums, AddInDoubleAndRoundOnce)
{
    // 1 + 99 x 1e-8: a float running sum never leaves 1.0, a double one
    // reaches 1.00000099, whose float is 1 + 8 x 2^-23; a quarter of it is
    // the level.
    float spectrum[SPECTRUM_SIZE] = {};
    spectrum[100] = 1.0f;
    for (int bin = 101; bin < 200; bin++)
        spectrum[bin] = 1e-8f;
    levels_from_spectrum(spectrum);
    EXPECT_EQ(0.25f + 8 * 0x1p-25f, band_level[0]);
}
