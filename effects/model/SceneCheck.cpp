// Loading 3DS scenes safely: checks before and after lib3ds parses a file.
//
// lib3ds 1.3 believes whatever a file says. A chunk of size 0 keeps its read
// loop on the same chunk for ever; a material group writes the material name
// into whatever face index it names; face corners index the point list
// unchecked (already while reading, to compute face normals); key counts of
// tracks drive allocation loops; a node that names itself as parent sends the
// node insertion into endless recursion. So the file is read into memory once,
// its chunk tree is walked here along the same paths lib3ds takes, and only a
// file that passes is handed to lib3ds, through an in-memory reader whose
// total read volume is bounded (a last guard against loops in chunks this
// walk does not descend into). The parsed scene is then checked for what the
// drawing code relies on.
#include "effects/model/SceneCheck.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <lib3ds/chunk.h>
#include <lib3ds/io.h>
#include <lib3ds/mesh.h>
#include <lib3ds/node.h>

namespace scene_check {
namespace {

constexpr std::size_t kChunkHeader = 6;    // id word + size dword
constexpr std::size_t kMaxString = 64;     // lib3ds name buffers, NUL included
constexpr std::size_t kVector = 12;
constexpr std::size_t kFaceRecord = 8;     // three corner words + flags word
constexpr std::size_t kTexel = 8;
constexpr std::size_t kCameraPrefix = 32;  // position, target, roll, fov
constexpr std::size_t kSpotPrefix = 20;    // target, hotspot, falloff
constexpr std::size_t kTrackHeader = 14;   // flags, 8 unused bytes, key count
constexpr std::size_t kKeyHeader = 6;      // frame dword + spline flags word
constexpr std::size_t kMeshMatrixBytes = 48;
constexpr std::size_t kNodeHeaderWords = 6;  // flags1, flags2, parent id
constexpr unsigned kNoParent = LIB3DS_NO_PARENT;
constexpr unsigned kHeaderlessParent = 0;  // lib3ds allocates node records zeroed
// Bytes the parser may read per byte of file: chunk headers are read twice
// per nesting level, data once. Beyond this it is looping.
constexpr std::size_t kReadBudgetFactor = 16;
constexpr std::size_t kReadBudgetSlack = 4096;

unsigned Word(const unsigned char* p) { return p[0] | (p[1] << 8); }
uint32_t Dword(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

// Chunks inside a material that hold a colour, a percentage or a texture map
// as sub-chunks directly after their header.
bool IsMaterialContainer(unsigned id)
{
    switch (id) {
    case LIB3DS_MAT_AMBIENT:
    case LIB3DS_MAT_DIFFUSE:
    case LIB3DS_MAT_SPECULAR:
    case LIB3DS_MAT_SHININESS:
    case LIB3DS_MAT_SHIN2PCT:
    case LIB3DS_MAT_TRANSPARENCY:
    case LIB3DS_MAT_XPFALL:
    case LIB3DS_MAT_REFBLUR:
    case LIB3DS_MAT_SELF_ILPCT:
    case LIB3DS_MAT_TEXMAP:
    case LIB3DS_MAT_TEXMASK:
    case LIB3DS_MAT_TEX2MAP:
    case LIB3DS_MAT_TEX2MASK:
    case LIB3DS_MAT_OPACMAP:
    case LIB3DS_MAT_OPACMASK:
    case LIB3DS_MAT_BUMPMAP:
    case LIB3DS_MAT_BUMPMASK:
    case LIB3DS_MAT_SPECMAP:
    case LIB3DS_MAT_SPECMASK:
    case LIB3DS_MAT_SHINMAP:
    case LIB3DS_MAT_SHINMASK:
    case LIB3DS_MAT_SELFIMAP:
    case LIB3DS_MAT_SELFIMASK:
    case LIB3DS_MAT_REFLMAP:
    case LIB3DS_MAT_REFLMASK:
        return true;
    default:
        return false;
    }
}

bool IsNodeTag(unsigned id) { return id >= LIB3DS_AMBIENT_NODE_TAG && id <= LIB3DS_SPOTLIGHT_NODE_TAG; }

// Bytes of one key's value, by track; -1 for a name (morph keys).
int KeyValueBytes(unsigned track)
{
    switch (track) {
    case LIB3DS_POS_TRACK_TAG:
    case LIB3DS_SCL_TRACK_TAG:
    case LIB3DS_COL_TRACK_TAG:
        return 12;
    case LIB3DS_ROT_TRACK_TAG:
        return 16;  // angle and axis
    case LIB3DS_FOV_TRACK_TAG:
    case LIB3DS_ROLL_TRACK_TAG:
    case LIB3DS_HOT_TRACK_TAG:
    case LIB3DS_FALL_TRACK_TAG:
        return 4;
    case LIB3DS_HIDE_TRACK_TAG:
        return 0;
    case LIB3DS_MORPH_TRACK_TAG:
        return -1;
    default:
        return 0;
    }
}

struct NodeRecord {
    unsigned id;
    unsigned parent;
};

class ChunkWalker {
public:
    ChunkWalker(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

    std::string Run()
    {
        if (size_ < kChunkHeader)
            return "shorter than a chunk header";
        const unsigned id = Word(data_);
        const uint32_t size = Dword(data_ + 2);
        if (id != LIB3DS_M3DMAGIC)
            return "not a 3DS scene";
        if (size < kChunkHeader)
            return "main chunk of size " + std::to_string(size);
        if (size > size_)
            return "truncated: the main chunk claims " + std::to_string(size) + " bytes, the file has " +
                   std::to_string(size_);
        Children(kChunkHeader, size, 1, &ChunkWalker::MainChild);
        if (error_.empty())
            CheckNodeGraph();
        return error_;
    }

private:
    using Visitor = void (ChunkWalker::*)(unsigned id, std::size_t begin, std::size_t end, int depth);

    bool Fail(const std::string& why)
    {
        if (error_.empty())
            error_ = why;
        return false;
    }
    static std::string Hex(unsigned id)
    {
        char text[8];
        std::snprintf(text, sizeof text, "%04X", id);
        return text;
    }

    // Walks the chunks in [begin, end), each of which must fit inside.
    void Children(std::size_t begin, std::size_t end, int depth, Visitor visit)
    {
        if (depth > kMaxChunkDepth) {
            Fail("chunks nested deeper than " + std::to_string(kMaxChunkDepth));
            return;
        }
        std::size_t pos = begin;
        while (pos < end && error_.empty()) {
            if (end - pos < kChunkHeader) {
                Fail("chunk header overruns its parent at byte " + std::to_string(pos));
                return;
            }
            const unsigned id = Word(data_ + pos);
            const uint32_t size = Dword(data_ + pos + 2);
            if (size < kChunkHeader) {
                Fail("chunk " + Hex(id) + " of size " + std::to_string(size) + " at byte " + std::to_string(pos));
                return;
            }
            if (size > end - pos) {
                Fail("chunk " + Hex(id) + " at byte " + std::to_string(pos) + " overruns its parent");
                return;
            }
            (this->*visit)(id, pos + kChunkHeader, pos + size, depth + 1);
            pos += size;
        }
    }

    // A NUL-terminated name starting at pos, within end and lib3ds's buffer.
    bool String(std::size_t pos, std::size_t end, std::size_t* after, const char* what)
    {
        const std::size_t limit = std::min(end, pos + kMaxString);
        for (std::size_t i = pos; i < limit; ++i) {
            if (data_[i] == '\0') {
                *after = i + 1;
                return true;
            }
        }
        return Fail(std::string(what) + " name unterminated or longer than 63 bytes");
    }

    bool Need(std::size_t begin, std::size_t end, std::size_t bytes, const char* what)
    {
        if (end - begin < bytes)
            return Fail(std::string(what) + " chunk too short for its contents");
        return true;
    }

    void Leaf(unsigned, std::size_t, std::size_t, int) {}

    void MainChild(unsigned id, std::size_t begin, std::size_t end, int depth)
    {
        if (id == LIB3DS_MDATA)
            Children(begin, end, depth, &ChunkWalker::EditorChild);
        else if (id == LIB3DS_KFDATA) {
            nodeCounter_ = 0;
            Children(begin, end, depth, &ChunkWalker::KeyframerChild);
        }
    }

    void EditorChild(unsigned id, std::size_t begin, std::size_t end, int depth)
    {
        if (id == LIB3DS_MAT_ENTRY) {
            if (++materials_ > kMaxMaterials) {
                Fail("more than " + std::to_string(kMaxMaterials) + " materials");
                return;
            }
            Children(begin, end, depth, &ChunkWalker::MaterialChild);
        } else if (id == LIB3DS_NAMED_OBJECT) {
            if (++namedObjects_ > kMaxNamedObjects) {
                Fail("more than " + std::to_string(kMaxNamedObjects) + " named objects");
                return;
            }
            std::size_t after;
            if (String(begin, end, &after, "object"))
                Children(after, end, depth, &ChunkWalker::ObjectChild);
        }
    }

    void MaterialChild(unsigned id, std::size_t begin, std::size_t end, int depth)
    {
        std::size_t after;
        if (id == LIB3DS_MAT_NAME)
            String(begin, end, &after, "material");
        else if (IsMaterialContainer(id))
            Children(begin, end, depth, &ChunkWalker::MapChild);
    }

    void MapChild(unsigned id, std::size_t begin, std::size_t end, int)
    {
        std::size_t after;
        if (id == LIB3DS_MAT_MAPNAME)
            String(begin, end, &after, "texture map");
    }

    void ObjectChild(unsigned id, std::size_t begin, std::size_t end, int depth)
    {
        if (id == LIB3DS_N_TRI_OBJECT) {
            mesh_ = MeshState{};
            Children(begin, end, depth, &ChunkWalker::MeshChild);
            if (error_.empty() && mesh_.faces > 0 && mesh_.highestCorner >= mesh_.points)
                Fail("a face uses point " + std::to_string(mesh_.highestCorner) + " of " +
                     std::to_string(mesh_.points));
        } else if (id == LIB3DS_N_DIRECT_LIGHT) {
            if (Need(begin, end, kVector, "light"))
                Children(begin + kVector, end, depth, &ChunkWalker::LightChild);
        } else if (id == LIB3DS_N_CAMERA) {
            if (Need(begin, end, kCameraPrefix, "camera"))
                Children(begin + kCameraPrefix, end, depth, &ChunkWalker::Leaf);
        }
    }

    void LightChild(unsigned id, std::size_t begin, std::size_t end, int depth)
    {
        if (id == LIB3DS_DL_SPOTLIGHT && Need(begin, end, kSpotPrefix, "spotlight"))
            Children(begin + kSpotPrefix, end, depth, &ChunkWalker::Leaf);
    }

    void MeshChild(unsigned id, std::size_t begin, std::size_t end, int depth)
    {
        switch (id) {
        case LIB3DS_POINT_ARRAY:
            if (++mesh_.pointArrays > 1) {
                Fail("mesh with two point arrays");
                return;
            }
            if (Need(begin, end, 2, "point array")) {
                mesh_.points = Word(data_ + begin);
                Need(begin + 2, end, mesh_.points * kVector, "point array");
            }
            break;
        case LIB3DS_POINT_FLAG_ARRAY:
            if (Need(begin, end, 2, "point flag array"))
                Need(begin + 2, end, Word(data_ + begin) * 2u, "point flag array");
            break;
        case LIB3DS_TEX_VERTS:
            if (++mesh_.texelArrays > 1) {
                Fail("mesh with two texture coordinate arrays");
                return;
            }
            if (Need(begin, end, 2, "texture coordinate array"))
                Need(begin + 2, end, Word(data_ + begin) * kTexel, "texture coordinate array");
            break;
        case LIB3DS_MESH_MATRIX:
            Need(begin, end, kMeshMatrixBytes, "mesh matrix");
            break;
        case LIB3DS_FACE_ARRAY: {
            if (++mesh_.faceArrays > 1) {
                Fail("mesh with two face arrays");
                return;
            }
            if (!Need(begin, end, 2, "face array"))
                return;
            mesh_.faces = Word(data_ + begin);
            const std::size_t records = begin + 2;
            if (!Need(records, end, mesh_.faces * kFaceRecord, "face array"))
                return;
            for (unsigned i = 0; i < mesh_.faces; ++i)
                for (int corner = 0; corner < 3; ++corner)
                    mesh_.highestCorner =
                        std::max(mesh_.highestCorner, Word(data_ + records + i * kFaceRecord + corner * 2));
            Children(records + mesh_.faces * kFaceRecord, end, depth, &ChunkWalker::FaceChild);
            break;
        }
        default:
            break;
        }
    }

    void FaceChild(unsigned id, std::size_t begin, std::size_t end, int)
    {
        if (id == LIB3DS_SMOOTH_GROUP) {
            Need(begin, end, mesh_.faces * 4u, "smoothing group");
        } else if (id == LIB3DS_MSH_MAT_GROUP) {
            std::size_t after;
            if (!String(begin, end, &after, "material group") || !Need(after, end, 2, "material group"))
                return;
            const unsigned count = Word(data_ + after);
            if (!Need(after + 2, end, count * 2u, "material group"))
                return;
            for (unsigned i = 0; i < count; ++i) {
                const unsigned face = Word(data_ + after + 2 + i * 2);
                if (face >= mesh_.faces) {
                    Fail("material group names face " + std::to_string(face) + " of " + std::to_string(mesh_.faces));
                    return;
                }
            }
        } else if (id == LIB3DS_MSH_BOXMAP) {
            std::size_t pos = begin;
            for (int side = 0; side < 6 && error_.empty(); ++side)
                String(pos, end, &pos, "box map");
        }
    }

    void KeyframerChild(unsigned id, std::size_t begin, std::size_t end, int depth)
    {
        if (id == LIB3DS_KFHDR) {
            std::size_t after;
            if (Need(begin, end, 2, "keyframer header"))
                String(begin + 2, end, &after, "keyframer header");
            return;
        }
        if (!IsNodeTag(id))
            return;
        if (nodes_.size() >= kMaxNodes) {
            Fail("more than " + std::to_string(kMaxNodes) + " nodes");
            return;
        }
        // lib3ds numbers nodes in file order; a node id chunk overrides that.
        // The parent comes from the node header; a node without one keeps
        // the parent id 0 of lib3ds's zeroed record, so the first node of a
        // file, headerless, is its own parent and sends lib3ds's insertion
        // into endless recursion.
        node_ = NodeRecord{nodeCounter_++, kHeaderlessParent};
        Children(begin, end, depth, &ChunkWalker::NodeChild);
        nodes_.push_back(node_);
    }

    void NodeChild(unsigned id, std::size_t begin, std::size_t end, int)
    {
        std::size_t after;
        if (id == LIB3DS_NODE_ID) {
            if (Need(begin, end, 2, "node id"))
                node_.id = Word(data_ + begin);
        } else if (id == LIB3DS_NODE_HDR) {
            if (String(begin, end, &after, "node") && Need(after, end, kNodeHeaderWords, "node header"))
                node_.parent = Word(data_ + after + 4);
        } else if (id == LIB3DS_INSTANCE_NAME) {
            String(begin, end, &after, "instance");
        } else if (id == LIB3DS_PIVOT) {
            Need(begin, end, kVector, "pivot");
        } else if (id >= LIB3DS_POS_TRACK_TAG && id <= LIB3DS_HIDE_TRACK_TAG) {
            Track(id, begin, end);
        }
    }

    void Track(unsigned id, std::size_t begin, std::size_t end)
    {
        if (!Need(begin, end, kTrackHeader, "track"))
            return;
        const int32_t keys = static_cast<int32_t>(Dword(data_ + begin + 10));
        if (keys < 0 || static_cast<uint32_t>(keys) > kMaxTrackKeys) {
            Fail("track with " + std::to_string(keys) + " keys");
            return;
        }
        const int valueBytes = KeyValueBytes(id);
        std::size_t pos = begin + kTrackHeader;
        for (int32_t k = 0; k < keys; ++k) {
            if (!Need(pos, end, kKeyHeader, "track"))
                return;
            const unsigned flags = Word(data_ + pos + 4);
            pos += kKeyHeader;
            for (unsigned bit = LIB3DS_USE_TENSION; bit <= LIB3DS_USE_EASE_FROM; bit <<= 1)
                if (flags & bit)
                    pos += 4;
            if (pos > end)
                return (void)Fail("track keys overrun their chunk");
            if (valueBytes < 0) {
                if (!String(pos, end, &pos, "morph key"))
                    return;
            } else {
                if (!Need(pos, end, static_cast<std::size_t>(valueBytes), "track"))
                    return;
                pos += static_cast<std::size_t>(valueBytes);
            }
        }
    }

    // Every parent link lib3ds could make (to any node bearing the parent's
    // id) must lead to a root within the depth limit: no cycle, no self-parent.
    void CheckNodeGraph()
    {
        std::unordered_map<unsigned, std::vector<std::size_t>> byId;
        for (std::size_t i = 0; i < nodes_.size(); ++i)
            byId[nodes_[i].id].push_back(i);
        // Longest chain of parents above each node, by memoised depth-first
        // search with an explicit stack (0: unvisited, -1: on the stack).
        std::vector<int> height(nodes_.size(), 0);
        for (std::size_t start = 0; start < nodes_.size(); ++start) {
            if (height[start] != 0)
                continue;
            struct Frame {
                std::size_t node;
                std::size_t next;  // index into the parent candidates
            };
            std::vector<Frame> stack{{start, 0}};
            height[start] = -1;
            while (!stack.empty()) {
                Frame& top = stack.back();
                const NodeRecord& record = nodes_[top.node];
                const std::vector<std::size_t>* parents = nullptr;
                if (record.parent != kNoParent) {
                    auto found = byId.find(record.parent);
                    if (found != byId.end())
                        parents = &found->second;
                }
                if (parents && top.next < parents->size()) {
                    const std::size_t parent = (*parents)[top.next++];
                    if (height[parent] == -1)
                        return (void)Fail("node hierarchy has a cycle through node id " +
                                          std::to_string(nodes_[parent].id));
                    if (height[parent] == 0) {
                        height[parent] = -1;
                        stack.push_back({parent, 0});
                    }
                    continue;
                }
                int tallest = 1;
                if (parents)
                    for (std::size_t parent : *parents)
                        tallest = std::max(tallest, height[parent] + 1);
                if (tallest > kMaxNodeDepth)
                    return (void)Fail("node hierarchy deeper than " + std::to_string(kMaxNodeDepth));
                height[top.node] = tallest;
                stack.pop_back();
            }
        }
    }

    struct MeshState {
        int pointArrays = 0, faceArrays = 0, texelArrays = 0;
        unsigned points = 0, faces = 0, highestCorner = 0;
    };

    const unsigned char* data_;
    std::size_t size_;
    std::string error_;
    unsigned materials_ = 0, namedObjects_ = 0;
    MeshState mesh_;
    std::vector<NodeRecord> nodes_;
    NodeRecord node_{0, kNoParent};
    unsigned nodeCounter_ = 0;
};

// ---------------------------------------------------------------------------
// In-memory reader for lib3ds with a bounded read volume.

struct MemoryReader {
    const unsigned char* data;
    long size;
    long pos = 0;
    std::size_t budget;
    bool error = false;      // read past the end
    bool exhausted = false;  // read budget spent: the parser was looping
};

Lib3dsBool ReaderError(void* self) { return static_cast<MemoryReader*>(self)->error ? LIB3DS_TRUE : LIB3DS_FALSE; }

long ReaderSeek(void* self, long offset, Lib3dsIoSeek origin)
{
    MemoryReader* r = static_cast<MemoryReader*>(self);
    long base = origin == LIB3DS_SEEK_SET ? 0 : origin == LIB3DS_SEEK_CUR ? r->pos : r->size;
    if (offset > 0 && base > LONG_MAX - offset)
        return -1;
    const long target = base + offset;
    if (target < 0)
        return -1;
    r->pos = target;
    return 0;
}

long ReaderTell(void* self) { return static_cast<MemoryReader*>(self)->pos; }

// Fills the whole buffer: bytes past the end (or past the budget) read as 0,
// so that lib3ds's loops, which stop at chunk id 0, come to an end.
size_t ReaderRead(void* self, void* buffer, size_t size)
{
    MemoryReader* r = static_cast<MemoryReader*>(self);
    std::memset(buffer, 0, size);
    if (size > r->budget) {
        r->budget = 0;
        r->exhausted = r->error = true;
        return 0;
    }
    r->budget -= size;
    if (r->pos >= r->size) {
        r->error = true;
        return 0;
    }
    const size_t available = static_cast<size_t>(r->size - r->pos);
    const size_t copied = std::min(size, available);
    std::memcpy(buffer, r->data + r->pos, copied);
    r->pos += static_cast<long>(copied);
    if (copied < size)
        r->error = true;
    return copied;
}

size_t ReaderWrite(void*, const void*, size_t) { return 0; }

void CountNodes(Lib3dsNode* node, int depth, std::unordered_set<Lib3dsNode*>& seen, std::string& error)
{
    for (; node && error.empty(); node = node->next) {
        if (depth > kMaxNodeDepth || !seen.insert(node).second) {
            error = "node tree has a cycle or is too deep";
            return;
        }
        CountNodes(node->childs, depth + 1, seen, error);
    }
}

bool ReadWholeFile(const char* path, std::vector<unsigned char>* bytes)
{
    std::FILE* f = std::fopen(path, "rb");
    if (!f)
        return false;
    bool ok = std::fseek(f, 0, SEEK_END) == 0;
    const long size = ok ? std::ftell(f) : -1;
    ok = ok && size >= 0 && size <= kMaxFileBytes && std::fseek(f, 0, SEEK_SET) == 0;
    if (ok) {
        bytes->resize(static_cast<std::size_t>(size));
        ok = size == 0 || std::fread(bytes->data(), 1, bytes->size(), f) == bytes->size();
    }
    std::fclose(f);
    return ok;
}

}  // namespace

std::string CheckChunks(const unsigned char* data, std::size_t size)
{
    return ChunkWalker(data, size).Run();
}

std::string CheckScene(Lib3dsFile* file)
{
    for (Lib3dsMesh* mesh = file->meshes; mesh; mesh = mesh->next) {
        const std::string which = std::string("mesh ") + mesh->name + ": ";
        if (mesh->faces > 0 && (!mesh->faceL || !mesh->pointL))
            return which + "faces without points";
        if (mesh->texels != 0 && (mesh->texels < mesh->points || !mesh->texelL))
            return which + "fewer texture coordinates than points";
        std::vector<unsigned> smoothedCorners(mesh->points, 0);
        for (Lib3dsDword i = 0; i < mesh->faces; ++i) {
            const Lib3dsFace& face = mesh->faceL[i];
            for (int j = 0; j < 3; ++j) {
                if (face.points[j] >= mesh->points)
                    return which + "face corner past the points";
                if (face.smoothing != 0 && ++smoothedCorners[face.points[j]] > kMaxSmoothedCornersPerVertex)
                    return which + "a vertex shared by more than 128 smoothed faces";
            }
        }
    }
    std::unordered_set<Lib3dsNode*> seen;
    std::string error;
    CountNodes(file->nodes, 0, seen, error);
    return error;
}

Lib3dsFile* LoadScene(const char* path, std::string* why)
{
    std::string scratch;
    std::string& reason = why ? *why : scratch;
    if (!path) {
        reason = "no file name";
        return nullptr;
    }
    std::vector<unsigned char> bytes;
    if (!ReadWholeFile(path, &bytes)) {
        reason = std::string("cannot read ") + path;
        return nullptr;
    }
    reason = CheckChunks(bytes.data(), bytes.size());
    if (!reason.empty())
        return nullptr;

    MemoryReader reader{bytes.data(), static_cast<long>(bytes.size()), 0,
                        bytes.size() * kReadBudgetFactor + kReadBudgetSlack};
    Lib3dsIo* io = lib3ds_io_new(&reader, ReaderError, ReaderSeek, ReaderTell, ReaderRead, ReaderWrite);
    Lib3dsFile* file = io ? lib3ds_file_new() : nullptr;
    if (!file) {
        if (io)
            lib3ds_io_free(io);
        reason = "out of memory";
        return nullptr;
    }
    const bool parsed = lib3ds_file_read(file, io) != LIB3DS_FALSE;
    lib3ds_io_free(io);
    if (!parsed || reader.exhausted) {
        lib3ds_file_free(file);
        reason = reader.exhausted ? "the parser kept reading in circles" : "lib3ds could not parse it";
        return nullptr;
    }
    reason = CheckScene(file);
    if (!reason.empty()) {
        // A tree that is not a tree cannot be freed by lib3ds's recursive
        // free; the chunk check makes that case unreachable, but a leak is
        // still better than a hang.
        std::unordered_set<Lib3dsNode*> seen;
        std::string treeError;
        CountNodes(file->nodes, 0, seen, treeError);
        if (treeError.empty())
            lib3ds_file_free(file);
        return nullptr;
    }
    return file;
}

}  // namespace scene_check
