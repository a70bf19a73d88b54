// The plain side of the frame benchmark: opens the window as the player does
// and draws an effect's scene frame after frame with no interpreter, then
// prints its frame rate. Usage: frame_plain <Effect> [objects] [frames]
#include "bench/frames/Scenes.h"

#include <GL/gl.h>
#include <SDL.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/time.h>
#include <sys/times.h>
#include <unistd.h>

namespace {

using frame_bench::Scene;

constexpr int kWidth = 800;
constexpr int kHeight = 600;
constexpr int kWarmUpFrames = 20;  // textures are built and caches filled here
constexpr int kFrameStepMs = 20;   // show time advances 20 ms per frame

struct Effect {
    const char* name;
    std::unique_ptr<Scene> (*make)(int objects);
};

// One line per effect; the show script bench/frames/<name>.pl mirrors it.
const Effect kEffects[] = {
    {"Image", frame_bench::MakeImageScene},
    {"BalTrap", frame_bench::MakeBalTrapScene},
    {"InkStain", frame_bench::MakeInkStainScene},
};

double NowSeconds()
{
    timeval now;
    gettimeofday(&now, nullptr);
    return now.tv_sec + now.tv_usec / 1e6;
}

// CPU seconds of the whole process (every thread, GL driver included): the
// steadier measure on a machine shared with other work.
double CpuSeconds()
{
    tms now;
    times(&now);
    return static_cast<double>(now.tms_utime + now.tms_stime) / sysconf(_SC_CLK_TCK);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <Effect> [objects] [frames]\n", argv[0]);
        return 2;
    }
    const int objects = argc > 2 ? std::atoi(argv[2]) : 200;
    const int frames = argc > 3 ? std::atoi(argv[3]) : 300;
    const Effect* effect = nullptr;
    for (const Effect& candidate : kEffects)
        if (std::strcmp(candidate.name, argv[1]) == 0)
            effect = &candidate;
    if (!effect) {
        std::fprintf(stderr, "no scene for effect %s\n", argv[1]);
        return 2;
    }

    // The player's window: windowed 800 x 600, 32 bits, double-buffered.
    setenv("SDL_VIDEODRIVER", "x11", 0);
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_NOPARACHUTE) < 0) {
        std::fprintf(stderr, "no video: %s\n", SDL_GetError());
        return 1;
    }
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    const Uint32 flags = SDL_OPENGL | SDL_HWPALETTE | SDL_HWSURFACE | SDL_HWACCEL | SDL_DOUBLEBUF;
    if (!SDL_SetVideoMode(kWidth, kHeight, 32, flags)) {
        std::fprintf(stderr, "no window: %s\n", SDL_GetError());
        return 1;
    }

    std::unique_ptr<Scene> scene = effect->make(objects);
    double start = 0, cpuStart = 0;
    for (int frame = 0; frame < kWarmUpFrames + frames; ++frame) {
        if (frame == kWarmUpFrames) {
            start = NowSeconds();
            cpuStart = CpuSeconds();
        }
        SDL_PumpEvents();
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        scene->Frame(frame * kFrameStepMs);
        SDL_GL_SwapBuffers();
    }
    const double seconds = NowSeconds() - start;
    const double cpuSeconds = CpuSeconds() - cpuStart;
    std::printf("plain %s: %.1f fps, %.1f frames per CPU second (%d frames, %d objects)\n", effect->name,
                frames / seconds, frames / cpuSeconds, frames, objects);
    scene.reset();
    SDL_Quit();
    return 0;
}
