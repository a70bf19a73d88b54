// Script stage: an embedded Perl interpreter runs "main.pl" and calls its main.
// The show runs inside that one call; every later action is a binding call.
#include "host/Modules.h"
#include "host/ScriptHost.h"

#include "bindings/Boot.h"

#include <perliol.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

extern char** environ;

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

// What a script can change of the process and the next run must not
// inherit: signal dispositions and mask (a handler Perl installed for a %SIG
// entry must not outlive the interpreter it calls into, nor replace one of
// the player's own), standard streams 0-2, the environment (%ENV), the umask
// and the current folder. Taken before the interpreter is built, given back
// after it is gone; Perl itself gives back some of it, not all, and not in
// every build.
class ProcessState {
public:
    explicit ProcessState(int folder) : folder_(folder)
    {
        for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber)
            saved_[signalNumber].valid = sigaction(signalNumber, nullptr, &saved_[signalNumber].action) == 0;
        pthread_sigmask(SIG_SETMASK, nullptr, &mask_);
        for (int fd = 0; fd < kStreams; ++fd) {
            streams_[fd] = fcntl(fd, F_DUPFD_CLOEXEC, kStreams);
            closed_[fd] = streams_[fd] < 0 && errno == EBADF;
        }
        for (char** entry = environ; entry && *entry; ++entry)
            environment_.emplace_back(*entry);
        mode_ = umask(0);
        umask(mode_);
        EnterFolder();
    }

    ProcessState(const ProcessState&) = delete;
    ProcessState& operator=(const ProcessState&) = delete;

    // Signals: call with every signal blocked, before the interpreter is
    // freed, so that none can reach its handler in between.
    void RestoreSignals() const
    {
        for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber)
            if (saved_[signalNumber].valid && signalNumber != SIGKILL && signalNumber != SIGSTOP)
                sigaction(signalNumber, &saved_[signalNumber].action, nullptr);
    }
    const sigset_t& Mask() const { return mask_; }

    // The rest, after the interpreter is gone.
    void RestoreOthers()
    {
        std::fflush(nullptr);
        for (int fd = 0; fd < kStreams; ++fd) {
            if (streams_[fd] >= 0) {
                dup2(streams_[fd], fd);
                close(streams_[fd]);
            } else if (closed_[fd]) {
                close(fd);  // it was closed before the run
            }
        }
        RestoreEnvironment();
        umask(mode_);
        EnterFolder();
    }

private:
    static constexpr int kStreams = 3;

    struct Saved {
        bool valid = false;
        struct sigaction action;
    };

    void EnterFolder() const
    {
        if (folder_ >= 0)
            (void)!fchdir(folder_);
    }

    // Rebuilt only when it differs, which is rare.
    void RestoreEnvironment() const
    {
        std::size_t count = 0;
        bool same = true;
        for (char** entry = environ; same && entry && *entry; ++entry, ++count)
            same = count < environment_.size() && environment_[count] == *entry;
        if (same && count == environment_.size())
            return;
        clearenv();
        for (const std::string& entry : environment_) {
            const std::size_t equals = entry.find('=');
            if (equals != std::string::npos)
                setenv(entry.substr(0, equals).c_str(), entry.c_str() + equals + 1, 1);
        }
    }

    const int folder_;
    Saved saved_[NSIG];
    sigset_t mask_;
    int streams_[kStreams];
    bool closed_[kStreams];
    std::vector<std::string> environment_;
    mode_t mode_ = 0;
};

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
    context.tearingDown = false;
    ProcessState state(context.folder);
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

    // END blocks and DESTROY subs run in perl_destruct, the last of them in
    // global destruction, where an exit jump has no landing place and would
    // end the process.
    context.tearingDown = true;
    perl_destruct(interpreter);
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, nullptr);
    state.RestoreSignals();
    perl_free(interpreter);
    pthread_sigmask(SIG_SETMASK, &state.Mask(), nullptr);
    state.RestoreOthers();
    context.tearingDown = false;
    // The window's close button during the teardown of a stopped run.
    if (result.end == RunEnd::Stopped && context.ending == show::Context::Ending::Closed)
        result.end = RunEnd::Closed;
    // Every handle is gone with the interpreter; the GL context is still there
    // for the objects' textures and lists.
    context.effects.DestroyAll();
    context.ending = show::Context::Ending::None;
    return result;
}

void StopScript(void* context)
{
    auto* target = static_cast<show::Context*>(context);
    if (target->tearingDown) {
        // Nothing to stop and nowhere to land: the request waits.
        target->RequestInterrupt();
        return;
    }
    target->ending = show::Context::Ending::Stopped;
    dTHX;
    my_exit(0);
}

}  // namespace host
