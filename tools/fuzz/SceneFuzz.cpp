// Fuzzes the 3DS path end to end: the file is written where the Model reads
// it, checked, parsed by lib3ds, evaluated, and (unless FUZZ_SCENE_NO_GL is
// set) played twice in a GL context, which compiles every node's display list.
// A file the checks refuse must never reach lib3ds; one they pass must never
// make lib3ds or the drawing code crash, hang or touch memory it does not own.
#include "effects/Model.h"
#include "tools/fuzz/FuzzGl.h"

#include <lib3ds/file.h>
#include <lib3ds/node.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

std::string scenePath;
bool withGl = true;

void DeleteLists(Lib3dsNode* node)
{
    for (; node; node = node->next) {
        if (node->user.d != 0)
            glDeleteLists(node->user.d, 1);
        DeleteLists(node->childs);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Per process, in RAM: parallel jobs never share a file.
    scenePath = "/dev/shm/scene-fuzz-" + std::to_string(getpid()) + ".3ds";
    withGl = std::getenv("FUZZ_SCENE_NO_GL") == nullptr;
    if (withGl)
        fuzz::OpenWindow();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::FILE* f = std::fopen(scenePath.c_str(), "wb");
    if (!f)
        __builtin_trap();
    if (size > 0)
        std::fwrite(data, 1, size, f);
    std::fclose(f);

    Model* model = new Model();
    if (model->SetParams({scenePath.c_str(), 25, 0.0, 0.0, 0.0}) == 0 && withGl) {
        model->Render(0);
        model->Render(1000);
        if (fuzz::DrainErrors() != GL_NO_ERROR)
            __builtin_trap();  // drawing a scene that passed the checks must not upset GL
        DeleteLists(model->scene->nodes);
    }
    delete model;  // frees the scene, so leak detection sees only real leaks
    unlink(scenePath.c_str());
    return 0;
}
