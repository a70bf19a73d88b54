// The OpenGL package: buffer swap and clear, the music clock, a wall clock,
// the event pump and four key tests. Each sub makes its one SDL, GL or music
// call; the package keeps no state of its own.
#include "bindings/Boot.h"
#include "bindings/Glue.h"

#include "audio/Music.h"
#include "host/State.h"

#include <GL/gl.h>
#include <SDL.h>
#include <sys/time.h>

namespace {

using glue::CheckArgCount;

// An entry of SDL's key state array counts as down when it is non-zero. The
// array only changes inside glPumpEvents.
int KeyDown(SDLKey key)
{
    const Uint8* keys = SDL_GetKeyState(nullptr);
    return keys[key] != 0 ? 1 : 0;
}

void XS_SwapBuffers(pTHX_ CV* cv)
{
    dXSARGS;
    CheckArgCount(aTHX_ cv, items, 0, "");
    SDL_GL_SwapBuffers();
    XSRETURN_EMPTY;
}

void XS_glClear(pTHX_ CV* cv)
{
    dXSARGS;
    CheckArgCount(aTHX_ cv, items, 0, "");
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    XSRETURN_EMPTY;
}

void XS_glStartSound(pTHX_ CV* cv)
{
    dXSARGS;
    CheckArgCount(aTHX_ cv, items, 0, "");
    music::SetPaused(state::musicChannel, false);
    XSRETURN_EMPTY;
}

void XS_glGetSoundPos(pTHX_ CV* cv)
{
    dXSARGS;
    CheckArgCount(aTHX_ cv, items, 0, "");
    const int position = music::StreamGetTime(state::musicStream);
    GLUE_RETURN_INT(position);
}

void XS_glSetSoundPos(pTHX_ CV* cv)
{
    dXSARGS;
    CheckArgCount(aTHX_ cv, items, 1, "pos_in_ms");
    const int position = static_cast<int>(SvIV(ST(0)));
    const int ok = music::StreamSetTime(state::musicStream, position) ? 1 : 0;
    GLUE_RETURN_INT(ok);
}

void XS_glGetTime(pTHX_ CV* cv)
{
    dXSARGS;
    CheckArgCount(aTHX_ cv, items, 0, "");
    struct timeval now;
    gettimeofday(&now, nullptr);
    // Wall-clock milliseconds wrapped to 32 bits: only differences between
    // readings mean anything. Unsigned arithmetic gives the wrap without
    // overflow being undefined.
    const uint32_t ms = static_cast<uint32_t>(now.tv_sec) * 1000u + static_cast<uint32_t>(now.tv_usec / 1000);
    GLUE_RETURN_INT(static_cast<int32_t>(ms));
}

void XS_glPumpEvents(pTHX_ CV* cv)
{
    dXSARGS;
    CheckArgCount(aTHX_ cv, items, 0, "");
    SDL_PumpEvents();
    XSRETURN_EMPTY;
}

void XS_glSpacePressed(pTHX_ CV* cv)
{
    dXSARGS;
    CheckArgCount(aTHX_ cv, items, 0, "");
    GLUE_RETURN_INT(KeyDown(SDLK_SPACE));
}

void XS_glEscPressed(pTHX_ CV* cv)
{
    dXSARGS;
    CheckArgCount(aTHX_ cv, items, 0, "");
    GLUE_RETURN_INT(KeyDown(SDLK_ESCAPE));
}

void XS_glRightPressed(pTHX_ CV* cv)
{
    dXSARGS;
    CheckArgCount(aTHX_ cv, items, 0, "");
    GLUE_RETURN_INT(KeyDown(SDLK_RIGHT) || KeyDown(SDLK_KP6) ? 1 : 0);
}

void XS_glLeftPressed(pTHX_ CV* cv)
{
    dXSARGS;
    CheckArgCount(aTHX_ cv, items, 0, "");
    GLUE_RETURN_INT(KeyDown(SDLK_LEFT) || KeyDown(SDLK_KP4) ? 1 : 0);
}

}  // namespace

void BootOpenGL(pTHX_ CV* cv)
{
    dXSARGS;
    PERL_UNUSED_VAR(items);
    PERL_UNUSED_VAR(cv);
    static const glue::Sub subs[] = {
        {"OpenGL::SwapBuffers", XS_SwapBuffers},
        {"OpenGL::glClear", XS_glClear},
        {"OpenGL::glStartSound", XS_glStartSound},
        {"OpenGL::glGetSoundPos", XS_glGetSoundPos},
        {"OpenGL::glSetSoundPos", XS_glSetSoundPos},
        {"OpenGL::glGetTime", XS_glGetTime},
        {"OpenGL::glPumpEvents", XS_glPumpEvents},
        {"OpenGL::glSpacePressed", XS_glSpacePressed},
        {"OpenGL::glEscPressed", XS_glEscPressed},
        {"OpenGL::glRightPressed", XS_glRightPressed},
        {"OpenGL::glLeftPressed", XS_glLeftPressed},
    };
    glue::RegisterSubs(aTHX_ subs, sizeof subs / sizeof subs[0], "OpenGLGlue");
    XSRETURN_YES;
}
