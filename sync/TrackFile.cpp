// Track files: names, reading with every check a damaged file fails, writing
// whole files only.
#include "sync/TrackFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace synctrack {

namespace {

constexpr const char* kPrefix = "sync_";
constexpr const char* kSuffix = ".track";
constexpr std::size_t kCountBytes = 4;
constexpr std::size_t kKeyBytes = 9;

bool Plain(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '/';
}

std::uint32_t ReadLe32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void WriteLe32(unsigned char* p, std::uint32_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

// Makes every folder on the way to path's file.
bool MakeFolders(const std::string& path, std::string* why)
{
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        if (mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
            *why = "cannot make folder " + folder + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

}  // namespace

std::string EncodeName(const std::string& name)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(name.size());
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (Plain(byte)) {
            encoded += c;
        } else {
            encoded += '-';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 15];
        }
    }
    return encoded;
}

std::string TrackFileName(const std::string& name) { return kPrefix + EncodeName(name) + kSuffix; }

std::string RawTrackFileName(const std::string& name) { return kPrefix + name + kSuffix; }

bool StaysInside(const std::string& name)
{
    // The encoded file name holds no byte but the plain ones, so only its own
    // "." and ".." components can climb.
    const std::string path = TrackFileName(name);
    if (path.empty() || path[0] == '/')
        return false;
    int depth = 0;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (--depth < 0)
                return false;
        } else if (!part.empty() && part != ".") {
            ++depth;
        }
        start = end + 1;
    }
    return true;
}

LoadResult LoadTrackFile(const std::string& path, std::vector<Key>* keys, std::string* why)
{
    keys->clear();
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        if (errno == ENOENT || errno == ENOTDIR)
            return LoadResult::Missing;
        *why = std::strerror(errno);
        return LoadResult::Damaged;
    }
    std::vector<unsigned char> bytes;
    unsigned char block[65536];
    std::size_t got;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0)
        bytes.insert(bytes.end(), block, block + got);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    char text[160];
    if (failed) {
        *why = "cannot be read";
        return LoadResult::Damaged;
    }
    if (bytes.size() < kCountBytes) {
        std::snprintf(text, sizeof text, "truncated: %zu bytes, no key count", bytes.size());
        *why = text;
        return LoadResult::Damaged;
    }
    const auto count = static_cast<std::int32_t>(ReadLe32(bytes.data()));
    const std::size_t body = bytes.size() - kCountBytes;
    const std::size_t room = body / kKeyBytes;
    if (count < 0 || static_cast<std::size_t>(count) != room || body % kKeyBytes != 0) {
        if (count >= 0 && room < static_cast<std::size_t>(count))
            std::snprintf(text, sizeof text, "truncated: %d keys counted, %zu bytes short", count,
                          static_cast<std::size_t>(count) * kKeyBytes - body);
        else if (count >= 0 && room == static_cast<std::size_t>(count))
            std::snprintf(text, sizeof text, "%zu trailing bytes after %d keys", body % kKeyBytes, count);
        else if (count >= 0)
            std::snprintf(text, sizeof text, "%d keys counted, but the size holds %zu", count, room);
        else
            std::snprintf(text, sizeof text, "key count %d does not match the size (%zu bytes)", count,
                          bytes.size());
        *why = text;
        return LoadResult::Damaged;
    }
    std::vector<Key> read(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < read.size(); ++i) {
        const unsigned char* p = bytes.data() + kCountBytes + i * kKeyBytes;
        Key& key = read[i];
        key.row = static_cast<std::int32_t>(ReadLe32(p));
        const std::uint32_t bits = ReadLe32(p + 4);
        std::memcpy(&key.value, &bits, sizeof key.value);
        if (p[8] > kLastKeyType) {
            std::snprintf(text, sizeof text, "key %zu (row %d) has type %u, above 3", i, key.row, p[8]);
            *why = text;
            return LoadResult::Damaged;
        }
        key.type = static_cast<KeyType>(p[8]);
        if (i > 0 && key.row <= read[i - 1].row) {
            std::snprintf(text, sizeof text, "key %zu (row %d) does not come after row %d", i, key.row,
                          read[i - 1].row);
            *why = text;
            return LoadResult::Damaged;
        }
    }
    *keys = std::move(read);
    return LoadResult::Loaded;
}

bool SaveTrackFile(const std::string& path, const std::vector<Key>& keys, std::string* why)
{
    if (!MakeFolders(path, why))
        return false;
    std::vector<unsigned char> bytes(kCountBytes + keys.size() * kKeyBytes);
    WriteLe32(bytes.data(), static_cast<std::uint32_t>(keys.size()));
    for (std::size_t i = 0; i < keys.size(); ++i) {
        unsigned char* p = bytes.data() + kCountBytes + i * kKeyBytes;
        std::uint32_t bits;
        std::memcpy(&bits, &keys[i].value, sizeof bits);
        WriteLe32(p, static_cast<std::uint32_t>(keys[i].row));
        WriteLe32(p + 4, bits);
        p[8] = static_cast<unsigned char>(keys[i].type);
    }
    // A player or a build reading the folder never sees half a file.
    const std::string temporary = path + ".saving";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) {
        *why = std::string("cannot write ") + temporary + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
        *why = std::string("cannot write ") + path + ": " + std::strerror(errno);
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace synctrack
