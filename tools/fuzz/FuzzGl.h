// A GL context for fuzz harnesses: one small SDL window per process, opened
// from LLVMFuzzerInitialize, so each input costs only its own GL calls.
#pragma once

#include <GL/gl.h>
#include <SDL.h>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

// Opens the window, or exits: a harness without GL would fuzz nothing.
inline void OpenWindow()
{
    if (!std::getenv("DISPLAY")) {
        std::fprintf(stderr, "fuzz: no DISPLAY (run under xvfb-run)\n");
        std::exit(2);
    }
    setenv("SDL_VIDEODRIVER", "x11", 0);
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_NOPARACHUTE) < 0) {
        std::fprintf(stderr, "fuzz: SDL_Init: %s\n", SDL_GetError());
        std::exit(2);
    }
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    if (!SDL_SetVideoMode(64, 48, 32, SDL_OPENGL) && !SDL_SetVideoMode(64, 48, 32, SDL_OPENGL)) {
        std::fprintf(stderr, "fuzz: no GL window: %s\n", SDL_GetError());
        std::exit(2);
    }
    glViewport(0, 0, 64, 48);
}

// Drains GL's error flags: an input may make GL refuse an upload, which the
// design allows; what matters is that the next frame starts clean.
inline GLenum DrainErrors()
{
    GLenum first = GL_NO_ERROR;
    for (GLenum e = glGetError(); e != GL_NO_ERROR; e = glGetError())
        if (first == GL_NO_ERROR)
            first = e;
    return first;
}

}  // namespace fuzz
