// Entry point: read the options, then run the video, sound and script stages
// against the one show context.
#include "host/Options.h"
#include "record/Recording.h"
#include "host/ScriptHost.h"
#include "host/Stages.h"
#include "host/Usage.h"
#include "watch/Watch.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>

namespace {

constexpr const char* kMusicFile = "derure.mp3";

// Before the live run ends the process for a script error: the stages close,
// and a folder without main.pl gets a line after Perl's own that says where
// shows are.
void CloseBeforeExit(show::Context& context)
{
    host::CloseStages(context);
    host::PrintShowFolderHint(stderr);
}

}  // namespace

int main(int argc, char** argv, char** env)
{
    // Our lines and the script's share standard output; keep them in the
    // order they were printed also when it is a pipe.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    const host::Settings settings =
        host::ParseOptions(argc, argv, std::getenv("POSIXLY_CORRECT") != nullptr, stderr);

    // Asked about the player itself: answer and end, before any window.
    if (settings.help || settings.version) {
        settings.help ? host::PrintUsage(stdout) : host::PrintVersion(stdout);
        return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
    }

    if (!settings.error.empty()) {
        std::fprintf(stderr, "showplayer: %s\n", settings.error.c_str());
        return 1;
    }

    // A recording opens its file first: a path it cannot write or a format
    // it does not know ends the player before anything else happens.
    std::unique_ptr<record::Recording> recording;
    if (!settings.recordPath.empty()) {
        std::string error;
        recording = record::Recording::Open(settings, &error);
        if (!recording) {
            std::fprintf(stderr, "showplayer: %s\n", error.c_str());
            return 1;
        }
    }

    std::printf("using resolution %dx%d %dbpp%s\n", settings.width, settings.height, settings.depth,
                settings.fullscreen ? " [fs]" : "");

    show::Context context;
    // The show folder is the one the player started in, whatever folder a
    // run moves to: held open, every run starts there.
    context.folder = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    int result;
    if (recording) {
        host::ScriptRuntime runtime(&argc, &argv, &env);
        result = recording->Run(context, kMusicFile);
        host::PrintShowFolderHint(stderr);
    } else if (host::InitVideo(settings.width, settings.height, settings.depth, settings.fullscreen, context) != 0) {
        std::printf("SDL is GORT!\n");
        result = 1;
    } else {
        // SDL took SIGINT and SIGTERM with the video stage. Ctrl-C must end
        // the player also while the sound output starts, which can take a
        // while with a sound server that does not answer.
        host::RestoreTerminationSignals();
        if (host::InitSound(kMusicFile, context) != 0) {
            std::printf("Geluid is GORT!\n");
            result = 1;
        } else {
            host::StartAuthoring(settings.watch, settings.editor, settings.editorHost, settings.editorPort, context);
            host::ScriptRuntime runtime(&argc, &argv, &env);
            host::RunRules rules;
            rules.beforeProcessExit = CloseBeforeExit;
            result = settings.watch ? watch::RunWatching(context, kMusicFile) : host::RunScript(context, rules).status;
        }
    }

    // The effect objects went with the run.
    host::CloseStages(context);
    return result;
}
