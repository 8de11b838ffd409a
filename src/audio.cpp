// audio.cpp: plays one music file and measures what the listener hears. A
// decoder thread reads the file a small block at a time (libsndfile) into two
// fixed rings: converted output frames for SDL's callback, and a mono history
// by file frame number for the spectrum (FFTW3), which the event thread takes
// at the frame the output clock says is being heard. Every buffer is a static
// array sized below, so memory and start-up time do not depend on the file's
// length; only SDL, libsndfile and FFTW allocate, inside themselves.
//
// Threads
//   event thread     every function in audio.h
//   SDL's callback   on_output: reads the output ring, stamps the clock; it
//                    never waits on the disk (the silent clock's pump thread
//                    calls it the same way when there is no device)
//   decoder thread   decode_loop: the only reader of the file
#include "audio.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <SDL.h>
#include <fftw3.h>
#include <sndfile.h>

constexpr int OUTPUT_RATE = 44100;          // Hz asked of the device; SDL converts
constexpr int OUTPUT_CHANNELS = 2;          // the device always gets float stereo
constexpr int FRAME_BYTES = OUTPUT_CHANNELS * sizeof(float);
constexpr int DEVICE_BUFFER_FRAMES = 1024;  // per callback, about 23 ms
constexpr int RING_FRAMES = 8192;           // output frames decoded ahead, 186 ms
constexpr int HISTORY_FRAMES = 1 << 18;     // mono file frames kept, 0.7 s at 384 kHz
constexpr int BLOCK_FRAMES = 1024;          // most file frames decoded at a time
constexpr int BLOCK_SAMPLES = 16384;        // room for one block of all channels
constexpr int MAX_FILE_CHANNELS = 1024;     // libsndfile's own ceiling
constexpr int MAX_CONVERTED_CHANNELS = 8;   // wider files go to SDL as their mono mix
constexpr int MIN_FILE_RATE = 1000;         // Hz; below this a header is nonsense
constexpr int MAX_FILE_RATE = 384000;       // Hz; the history must cover the lag
constexpr int DECODER_WAIT_MS = 10;         // longest nap of a decoder with a full ring
constexpr int PUMP_PERIOD_MS = 10;          // step of the wall-clock output
constexpr int PUMP_FRAMES = 2048;           // most frames the pump hands out at once
constexpr double PI = 3.14159265358979323846;

static_assert((RING_FRAMES & (RING_FRAMES - 1)) == 0, "ring index is masked");
static_assert((HISTORY_FRAMES & (HISTORY_FRAMES - 1)) == 0, "history index is masked");
static_assert(BLOCK_FRAMES * MAX_CONVERTED_CHANNELS <= BLOCK_SAMPLES, "a block fits");
static_assert(BLOCK_SAMPLES / MAX_FILE_CHANNELS >= 1, "the widest file reads a frame");
// What was decoded but not heard yet (ring, converter, device) plus a window,
// in file frames at the highest rate, must stay in the history.
static_assert((long long)(RING_FRAMES + 3 * DEVICE_BUFFER_FRAMES + BLOCK_FRAMES) *
                  MAX_FILE_RATE / OUTPUT_RATE + BLOCK_FRAMES + AUDIO_FFT_SIZE <
              HISTORY_FRAMES, "history outlasts the output lag");

enum output_kind { OUTPUT_NONE, OUTPUT_DEVICE, OUTPUT_PUMP };

// ---- state ----

// Output: the event thread opens and switches it.
static output_kind output = OUTPUT_NONE;
static SDL_AudioDeviceID device = 0;
static bool audio_subsystem_up = false;  // via SDL_InitSubSystem, else SDL_AudioInit
static SDL_Thread *pump = nullptr;
static SDL_atomic_t pump_quit;
static float pump_buffer[PUMP_FRAMES * OUTPUT_CHANNELS];  // pump thread only
static bool lost_unreported = false;

// Output ring: the decoder writes, the callback reads, without locks. The
// counters are 64-bit frame totals (an int would wrap within a day) and
// std::atomic, because ThreadSanitizer cannot see inside SDL's atomics.
static float ring[RING_FRAMES * OUTPUT_CHANNELS];
static std::atomic<long long> ring_written{0};
static std::atomic<long long> ring_read{0};
static std::atomic<bool> ring_complete{false};  // the song's last frame is in
static SDL_atomic_t playing;

// Output clock: the callback writes, the event thread reads, under clock_lock,
// which is only ever held for a few loads and stores.
static SDL_mutex *clock_lock = nullptr;
static long long clock_handed = 0;  // output frames of the song given to the device
static Uint64 clock_stamp = 0;      // performance counter at that callback
static int clock_queued = 0;        // frames of that callback, still to be heard
static long long clock_heard = 0;   // last estimate; the event thread only

// The file and its decoder.
static SNDFILE *sound = nullptr;
static int file_rate = 0;
static int file_channels = 0;
static int converted_channels = 0;
static int block_frames = 0;
static SDL_AudioStream *converter = nullptr;  // the decoder thread only, once started
static SDL_Thread *decoder = nullptr;
static SDL_sem *decoder_wake = nullptr;
static SDL_atomic_t decoder_quit;
static float block[BLOCK_SAMPLES];       // decoder thread only
static float block_mono[BLOCK_FRAMES];   // decoder thread only

// Mono history by absolute file frame: the decoder writes, the event thread
// reads, each under history_lock and never across a disk read.
static SDL_mutex *history_lock = nullptr;
static float history[HISTORY_FRAMES];
static long long history_end = 0;  // frames decoded so far

// Spectrum: the event thread only. Static arrays, aligned for FFTW's SIMD.
alignas(64) static float fft_in[AUDIO_FFT_SIZE];
alignas(64) static fftwf_complex fft_out[AUDIO_FFT_SIZE / 2 + 1];
static fftwf_plan fft_plan = nullptr;
static float hann[AUDIO_FFT_SIZE];
static long long window_start = 0;

static const char *failure_reason = "";

// ---- output ----

static double seconds_since(Uint64 stamp)
{
    return (double)(SDL_GetPerformanceCounter() - stamp) / (double)SDL_GetPerformanceFrequency();
}

// Copies what the ring holds, pads with silence and moves the clock on. After
// the song's end the silence is the song's time going on; a ring that ran dry
// before it is a stall, and the clock waits for the music.
static void on_output(void *, Uint8 *bytes, int length)
{
    float *out = reinterpret_cast<float *>(bytes);
    const int frames = length / FRAME_BYTES;
    long long advanced = 0;
    int copied = 0;
    if (SDL_AtomicGet(&playing)) {
        const bool complete = ring_complete.load(std::memory_order_acquire);
        const long long read = ring_read.load(std::memory_order_relaxed);
        const long long written = ring_written.load(std::memory_order_acquire);
        copied = (int)SDL_min((long long)frames, written - read);
        for (int i = 0; i < copied; i++) {
            const int at = (int)((read + i) & (RING_FRAMES - 1)) * OUTPUT_CHANNELS;
            out[i * OUTPUT_CHANNELS] = ring[at];
            out[i * OUTPUT_CHANNELS + 1] = ring[at + 1];
        }
        ring_read.store(read + copied, std::memory_order_release);
        advanced = complete ? frames : copied;
    }
    std::memset(out + copied * OUTPUT_CHANNELS, 0, (size_t)(frames - copied) * FRAME_BYTES);

    SDL_LockMutex(clock_lock);
    clock_handed += advanced;
    clock_stamp = SDL_GetPerformanceCounter();
    clock_queued = frames;
    SDL_UnlockMutex(clock_lock);
    if (decoder_wake != nullptr && SDL_SemValue(decoder_wake) == 0)
        SDL_SemPost(decoder_wake);
}

// The silent clock of last resort: hands out frames as the wall clock passes.
static int pump_loop(void *)
{
    const Uint64 start = SDL_GetPerformanceCounter();
    long long pumped = 0;
    while (!SDL_AtomicGet(&pump_quit)) {
        SDL_Delay(PUMP_PERIOD_MS);
        const long long due = (long long)(seconds_since(start) * OUTPUT_RATE);
        while (pumped < due) {
            const int frames = (int)SDL_min(due - pumped, (long long)PUMP_FRAMES);
            on_output(nullptr, reinterpret_cast<Uint8 *>(pump_buffer), frames * FRAME_BYTES);
            pumped += frames;
        }
    }
    return 0;
}

// Points stderr at /dev/null for a while; returns what restores it.
static int mute_stderr()
{
    std::fflush(stderr);
    const int saved = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        dup2(null, STDERR_FILENO);
        close(null);
    }
    return saved;
}

static void restore_stderr(int saved)
{
    if (saved < 0)
        return;
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
}

static bool open_device()
{
    SDL_AudioSpec want{};
    want.freq = OUTPUT_RATE;
    want.format = AUDIO_F32SYS;
    want.channels = OUTPUT_CHANNELS;
    want.samples = DEVICE_BUFFER_FRAMES;
    want.callback = on_output;
    SDL_AudioSpec have{};
    // No changes allowed: SDL converts to whatever the hardware takes, so the
    // callback always fills 44.1 kHz float stereo.
    device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device == 0)
        return false;
    output = OUTPUT_DEVICE;
    SDL_PauseAudioDevice(device, 0);
    return true;
}

static void close_output()
{
    if (output == OUTPUT_DEVICE)
        SDL_CloseAudioDevice(device);
    if (output == OUTPUT_PUMP) {
        SDL_AtomicSet(&pump_quit, 1);
        SDL_WaitThread(pump, nullptr);
        pump = nullptr;
    }
    device = 0;
    output = OUTPUT_NONE;
    if (audio_subsystem_up)
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    else
        SDL_AudioQuit();
    audio_subsystem_up = false;
}

// SDL's dummy driver runs the callback in real time without sound; if even
// that cannot start, a thread of ours does the same by the wall clock.
static void open_silent_output()
{
    if (SDL_AudioInit("dummy") == 0 && open_device())
        return;
    SDL_AudioQuit();
    SDL_AtomicSet(&pump_quit, 0);
    pump = SDL_CreateThread(pump_loop, "audio pump", nullptr);
    output = pump != nullptr ? OUTPUT_PUMP : OUTPUT_NONE;
}

// The event thread's view of the output frame being heard: what was handed
// out, less the buffer still playing, plus the time since it was handed over.
static long long heard_output_frame()
{
    SDL_LockMutex(clock_lock);
    const long long handed = clock_handed;
    const Uint64 stamp = clock_stamp;
    const int queued = clock_queued;
    SDL_UnlockMutex(clock_lock);
    if (stamp == 0)
        return clock_heard;
    long long heard = handed - queued + (long long)(seconds_since(stamp) * OUTPUT_RATE);
    heard = SDL_min(heard, handed);
    clock_heard = SDL_max(heard, clock_heard);
    return clock_heard;
}

static void watch_device()
{
    if (output != OUTPUT_DEVICE || SDL_GetAudioDeviceStatus(device) != SDL_AUDIO_STOPPED)
        return;
    close_output();
    open_silent_output();
    lost_unreported = true;
}

// ---- decoding ----

// Keeps samples finite and in range, whatever a damaged file decodes to.
static float tame(float sample)
{
    if (!(sample >= -1.0f))
        return sample != sample ? 0.0f : -1.0f;
    return sample > 1.0f ? 1.0f : sample;
}

static void remember(const float *mono, int frames)
{
    SDL_LockMutex(history_lock);
    for (int i = 0; i < frames; i++)
        history[(history_end + i) & (HISTORY_FRAMES - 1)] = mono[i];
    history_end += frames;
    SDL_UnlockMutex(history_lock);
}

// Moves converted frames into the ring. True when the converter is empty, so
// that the next block may be decoded; false when the ring is full.
static bool drain_converter()
{
    for (;;) {
        const int available = SDL_AudioStreamAvailable(converter) / FRAME_BYTES;
        if (available <= 0)
            return true;
        const long long written = ring_written.load(std::memory_order_relaxed);
        const long long room = RING_FRAMES - (written - ring_read.load(std::memory_order_acquire));
        const int at = (int)(written & (RING_FRAMES - 1));
        const int frames = (int)SDL_min(SDL_min(room, (long long)available),
                                        (long long)(RING_FRAMES - at));
        if (frames <= 0)
            return false;
        const int got = SDL_AudioStreamGet(converter, ring + at * OUTPUT_CHANNELS,
                                           frames * FRAME_BYTES);
        if (got <= 0)
            return true;
        ring_written.store(written + got / FRAME_BYTES, std::memory_order_release);
    }
}

// Decodes one block into the history and the converter. False at the end of
// the file; a decoding error mid-stream ends it the same way.
static bool decode_block()
{
    const sf_count_t frames = sf_readf_float(sound, block, block_frames);
    if (frames <= 0)
        return false;
    const int n = (int)frames;
    for (int i = 0; i < n; i++) {
        float sum = 0.0f;
        for (int c = 0; c < file_channels; c++) {
            float &sample = block[i * file_channels + c];
            sample = tame(sample);
            sum += sample;
        }
        block_mono[i] = sum / (float)file_channels;
    }
    remember(block_mono, n);
    const float *feed = converted_channels == file_channels ? block : block_mono;
    SDL_AudioStreamPut(converter, feed, n * converted_channels * (int)sizeof(float));
    return true;
}

static int decode_loop(void *)
{
    bool file_done = false;
    while (!SDL_AtomicGet(&decoder_quit)) {
        if (!drain_converter()) {
            SDL_SemWaitTimeout(decoder_wake, DECODER_WAIT_MS);
            continue;
        }
        if (file_done) {
            ring_complete.store(true, std::memory_order_release);
            return 0;
        }
        if (!decode_block()) {
            SDL_AudioStreamFlush(converter);
            file_done = true;
        }
    }
    return 0;
}

// ---- opening the file ----

static const char *reason_for_errno(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return "no such file";
    case EACCES:
    case EPERM:
        return "permission denied";
    case EISDIR:
        return "is a directory";
    case ELOOP:
        return "symbolic link loop";
    default:
        return "read error";
    }
}

// Opens without blocking (a FIFO with no writer would wait forever) and keeps
// only regular files. Returns the descriptor, or -1 with failure_reason set.
static int open_regular_file(const char *path)
{
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        failure_reason = reason_for_errno(errno);
        return -1;
    }
    struct stat about {};
    if (fstat(fd, &about) != 0 || !S_ISREG(about.st_mode)) {
        failure_reason = S_ISDIR(about.st_mode) ? "is a directory" : "not a regular file";
        close(fd);
        return -1;
    }
    return fd;
}

// libsndfile calls both an unreadable file and an unknown one "not a regular
// file (possibly a pipe?)", so ask the file itself which it is.
static const char *reason_for_refusal(int fd)
{
    char first;
    if (pread(fd, &first, 1, 0) < 0)
        return "read error";
    return "not a recognised audio format";
}

static bool sane_header(const SF_INFO &info)
{
    return info.channels >= 1 && info.channels <= MAX_FILE_CHANNELS &&
           info.samplerate >= MIN_FILE_RATE && info.samplerate <= MAX_FILE_RATE;
}

static void close_stream()
{
    // Holding the device's lock waits out a callback that saw the song still
    // playing, so that none is left touching the ring once it is reset.
    SDL_AtomicSet(&playing, 0);
    if (output == OUTPUT_DEVICE) {
        SDL_LockAudioDevice(device);
        SDL_UnlockAudioDevice(device);
    }
    if (decoder != nullptr) {
        SDL_AtomicSet(&decoder_quit, 1);
        SDL_SemPost(decoder_wake);
        SDL_WaitThread(decoder, nullptr);
        decoder = nullptr;
    }
    if (converter != nullptr)
        SDL_FreeAudioStream(converter);
    converter = nullptr;
    if (sound != nullptr)
        sf_close(sound);
    sound = nullptr;
}

// Sets the rings, history and clock back to the start of a song. Only called
// with no decoder running, so the callback is the one other party.
static void rewind_song()
{
    SDL_AtomicSet(&playing, 0);
    ring_written.store(0);
    ring_read.store(0);
    ring_complete.store(false);
    SDL_LockMutex(history_lock);
    history_end = 0;
    SDL_UnlockMutex(history_lock);
    SDL_LockMutex(clock_lock);
    clock_handed = 0;
    clock_queued = 0;
    SDL_UnlockMutex(clock_lock);
    clock_heard = 0;
    window_start = 0;
}

// ---- spectrum ----

// Planned once, before any tick, so the tick only executes the plan.
static void prepare_layer()
{
    // SDL's audio brings up its event subsystem, which would turn SIGINT and
    // SIGTERM into quit events that nobody here reads: Ctrl+C in the terminal
    // and a plain kill would then do nothing. Leave the signals alone.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (clock_lock == nullptr)
        clock_lock = SDL_CreateMutex();
    if (history_lock == nullptr)
        history_lock = SDL_CreateMutex();
    if (decoder_wake == nullptr)
        decoder_wake = SDL_CreateSemaphore(0);
    if (fft_plan != nullptr)
        return;
    fft_plan = fftwf_plan_dft_r2c_1d(AUDIO_FFT_SIZE, fft_in, fft_out, FFTW_ESTIMATE);
    // The periodic Hann window. Its mean is 0.5, so with the 2 |X| / N scaling
    // in audio_spectrum a full-scale sine at a bin's centre reads 0.5.
    for (int i = 0; i < AUDIO_FFT_SIZE; i++)
        hann[i] = 0.5f - 0.5f * (float)std::cos(2.0 * PI * i / AUDIO_FFT_SIZE);
}

// Copies the window's frames out of the history; frames before the song,
// after its end or not yet decoded are silence.
static void take_window(long long start)
{
    SDL_LockMutex(history_lock);
    const long long end = history_end;
    const long long oldest = end - HISTORY_FRAMES;
    for (int i = 0; i < AUDIO_FFT_SIZE; i++) {
        const long long frame = start + i;
        const bool kept = frame >= 0 && frame < end && frame >= oldest;
        fft_in[i] = kept ? history[frame & (HISTORY_FRAMES - 1)] * hann[i] : 0.0f;
    }
    SDL_UnlockMutex(history_lock);
}

// ---- audio.h ----

bool audio_open_output()
{
    prepare_layer();
    if (output != OUTPUT_NONE)
        return true;
    // With no sound card, ALSA's library writes a screenful of its own
    // complaints to stderr; our caller says the same in one line.
    const int saved_stderr = mute_stderr();
    bool opened = false;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
        audio_subsystem_up = true;
        opened = open_device();
        if (!opened) {
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            audio_subsystem_up = false;
        }
    }
    restore_stderr(saved_stderr);
    if (!opened)
        open_silent_output();
    return opened;
}

bool audio_open_stream(const char *path)
{
    prepare_layer();
    close_stream();
    const int fd = open_regular_file(path);
    if (fd < 0)
        return false;
    // libsndfile closes the descriptor it is given when it refuses a file, and
    // the refusal is still to be explained, so it gets a copy (it owns it).
    SF_INFO info{};
    const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    // The MP3 decoder inside libsndfile prints its own warnings about odd
    // headers to stderr; a file that opens plays, and one that does not gets
    // our one-line reason, so its words would only add noise.
    const int saved_stderr = mute_stderr();
    SNDFILE *opened = copy >= 0 ? sf_open_fd(copy, SFM_READ, &info, SF_TRUE) : nullptr;
    restore_stderr(saved_stderr);
    if (opened == nullptr || !sane_header(info)) {
        failure_reason = opened == nullptr ? reason_for_refusal(fd) : "not a recognised audio format";
        if (opened != nullptr)
            sf_close(opened);
        close(fd);
        return false;
    }
    close(fd);
    // SDL converts up to eight channels itself; wider files go as their mix.
    converted_channels = info.channels <= MAX_CONVERTED_CHANNELS ? info.channels : 1;
    converter = SDL_NewAudioStream(AUDIO_F32SYS, (Uint8)converted_channels, info.samplerate,
                                   AUDIO_F32SYS, OUTPUT_CHANNELS, OUTPUT_RATE);
    if (converter == nullptr && converted_channels != 1) {
        converted_channels = 1;
        converter = SDL_NewAudioStream(AUDIO_F32SYS, 1, info.samplerate,
                                       AUDIO_F32SYS, OUTPUT_CHANNELS, OUTPUT_RATE);
    }
    if (converter == nullptr) {
        failure_reason = "not a recognised audio format";
        sf_close(opened);
        return false;
    }
    sound = opened;
    file_rate = info.samplerate;
    file_channels = info.channels;
    block_frames = SDL_min(BLOCK_FRAMES, BLOCK_SAMPLES / file_channels);
    rewind_song();
    // The decoder fills the ring straight away, so playing starts at once.
    SDL_AtomicSet(&decoder_quit, 0);
    decoder = SDL_CreateThread(decode_loop, "audio decoder", nullptr);
    if (decoder == nullptr) {
        failure_reason = "read error";
        close_stream();
        return false;
    }
    return true;
}

void audio_play()
{
    if (sound != nullptr)
        SDL_AtomicSet(&playing, 1);
}

void audio_spectrum(float magnitudes[AUDIO_BIN_COUNT])
{
    watch_device();
    if (fft_plan == nullptr || sound == nullptr || !SDL_AtomicGet(&playing)) {
        std::memset(magnitudes, 0, AUDIO_BIN_COUNT * sizeof(float));
        return;
    }
    window_start = heard_output_frame() * file_rate / OUTPUT_RATE;
    take_window(window_start);
    fftwf_execute(fft_plan);
    for (int k = 0; k < AUDIO_BIN_COUNT; k++) {
        const float re = fft_out[k][0];
        const float im = fft_out[k][1];
        magnitudes[k] = 2.0f * std::sqrt(re * re + im * im) / AUDIO_FFT_SIZE;
    }
}

bool audio_output_lost()
{
    const bool lost = lost_unreported;
    lost_unreported = false;
    return lost;
}

const char *audio_failure_reason()
{
    return failure_reason;
}

long long audio_window_start()
{
    return window_start;
}

void audio_close()
{
    // The output goes first, so no callback runs while the rest is torn down.
    close_output();
    close_stream();
    rewind_song();
    if (fft_plan != nullptr)
        fftwf_destroy_plan(fft_plan);
    fft_plan = nullptr;
    SDL_DestroySemaphore(decoder_wake);
    SDL_DestroyMutex(history_lock);
    SDL_DestroyMutex(clock_lock);
    decoder_wake = nullptr;
    history_lock = nullptr;
    clock_lock = nullptr;
    lost_unreported = false;
    failure_reason = "";
}
