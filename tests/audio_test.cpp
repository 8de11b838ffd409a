// audio_test.cpp: the audio layer on SDL's dummy driver, fed files the tests
// write themselves. Each test plays through audio.h alone and reads back the
// spectrum and the frame its window starts at.
#include "audio.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support.h"

namespace {

constexpr int TICK_MS = 20;           // the visualiser's tick
constexpr double TIMEOUT_S = 10.0;    // a test gives up waiting after this long
constexpr float SILENT = 1e-6f;       // a magnitude this small is silence

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start)
{
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

int loudest_bin(const float *magnitudes)
{
    int best = 0;
    for (int k = 1; k < AUDIO_BIN_COUNT; k++)
        if (magnitudes[k] > magnitudes[best])
            best = k;
    return best;
}

bool all_silent(const float *magnitudes)
{
    for (int k = 0; k < AUDIO_BIN_COUNT; k++)
        if (!(magnitudes[k] < SILENT))
            return false;
    return true;
}

// Every test starts from a closed layer, in a directory of its own.
class Audio : public testing::Test {
protected:
    std::string dir;
    std::string song;

    void SetUp() override
    {
        char pattern[] = "/tmp/audio_test_XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        dir = pattern;
        song = dir + "/1.mp3";
    }

    void TearDown() override
    {
        audio_close();
        std::string command = "rm -rf '" + dir + "'";
        EXPECT_EQ(0, std::system(command.c_str()));
    }

    void start(const std::string &path)
    {
        audio_open_output();
        ASSERT_TRUE(audio_open_stream(path.c_str())) << audio_failure_reason();
        audio_play();
    }

    // Ticks until the window has reached the given file frame, then leaves
    // that tick's spectrum in magnitudes.
    void tick_until(long long frame, float *magnitudes)
    {
        const auto begun = clock_type::now();
        do {
            usleep(TICK_MS * 1000);
            audio_spectrum(magnitudes);
        } while (audio_window_start() < frame && seconds_since(begun) < TIMEOUT_S);
        ASSERT_GE(audio_window_start(), frame) << "the clock stood still";
    }
};

// ---- every format, rate and channel count plays from a file named 1.mp3 ----

struct tone_case {
    const char *label;
    fixture_format format;
    int rate, channels;
    int bin;             // the tone sits at the centre of this bin
    double amplitude;
    float want, within;  // the peak's magnitude, and how far off it may be
};

// Test names and failures show the row by its label.
static void PrintTo(const tone_case &c, std::ostream *os)
{
    *os << c.label;
}

// A sine of amplitude A at a bin centre reads A / 2 there (the Hann window's
// mean is 1/2, the scaling 2 / 2048 undoes the other half). Lossless rows are
// held to 2%; lossy codecs may shave a little off.
const tone_case TONE_CASES[] = {
    {"Mp3",                FIXTURE_MP3,        44100, 2,  40, 0.5, 0.25f, 0.05f},
    {"TaggedMp3WithCover", FIXTURE_TAGGED_MP3, 44100, 2,  40, 0.5, 0.25f, 0.05f},
    {"Mp2",                FIXTURE_MP2,        44100, 2,  40, 0.5, 0.25f, 0.05f},
    {"OggVorbis",          FIXTURE_VORBIS,     44100, 2,  40, 0.5, 0.25f, 0.05f},
    {"Opus",               FIXTURE_OPUS,       48000, 2,  40, 0.5, 0.25f, 0.05f},
    {"Flac",               FIXTURE_FLAC,       44100, 2,  40, 0.5, 0.25f, 0.005f},
    {"Wav",                FIXTURE_WAV,        44100, 2,  40, 0.5, 0.25f, 0.005f},
    {"Aiff",               FIXTURE_AIFF,       44100, 2,  40, 0.5, 0.25f, 0.005f},
    {"MonoMp3At22050",     FIXTURE_MP3,        22050, 1,  40, 0.5, 0.25f, 0.05f},
    {"FlacAt48000",        FIXTURE_FLAC,       48000, 2, 100, 0.5, 0.25f, 0.005f},
    {"WavAt8000",          FIXTURE_WAV,         8000, 1,  40, 0.5, 0.25f, 0.005f},
    {"WavAt192000",        FIXTURE_WAV,       192000, 2,  40, 0.5, 0.25f, 0.005f},
    {"SixChannels",        FIXTURE_WAV,        44100, 6,  40, 0.5, 0.25f, 0.005f},
    {"TwelveChannels",     FIXTURE_WAV,        44100, 12, 40, 0.5, 0.25f, 0.005f},
    {"FullScaleMono",      FIXTURE_WAV_FLOAT,  44100, 1,  64, 1.0, 0.5f,  0.01f},
    {"FullScaleStereo",    FIXTURE_WAV_FLOAT,  44100, 2,  64, 1.0, 0.5f,  0.01f},
    {"FullScaleAt48000",   FIXTURE_WAV_FLOAT,  48000, 2, 200, 1.0, 0.5f,  0.01f},
};

class TonePlays : public Audio, public testing::WithParamInterface<tone_case> {};

TEST_P(TonePlays, PeaksInItsBin)
{
    const tone_case &c = GetParam();
    const double freq = (double)c.bin * c.rate / AUDIO_FFT_SIZE;
    ASSERT_TRUE(write_tone(song, c.format, c.rate, c.channels, 1.0, freq, c.amplitude));
    ASSERT_NO_FATAL_FAILURE(start(song));
    // A quarter of a second in, past any encoder's start-up ramp.
    float magnitudes[AUDIO_BIN_COUNT];
    ASSERT_NO_FATAL_FAILURE(tick_until(c.rate / 4, magnitudes));
    EXPECT_EQ(c.bin, loudest_bin(magnitudes));
    EXPECT_NEAR(c.want, magnitudes[c.bin], c.within);
}

INSTANTIATE_TEST_SUITE_P(Files, TonePlays, testing::ValuesIn(TONE_CASES),
    [](const testing::TestParamInfo<tone_case> &p) { return std::string(p.param.label); });

// ---- the window follows the output clock ----

// One second of silence, then a tone at bin 40: the burst begins at file
// frame 44100, and 20 ms ticks move the window 882 frames each.
TEST_F(Audio, WindowFollowsTheClockIntoABurst)
{
    constexpr int RATE = 44100;
    constexpr long long BURST = 44100;
    constexpr int BIN = 40;
    ASSERT_TRUE(write_tone(song, FIXTURE_WAV, RATE, 2, 1.6, BIN * 44100.0 / 2048, 0.5, 1.0));
    ASSERT_NO_FATAL_FAILURE(start(song));
    const auto played = clock_type::now();

    float magnitudes[AUDIO_BIN_COUNT];
    long long previous = -1;
    double previous_time = 0.0;
    bool heard_burst = false;
    while (audio_window_start() < BURST + 8000 && seconds_since(played) < TIMEOUT_S) {
        usleep(TICK_MS * 1000);
        audio_spectrum(magnitudes);
        const double now = seconds_since(played);
        const long long at = audio_window_start();
        SCOPED_TRACE("window at " + std::to_string(at) + ", " + std::to_string(now) + " s");
        // The window is where the clock says; on a busy machine either side may
        // lag, so by a tenth of a second at most.
        EXPECT_NEAR(now * RATE, (double)at, 0.1 * RATE);
        if (previous >= 0) {
            // Moved on by about the time that passed: never repeated, and off
            // by at most the device's buffer and a tick.
            EXPECT_GT(at, previous);
            EXPECT_NEAR((now - previous_time) * RATE, (double)(at - previous), 2048.0);
        }
        if (at + AUDIO_FFT_SIZE <= BURST) {
            EXPECT_TRUE(all_silent(magnitudes));
        }
        // Once half the window holds the burst, it must show.
        if (at >= BURST - AUDIO_FFT_SIZE / 2) {
            EXPECT_EQ(BIN, loudest_bin(magnitudes));
            EXPECT_GT(magnitudes[BIN], 0.1f);
            heard_burst = true;
        }
        previous = at;
        previous_time = now;
    }
    EXPECT_TRUE(heard_burst);
}

// ---- the end of the song ----

struct ending_case {
    const char *label;
    fixture_format format;
    double seconds;      // written
    double kept;         // fraction of the bytes left
    double ends_from_s;  // the decodable sound ends between these
    double ends_by_s;
};

// Test names and failures show the row by its label.
static void PrintTo(const ending_case &c, std::ostream *os)
{
    *os << c.label;
}

// Cutting a constant-bitrate file at half its bytes leaves about half its
// sound; uncut files end where they were written to. Vorbis and FLAC vary
// their bitrate, and Vorbis spends the first 4 kB of a 13 kB file on headers
// and the rest on pages of 4 kB, hence the looser bounds and the Vorbis cut.
const ending_case ENDING_CASES[] = {
    {"ShortWav",         FIXTURE_WAV,  0.3, 1.0, 0.29, 0.31},
    {"ShortMp3",         FIXTURE_MP3,  0.3, 1.0, 0.29, 0.35},
    {"TruncatedWav",     FIXTURE_WAV,  1.0, 0.5, 0.45, 0.55},
    {"TruncatedMp3",     FIXTURE_MP3,  1.0, 0.5, 0.35, 0.65},
    {"TruncatedVorbis",  FIXTURE_VORBIS, 3.0, 0.7, 0.3, 2.2},
    {"TruncatedFlac",    FIXTURE_FLAC, 1.0, 0.5, 0.1, 0.9},
};

class SongEnds : public Audio, public testing::WithParamInterface<ending_case> {};

// Plays on until the spectrum falls to zeros, then checks that this came when
// the window had passed the end of the sound, and that the window slides on.
TEST_P(SongEnds, SpectrumFallsToZeros)
{
    const ending_case &c = GetParam();
    constexpr int RATE = 44100;
    ASSERT_TRUE(write_tone(song, c.format, RATE, 2, c.seconds, 40 * 44100.0 / 2048, 0.5));
    ASSERT_TRUE(truncate_to(song, c.kept));
    ASSERT_NO_FATAL_FAILURE(start(song));

    float magnitudes[AUDIO_BIN_COUNT];
    ASSERT_NO_FATAL_FAILURE(tick_until(RATE / 20, magnitudes));
    EXPECT_FALSE(all_silent(magnitudes)) << "what was left did not play";
    const auto begun = clock_type::now();
    while (!all_silent(magnitudes) && seconds_since(begun) < TIMEOUT_S) {
        usleep(TICK_MS * 1000);
        audio_spectrum(magnitudes);
    }
    ASSERT_TRUE(all_silent(magnitudes)) << "never fell silent";
    const long long silent_from = audio_window_start();
    EXPECT_GE(silent_from, (long long)(c.ends_from_s * RATE));
    EXPECT_LE(silent_from, (long long)(c.ends_by_s * RATE) + 3 * 882);

    ASSERT_NO_FATAL_FAILURE(tick_until(silent_from + 4 * 882, magnitudes));
    EXPECT_TRUE(all_silent(magnitudes));
}

INSTANTIATE_TEST_SUITE_P(Files, SongEnds, testing::ValuesIn(ENDING_CASES),
    [](const testing::TestParamInfo<ending_case> &p) { return std::string(p.param.label); });

// ---- files that cannot be played ----

struct refusal_case {
    const char *label;
    bool (*make)(const std::string &path);  // puts the bad thing at path
    const char *path;  // opened instead of the test's 1.mp3 when set
    const char *reason;
};

// Test names and failures show the row by its label.
static void PrintTo(const refusal_case &c, std::ostream *os)
{
    *os << c.label;
}

bool make_nothing(const std::string &) { return true; }
bool make_directory(const std::string &path) { return mkdir(path.c_str(), 0755) == 0; }
bool make_fifo(const std::string &path) { return mkfifo(path.c_str(), 0644) == 0; }
bool make_empty(const std::string &path) { return write_bytes(path, "", 0); }
bool make_dangling_link(const std::string &path) { return symlink("gone.mp3", path.c_str()) == 0; }
bool make_link_loop(const std::string &path) { return symlink(path.c_str(), path.c_str()) == 0; }

bool make_png(const std::string &path)
{
    const unsigned char png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n',
                                 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0, 1, 0, 0, 0, 1, 0, 8, 6, 0, 0, 0};
    return write_bytes(path, png, sizeof png);
}

// Bytes from a fixed linear congruential sequence; the first is not 0xff, so
// they cannot pass for an MPEG frame header.
bool make_noise(const std::string &path)
{
    unsigned char bytes[8192];
    unsigned state = 12345;
    for (unsigned char &b : bytes) {
        state = state * 1103515245u + 12345u;
        b = (unsigned char)(state >> 16);
    }
    bytes[0] = 0x42;
    return write_bytes(path, bytes, sizeof bytes);
}

bool make_no_channels(const std::string &path) { return write_wav_header(path, 0, 44100, 4000); }
bool make_ten_megahertz(const std::string &path) { return write_wav_header(path, 2, 10000000, 4000); }
bool make_two_thousand_channels(const std::string &path) { return write_wav_header(path, 2000, 44100, 64000); }

const refusal_case REFUSAL_CASES[] = {
    {"Missing",              make_nothing,    nullptr,          "no such file"},
    {"MissingDirectory",     make_nothing,    "/nonexistent/1.mp3", "no such file"},
    {"DanglingLink",         make_dangling_link, nullptr,       "no such file"},
    {"LinkLoop",             make_link_loop,  nullptr,          "symbolic link loop"},
    {"Directory",            make_directory,  nullptr,          "is a directory"},
    {"Fifo",                 make_fifo,       nullptr,          "not a regular file"},
    {"DevNull",              make_nothing,    "/dev/null",      "not a regular file"},
    {"DevZero",              make_nothing,    "/dev/zero",      "not a regular file"},
    {"Empty",                make_empty,      nullptr,          "not a recognised audio format"},
    {"PngHeader",            make_png,        nullptr,          "not a recognised audio format"},
    {"RandomBytes",          make_noise,      nullptr,          "not a recognised audio format"},
    {"NoChannels",           make_no_channels, nullptr,         "not a recognised audio format"},
    {"TenMegahertz",         make_ten_megahertz, nullptr,       "not a recognised audio format"},
    {"TwoThousandChannels",  make_two_thousand_channels, nullptr, "not a recognised audio format"},
    // A regular file whose first read fails with EIO.
    {"UnreadableProcMem",    make_nothing,    "/proc/self/mem", "read error"},
};

class Refused : public Audio, public testing::WithParamInterface<refusal_case> {};

TEST_P(Refused, SaysWhyPromptly)
{
    const refusal_case &c = GetParam();
    ASSERT_TRUE(c.make(song));
    const std::string path = c.path != nullptr ? c.path : song;
    audio_open_output();
    const auto begun = clock_type::now();
    EXPECT_FALSE(audio_open_stream(path.c_str()));
    EXPECT_LT(seconds_since(begun), 2.0);
    EXPECT_STREQ(c.reason, audio_failure_reason());

    // The layer carries on with nothing to play.
    audio_play();
    float magnitudes[AUDIO_BIN_COUNT];
    audio_spectrum(magnitudes);
    EXPECT_TRUE(all_silent(magnitudes));
}

INSTANTIATE_TEST_SUITE_P(Files, Refused, testing::ValuesIn(REFUSAL_CASES),
    [](const testing::TestParamInfo<refusal_case> &p) { return std::string(p.param.label); });

// The tests run as root, who may read anything, so a child gives up root
// (to the conventional "nobody", uid 65534) before trying the file.
TEST_F(Audio, UnreadableFileIsPermissionDenied)
{
    ASSERT_TRUE(write_tone(song, FIXTURE_WAV, 44100, 1, 0.1, 1000.0, 0.5));
    ASSERT_EQ(0, chmod(song.c_str(), 0600));
    ASSERT_EQ(0, chmod(dir.c_str(), 0755));
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(2);
        const bool opened = audio_open_stream(song.c_str());
        const bool denied = std::string(audio_failure_reason()) == "permission denied";
        _exit(!opened && denied ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status)) << "1: opened or gave another reason, 2: could not drop root";
}

// ---- without a sound device ----

// A driver that does not exist stands for a machine with no sound: the open
// reports it, and the silent clock still carries the window through the song.
TEST_F(Audio, NoDeviceKeepsASilentClock)
{
    ASSERT_TRUE(write_tone(song, FIXTURE_WAV, 44100, 2, 1.0, 40 * 44100.0 / 2048, 0.5));
    const char *was = std::getenv("SDL_AUDIODRIVER");
    const std::string saved = was != nullptr ? was : "";
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    const bool opened = audio_open_output();
    if (was != nullptr)
        setenv("SDL_AUDIODRIVER", saved.c_str(), 1);
    else
        unsetenv("SDL_AUDIODRIVER");
    EXPECT_FALSE(opened);
    ASSERT_TRUE(audio_open_stream(song.c_str())) << audio_failure_reason();
    audio_play();

    float magnitudes[AUDIO_BIN_COUNT];
    ASSERT_NO_FATAL_FAILURE(tick_until(44100 / 4, magnitudes));
    EXPECT_EQ(40, loudest_bin(magnitudes));
    EXPECT_FALSE(audio_output_lost());
}

// ---- a second song ----

// Opening another file while one plays starts over from its first frame.
TEST_F(Audio, SecondSongStartsOver)
{
    const std::string other = dir + "/2.mp3";
    ASSERT_TRUE(write_tone(song, FIXTURE_WAV, 44100, 2, 2.0, 40 * 44100.0 / 2048, 0.5));
    ASSERT_TRUE(write_tone(other, FIXTURE_FLAC, 44100, 2, 2.0, 80 * 44100.0 / 2048, 0.5));
    ASSERT_NO_FATAL_FAILURE(start(song));
    float magnitudes[AUDIO_BIN_COUNT];
    ASSERT_NO_FATAL_FAILURE(tick_until(44100 / 2, magnitudes));

    ASSERT_NO_FATAL_FAILURE(start(other));
    ASSERT_NO_FATAL_FAILURE(tick_until(44100 / 10, magnitudes));
    EXPECT_LT(audio_window_start(), 44100 / 2);
    EXPECT_EQ(80, loudest_bin(magnitudes));
}

// ---- length does not matter ----

// An hour of 16-bit stereo at 44.1 kHz is 635 MB of samples (written sparsely
// here); opening it and hearing its first frames must not wait on any of that.
TEST_F(Audio, HourLongFileStartsAtOnce)
{
    constexpr long long HOUR_BYTES = 3600LL * 44100 * 4;
    ASSERT_TRUE(write_wav_header(song, 2, 44100, HOUR_BYTES));
    audio_open_output();
    const auto begun = clock_type::now();
    ASSERT_TRUE(audio_open_stream(song.c_str())) << audio_failure_reason();
    audio_play();
    float magnitudes[AUDIO_BIN_COUNT];
    ASSERT_NO_FATAL_FAILURE(tick_until(2048, magnitudes));
    EXPECT_LT(seconds_since(begun), 2.0);
    EXPECT_TRUE(all_silent(magnitudes));
}

}  // namespace
