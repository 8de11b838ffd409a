// make_demo.cpp: writes the demo track that `make run` plays when there is no
// 1.mp3: a short generated piece in A minor, bright enough to reach every
// band the spheres listen to (2 to 17 kHz), quiet in its middle and silent at
// its end so the spheres can be seen to settle. Written as MP3 by libsndfile.
//
// Usage: make-demo OUT.mp3 [SECONDS]   (default 64 s; longer runs repeat)
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <sndfile.h>

constexpr int RATE = 44100;     // frames per second
constexpr int CHANNELS = 2;
constexpr double BPM = 120.0;
constexpr double BEAT = 60.0 / BPM;    // seconds
constexpr double BAR = 4 * BEAT;
constexpr int BLOCK = 4096;            // frames written at a time
constexpr double TAIL = 4.0;           // seconds of silence at the end

// Am, F, C, G: root notes of the chords as MIDI numbers, one per bar.
static const int CHORD_ROOT[4] = {57, 53, 48, 55};
static const bool CHORD_MINOR[4] = {true, false, false, false};
// The melody, eighth notes over four bars; 0 is a rest.
static const int MELODY[32] = {
    81, 0, 84, 83, 81, 0, 79, 76,  77, 0, 81, 0, 84, 86, 84, 81,
    79, 0, 76, 79, 84, 0, 83, 79,  74, 0, 79, 81, 83, 0, 86, 0,
};

static unsigned int noise_state = 12345;

static double note_hz(int midi)
{
    return 440.0 * std::pow(2.0, (midi - 69) / 12.0);
}

static double noise()
{
    noise_state = noise_state * 1664525u + 1013904223u;
    return static_cast<double>(noise_state >> 8) / (1u << 23) - 1.0;
}

// A bright pad: a sawtooth, whose harmonics fall off only as 1/n and so
// reach the top band. The jump is smoothed (polyBLEP) so it does not alias.
static double pad(double t, double hz)
{
    double dt = hz / RATE;
    double phase = std::fmod(t * hz, 1.0);
    double s = 2 * phase - 1;
    if (phase < dt) {
        double x = phase / dt;
        s -= x + x - x * x - 1;
    } else if (phase > 1 - dt) {
        double x = (phase - 1) / dt;
        s -= x * x + x + x + 1;
    }
    return s;
}

// A bell for the melody: a struck tone with inharmonic partials that reach
// into the middle and upper bands, dying away over the note.
static double bell(double t, double since, double hz)
{
    if (since < 0)
        return 0.0;
    double env = std::exp(-since * 5.0);
    return env * (std::sin(2 * M_PI * hz * t) + 0.6 * std::sin(2 * M_PI * hz * 2.76 * t) +
                  0.4 * std::sin(2 * M_PI * hz * 5.40 * t) + 0.25 * std::sin(2 * M_PI * hz * 8.93 * t));
}

// How loud each voice is over the piece: an intro of pads, the full band, a
// quiet break, the full band again, then the fade and silence.
static void section_levels(double t, double length, double &pad_level, double &bell_level, double &hat_level)
{
    double song = length - TAIL;
    double x = std::fmod(t, 64.0);
    pad_level = 0.04;
    bell_level = x < 8 ? 0.0 : 0.2;
    hat_level = x < 16 ? 0.0 : 0.35;
    if (x >= 32 && x < 40) {  // the break
        bell_level = 0.05;
        hat_level = 0.0;
    }
    double fade = t > song - 4 ? std::fmax(0.0, (song - t) / 4) : 1.0;
    pad_level *= fade;
    bell_level *= fade;
    hat_level *= fade;
}

static void render(float *out, long first, int frames, double length)
{
    for (int i = 0; i < frames; i++) {
        double t = static_cast<double>(first + i) / RATE;
        double pad_level, bell_level, hat_level;
        section_levels(t, length, pad_level, bell_level, hat_level);
        int bar = static_cast<int>(t / BAR) % 4;
        int root = CHORD_ROOT[bar];
        double chord = pad(t, note_hz(root)) + pad(t, note_hz(root + (CHORD_MINOR[bar] ? 3 : 4))) +
                       pad(t, note_hz(root + 7));
        double eighth = BEAT / 2;
        int step = static_cast<int>(t / eighth);
        int note = MELODY[step % 32];
        double since = t - step * eighth;
        double melody = note ? bell(t, since, note_hz(note)) : 0.0;
        // A hi-hat on every eighth: a short burst of noise, brighter on the off-beats.
        double hat = noise() * std::exp(-since * (step % 2 ? 12.0 : 50.0));
        double left = pad_level * chord + bell_level * melody + hat_level * hat;
        double right = pad_level * chord + bell_level * melody * 0.8 + hat_level * hat;
        out[2 * i] = static_cast<float>(std::tanh(left));
        out[2 * i + 1] = static_cast<float>(std::tanh(right));
    }
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: make-demo OUT.mp3 [SECONDS]\n");
        return 2;
    }
    double length = argc > 2 ? std::atof(argv[2]) : 64.0;
    if (!(length > TAIL)) {
        std::fprintf(stderr, "make-demo: SECONDS must be more than %g\n", TAIL);
        return 2;
    }
    SF_INFO info = {};
    info.samplerate = RATE;
    info.channels = CHANNELS;
    info.format = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    SNDFILE *file = sf_open(argv[1], SFM_WRITE, &info);
    if (file == nullptr) {
        std::fprintf(stderr, "%s: %s\n", argv[1], sf_strerror(nullptr));
        return 1;
    }
    // The best quality keeps the encoder's low-pass above the top band.
    double quality = 0.0;
    sf_command(file, SFC_SET_COMPRESSION_LEVEL, &quality, sizeof quality);
    static float block[BLOCK * CHANNELS];
    long total = static_cast<long>(length * RATE);
    for (long first = 0; first < total; first += BLOCK) {
        int frames = static_cast<int>(total - first < BLOCK ? total - first : BLOCK);
        render(block, first, frames, length);
        if (sf_writef_float(file, block, frames) != frames) {
            std::fprintf(stderr, "%s: write error\n", argv[1]);
            sf_close(file);
            return 1;
        }
    }
    sf_close(file);
    return 0;
}
