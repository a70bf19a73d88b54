// Textures of one Model's materials, loaded by file name on first request.
#include "effects/TextureCache.h"

#include <cstdlib>
#include <string>
#include <strings.h>

// Directories searched in order, relative to the show's working directory.
const char* const TextureCache::kDirs[] = {"models", "images", nullptr};

TextureCache::TextureCache() = default;

TextureCache::~TextureCache()
{
    for (Texture& entry : entries_)
        std::free(entry.name);
}

int TextureCache::FindOrLoad(const char* name)
{
    if (!name)
        return -1;
    for (std::size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].name && strcasecmp(entries_[i].name, name) == 0)
            return static_cast<int>(i);

    for (const char* const* dir = kDirs; *dir; ++dir) {
        const std::string path = std::string(*dir) + "/" + name;
        Texture* loaded = Texture::Create(path.c_str());
        if (!loaded)
            continue;
        // The copy takes over the GL texture and the name; the record goes.
        entries_.push_back(*loaded);
        delete loaded;
        return static_cast<int>(entries_.size()) - 1;
    }
    return -1;
}
