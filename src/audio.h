// audio.h: the sound behind the visualiser. Decodes one music file as it plays
// (libsndfile), sends it to the default output device (SDL2) and measures the
// spectrum of what the listener hears right now (FFTW3). No type of those
// libraries shows here; music.cpp is the one caller in the program.
//
// Glossary
//   frame   one sample per channel at one instant of the file
//   sample  one channel's value in a frame; the analysis mixes frames to mono
//   bin     one of the AUDIO_BIN_COUNT spectrum magnitudes; bin k stands for
//           k * (the file's sample rate) / AUDIO_FFT_SIZE Hz
//
// Threads: every function here is called from the program's event thread.
// SDL runs the output callback on its own thread and the layer decodes on a
// thread of its own; those threads touch only the layer's own buffers.
#pragma once

constexpr int AUDIO_FFT_SIZE = 2048;                 // frames in one analysis window
constexpr int AUDIO_BIN_COUNT = AUDIO_FFT_SIZE / 2;  // magnitudes handed out

// Opens the default output device at 44100 Hz. Returns false when no device
// could be had; the layer then runs a silent output clock instead, so the
// spectrum still follows the music in time. Call once, before audio_open_stream.
bool audio_open_output();

// Opens the file for streaming playback, telling its format by content, not by
// name. Returns false, with the cause in audio_failure_reason(), when the file
// is missing, unreadable, not a regular file or not audio. Never blocks on a
// FIFO or other special file.
bool audio_open_stream(const char *path);

// Starts the opened stream, once, from its beginning; it is never looped.
void audio_play();

// Fills magnitudes with the spectrum of the AUDIO_FFT_SIZE frames that start at
// the frame being heard now: channels averaged, Hann window, 2 * |X_k| / 2048,
// so a full-scale sine at a bin's centre reads 0.5. Before playback and after
// the end the window holds silence, so the magnitudes fall to zero. Always
// writes AUDIO_BIN_COUNT finite, non-negative values.
void audio_spectrum(float magnitudes[AUDIO_BIN_COUNT]);

// True once, on the first call after the output device went away during
// playback; the layer has then switched to the silent clock.
bool audio_output_lost();

// The reason for the last failure, short and plain ("no such file",
// "not a recognised audio format"), for the caller to print after the name.
const char *audio_failure_reason();

// For tests, benchmarks and the fuzzer only: the file frame at which the last
// audio_spectrum window started, and a teardown that closes the stream and the
// output so that another audio_open_output / audio_open_stream can follow.
long long audio_window_start();
void audio_close();
