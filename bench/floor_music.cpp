// floor_music.cpp: music.h with no music, for the floor build. The timer still
// ticks and the display still draws, but nothing is decoded or analysed and
// no audio device is opened: what is left is the cost of drawing.
#include "music.h"

#include "probe.h"

float band_level[BAND_COUNT];

void start_music() {}

void update_spectrum_bands()
{
    probe_tick();
}

void levels_from_spectrum(const float *) {}
