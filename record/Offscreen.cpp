// Window-less OpenGL: EGL surfaceless pbuffer context and frame read-back.
#include "record/Offscreen.h"

#include "host/Stages.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <vector>

namespace record {

namespace {

// The smallest depth buffer the window asks for; like GLX, the deepest
// offered is taken.
constexpr EGLint kMinDepthBits = 16;
constexpr int kReadBuffers = 2;

// Buffer-object entry points, fetched once the context exists.
struct BufferCalls {
    PFNGLGENBUFFERSPROC gen = nullptr;
    PFNGLDELETEBUFFERSPROC destroy = nullptr;
    PFNGLBINDBUFFERPROC bind = nullptr;
    PFNGLBUFFERDATAPROC data = nullptr;
    PFNGLMAPBUFFERPROC map = nullptr;
    PFNGLUNMAPBUFFERPROC unmap = nullptr;

    bool Load()
    {
        gen = reinterpret_cast<PFNGLGENBUFFERSPROC>(eglGetProcAddress("glGenBuffers"));
        destroy = reinterpret_cast<PFNGLDELETEBUFFERSPROC>(eglGetProcAddress("glDeleteBuffers"));
        bind = reinterpret_cast<PFNGLBINDBUFFERPROC>(eglGetProcAddress("glBindBuffer"));
        data = reinterpret_cast<PFNGLBUFFERDATAPROC>(eglGetProcAddress("glBufferData"));
        map = reinterpret_cast<PFNGLMAPBUFFERPROC>(eglGetProcAddress("glMapBuffer"));
        unmap = reinterpret_cast<PFNGLUNMAPBUFFERPROC>(eglGetProcAddress("glUnmapBuffer"));
        return gen && destroy && bind && data && map && unmap;
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
    BufferCalls gl;
    GLuint buffers[kReadBuffers] = {};
    int reading = -1;  // the buffer a frame is being read into
    int mapped = -1;   // the buffer handed out by the last call
};

std::unique_ptr<Offscreen> Offscreen::Create(int width, int height, bool multisample, std::string* error)
{
    std::unique_ptr<Offscreen> offscreen(new Offscreen());
    offscreen->impl_ = std::make_unique<Impl>();
    offscreen->width_ = width;
    offscreen->height_ = height;
    Impl& o = *offscreen->impl_;

    const auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (getPlatformDisplay)
        o.display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (o.display == EGL_NO_DISPLAY || !eglInitialize(o.display, nullptr, nullptr)) {
        o.display = EGL_NO_DISPLAY;
        *error = "no window-less OpenGL here (EGL's surfaceless platform did not start)";
        return nullptr;
    }
    // As many samples as the live window asks for and, refused, none.
    EGLConfig config = multisample ? PickConfig(o.display, host::kMultisampleSamples) : nullptr;
    if (!config)
        config = PickConfig(o.display, 0);
    const std::string sizeText = std::to_string(width) + "x" + std::to_string(height);
    // A pbuffer larger than the renderer can draw into may still be given,
    // and then holds garbage; ask for the limits first.
    EGLint maxWidth = 0, maxHeight = 0;
    if (config) {
        eglGetConfigAttrib(o.display, config, EGL_MAX_PBUFFER_WIDTH, &maxWidth);
        eglGetConfigAttrib(o.display, config, EGL_MAX_PBUFFER_HEIGHT, &maxHeight);
    }
    if (config && (width > maxWidth || height > maxHeight)) {
        *error = "no window-less OpenGL context of " + sizeText + " (the largest here is " +
                 std::to_string(maxWidth) + "x" + std::to_string(maxHeight) + ")";
        return nullptr;
    }
    const EGLint size[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
    if (config && eglBindAPI(EGL_OPENGL_API)) {
        o.context = eglCreateContext(o.display, config, EGL_NO_CONTEXT, nullptr);
        o.surface = eglCreatePbufferSurface(o.display, config, size);
    }
    if (o.context == EGL_NO_CONTEXT || o.surface == EGL_NO_SURFACE ||
        !eglMakeCurrent(o.display, o.surface, o.surface, o.context) || !o.gl.Load()) {
        *error = "no window-less OpenGL context of " + sizeText;
        return nullptr;
    }
    GLint viewport[2] = {};
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, viewport);
    if (width > viewport[0] || height > viewport[1]) {
        *error = "no window-less OpenGL context of " + sizeText + " (the largest here is " +
                 std::to_string(viewport[0]) + "x" + std::to_string(viewport[1]) + ")";
        return nullptr;
    }

    o.gl.gen(kReadBuffers, o.buffers);
    const GLsizeiptr bytes = static_cast<GLsizeiptr>(width) * height * 4;
    for (GLuint buffer : o.buffers) {
        o.gl.bind(GL_PIXEL_PACK_BUFFER, buffer);
        o.gl.data(GL_PIXEL_PACK_BUFFER, bytes, nullptr, GL_STREAM_READ);
    }
    o.gl.bind(GL_PIXEL_PACK_BUFFER, 0);
    glViewport(0, 0, width, height);
    return offscreen;
}

Offscreen::~Offscreen()
{
    Impl& o = *impl_;
    if (o.display == EGL_NO_DISPLAY)
        return;
    if (o.context != EGL_NO_CONTEXT && o.buffers[0]) {
        Unmap();
        o.gl.destroy(kReadBuffers, o.buffers);
    }
    eglMakeCurrent(o.display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (o.surface != EGL_NO_SURFACE)
        eglDestroySurface(o.display, o.surface);
    if (o.context != EGL_NO_CONTEXT)
        eglDestroyContext(o.display, o.context);
    eglTerminate(o.display);
}

void Offscreen::Unmap()
{
    Impl& o = *impl_;
    if (o.mapped < 0)
        return;
    o.gl.bind(GL_PIXEL_PACK_BUFFER, o.buffers[o.mapped]);
    o.gl.unmap(GL_PIXEL_PACK_BUFFER);
    o.gl.bind(GL_PIXEL_PACK_BUFFER, 0);
    o.mapped = -1;
}

const std::uint8_t* Offscreen::Map(int index)
{
    Impl& o = *impl_;
    o.gl.bind(GL_PIXEL_PACK_BUFFER, o.buffers[index]);
    const void* pixels = o.gl.map(GL_PIXEL_PACK_BUFFER, GL_READ_ONLY);
    o.gl.bind(GL_PIXEL_PACK_BUFFER, 0);
    o.mapped = pixels ? index : -1;
    return static_cast<const std::uint8_t*>(pixels);
}

const std::uint8_t* Offscreen::Capture()
{
    Impl& o = *impl_;
    Unmap();
    const int target = o.reading == 0 ? 1 : 0;
    // NOTE: BGRA is the layout Mesa keeps 8-bit colour in, so the read-back
    // is a plain copy; the encoder's converter takes either order.
    o.gl.bind(GL_PIXEL_PACK_BUFFER, o.buffers[target]);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, width_, height_, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    o.gl.bind(GL_PIXEL_PACK_BUFFER, 0);
    const int previous = o.reading;
    o.reading = target;
    return previous < 0 ? nullptr : Map(previous);
}

const std::uint8_t* Offscreen::Drain()
{
    Impl& o = *impl_;
    Unmap();
    const int last = o.reading;
    o.reading = -1;
    return last < 0 ? nullptr : Map(last);
}

}  // namespace record
