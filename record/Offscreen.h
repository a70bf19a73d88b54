// Window-less OpenGL for recording: a desktop-GL compatibility context on
// Mesa's surfaceless EGL platform (the GPU where there is one, llvmpipe
// otherwise), drawing into a pbuffer of the show's size, and the read-back of
// finished frames through a pair of pixel buffer objects.
//
// No display is needed. The framebuffer is chosen the way the window's is:
// 8-bit colour, the deepest depth buffer, multisampling only where the window
// would get the same sample count, so the show's GL calls make the same
// pictures.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace record {

class Offscreen {
public:
    // Creates the context and makes it current on this thread. Null with a
    // one-line reason when the platform offers no such context, or none of
    // this size. multisample: as the window would (off when the frames are
    // drawn larger and reduced, which smooths the edges already).
    static std::unique_ptr<Offscreen> Create(int width, int height, bool multisample, std::string* error);
    ~Offscreen();
    Offscreen(const Offscreen&) = delete;
    Offscreen& operator=(const Offscreen&) = delete;

    // Starts reading back the frame just drawn and returns the one before it
    // (BGRA, rows from the bottom up), null for the first frame. Reading one
    // frame behind lets the copy finish while the next frame is drawn. The
    // pointer is good until the next call.
    const std::uint8_t* Capture();
    // The frame whose read-back Capture started last; null when none is
    // pending. Ends the pipeline.
    const std::uint8_t* Drain();

private:
    Offscreen() = default;
    void Unmap();
    const std::uint8_t* Map(int index);
    struct Impl;
    std::unique_ptr<Impl> impl_;
    int width_ = 0, height_ = 0;
};

}  // namespace record
