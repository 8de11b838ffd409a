// make_seeds.cpp: the fuzzer's seed corpus, written fresh for each run rather
// than kept in the repo: one tiny valid file of every format the audio layer
// reads, each a tenth of a second of tone, so the fuzzer starts from inputs
// that reach the decoders and not only the format checks.
// Usage: fuzz_seeds DIR
#include <cstdio>
#include <string>

#include "support.h"

namespace {

struct seed {
    const char *name;
    fixture_format format;
    int rate, channels;
};

const seed SEEDS[] = {
    {"wav", FIXTURE_WAV, 8000, 1},
    {"wav_float", FIXTURE_WAV_FLOAT, 44100, 2},
    {"aiff", FIXTURE_AIFF, 22050, 1},
    {"flac", FIXTURE_FLAC, 44100, 2},
    {"vorbis", FIXTURE_VORBIS, 44100, 1},
    {"opus", FIXTURE_OPUS, 48000, 2},
    {"mp3", FIXTURE_MP3, 44100, 2},
    {"mp3_tagged", FIXTURE_TAGGED_MP3, 22050, 1},
    {"mp2", FIXTURE_MP2, 32000, 2},
};

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    int failed = 0;
    for (const seed &s : SEEDS) {
        const std::string path = std::string(argv[1]) + "/" + s.name;
        if (!write_tone(path, s.format, s.rate, s.channels, 0.1, 440.0, 0.5)) {
            std::fprintf(stderr, "fuzz_seeds: cannot write %s\n", path.c_str());
            failed = 1;
        }
    }
    return failed;
}
