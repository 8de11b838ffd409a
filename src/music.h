// music.h: the song and how loud it is, band by band. The tick needs only
// band_level, so music is the one module that talks to the audio layer.
#pragma once

constexpr int BAND_COUNT = 30;        // three per sphere: x, y, z
constexpr int SPECTRUM_SIZE = 1024;   // magnitudes in one spectrum

// Written only by update_spectrum_bands(); sphere i reads 3i, 3i + 1, 3i + 2.
extern float band_level[BAND_COUNT];

void start_music();            // from main, once, after init_scene()
void update_spectrum_bands();  // from on_timer, before step_spheres()

// The second half of update_spectrum_bands(): band levels from a spectrum.
// Its own entry so that tests can feed it spectra worked out by hand.
void levels_from_spectrum(const float magnitudes[SPECTRUM_SIZE]);
