// The script host: runs "main.pl" in an embedded Perl interpreter against a
// show context, one run at a time, as often as a caller likes.
//
// One run: build an interpreter, install the context into it, parse and run
// "main.pl", call its main with the window's width, height and ready flag,
// destroy the interpreter (the script's END blocks run then) and destroy the
// effect objects the script made. The window, the GL context and the music
// stay open across runs; they are the caller's.
#pragma once

#include "bindings/Context.h"

#include <string>

namespace host {

// The runtime's process-level set-up and tear-down, once per process around
// every run; main's own arguments are what it takes by address.
class ScriptRuntime {
public:
    ScriptRuntime(int* argc, char*** argv, char*** env);
    ~ScriptRuntime();
    ScriptRuntime(const ScriptRuntime&) = delete;
    ScriptRuntime& operator=(const ScriptRuntime&) = delete;
};

// How a run ended.
enum class RunEnd {
    Returned,  // main returned; status is its result as an integer
    Closed,    // the window was asked to close (glPumpEvents); status 0
    Stopped,   // StopScript ended it (an interrupt hook); status 0
    Exited,    // the script called exit, or an error ended it; status is Perl's
    Failed,    // (RunRules::reportErrors) main.pl did not compile or an error ended it
};

struct RunResult {
    RunEnd end = RunEnd::Returned;
    int status = 0;
    std::string error;  // RunEnd::Failed: Perl's message, with file and line
};

struct RunRules {
    // An exit or an uncaught error inside main ends the process at once with
    // Perl's status, without END blocks, as for a standalone script that the
    // runtime ends. Otherwise the run ends as after a return (END blocks run)
    // and reports RunEnd::Exited.
    bool exitEndsProcess = true;
    // Called with the context just before such an exit, so that the sound
    // output and the window close first: a device thread still running while
    // the process unloads its libraries can crash it at the last moment.
    void (*beforeProcessExit)(show::Context&) = nullptr;
    // An error that would end the script (main.pl does not compile, its top
    // level dies, or main dies) ends the run with RunEnd::Failed and Perl's
    // message instead, which is also printed on standard error. The script's
    // END blocks run and its objects are destroyed as after a return. main is
    // then called as in an eval ($^S is true inside it).
    bool reportErrors = false;
};

// One run of "main.pl" in the show folder (context.folder; the working
// directory when there is none) against context, which must hold a front
// end. What the script changes of the process (signal handlers and mask,
// standard streams 0-2, environment, umask, current folder) is given back
// when the run ends; the process is then in the show folder. Not reentrant:
// one run at a time.
RunResult RunScript(show::Context& context, const RunRules& rules = {});

// An interrupt hook (show::Context::interruptHook, with the context as its
// data) that ends the running script at the binding call that noticed the
// request, even inside an eval: the run ends with RunEnd::Stopped, its END
// blocks run and its objects are destroyed. Call only from a binding call.
// While the run is torn down (END blocks, DESTROY subs) it ends nothing: the
// request stays pending on the context for whoever runs next or ends.
void StopScript(void* context);

}  // namespace host
