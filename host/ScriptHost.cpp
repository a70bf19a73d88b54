// Script stage: an embedded Perl interpreter runs "main.pl" and calls its main.
// The show runs inside that one call; every later action is a binding call.
#include "host/Modules.h"
#include "host/ScriptHost.h"

#include "bindings/Boot.h"

#include <perliol.h>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace host {

namespace {

constexpr const char* kHostFile = "main";

// Perl's STDOUT and C's stdout share one descriptor; line buffering on both
// keeps lines in the order they were printed when standard output is a pipe.
// Set before parsing so that output of BEGIN blocks is ordered too.
void LineBufferPerlStdout(pTHX)
{
    PerlIO* out = PerlIO_stdout();
    if (out && PerlIOValid(out))
        PerlIOBase(out)->flags |= PERLIO_F_LINEBUF;
}

// main's result as an integer: the runtime's own conversion (undef 0, 2.7 2,
// a string its leading number). With catchErrors an error inside main ends
// the call instead of the script, and *error receives its message.
int CallMain(pTHX_ const show::Context& context, bool catchErrors, std::string* error)
{
    SV* ready = newRV_noinc(newSV(0));
    sv_setref_pv(ready, nullptr, INT2PTR(void*, static_cast<IV>(context.windowReady)));

    dSP;
    ENTER;
    SAVETMPS;
    PUSHMARK(SP);
    EXTEND(SP, 3);
    PUSHs(sv_2mortal(newSViv(context.width)));
    PUSHs(sv_2mortal(newSViv(context.height)));
    PUSHs(sv_2mortal(ready));
    PUTBACK;

    // Without catchErrors, no G_EVAL: an error inside the show is not the
    // host's to handle; the runtime prints it and unwinds to the frame
    // CallMainCaught set up.
    const int count = call_pv("main", catchErrors ? G_SCALAR | G_EVAL : G_SCALAR);

    SPAGAIN;
    int result = 0;
    if (count > 0)
        result = static_cast<int>(POPi);
    PUTBACK;
    if (catchErrors && SvTRUE(ERRSV)) {
        STRLEN length = 0;
        const char* text = SvPV(ERRSV, length);
        error->assign(text, length);
    }
    FREETMPS;
    LEAVE;
    return result;
}

// The runtime's __DIE__ hook while main.pl is compiled and its top level
// runs: keeps the message of an error that is about to end the script (one
// raised outside any eval or require), then lets the runtime go on as usual.
// A compile failure never reaches an eval the host could wrap around it.
void RecordError(pTHX_ CV* cv)
{
    dXSARGS;
    if (items > 0 && !PL_in_eval) {
        STRLEN length = 0;
        const char* text = SvPV(ST(0), length);
        static_cast<std::string*>(CvXSUBANY(cv).any_ptr)->assign(text, length);
    }
    XSRETURN_EMPTY;
}

// Installs RecordError as the __DIE__ hook; the returned sub is held until
// RemoveErrorRecorder.
CV* InstallErrorRecorder(pTHX_ std::string* error)
{
    CV* recorder = newXS(nullptr, RecordError, kHostFile);
    CvXSUBANY(recorder).any_ptr = error;
    PL_diehook = newRV_inc(reinterpret_cast<SV*>(recorder));
    return recorder;
}

// Takes the hook away again, unless the script has put a __DIE__ handler of
// its own in its place.
void RemoveErrorRecorder(pTHX_ CV* recorder)
{
    if (PL_diehook && SvROK(PL_diehook) && SvRV(PL_diehook) == reinterpret_cast<SV*>(recorder)) {
        SV* hook = PL_diehook;
        PL_diehook = nullptr;
        SvREFCNT_dec(hook);
    }
    SvREFCNT_dec(reinterpret_cast<SV*>(recorder));
}

// The message for a main.pl that failed without telling why through the
// hook: the runtime reports a missing script directly.
std::string CompileFailure(const char* scriptName)
{
    if (access(scriptName, R_OK) != 0)
        return std::string("Can't open perl script \"") + scriptName + "\": " + std::strerror(errno) + "\n";
    return std::string(scriptName) + " did not compile (see standard error)\n";
}

// How a run ends that a binding call ended (ending is not None).
RunEnd EndedBy(show::Context::Ending ending)
{
    return ending == show::Context::Ending::Closed ? RunEnd::Closed : RunEnd::Stopped;
}

// Calls main with a landing place for the runtime's exit jump, which an exit,
// an uncaught error, the close button and StopScript all take. Without it the
// runtime would end the process itself.
RunResult CallMainCaught(pTHX_ show::Context& context, const RunRules& rules)
{
    RunResult result;
    const I32 oldScope = PL_scopestack_ix;
    dJMPENV;
    int jumped = 0;
    JMPENV_PUSH(jumped);
    if (jumped == 0) {
        result.status = CallMain(aTHX_ context, rules.reportErrors, &result.error);
        JMPENV_POP;
        if (!result.error.empty()) {
            result.end = RunEnd::Failed;
            result.status = 0;
            std::fputs(result.error.c_str(), stderr);
        }
        return result;
    }
    JMPENV_POP;
    const show::Context::Ending ending = context.ending;
    if (ending == show::Context::Ending::None && rules.exitEndsProcess) {
        // As the runtime itself would: at once, with Perl's status, without
        // END blocks. Flush what the script's handles still buffer (a last
        // line without a newline, a log file it writes) first.
        const int status = STATUS_EXIT;
        PerlIO_flush(nullptr);
        if (rules.beforeProcessExit)
            rules.beforeProcessExit(context);
        std::exit(status);
    }
    // Back to the state before the call, as the runtime does after an exit.
    while (PL_scopestack_ix > oldScope)
        LEAVE;
    FREETMPS;
    if (ending == show::Context::Ending::None) {
        result.end = RunEnd::Exited;
        result.status = STATUS_EXIT;
    } else {
        result.end = EndedBy(ending);
    }
    return result;
}

}  // namespace

ScriptRuntime::ScriptRuntime(int* argc, char*** argv, char*** env)
{
    PERL_SYS_INIT3(argc, argv, env);
}

ScriptRuntime::~ScriptRuntime()
{
    PERL_SYS_TERM();
}

// The script calls each package's boot sub before it uses the package.
void RegisterModules(pTHX)
{
    newXS("DynaLoader::boot_DynaLoader", boot_DynaLoader, kHostFile);
    newXS("OpenGL::boot_OpenGL", BootOpenGL, kHostFile);
    newXS("Image::boot_Image", BootImage, kHostFile);
    newXS("InkStain::boot_InkStain", BootInkStain, kHostFile);
    newXS("Model::boot_Model", BootModel, kHostFile);
    newXS("BalTrap::boot_BalTrap", BootBalTrap, kHostFile);
    newXS("Sync::boot_Sync", BootSync, kHostFile);
}

RunResult RunScript(show::Context& context, const RunRules& rules)
{
    static char emptyName[] = "";
    static char scriptName[] = "main.pl";
    static char* arguments[] = {emptyName, scriptName, nullptr};

    context.ending = show::Context::Ending::None;
    PerlInterpreter* interpreter = perl_alloc();
    PERL_SET_CONTEXT(interpreter);
    perl_construct(interpreter);
    dTHXa(interpreter);
    PL_exit_flags |= PERL_EXIT_DESTRUCT_END;
    InstallContext(aTHX_ &context);

    // Anything C stdio still holds goes out before the script can print.
    std::fflush(stdout);
    LineBufferPerlStdout(aTHX);

    // A binding call in the script's top level or a BEGIN block can end the
    // run too (the runtime lands in perl_parse or perl_run); main is then
    // not called. So does a failure when errors are reported.
    std::string error;
    CV* recorder = rules.reportErrors ? InstallErrorRecorder(aTHX_ &error) : nullptr;
    const int parsed = perl_parse(interpreter, RegisterModules, 2, arguments, nullptr);
    const bool compiled = parsed == 0 || !rules.reportErrors;
    if (compiled && context.ending == show::Context::Ending::None)
        perl_run(interpreter);
    if (recorder)
        RemoveErrorRecorder(aTHX_ recorder);

    RunResult result;
    if (context.ending != show::Context::Ending::None) {
        result.end = EndedBy(context.ending);
    } else if (!compiled || !error.empty()) {
        // The runtime has printed the message already.
        result.end = RunEnd::Failed;
        result.error = error.empty() ? CompileFailure(scriptName) : error;
    } else {
        result = CallMainCaught(aTHX_ context, rules);
    }

    perl_destruct(interpreter);
    perl_free(interpreter);
    // Every handle is gone with the interpreter; the GL context is still there
    // for the objects' textures and lists.
    context.effects.DestroyAll();
    context.ending = show::Context::Ending::None;
    return result;
}

void StopScript(void* context)
{
    static_cast<show::Context*>(context)->ending = show::Context::Ending::Stopped;
    dTHX;
    my_exit(0);
}

}  // namespace host
