// The OpenGL package: buffer swap and clear, the music clock, a wall clock,
// the event pump and four key tests. Each sub makes its one call on the show
// context's front end or clock (or GL); the package keeps no state of its own.
#include "bindings/Boot.h"
#include "bindings/Glue.h"

#include <GL/gl.h>

namespace {

using glue::CheckArgCount;
using glue::Enter;

void XS_SwapBuffers(pTHX_ CV* cv)
{
    dXSARGS;
    show::Context& context = Enter(cv);
    CheckArgCount(aTHX_ cv, items, 0, "");
    context.ServeSync();
    context.frontEnd->SwapBuffers();
    XSRETURN_EMPTY;
}

void XS_glClear(pTHX_ CV* cv)
{
    dXSARGS;
    Enter(cv);
    CheckArgCount(aTHX_ cv, items, 0, "");
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    XSRETURN_EMPTY;
}

void XS_glStartSound(pTHX_ CV* cv)
{
    dXSARGS;
    show::Context& context = Enter(cv);
    CheckArgCount(aTHX_ cv, items, 0, "");
    // The author's pause (editor or F2) holds until the author lets go.
    if (context.clock && !context.transport.held)
        context.clock->Start();
    XSRETURN_EMPTY;
}

void XS_glGetSoundPos(pTHX_ CV* cv)
{
    dXSARGS;
    show::Context& context = Enter(cv);
    CheckArgCount(aTHX_ cv, items, 0, "");
    const int position = context.clock ? context.clock->Position() : 0;
    GLUE_RETURN_INT(position);
}

void XS_glSetSoundPos(pTHX_ CV* cv)
{
    dXSARGS;
    show::Context& context = Enter(cv);
    CheckArgCount(aTHX_ cv, items, 1, "pos_in_ms");
    const int position = static_cast<int>(SvIV(ST(0)));
    const int ok = context.clock && context.clock->Seek(position) ? 1 : 0;
    GLUE_RETURN_INT(ok);
}

void XS_glGetTime(pTHX_ CV* cv)
{
    dXSARGS;
    show::Context& context = Enter(cv);
    CheckArgCount(aTHX_ cv, items, 0, "");
    GLUE_RETURN_INT(static_cast<int32_t>(context.frontEnd->WallMs()));
}

// The window's close button ends the show as `exit 0` in the script would:
// the runtime unwinds the script (no eval stops it) and the host then runs
// the END blocks and closes the window. In the teardown (an END block, a
// DESTROY) the run is ending anyway and there is nothing to unwind to: the
// request is only noted.
void XS_glPumpEvents(pTHX_ CV* cv)
{
    dXSARGS;
    show::Context& context = Enter(cv);
    CheckArgCount(aTHX_ cv, items, 0, "");
    if (context.frontEnd->PumpEvents()) {
        context.ending = show::Context::Ending::Closed;
        if (!context.tearingDown)
            my_exit(0);
    }
    XSRETURN_EMPTY;
}

void XS_glSpacePressed(pTHX_ CV* cv)
{
    dXSARGS;
    show::Context& context = Enter(cv);
    CheckArgCount(aTHX_ cv, items, 0, "");
    GLUE_RETURN_INT(context.frontEnd->KeyDown(show::Key::Space) ? 1 : 0);
}

void XS_glEscPressed(pTHX_ CV* cv)
{
    dXSARGS;
    show::Context& context = Enter(cv);
    CheckArgCount(aTHX_ cv, items, 0, "");
    GLUE_RETURN_INT(context.frontEnd->KeyDown(show::Key::Escape) ? 1 : 0);
}

void XS_glRightPressed(pTHX_ CV* cv)
{
    dXSARGS;
    show::Context& context = Enter(cv);
    CheckArgCount(aTHX_ cv, items, 0, "");
    GLUE_RETURN_INT(context.frontEnd->KeyDown(show::Key::Right) ? 1 : 0);
}

void XS_glLeftPressed(pTHX_ CV* cv)
{
    dXSARGS;
    show::Context& context = Enter(cv);
    CheckArgCount(aTHX_ cv, items, 0, "");
    GLUE_RETURN_INT(context.frontEnd->KeyDown(show::Key::Left) ? 1 : 0);
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
