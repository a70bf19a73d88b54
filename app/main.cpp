// Entry point: read the options, then run the video, sound and script stages
// against the one show context.
#include "host/Options.h"
#include "record/Recording.h"
#include "host/ScriptHost.h"
#include "host/Stages.h"
#include "watch/Watch.h"

#include <cstdio>
#include <cstdlib>

namespace {

constexpr const char* kMusicFile = "derure.mp3";

}  // namespace

int main(int argc, char** argv, char** env)
{
    // Our lines and the script's share standard output; keep them in the
    // order they were printed also when it is a pipe.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    const host::Settings settings =
        host::ParseOptions(argc, argv, std::getenv("POSIXLY_CORRECT") != nullptr, stderr);

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
    int result;
    if (recording) {
        host::ScriptRuntime runtime(&argc, &argv, &env);
        result = recording->Run(context, kMusicFile);
    } else if (host::InitVideo(settings.width, settings.height, settings.depth, settings.fullscreen, context) != 0) {
        std::printf("SDL is GORT!\n");
        result = 1;
    } else if (host::InitSound(kMusicFile, context) != 0) {
        std::printf("Geluid is GORT!\n");
        result = 1;
    } else {
        host::RestoreTerminationSignals();
        host::StartAuthoring(settings.watch, settings.editor, settings.editorHost, settings.editorPort, context);
        host::ScriptRuntime runtime(&argc, &argv, &env);
        host::RunRules rules;
        rules.beforeProcessExit = host::CloseStages;
        result = settings.watch ? watch::RunWatching(context, kMusicFile) : host::RunScript(context, rules).status;
    }

    // The effect objects went with the run.
    host::CloseStages(context);
    return result;
}
