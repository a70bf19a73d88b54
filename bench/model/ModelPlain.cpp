// The plain side of the Model benchmark: the same scene and display lists as
// the show, drawn by C++ with no interpreter and no per-frame Model work
// beyond lib3ds's own evaluation. Prints its frame rate.
// Usage: model_plain <scene.3ds> [frames]
#include "effects/Model.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <SDL.h>
#include <cstdio>
#include <cstdlib>
#include <sys/time.h>
#include <sys/times.h>
#include <unistd.h>

#include <lib3ds/camera.h>
#include <lib3ds/light.h>

namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 600;
constexpr int kWarmUpFrames = 10;
constexpr int kFrameStepMs = 40;  // one keyframe per frame at 25 fps
constexpr float kFps = 25.0f;

double NowSeconds()
{
    timeval now;
    gettimeofday(&now, nullptr);
    return now.tv_sec + now.tv_usec / 1e6;
}

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
        std::fprintf(stderr, "usage: %s <scene.3ds> [frames]\n", argv[0]);
        return 2;
    }
    const int frames = argc > 2 ? std::atoi(argv[2]) : 60;

    setenv("SDL_VIDEODRIVER", "x11", 0);
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_NOPARACHUTE) < 0)
        return 1;
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    const Uint32 flags = SDL_OPENGL | SDL_HWPALETTE | SDL_HWSURFACE | SDL_HWACCEL | SDL_DOUBLEBUF;
    if (!SDL_SetVideoMode(kWidth, kHeight, 32, flags)) {
        std::fprintf(stderr, "no window: %s\n", SDL_GetError());
        return 1;
    }

    // The Model compiles the lists (and prints its "mesh" lines) once.
    Model model;
    if (model.SetParams({argv[1], 25, 0, 0, 0}) != 0) {
        std::fprintf(stderr, "cannot load %s\n", argv[1]);
        return 1;
    }
    model.Render(0);
    Lib3dsFile* scene = model.scene;
    Lib3dsNode* eye = lib3ds_file_node_by_name(scene, scene->cameras->name, LIB3DS_CAMERA_NODE);
    Lib3dsNode* centre = lib3ds_file_node_by_name(scene, scene->cameras->name, LIB3DS_TARGET_NODE);

    // The GL state the Model's Render sets, set once.
    glShadeModel(GL_SMOOTH);
    glEnable(GL_LIGHTING);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    double start = 0, cpuStart = 0;
    for (int frame = 0; frame < kWarmUpFrames + frames; ++frame) {
        if (frame == kWarmUpFrames) {
            start = NowSeconds();
            cpuStart = CpuSeconds();
        }
        SDL_PumpEvents();
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        lib3ds_file_eval(scene, frame * kFrameStepMs * kFps / 1000.0f);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        gluPerspective(30.0, 1.33, 1.0, 200.0);
        gluLookAt(eye->data.camera.pos[0], eye->data.camera.pos[1], eye->data.camera.pos[2],
                  centre->data.target.pos[0], centre->data.target.pos[1], centre->data.target.pos[2], 0, 0, 1);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        int index = 0;
        for (Lib3dsLight* light = scene->lights; light; light = light->next, ++index) {
            Lib3dsNode* node = lib3ds_file_node_by_name(scene, light->name, LIB3DS_LIGHT_NODE);
            const GLenum id = static_cast<GLenum>(GL_LIGHT0 + index);
            glEnable(id);
            glLightf(id, GL_QUADRATIC_ATTENUATION, 0.005f);
            glLightf(id, GL_LINEAR_ATTENUATION, 0.1f);
            glLightf(id, GL_CONSTANT_ATTENUATION, 0.0f);
            const GLfloat colour[4] = {node->data.light.col[0], node->data.light.col[1], node->data.light.col[2], 0};
            const GLfloat position[4] = {node->data.light.pos[0], node->data.light.pos[1], node->data.light.pos[2], 1};
            glLightfv(id, GL_AMBIENT, colour);
            glLightfv(id, GL_DIFFUSE, colour);
            glLightfv(id, GL_SPECULAR, colour);
            glLightfv(id, GL_POSITION, position);
        }
        for (Lib3dsNode* node = scene->nodes; node; node = node->next) {
            if (node->type != LIB3DS_OBJECT_NODE || node->user.d == 0)
                continue;
            glPushMatrix();
            glMultMatrixf(&node->matrix[0][0]);
            glCallList(node->user.d);
            glPopMatrix();
        }
        SDL_GL_SwapBuffers();
    }
    const double seconds = NowSeconds() - start;
    const double cpuSeconds = CpuSeconds() - cpuStart;
    std::printf("plain Model: %.1f fps, %.1f frames per CPU second (%d frames)\n", frames / seconds,
                frames / cpuSeconds, frames);
    SDL_Quit();
    return 0;
}
