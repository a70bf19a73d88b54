// Textures of one Model's materials, loaded by file name on first request.
#include "effects/model/TextureCache.h"

#include <optional>
#include <string>
#include <strings.h>

// Directories searched in order, relative to the show's working directory.
const char* const TextureCache::kDirs[] = {"models", "images", nullptr};

int TextureCache::FindOrLoad(const char* name)
{
    if (!name)
        return -1;
    for (std::size_t i = 0; i < entries_.size(); ++i)
        if (strcasecmp(entries_[i].name().c_str(), name) == 0)
            return static_cast<int>(i);

    for (const char* const* dir = kDirs; *dir; ++dir) {
        const std::string path = std::string(*dir) + "/" + name;
        std::optional<Texture> loaded = Texture::Load(path.c_str());
        if (!loaded)
            continue;
        entries_.push_back(std::move(*loaded));
        return static_cast<int>(entries_.size()) - 1;
    }
    return -1;
}
