// tick_bench.cpp: what one 20 ms tick costs and what it sees. The two halves
// of on_timer (update_spectrum_bands with the FFT while a generated song
// plays, and step_spheres), and how far the analysis window moves from one
// tick to the next when ticks come every TICK_MS, as glutTimerFunc gives them.
// Run with SDL_AUDIODRIVER=dummy on a machine without sound.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>

#include <benchmark/benchmark.h>
#include <unistd.h>

#include "animation.h"
#include "audio.h"
#include "music.h"
#include "scene.h"
#include "support.h"

namespace {

constexpr int RATE = 44100;           // Hz
constexpr int ADVANCE_TICKS = 500;    // ten seconds of ticks
constexpr double SONG_SECONDS = 30.0;

// Plays a generated stereo MP3 as 1.mp3 the way the program does, from a
// scratch directory, so start_music() is the real start-up.
bool start_song()
{
    static std::string dir;
    if (dir.empty()) {
        char name[] = "/tmp/tick_bench_XXXXXX";
        if (mkdtemp(name) == nullptr)
            return false;
        dir = name;
        // A 2 kHz tone, 30 s: the FFT costs the same whatever it hears.
        if (!write_tone(dir + "/1.mp3", FIXTURE_MP3, RATE, 2, SONG_SECONDS, 2000.0, 0.4))
            return false;
    }
    if (chdir(dir.c_str()) != 0)
        return false;
    start_music();
    return true;
}

void UpdateSpectrumBands(benchmark::State &state)
{
    if (!start_song()) {
        state.SkipWithError("no song");
        return;
    }
    for (auto _ : state) {
        update_spectrum_bands();
        benchmark::DoNotOptimize(band_level);
    }
    audio_close();
}
BENCHMARK(UpdateSpectrumBands)->Unit(benchmark::kMicrosecond);

void StepSpheres(benchmark::State &state)
{
    for (int i = 0; i < BAND_COUNT; i++)
        band_level[i] = 0.01f * (float)(i + 1);
    for (int i = 0; i < SPHERE_COUNT; i++) {
        pos_x[i] = pos_y[i] = pos_z[i] = 0.1 * i - 0.5;
        vel_x[i] = vel_y[i] = vel_z[i] = (i % 2 ? 0.02 : -0.02);
    }
    for (auto _ : state) {
        step_spheres();
        benchmark::DoNotOptimize(pos_x);
    }
}
BENCHMARK(StepSpheres)->Unit(benchmark::kNanosecond);

// The whole tick but the redraw request: both halves together.
void Tick(benchmark::State &state)
{
    if (!start_song()) {
        state.SkipWithError("no song");
        return;
    }
    for (auto _ : state) {
        update_spectrum_bands();
        step_spheres();
        benchmark::DoNotOptimize(pos_x);
    }
    audio_close();
}
BENCHMARK(Tick)->Unit(benchmark::kMicrosecond);

// Ticks on a fixed 20 ms schedule and records audio_window_start() each time.
// At 44.1 kHz a tick should move the window by 882 frames; a repeat (no move)
// would freeze the spheres for a tick.
void WindowAdvance(benchmark::State &state)
{
    if (!start_song()) {
        state.SkipWithError("no song");
        return;
    }
    // Half a second in, so playback is under way.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    update_spectrum_bands();
    long long last = audio_window_start();
    double sum = 0.0, sum_sq = 0.0;
    long long least = 1LL << 62, most = 0, repeats = 0, n = 0;
    auto next = std::chrono::steady_clock::now();
    for (auto _ : state) {
        next += std::chrono::milliseconds(TICK_MS);
        std::this_thread::sleep_until(next);
        update_spectrum_bands();
        const long long advance = audio_window_start() - last;
        last = audio_window_start();
        sum += (double)advance;
        sum_sq += (double)advance * (double)advance;
        least = advance < least ? advance : least;
        most = advance > most ? advance : most;
        repeats += advance == 0;
        n++;
    }
    audio_close();
    const double mean = sum / (double)n;
    state.counters["advance_mean"] = mean;
    state.counters["advance_sd"] = std::sqrt(sum_sq / (double)n - mean * mean);
    state.counters["advance_min"] = (double)least;
    state.counters["advance_max"] = (double)most;
    state.counters["repeats"] = (double)repeats;
}
BENCHMARK(WindowAdvance)->Iterations(ADVANCE_TICKS)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
