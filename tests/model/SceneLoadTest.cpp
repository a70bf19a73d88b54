// Loading scenes without a GL context: hostile files are refused with -1 instead of crashing or hanging the
// player (what the scene tool writes is seen through the Model's drawing tests).
#include "effects/Model.h"
#include "tests/model/ModelScenes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>

using model_test::ScratchDir;
using scene3ds::Damage;

namespace {

TEST(SceneTool, RefusesADescriptionItCannotRead)
{
    std::string bytes, error;
    EXPECT_FALSE(scene3ds::BuildScene("quad Q\n", &bytes, &error));
    EXPECT_EQ(error, "line 1: missing word after 'Q'");
    EXPECT_FALSE(scene3ds::BuildScene("frames 10\nspin 0 1\n", &bytes, &error));
    EXPECT_EQ(error, "line 2: unknown statement: spin");
    EXPECT_FALSE(scene3ds::BuildScene("mesh M\npoint 0 0 0\n", &bytes, &error));
    EXPECT_FALSE(scene3ds::BuildScene("object A parent Nobody\n", &bytes, &error));
}

class BadScene : public ::testing::Test {
protected:
    // SetParams on a fresh Model: -1, no scene and nothing else taken either; Render draws nothing.
    void ExpectRefused(const std::string& file, const char* what)
    {
        Model model;
        EXPECT_EQ(model.SetParams({file.c_str(), 10, 1, 2, 3}), -1) << what;
        EXPECT_EQ(model.scene, nullptr) << what;
        EXPECT_EQ(model.fps, 25) << what;
        EXPECT_EQ(model.zoff, 0.0) << what;
        EXPECT_EQ(model.Render(1000), 0) << what;
    }
    void ExpectRefusedBytes(const std::string& bytes, const char* what)
    {
        dir_.Write("bytes.3ds", bytes);
        ExpectRefused(dir_ / "bytes.3ds", what);
    }
    std::string Bytes(const std::string& description, Damage damage = Damage::None)
    {
        std::string bytes, error;
        EXPECT_TRUE(scene3ds::BuildScene(description, &bytes, &error, damage)) << error;
        return bytes;
    }
    void ExpectLoads(const std::string& description)
    {
        Model model;
        EXPECT_EQ(model.SetParams({dir_.Scene("fine.3ds", description).c_str(), 25, 0, 0, 0}), 0);
    }

    ScratchDir dir_;
};

const char kGood[] =
    "material M diffuse 1 0 0\n"
    "quad Q 2 material M uv\nobject Q\n"
    "camera Cam pos 0 -20 0 target 0 0 0\n";

// The offset of the data of the first chunk with this id inside a mesh, found by walking the chunk tree down to the
// meshes.
std::size_t MeshChunk(const std::string& bytes, unsigned id)
{
    auto word = [&](std::size_t at) {
        return static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
    };
    auto size = [&](std::size_t at) { return word(at + 2) | static_cast<std::size_t>(word(at + 4)) << 16; };
    std::size_t at = 6;  // inside the main chunk
    while (at < bytes.size()) {
        const unsigned chunk = word(at);
        if (chunk == id)
            return at + 6;
        if (chunk == 0x3D3D || chunk == 0x4100)  // editor data, triangle mesh: descend
            at += 6;
        else if (chunk == 0x4000)  // named object: descend after its name
            at = bytes.find('\0', at + 6) + 1;
        else if (chunk == 0x4120 && id == 0x4130)  // face array: its groups follow the faces
            at += 6 + 2 + 8 * word(at + 6);
        else
            at += size(at);
    }
    ADD_FAILURE() << "no chunk " << std::hex << id;
    return 0;
}

TEST_F(BadScene, UnreadableAndCraftedFilesAreRefused)
{
    // Indices equal to the count, and one array shorter than another: the
    // first value past the end. (An ASan build shows what lib3ds would do.)
    std::string cornerAtCount = Bytes("mesh T\npoint 0 0 0\npoint 1 0 0\npoint 0 0 1\nface 0 1 2\nend\nobject T\n");
    cornerAtCount[MeshChunk(cornerAtCount, 0x4120) + 2 + 4] = 3;  // the first face's third corner
    std::string groupAtCount = Bytes(kGood);
    groupAtCount[MeshChunk(groupAtCount, 0x4130) + 2 + 2] = 2;  // after "M": count, then face 0 of 2
    std::string texelsShort = Bytes(kGood);
    texelsShort[MeshChunk(texelsShort, 0x4140)] = 3;  // 3 texture coordinates for 4 points
    const struct { const char* what; std::string bytes; } cases[] = {
        {"text", "this is not a scene\n"},
        {"empty", ""},
        {"zero-size chunk", Bytes(kGood, Damage::ZeroSizeChunk)},
        {"material group index past the faces", Bytes(kGood, Damage::MatGroupIndex)},
        {"truncated file", Bytes(kGood, Damage::Truncate)},
        {"face index past the points",
         Bytes("mesh T\npoint 0 0 0\npoint 1 0 0\npoint 0 0 1\nface 0 1 9\nend\nobject T\n")},
        {"face corner equal to the point count", cornerAtCount},
        {"material group naming face == face count", groupAtCount},
        {"one texture coordinate fewer than points", texelsShort},
        {"node parent cycle", Bytes("object A id 1 parentid 2\nobject B id 2 parentid 1\n")},
        {"node its own parent", Bytes("object A id 7 parentid 7\n")},
    };
    for (const auto& c : cases)
        ExpectRefusedBytes(c.bytes, c.what);
    ExpectRefused(dir_ / "missing.3ds", "missing");
    ExpectRefused(dir_.path(), "a directory");
    Model model;
    EXPECT_EQ(model.SetParams({nullptr, 25, 0, 0, 0}), -1);
    ExpectLoads(kGood);  // the crafted files with the last good values
}

TEST_F(BadScene, DamagedChunkTreesAreRefused)
{
    const std::string good = Bytes(kGood);
    // The main chunk's size: past the file, and below a header.
    std::string longer = good;
    longer[2] = static_cast<char>(static_cast<unsigned char>(longer[2]) + 1);
    ExpectRefusedBytes(longer, "main chunk longer than the file");
    std::string tiny = good;
    std::memset(&tiny[2], 0, 4);
    tiny[2] = 3;
    ExpectRefusedBytes(tiny, "main chunk smaller than its header");

    // A track claiming far more keys than its chunk holds: the key count of
    // the first position track (chunk B020: header, flags, 8 bytes, count).
    std::string keys = good;
    const std::size_t track = keys.find(std::string("\x20\xB0", 2));
    ASSERT_NE(track, std::string::npos);
    keys[track + 6 + 10] = '\x7F';
    keys[track + 6 + 13] = '\x7F';
    ExpectRefusedBytes(keys, "key count past the chunk");

    // A chunk inside the keyframer data overrunning its parent.
    std::string overrun = good;
    const std::size_t node = overrun.find(std::string("\x02\xB0", 2));
    ASSERT_NE(node, std::string::npos);
    overrun[node + 2] = '\x7F';
    ExpectRefusedBytes(overrun, "chunk overrunning its parent");

    // Zero-size colour chunks inside an ambient light, a solid background and
    // a default view (chunks lib3ds reads but the check does not walk): the
    // parser would loop for ever and is stopped by the reader's budget.
    for (const char* container : {"\x00\x21", "\x00\x12", "\x00\x30"}) {
        std::string looping = good;
        const std::string inner = std::string("\x10\x00", 2) + std::string(4, '\0');
        std::string chunk = std::string(container, 2) + std::string("\x0C\x00\x00\x00", 4) + inner;
        const std::size_t editor = 6 + 10;  // after the main header and the version chunk
        ASSERT_EQ(looping.substr(editor, 2), std::string("\x3D\x3D", 2));
        looping.insert(editor + 6, chunk);
        for (std::size_t sizeAt : {std::size_t{2}, editor + 2}) {
            uint32_t size;
            std::memcpy(&size, &looping[sizeAt], 4);
            size += static_cast<uint32_t>(chunk.size());
            std::memcpy(&looping[sizeAt], &size, 4);
        }
        ExpectRefusedBytes(looping, "zero-size chunk in an unchecked container");
    }
}

// lib3ds's normal calculation holds 128 smoothed faces at a vertex (flat ones do not count), and nodes may
// nest 64 deep: one more is refused.
TEST_F(BadScene, MeshesAndHierarchiesPastTheLoadersLimitsAreRefused)
{
    auto fan = [](int faces, bool smooth) {
        std::ostringstream text;
        text << "mesh Fan" << (smooth ? " smooth" : "") << "\npoint 0 0 0\n";
        for (int i = 0; i <= faces; ++i)
            text << "point " << std::cos(i * 0.02) << " 0 " << std::sin(i * 0.02) << "\n";
        for (int i = 1; i <= faces; ++i)
            text << "face 0 " << i << " " << i + 1 << "\n";
        text << "end\nobject Fan\n";
        return text.str();
    };
    auto chain = [](int depth) {
        std::string text = "object N0\n";
        for (int i = 1; i < depth; ++i)
            text += "object N" + std::to_string(i) + " parent N" + std::to_string(i - 1) + "\n";
        return text;
    };
    ExpectRefused(dir_.Scene("fan.3ds", fan(129, true)), "129 smoothed faces at a vertex");
    ExpectRefused(dir_.Scene("deep65.3ds", chain(65)), "65 nodes deep");
    for (const std::string& fine : {fan(128, true), fan(200, false), chain(64)})
        ExpectLoads(fine);
}

}  // namespace
