// audio_bench.cpp: what the audio layer costs. Decoding a minute of MP3 the
// way the decoder thread does it (1024-frame reads), reported as a multiple of
// real time, and one audio_spectrum call while a song plays on the dummy
// driver. Run with SDL_AUDIODRIVER=dummy on a machine without sound.
#include "audio.h"

#include <cstdio>
#include <string>

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include "support.h"

namespace {

constexpr int RATE = 44100;          // Hz
constexpr double SONG_SECONDS = 60.0;
constexpr int READ_FRAMES = 1024;    // the decoder thread's block

// Written once per run: a minute of stereo tone, like a short song.
const std::string &minute_of_mp3()
{
    static const std::string path = [] {
        std::string name = "/tmp/audio_bench_minute.mp3";
        if (!write_tone(name, FIXTURE_MP3, RATE, 2, SONG_SECONDS, 440.0, 0.5))
            std::fprintf(stderr, "audio_bench: cannot write %s\n", name.c_str());
        return name;
    }();
    return path;
}

void DecodeMinuteOfMp3(benchmark::State &state)
{
    static float block[READ_FRAMES * 2];
    long long frames = 0;
    for (auto _ : state) {
        SF_INFO info{};
        SNDFILE *file = sf_open(minute_of_mp3().c_str(), SFM_READ, &info);
        if (file == nullptr) {
            state.SkipWithError("the MP3 did not open");
            return;
        }
        sf_count_t got;
        while ((got = sf_readf_float(file, block, READ_FRAMES)) > 0)
            frames += got;
        sf_close(file);
    }
    // Seconds of sound per second of benchmark time: 100 means a hundred
    // times faster than it plays.
    state.counters["x_real_time"] =
        benchmark::Counter((double)frames / RATE, benchmark::Counter::kIsRate);
}
BENCHMARK(DecodeMinuteOfMp3)->Unit(benchmark::kMillisecond)->UseRealTime();

void SpectrumWhilePlaying(benchmark::State &state)
{
    audio_open_output();
    if (!audio_open_stream(minute_of_mp3().c_str())) {
        state.SkipWithError(audio_failure_reason());
        audio_close();
        return;
    }
    audio_play();
    float magnitudes[AUDIO_BIN_COUNT];
    for (auto _ : state) {
        audio_spectrum(magnitudes);
        benchmark::DoNotOptimize(magnitudes);
    }
    audio_close();
}
BENCHMARK(SpectrumWhilePlaying)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
