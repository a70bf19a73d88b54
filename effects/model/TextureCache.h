// Textures of one Model's materials, loaded by file name on first request.
#pragma once

#include <vector>

#include "render/Texture.h"

// Searches "models" then "images" for a texture file and keeps every texture
// it loaded for the life of the cache, which owns them: the Model's display
// lists refer to them and go with the Model. Entries are only appended, so an
// index handed out stays valid. A failed load is not remembered: the next
// request for the name searches the disk again.
class TextureCache {
public:
    TextureCache() = default;
    TextureCache(const TextureCache&) = delete;
    TextureCache& operator=(const TextureCache&) = delete;

    // Index of the texture whose base name equals name regardless of case,
    // loading it from the first directory that has it; -1 when none does.
    int FindOrLoad(const char* name);

    const Texture& Entry(int index) const { return entries_[static_cast<std::size_t>(index)]; }
    int Count() const { return static_cast<int>(entries_.size()); }

private:
    static const char* const kDirs[];
    std::vector<Texture> entries_;
};
