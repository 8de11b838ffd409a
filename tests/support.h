// support.h: what several test binaries share: a real GL window under Xvfb,
// and writers for the audio fixtures the tests make for themselves.
#pragma once

#include <string>

// ---- GL window ----

// Opens one 512 x 512 GLUT window (RGB, double buffer, depth) the first time it
// is called, makes its context current and pumps events until it is mapped.
void open_gl_window();

// ---- audio fixtures ----

// Containers and codecs the fixtures come in. Every fixture is named by the
// test (usually 1.mp3), whatever its format, because the layer goes by content.
enum fixture_format {
    FIXTURE_MP3,         // MPEG layer III, written by libsndfile (LAME)
    FIXTURE_TAGGED_MP3,  // the same behind an ID3v2 tag with cover art
    FIXTURE_MP2,         // MPEG layer II, from the twolame encoder
    FIXTURE_VORBIS,      // Ogg Vorbis
    FIXTURE_OPUS,        // Ogg Opus; libsndfile writes it at 8-48 kHz only
    FIXTURE_FLAC,        // 16-bit FLAC
    FIXTURE_WAV,         // 16-bit PCM WAV
    FIXTURE_WAV_FLOAT,   // 32-bit float WAV, so a full-scale sine stays exact
    FIXTURE_AIFF,        // 16-bit AIFF
};

// Writes a sine of freq_hz and the given amplitude (1 = full scale) on every
// channel, preceded by silent_seconds of silence. True on success.
bool write_tone(const std::string &path, fixture_format format, int rate, int channels,
                double seconds, double freq_hz, double amplitude, double silent_seconds = 0.0);

// Puts an ID3v2.3 tag before the file's bytes, the way taggers do: a title,
// an APIC frame of a few hundred bytes of made-up PNG, then padding zeros.
bool prepend_id3_tag(const std::string &path, size_t padding = 0);

// Writes exactly these bytes, for files that are not audio at all.
bool write_bytes(const std::string &path, const void *bytes, size_t size);

// Writes a 16-bit PCM WAV header that claims the given layout and data_bytes
// of samples, followed by data_bytes of zeros written sparsely (so a header
// for an hour of sound costs no disk).
bool write_wav_header(const std::string &path, int channels, int rate, long long data_bytes);

// Cuts the file to the given fraction of its length, as an interrupted copy would.
bool truncate_to(const std::string &path, double fraction);
