// Finds and loads the recording module. It sits beside the player in the build
// folder, and in lib/showplayer beside bin/ once installed.
#include "record/Recorder.h"

#include "host/Usage.h"

#include <dlfcn.h>
#include <unistd.h>

namespace record {

namespace {

constexpr const char* kModule = "showplayer-record.so";
constexpr const char* kInstalledFolder = "/../lib/showplayer/";

}  // namespace

std::unique_ptr<Recorder> Recorder::Open(const std::string& path, const std::string& shownPath,
                                         const EncoderSettings& settings, std::string* error)
{
    const std::string folder = host::PlayerFolder();
    std::string reason;
    // Never closed: FFmpeg's libraries keep threads and handlers of their own
    // until the process ends.
    void* module = nullptr;
    for (const std::string& candidate : {folder + "/" + kModule, folder + kInstalledFolder + kModule}) {
        module = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module)
            break;
        if (reason.empty() || access(candidate.c_str(), F_OK) == 0)
            reason = dlerror();
    }
    using OpenFunction = decltype(&showplayer_open_recorder);
    auto open = module ? reinterpret_cast<OpenFunction>(dlsym(module, "showplayer_open_recorder")) : nullptr;
    if (!open) {
        *error = "cannot record: the recording module cannot be loaded (" + (module ? std::string(dlerror()) : reason) + ")";
        return nullptr;
    }
    return std::unique_ptr<Recorder>(open(path, shownPath, settings, error));
}

}  // namespace record
