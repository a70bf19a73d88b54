// Window-less OpenGL for recording: a desktop-GL compatibility context on
// Mesa's surfaceless EGL platform (the GPU where there is one, llvmpipe
// otherwise), drawing into a pbuffer of the show's size, and the read-back of
// finished frames: each is copied on the renderer's side and read back two
// frames later, so that the renderer draws one frame while the show makes the
// next and the encoder codes the one before.
//
// No display is needed. The framebuffer is chosen the way the window's is:
// 8-bit colour, the deepest depth buffer, multisampling only where the window
// would get the same sample count, so the show's GL calls make the same
// pictures.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace record {

class Offscreen {
public:
    // Creates the context and makes it current on this thread. Null with a
    // one-line reason when the platform offers no such context, or none of
    // this size. multisample: as the window would (off when the frames are
    // drawn larger and reduced, which smooths the edges already).
    static std::unique_ptr<Offscreen> Create(int width, int height, bool multisample, std::string* error);
    // Loads the renderer on a thread of its own, so that other work at the
    // start overlaps it; Create waits for it. Joined when destroyed.
    static std::thread Preload();
    ~Offscreen();
    Offscreen(const Offscreen&) = delete;
    Offscreen& operator=(const Offscreen&) = delete;

    // Starts reading back the frame just drawn and returns the one two frames
    // before it (4 bytes a pixel in the order Rgba() says, rows from the
    // bottom up), null for the first two frames. The pointer is good until
    // the next call.
    const std::uint8_t* Capture();
    // The oldest frame whose read-back Capture started; null when none is
    // left. Called until null, ends the pipeline.
    const std::uint8_t* Drain();
    // True when the pixels come as RGBA, false for BGRA: whichever the
    // driver reads back without converting.
    bool Rgba() const;

private:
    Offscreen() = default;
    struct Impl;
    std::unique_ptr<Impl> impl_;
    int width_ = 0, height_ = 0;
};

}  // namespace record
