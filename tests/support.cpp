// support.cpp: the shared test helpers declared in support.h.
#include "support.h"

#include <GL/freeglut.h>

// ---- GL window ----

void open_gl_window()
{
    static int window = 0;
    if (window != 0)
        return;
    int argc = 1;
    char name[] = "test";
    char *argv[] = {name, nullptr};
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowSize(512, 512);
    window = glutCreateWindow("test");
    glutDisplayFunc([] {});
    for (int i = 0; i < 10; i++)
        glutMainLoopEvent();
}

// ---- audio fixtures ----

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

static int sndfile_format(fixture_format format)
{
    switch (format) {
    case FIXTURE_MP3:
    case FIXTURE_TAGGED_MP3:
        return SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    case FIXTURE_VORBIS:
        return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    case FIXTURE_OPUS:
        return SF_FORMAT_OGG | SF_FORMAT_OPUS;
    case FIXTURE_FLAC:
        return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    case FIXTURE_WAV_FLOAT:
        return SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    case FIXTURE_AIFF:
        return SF_FORMAT_AIFF | SF_FORMAT_PCM_16;
    case FIXTURE_MP2:  // twolame encodes it from a WAV
    case FIXTURE_WAV:
        break;
    }
    return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
}

static bool read_file(const std::string &path, std::vector<unsigned char> &bytes)
{
    FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return false;
    unsigned char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);
    return true;
}

static void put_be32(std::vector<unsigned char> &out, uint32_t value, int bits_per_byte)
{
    const uint32_t mask = (1u << bits_per_byte) - 1;
    for (int shift = 3; shift >= 0; shift--)
        out.push_back((unsigned char)((value >> (shift * bits_per_byte)) & mask));
}

bool prepend_id3_tag(const std::string &path, size_t padding)
{
    std::vector<unsigned char> audio;
    if (!read_file(path, audio))
        return false;
    std::vector<unsigned char> frames;
    const char title[] = "\0Test tone";  // encoding byte, then the text
    frames.insert(frames.end(), {'T', 'I', 'T', '2'});
    put_be32(frames, sizeof title - 1, 8);
    frames.insert(frames.end(), {0, 0});
    frames.insert(frames.end(), title, title + sizeof title - 1);

    std::vector<unsigned char> picture = {0, 'i', 'm', 'a', 'g', 'e', '/', 'p', 'n', 'g', 0, 3, 0};
    const unsigned char png_signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    picture.insert(picture.end(), png_signature, png_signature + sizeof png_signature);
    for (int i = 0; i < 400; i++)
        picture.push_back((unsigned char)(i * 37 + 11));
    frames.insert(frames.end(), {'A', 'P', 'I', 'C'});
    put_be32(frames, (uint32_t)picture.size(), 8);
    frames.insert(frames.end(), {0, 0});
    frames.insert(frames.end(), picture.begin(), picture.end());

    frames.insert(frames.end(), padding, 0);

    std::vector<unsigned char> tagged = {'I', 'D', '3', 3, 0, 0};
    put_be32(tagged, (uint32_t)frames.size(), 7);  // the tag size is syncsafe
    tagged.insert(tagged.end(), frames.begin(), frames.end());
    tagged.insert(tagged.end(), audio.begin(), audio.end());
    return write_bytes(path, tagged.data(), tagged.size());
}

static bool run_twolame(const std::string &wav, const std::string &out)
{
    const pid_t child = fork();
    if (child == 0) {
        execlp("twolame", "twolame", "--quiet", wav.c_str(), out.c_str(), (char *)nullptr);
        _exit(127);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

bool write_tone(const std::string &path, fixture_format format, int rate, int channels,
                double seconds, double freq_hz, double amplitude, double silent_seconds)
{
    const std::string target = format == FIXTURE_MP2 ? path + ".wav" : path;
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = sndfile_format(format);
    SNDFILE *file = sf_open(target.c_str(), SFM_WRITE, &info);
    if (file == nullptr)
        return false;
    const long long silent = (long long)(silent_seconds * rate);
    const long long frames = (long long)(seconds * rate);
    std::vector<float> samples((size_t)frames * channels, 0.0f);
    for (long long i = silent; i < frames; i++) {
        const double phase = 2.0 * M_PI * freq_hz * (double)(i - silent) / rate;
        for (int c = 0; c < channels; c++)
            samples[(size_t)(i * channels + c)] = (float)(amplitude * std::sin(phase));
    }
    const bool written = sf_writef_float(file, samples.data(), frames) == frames;
    sf_close(file);
    if (!written)
        return false;
    if (format == FIXTURE_TAGGED_MP3)
        return prepend_id3_tag(path);
    if (format == FIXTURE_MP2) {
        const bool encoded = run_twolame(target, path);
        std::remove(target.c_str());
        return encoded;
    }
    return true;
}

bool write_bytes(const std::string &path, const void *bytes, size_t size)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    const bool written = std::fwrite(bytes, 1, size, f) == size;
    return std::fclose(f) == 0 && written;
}

bool write_wav_header(const std::string &path, int channels, int rate, long long data_bytes)
{
    std::vector<unsigned char> header;
    auto le = [&header](uint32_t value, int bytes) {
        for (int i = 0; i < bytes; i++)
            header.push_back((unsigned char)(value >> (8 * i)));
    };
    const int frame_bytes = 2 * channels;
    header.insert(header.end(), {'R', 'I', 'F', 'F'});
    le((uint32_t)(36 + data_bytes), 4);
    header.insert(header.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    le(16, 4);
    le(1, 2);  // integer PCM
    le((uint32_t)channels, 2);
    le((uint32_t)rate, 4);
    le((uint32_t)rate * (uint32_t)frame_bytes, 4);
    le((uint32_t)frame_bytes, 2);
    le(16, 2);
    header.insert(header.end(), {'d', 'a', 't', 'a'});
    le((uint32_t)data_bytes, 4);
    if (!write_bytes(path, header.data(), header.size()))
        return false;
    return truncate(path.c_str(), (off_t)(header.size() + data_bytes)) == 0;
}

bool truncate_to(const std::string &path, double fraction)
{
    struct stat about {};
    if (stat(path.c_str(), &about) != 0)
        return false;
    return truncate(path.c_str(), (off_t)((double)about.st_size * fraction)) == 0;
}
