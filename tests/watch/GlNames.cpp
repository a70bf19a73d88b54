// Preloaded into the player by the watch tests: at each buffer swap, when the
// set changed, prints which texture and display-list names the process made GL
// still knows ("gl-names textures 3 4 lists 1 2 3"), in order with the
// script's own lines.
#include <GL/gl.h>
#include <dlfcn.h>
#include <set>
#include <string>
#include <unistd.h>

namespace {

std::set<GLuint> textures;
std::set<GLuint> lists;
std::string lastReport;

template <class F>
F Next(const char* name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

void glGenTextures(GLsizei n, GLuint* names)
{
    static auto next = Next<void (*)(GLsizei, GLuint*)>("glGenTextures");
    next(n, names);
    textures.insert(names, names + n);
}

GLuint glGenLists(GLsizei range)
{
    static auto next = Next<GLuint (*)(GLsizei)>("glGenLists");
    const GLuint base = next(range);
    for (GLsizei i = 0; base != 0 && i < range; ++i)
        lists.insert(base + static_cast<GLuint>(i));
    return base;
}

void SDL_GL_SwapBuffers(void)
{
    static auto next = Next<void (*)(void)>("SDL_GL_SwapBuffers");
    std::string report = "gl-names textures";
    for (GLuint name : textures)
        if (glIsTexture(name))
            report += " " + std::to_string(name);
    report += " lists";
    for (GLuint name : lists)
        if (glIsList(name))
            report += " " + std::to_string(name);
    if (report != lastReport) {
        lastReport = report;
        report += "\n";
        (void)!write(1, report.data(), report.size());
    }
    next();
}

}  // extern "C"
