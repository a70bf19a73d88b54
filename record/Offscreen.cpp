// Window-less OpenGL: EGL surfaceless context, framebuffer objects to draw
// into, and frame read-back.
#include "record/Offscreen.h"

#include "host/Stages.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <deque>
#include <vector>

namespace record {

namespace {

// The smallest depth buffer the window asks for; like GLX, the deepest
// offered is taken.
constexpr EGLint kMinDepthBits = 16;
// Frames in flight: one being made by the show, one being drawn by the
// renderer's threads, one being read back.
constexpr int kCopies = 3;
// How long a read-back waits for its copy at a time before it waits again.
constexpr GLuint64 kWaitNs = 1000000000;

template <typename Call>
bool Fetch(Call* call, const char* name)
{
    *call = reinterpret_cast<Call>(eglGetProcAddress(name));
    return *call != nullptr;
}

// Framebuffer-object and sync entry points, fetched once the context exists.
struct CopyCalls {
    PFNGLGENFRAMEBUFFERSPROC genFramebuffers = nullptr;
    PFNGLDELETEFRAMEBUFFERSPROC deleteFramebuffers = nullptr;
    PFNGLBINDFRAMEBUFFERPROC bindFramebuffer = nullptr;
    PFNGLGENRENDERBUFFERSPROC genRenderbuffers = nullptr;
    PFNGLDELETERENDERBUFFERSPROC deleteRenderbuffers = nullptr;
    PFNGLBINDRENDERBUFFERPROC bindRenderbuffer = nullptr;
    PFNGLRENDERBUFFERSTORAGEPROC renderbufferStorage = nullptr;
    PFNGLRENDERBUFFERSTORAGEMULTISAMPLEPROC renderbufferStorageMultisample = nullptr;
    PFNGLFRAMEBUFFERRENDERBUFFERPROC framebufferRenderbuffer = nullptr;
    PFNGLCHECKFRAMEBUFFERSTATUSPROC checkFramebufferStatus = nullptr;
    PFNGLBLITFRAMEBUFFERPROC blitFramebuffer = nullptr;
    PFNGLFENCESYNCPROC fenceSync = nullptr;
    PFNGLCLIENTWAITSYNCPROC clientWaitSync = nullptr;
    PFNGLDELETESYNCPROC deleteSync = nullptr;

    bool Load()
    {
        return Fetch(&genFramebuffers, "glGenFramebuffers") && Fetch(&deleteFramebuffers, "glDeleteFramebuffers") &&
               Fetch(&bindFramebuffer, "glBindFramebuffer") && Fetch(&genRenderbuffers, "glGenRenderbuffers") &&
               Fetch(&deleteRenderbuffers, "glDeleteRenderbuffers") &&
               Fetch(&bindRenderbuffer, "glBindRenderbuffer") &&
               Fetch(&renderbufferStorage, "glRenderbufferStorage") &&
               Fetch(&renderbufferStorageMultisample, "glRenderbufferStorageMultisample") &&
               Fetch(&framebufferRenderbuffer, "glFramebufferRenderbuffer") &&
               Fetch(&checkFramebufferStatus, "glCheckFramebufferStatus") &&
               Fetch(&blitFramebuffer, "glBlitFramebuffer") && Fetch(&fenceSync, "glFenceSync") &&
               Fetch(&clientWaitSync, "glClientWaitSync") && Fetch(&deleteSync, "glDeleteSync");
    }
};

// Among the configs that match, the one a GLX window would get: exact 8-bit
// colour, no alpha if possible, the deepest depth buffer, the least stencil.
EGLConfig PickConfig(EGLDisplay display, EGLint samples)
{
    const EGLint wanted[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                             EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8,
                             EGL_DEPTH_SIZE, kMinDepthBits, EGL_SAMPLES, samples, EGL_NONE};
    EGLint count = 0;
    if (!eglChooseConfig(display, wanted, nullptr, 0, &count) || count == 0)
        return nullptr;
    std::vector<EGLConfig> configs(count);
    eglChooseConfig(display, wanted, configs.data(), count, &count);
    EGLConfig best = nullptr;
    long bestScore = -1;
    for (EGLConfig config : configs) {
        EGLint r, g, b, a, depth, stencil, got;
        eglGetConfigAttrib(display, config, EGL_RED_SIZE, &r);
        eglGetConfigAttrib(display, config, EGL_GREEN_SIZE, &g);
        eglGetConfigAttrib(display, config, EGL_BLUE_SIZE, &b);
        eglGetConfigAttrib(display, config, EGL_ALPHA_SIZE, &a);
        eglGetConfigAttrib(display, config, EGL_DEPTH_SIZE, &depth);
        eglGetConfigAttrib(display, config, EGL_STENCIL_SIZE, &stencil);
        eglGetConfigAttrib(display, config, EGL_SAMPLES, &got);
        if (r != 8 || g != 8 || b != 8 || got != samples)
            continue;
        const long score = (a == 0 ? 1L << 20 : 0) + depth * 256L + (255 - stencil);
        if (score > bestScore) {
            bestScore = score;
            best = config;
        }
    }
    return best;
}

}  // namespace

struct Offscreen::Impl {
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLContext context = EGL_NO_CONTEXT;
    EGLSurface surface = EGL_NO_SURFACE;
    CopyCalls gl;
    // The frames are drawn into framebuffer objects, in turn, each read back
    // once the fence behind its frame says the renderer is done with it. A
    // multisampled canvas, where the window would be multisampled, is drawn
    // into instead and resolved into the frames.
    GLuint frames[kCopies] = {};
    GLuint colour[kCopies] = {};
    GLuint depth = 0;
    GLuint canvas = 0, canvasColour = 0;
    GLsync fences[kCopies] = {};
    GLenum readFormat = GL_BGRA;
    std::deque<int> inFlight;  // frames not yet read back, oldest first
    int drawing = 0;           // the frame the show draws into now
    std::vector<std::uint8_t> pixels;

    bool MakeTargets(EGLConfig config, int width, int height);
    void Finish(int index, int width, int height);
    void DrawInto(int index);
    const std::uint8_t* ReadBack(int index, int width, int height);
};

// The depth (and stencil) buffer format that matches the config's.
static GLenum DepthFormat(EGLDisplay display, EGLConfig config)
{
    EGLint depth = 0, stencil = 0;
    eglGetConfigAttrib(display, config, EGL_DEPTH_SIZE, &depth);
    eglGetConfigAttrib(display, config, EGL_STENCIL_SIZE, &stencil);
    if (stencil > 0)
        return depth > 24 ? GL_DEPTH32F_STENCIL8 : GL_DEPTH24_STENCIL8;
    return depth > 24 ? GL_DEPTH_COMPONENT32 : depth > 16 ? GL_DEPTH_COMPONENT24 : GL_DEPTH_COMPONENT16;
}

bool Offscreen::Impl::MakeTargets(EGLConfig config, int width, int height)
{
    EGLint samples = 0;
    eglGetConfigAttrib(display, config, EGL_SAMPLES, &samples);
    const GLenum depthFormat = DepthFormat(display, config);
    const GLenum attachment = depthFormat == GL_DEPTH24_STENCIL8 || depthFormat == GL_DEPTH32F_STENCIL8
                                  ? GL_DEPTH_STENCIL_ATTACHMENT
                                  : GL_DEPTH_ATTACHMENT;
    // One depth buffer serves every frame: the renderer draws them one after
    // another, and what a frame finds in it when it starts is undefined in a
    // window too.
    gl.genRenderbuffers(1, &depth);
    gl.bindRenderbuffer(GL_RENDERBUFFER, depth);
    gl.renderbufferStorageMultisample(GL_RENDERBUFFER, samples, depthFormat, width, height);
    // NOTE: the frames have an alpha channel, which the window's framebuffer
    // lacks (nothing the show draws reads it back): reading that one back
    // costs a per-pixel conversion, reading a frame with alpha is a plain
    // memcpy in the driver's own order.
    gl.genFramebuffers(kCopies, frames);
    gl.genRenderbuffers(kCopies, colour);
    bool complete = true;
    for (int i = 0; i < kCopies; ++i) {
        gl.bindRenderbuffer(GL_RENDERBUFFER, colour[i]);
        gl.renderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
        gl.bindFramebuffer(GL_FRAMEBUFFER, frames[i]);
        gl.framebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour[i]);
        if (samples == 0)
            gl.framebufferRenderbuffer(GL_FRAMEBUFFER, attachment, GL_RENDERBUFFER, depth);
        complete = complete && gl.checkFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    }
    GLint format = GL_RGBA, type = GL_UNSIGNED_BYTE;
    glGetIntegerv(GL_IMPLEMENTATION_COLOR_READ_FORMAT, &format);
    glGetIntegerv(GL_IMPLEMENTATION_COLOR_READ_TYPE, &type);
    readFormat = format == GL_BGRA && type == GL_UNSIGNED_BYTE ? GL_BGRA : GL_RGBA;
    if (samples > 0) {
        gl.genFramebuffers(1, &canvas);
        gl.genRenderbuffers(1, &canvasColour);
        gl.bindRenderbuffer(GL_RENDERBUFFER, canvasColour);
        gl.renderbufferStorageMultisample(GL_RENDERBUFFER, samples, GL_RGBA8, width, height);
        gl.bindFramebuffer(GL_FRAMEBUFFER, canvas);
        gl.framebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, canvasColour);
        gl.framebufferRenderbuffer(GL_FRAMEBUFFER, attachment, GL_RENDERBUFFER, depth);
        complete = complete && gl.checkFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    }
    gl.bindRenderbuffer(GL_RENDERBUFFER, 0);
    DrawInto(0);
    return complete && glGetError() == GL_NO_ERROR;
}

// The surfaceless display, initialised; EGL_NO_DISPLAY when it does not start.
static EGLDisplay OpenDisplay()
{
    const auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    EGLDisplay display =
        getPlatformDisplay ? getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr) : nullptr;
    return display != EGL_NO_DISPLAY && eglInitialize(display, nullptr, nullptr) ? display : EGL_NO_DISPLAY;
}

std::thread Offscreen::Preload()
{
    // NOTE: loading the driver and its compiler takes a fifth of a second on
    // one core. A display initialised twice is initialised once: Create's own
    // call finds it ready.
    return std::thread([] { OpenDisplay(); });
}

std::unique_ptr<Offscreen> Offscreen::Create(int width, int height, bool multisample, std::string* error)
{
    std::unique_ptr<Offscreen> offscreen(new Offscreen());
    offscreen->impl_ = std::make_unique<Impl>();
    offscreen->width_ = width;
    offscreen->height_ = height;
    Impl& o = *offscreen->impl_;

    o.display = OpenDisplay();
    if (o.display == EGL_NO_DISPLAY) {
        o.display = EGL_NO_DISPLAY;
        *error = "no window-less OpenGL here (EGL's surfaceless platform did not start)";
        return nullptr;
    }
    // As many samples as the live window asks for and, refused, none.
    EGLConfig config = multisample ? PickConfig(o.display, host::kMultisampleSamples) : nullptr;
    if (!config)
        config = PickConfig(o.display, 0);
    const std::string sizeText = std::to_string(width) + "x" + std::to_string(height);
    // The pbuffer only carries the context: the frames have targets of their own.
    const EGLint size[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
    if (config && eglBindAPI(EGL_OPENGL_API)) {
        o.context = eglCreateContext(o.display, config, EGL_NO_CONTEXT, nullptr);
        o.surface = eglCreatePbufferSurface(o.display, config, size);
    }
    if (o.context == EGL_NO_CONTEXT || o.surface == EGL_NO_SURFACE ||
        !eglMakeCurrent(o.display, o.surface, o.surface, o.context) || !o.gl.Load()) {
        *error = "no window-less OpenGL context of " + sizeText;
        return nullptr;
    }
    // A target larger than the renderer can draw into may still be given,
    // and then holds garbage; ask for the limits first.
    GLint viewport[2] = {}, largest = 0;
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, viewport);
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &largest);
    const GLint maxWidth = std::min(viewport[0], largest), maxHeight = std::min(viewport[1], largest);
    if (width > maxWidth || height > maxHeight) {
        *error = "no window-less OpenGL context of " + sizeText + " (the largest here is " +
                 std::to_string(maxWidth) + "x" + std::to_string(maxHeight) + ")";
        return nullptr;
    }
    if (!o.MakeTargets(config, width, height)) {
        *error = "no window-less OpenGL context of " + sizeText + " (no frame buffers of that size)";
        return nullptr;
    }
    glViewport(0, 0, width, height);
    return offscreen;
}

Offscreen::~Offscreen()
{
    Impl& o = *impl_;
    if (o.display == EGL_NO_DISPLAY)
        return;
    if (o.context != EGL_NO_CONTEXT && o.frames[0]) {
        for (GLsync fence : o.fences)
            if (fence)
                o.gl.deleteSync(fence);
        o.gl.deleteFramebuffers(kCopies, o.frames);
        o.gl.deleteRenderbuffers(kCopies, o.colour);
        o.gl.deleteRenderbuffers(1, &o.depth);
        if (o.canvas) {
            o.gl.deleteFramebuffers(1, &o.canvas);
            o.gl.deleteRenderbuffers(1, &o.canvasColour);
        }
    }
    eglMakeCurrent(o.display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (o.surface != EGL_NO_SURFACE)
        eglDestroySurface(o.display, o.surface);
    if (o.context != EGL_NO_CONTEXT)
        eglDestroyContext(o.display, o.context);
    eglTerminate(o.display);
}

// Makes frame `index` the show's target (or, multisampled, the canvas stays).
void Offscreen::Impl::DrawInto(int index)
{
    drawing = index;
    gl.bindFramebuffer(GL_FRAMEBUFFER, canvas ? canvas : frames[index]);
}

// Ends frame `index`: resolved from the canvas if there is one, fenced, and
// sent off to be drawn now.
void Offscreen::Impl::Finish(int index, int width, int height)
{
    if (canvas) {
        // A resolve is clipped by the scissor box, which the show may have left on.
        const GLboolean scissor = glIsEnabled(GL_SCISSOR_TEST);
        glDisable(GL_SCISSOR_TEST);
        gl.bindFramebuffer(GL_DRAW_FRAMEBUFFER, frames[index]);
        gl.blitFramebuffer(0, 0, width, height, 0, 0, width, height, GL_COLOR_BUFFER_BIT, GL_NEAREST);
        gl.bindFramebuffer(GL_FRAMEBUFFER, canvas);
        if (scissor)
            glEnable(GL_SCISSOR_TEST);
    }
    fences[index] = gl.fenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    // NOTE: a software renderer draws a frame on its worker threads once it
    // is flushed; flushed now, the frame is drawn while the show makes the
    // next one.
    glFlush();
}

// Waits for frame `index` and reads it back.
const std::uint8_t* Offscreen::Impl::ReadBack(int index, int width, int height)
{
    // NOTE: waiting on this frame's own fence leaves the frames after it to
    // the renderer; a read-back alone would first wait for everything sent.
    if (GLsync fence = fences[index]) {
        GLenum status;
        do
            status = gl.clientWaitSync(fence, 0, kWaitNs);
        while (status == GL_TIMEOUT_EXPIRED);
        gl.deleteSync(fence);
        fences[index] = nullptr;
    }
    GLint alignment = 4;
    glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
    gl.bindFramebuffer(GL_READ_FRAMEBUFFER, frames[index]);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    pixels.resize(static_cast<std::size_t>(width) * height * 4);
    glReadPixels(0, 0, width, height, readFormat, GL_UNSIGNED_BYTE, pixels.data());
    glPixelStorei(GL_PACK_ALIGNMENT, alignment);
    gl.bindFramebuffer(GL_READ_FRAMEBUFFER, canvas ? canvas : frames[drawing]);
    return pixels.data();
}

const std::uint8_t* Offscreen::Capture()
{
    Impl& o = *impl_;
    o.Finish(o.drawing, width_, height_);
    o.inFlight.push_back(o.drawing);
    // The next frame goes where the oldest was, once that one is read.
    const std::uint8_t* oldest = static_cast<int>(o.inFlight.size()) < kCopies ? nullptr : Drain();
    o.DrawInto((o.drawing + 1) % kCopies);
    return oldest;
}

const std::uint8_t* Offscreen::Drain()
{
    Impl& o = *impl_;
    if (o.inFlight.empty())
        return nullptr;
    const int oldest = o.inFlight.front();
    o.inFlight.pop_front();
    return o.ReadBack(oldest, width_, height_);
}

bool Offscreen::Rgba() const { return impl_->readFormat == GL_RGBA; }

}  // namespace record
