// Fuzzes the Image effect's raw-pixel path: sizes, pixel strings of any
// length and every drawing parameter (NaN and infinities included) go through
// SetParams and a Render in a GL context. Layout of an input:
//   int32 width, int32 height (little-endian), one flags byte
//   (bit 0: give a source name, bit 1: call SetParams twice), eleven floats
//   (x, y, wsize, hsize, alpha, rot, r, g, b and the two anchors as int32),
//   then the pixel string.
// Sizes are folded so that both small pictures and absurd sizes occur.
#include "effects/Image.h"
#include "tools/fuzz/FuzzGl.h"

#include <cstdint>
#include <cstring>

namespace {

struct Reader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos = 0;
    template <class T>
    T Take()
    {
        T value{};
        if (size - pos >= sizeof value) {
            std::memcpy(&value, data + pos, sizeof value);
            pos += sizeof value;
        } else {
            pos = size;
        }
        return value;
    }
};

// Most inputs get a small size (so pixel strings can match them); a high bit
// keeps the raw value, negative and huge sizes included.
int Fold(std::int32_t raw)
{
    if (raw & 0x40000000)
        return raw;
    return raw % 80;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::OpenWindow();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Reader in{data, size};
    const int width = Fold(in.Take<std::int32_t>());
    const int height = Fold(in.Take<std::int32_t>());
    const std::uint8_t flags = in.Take<std::uint8_t>();
    float p[9];
    for (float& v : p)
        v = in.Take<float>();
    const int alignh = in.Take<std::int32_t>();
    const int alignv = in.Take<std::int32_t>();
    const unsigned char* pixels = data + in.pos;
    const std::size_t length = size - in.pos;
    const char* name = (flags & 1) ? "fuzzed" : nullptr;

    Image image;
    const int calls = (flags & 2) ? 2 : 1;
    for (int i = 0; i < calls; ++i) {
        image.SetParams({name, length ? pixels : nullptr, length, width, height, p[0], p[1], p[2], p[3], p[4], p[5],
                        alignh, alignv, p[6], p[7], p[8]});
        fuzz::DrainErrors();  // GL may refuse an upload it cannot hold
        image.Render(40);
        if (fuzz::DrainErrors() != GL_NO_ERROR)
            __builtin_trap();  // drawing must never leave an error for the next effect
    }
    return 0;
}
