// audio_fuzz.cpp: libFuzzer over the path from a file's bytes to a spectrum.
// Each input is written as 1.mp3 and played the way the program plays it:
// stream opened, playback started, a few spectra taken while the decoder
// thread runs. The output (SDL's dummy driver) is opened once, because
// opening and closing it costs some 50 ms; the next input's
// audio_open_stream closes the last stream, and audio_close runs at exit.
// Besides what the sanitizers catch, a spectrum that is not all finite and
// non-negative is a finding.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "audio.h"

namespace {

constexpr int SPECTRUM_CALLS = 4;
constexpr int CALL_GAP_US = 500;  // lets the decoder get ahead between calls

std::string song;
float magnitudes[AUDIO_BIN_COUNT];

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    char dir[] = "/tmp/audio_fuzz_XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        std::perror("audio_fuzz: mkdtemp");
        std::abort();
    }
    song = std::string(dir) + "/1.mp3";
    audio_open_output();
    std::atexit(audio_close);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FILE *f = std::fopen(song.c_str(), "wb");
    if (f == nullptr || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0)
        std::abort();
    if (audio_open_stream(song.c_str())) {
        audio_play();
        for (int call = 0; call < SPECTRUM_CALLS; call++) {
            usleep(CALL_GAP_US);
            audio_spectrum(magnitudes);
            for (float m : magnitudes)
                if (!std::isfinite(m) || m < 0.0f) {
                    std::fprintf(stderr, "audio_fuzz: bad magnitude %g\n", (double)m);
                    std::abort();
                }
        }
    }
    return 0;
}
