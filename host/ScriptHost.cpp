// Script stage: an embedded Perl interpreter runs "main.pl" and calls its main.
// The show runs inside that one call; every later action is a binding call.
#include "host/ScriptHost.h"
#include "host/Stages.h"
#include "host/State.h"

#include "bindings/Boot.h"

#include <perliol.h>

namespace host {

namespace {

PerlInterpreter* interpreter = nullptr;

constexpr const char* kHostFile = "main";

}  // namespace

// The script calls each package's boot sub before it uses the package.
void RegisterModules(pTHX)
{
    newXS("DynaLoader::boot_DynaLoader", boot_DynaLoader, kHostFile);
    newXS("OpenGL::boot_OpenGL", BootOpenGL, kHostFile);
    newXS("Image::boot_Image", BootImage, kHostFile);
    newXS("InkStain::boot_InkStain", BootInkStain, kHostFile);
    newXS("Model::boot_Model", BootModel, kHostFile);
    newXS("BalTrap::boot_BalTrap", BootBalTrap, kHostFile);
}

namespace {

// Perl's STDOUT and C's stdout share one descriptor; line buffering on both
// keeps lines in the order they were printed when standard output is a pipe.
// Set before parsing so that output of BEGIN blocks is ordered too.
void LineBufferPerlStdout(pTHX)
{
    PerlIO* out = PerlIO_stdout();
    if (out && PerlIOValid(out))
        PerlIOBase(out)->flags |= PERLIO_F_LINEBUF;
}

// A die or exit inside main ends the process from within the runtime, with
// exit() and without perl_destruct. Flush what the script's handles still
// buffer (a last line without a newline, a log file it writes) as a
// standalone script would have.
void FlushScriptHandles()
{
    if (!interpreter)
        return;
    dTHXa(interpreter);
    PerlIO_flush(nullptr);
}

// main's result as an integer: the runtime's own conversion (undef 0, 2.7 2,
// a string its leading number).
int CallMain(pTHX_ int width, int height)
{
    SV* ready = newRV_noinc(newSV(0));
    sv_setref_pv(ready, nullptr, INT2PTR(void*, static_cast<IV>(state::windowReady)));

    dSP;
    ENTER;
    SAVETMPS;
    PUSHMARK(SP);
    EXTEND(SP, 3);
    PUSHs(sv_2mortal(newSViv(width)));
    PUSHs(sv_2mortal(newSViv(height)));
    PUSHs(sv_2mortal(ready));
    PUTBACK;

    // No G_EVAL: an error inside the show ends the process with Perl's own
    // message, as it would for a standalone script.
    const int count = call_pv("main", G_SCALAR);

    SPAGAIN;
    int result = 0;
    if (count > 0)
        result = static_cast<int>(POPi);
    PUTBACK;
    FREETMPS;
    LEAVE;
    return result;
}

}  // namespace

int RunScript(int width, int height, int depth)
{
    (void)depth;  // the script is told the size only

    static char emptyName[] = "";
    static char scriptName[] = "main.pl";
    static char* arguments[] = {emptyName, scriptName, nullptr};

    // main's own arguments when the entry point recorded them (tests that
    // call this stage directly have none).
    int noArgc = 0;
    char** noArgv = nullptr;
    char** noEnv = nullptr;
    int* argc = state::processArgc ? state::processArgc : &noArgc;
    char*** argv = state::processArgv ? state::processArgv : &noArgv;
    char*** env = state::processEnv ? state::processEnv : &noEnv;

    static bool flushAtExit = false;
    if (!flushAtExit)
        flushAtExit = std::atexit(FlushScriptHandles) == 0;

    PERL_SYS_INIT3(argc, argv, env);
    interpreter = perl_alloc();
    perl_construct(interpreter);
    dTHXa(interpreter);
    PL_exit_flags |= PERL_EXIT_DESTRUCT_END;

    // Anything C stdio still holds goes out before the script can print.
    std::fflush(stdout);
    LineBufferPerlStdout(aTHX);

    perl_parse(interpreter, RegisterModules, 2, arguments, nullptr);
    perl_run(interpreter);

    const int result = CallMain(aTHX_ width, height);

    perl_destruct(interpreter);
    perl_free(interpreter);
    interpreter = nullptr;
    PERL_SYS_TERM();
    return result;
}

}  // namespace host
