// Entry point: read the options, then run the video, sound and script stages.
#include "host/Options.h"
#include "host/Stages.h"
#include "host/State.h"

#include <SDL.h>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr const char* kMusicFile = "derure.mp3";

}  // namespace

int main(int argc, char** argv, char** env)
{
    state::processArgc = &argc;
    state::processArgv = &argv;
    state::processEnv = &env;

    // Our lines and the script's share standard output; keep them in the
    // order they were printed also when it is a pipe.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    const host::Settings settings =
        host::ParseOptions(argc, argv, std::getenv("POSIXLY_CORRECT") != nullptr, stderr);

    if (!settings.error.empty()) {
        std::fprintf(stderr, "showplayer: %s\n", settings.error.c_str());
        return 1;
    }

    std::printf("using resolution %dx%d %dbpp%s\n", settings.width, settings.height, settings.depth,
                settings.fullscreen ? " [fs]" : "");

    int result;
    if (host::InitVideo(settings.width, settings.height, settings.depth, settings.fullscreen) != 0) {
        std::printf("SDL is GORT!\n");
        result = 1;
    } else if (host::InitSound(kMusicFile) != 0) {
        std::printf("Geluid is GORT!\n");
        result = 1;
    } else {
        result = host::RunScript(settings.width, settings.height, settings.depth);
    }

    SDL_Quit();
    return result;
}
