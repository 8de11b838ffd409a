// music.cpp: plays "1.mp3" once from start-up and turns the spectrum of what
// is heard into 30 band levels, three per sphere. The one module that calls
// the audio layer, so it alone decides what a failure tells the user.
#include "music.h"

#include <array>
#include <cstdio>

#include "audio.h"

static_assert(SPECTRUM_SIZE == AUDIO_BIN_COUNT, "a spectrum is what the audio layer hands out");

constexpr const char *MUSIC_FILE = "1.mp3";  // looked for in the working directory
constexpr int BAND_WIDTH = 100;              // bins per band
constexpr double LEVEL_GAIN = 25.0;          // band level per unit of mean magnitude

// Start (inclusive) and end (exclusive) bin of one band.
struct BandRange {
    int start, end;
};

// Sphere i owns bands 3i (x), 3i + 1 (y) and 3i + 2 (z). Around o = 200 + 10i
// they sit at [o - 100, o), [o + 100, o + 200) and [o + 400, o + 500), so the
// bands of neighbouring spheres overlap by 90 bins.
static constexpr BandRange band_for(int band)
{
    int o = 200 + 10 * (band / 3);
    int start = band % 3 == 0 ? o - 100 : band % 3 == 1 ? o + 100 : o + 400;
    return {start, start + BAND_WIDTH};
}

static constexpr std::array<BandRange, BAND_COUNT> band_table()
{
    std::array<BandRange, BAND_COUNT> table{};
    for (int band = 0; band < BAND_COUNT; band++)
        table[band] = band_for(band);
    return table;
}

static constexpr std::array<BandRange, BAND_COUNT> band_range = band_table();
static_assert(band_range[29].end <= SPECTRUM_SIZE, "the bands fit the spectrum");

float band_level[BAND_COUNT];

static float spectrum[SPECTRUM_SIZE];

void start_music()
{
    if (!audio_open_output())
        std::fprintf(stderr, "no sound device; playing silently\n");
    if (!audio_open_stream(MUSIC_FILE)) {
        std::fprintf(stderr, "%s: %s\n", MUSIC_FILE, audio_failure_reason());
        return;
    }
    audio_play();
}

void update_spectrum_bands()
{
    audio_spectrum(spectrum);
    if (audio_output_lost())
        std::fprintf(stderr, "sound device lost; playing silently\n");
    levels_from_spectrum(spectrum);
}

void levels_from_spectrum(const float magnitudes[SPECTRUM_SIZE])
{
    for (int k = 0; k < BAND_COUNT; k++) {
        const BandRange &band = band_range[k];
        double sum = 0.0;
        for (int bin = band.start; bin < band.end; bin++)
            sum += magnitudes[bin];
        // The sum is rounded to a float once; the mean and gain are doubles.
        float rounded = static_cast<float>(sum);
        band_level[k] = static_cast<float>(rounded / (band.end - band.start) * LEVEL_GAIN);
    }
}
