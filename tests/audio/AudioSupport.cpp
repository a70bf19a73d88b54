// Helpers for the music tests.
#include "tests/audio/AudioSupport.h"

#include <mpg123.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace audio_test {

Pcm DecodeWhole(const std::string& path)
{
    mpg123_init();
    int error = 0;
    mpg123_handle* handle = mpg123_new(nullptr, &error);
    mpg123_param(handle, MPG123_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0.0);
    if (mpg123_open(handle, path.c_str()) != MPG123_OK)
        throw std::runtime_error("cannot open " + path);
    Pcm pcm;
    int encoding = 0;
    mpg123_getformat(handle, &pcm.rate, &pcm.channels, &encoding);
    mpg123_format_none(handle);
    mpg123_format(handle, pcm.rate, pcm.channels, MPG123_ENC_SIGNED_16);
    std::vector<unsigned char> buffer(1 << 16);
    for (;;) {
        std::size_t done = 0;
        const int result = mpg123_read(handle, buffer.data(), buffer.size(), &done);
        const auto* samples = reinterpret_cast<const std::int16_t*>(buffer.data());
        pcm.samples.insert(pcm.samples.end(), samples, samples + done / 2);
        if (result != MPG123_OK && result != MPG123_NEW_FORMAT)
            break;
    }
    mpg123_close(handle);
    mpg123_delete(handle);
    return pcm;
}

std::vector<std::int16_t> ReadSamples(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::vector<std::int16_t> samples(static_cast<std::size_t>(in.tellg()) / 2);
    in.seekg(0).read(reinterpret_cast<char*>(samples.data()), static_cast<std::streamsize>(samples.size() * 2));
    return samples;
}

void UseDiskDriver(const std::string& file)
{
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
    // 2 ms per 23 ms buffer: the device runs about ten times faster than real
    // time, so a test hears seconds of music in a fraction of that.
    setenv("SDL_DISKAUDIODELAY", "2", 1);
}

long FirstSound(const std::vector<std::int16_t>& stereo, long fromFrame)
{
    for (long frame = fromFrame; frame * 2 + 1 < static_cast<long>(stereo.size()); ++frame)
        if (stereo[frame * 2] != 0 || stereo[frame * 2 + 1] != 0)
            return frame;
    return -1;
}

}  // namespace audio_test
