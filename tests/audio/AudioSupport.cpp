// Helpers for the music tests.
#include "tests/audio/AudioSupport.h"

#include <mpg123.h>

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

}  // namespace audio_test
