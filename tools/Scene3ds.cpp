// Writes 3DS keyframe scenes from the text description documented in Scene3ds.h.
#include "tools/Scene3ds.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

namespace scene3ds {
namespace {

// ---------------------------------------------------------------------------
// Chunk identifiers of the 3DS format (the ones this writer emits).
enum : uint16_t {
    kMain = 0x4D4D,
    kVersion = 0x0002,
    kEditor = 0x3D3D,
    kMeshVersion = 0x3D3E,
    kMasterScale = 0x0100,
    kColorF = 0x0010,
    kIntPercentage = 0x0030,
    kMaterial = 0xAFFF,
    kMatName = 0xA000,
    kMatAmbient = 0xA010,
    kMatDiffuse = 0xA020,
    kMatSpecular = 0xA030,
    kMatShininess = 0xA040,
    kMatTexture = 0xA200,
    kMatMapName = 0xA300,
    kNamedObject = 0x4000,
    kTriObject = 0x4100,
    kPointArray = 0x4110,
    kFaceArray = 0x4120,
    kMatGroup = 0x4130,
    kTexVerts = 0x4140,
    kSmoothGroup = 0x4150,
    kMeshMatrix = 0x4160,
    kLight = 0x4600,
    kSpotLight = 0x4610,
    kCamera = 0x4700,
    kKeyframer = 0xB000,
    kKeyHeader = 0xB00A,
    kKeySegment = 0xB008,
    kKeyCurrentTime = 0xB009,
    kObjectNodeTag = 0xB002,
    kCameraNodeTag = 0xB003,
    kTargetNodeTag = 0xB004,
    kLightNodeTag = 0xB005,
    kSpotTargetNodeTag = 0xB006,
    kSpotLightNodeTag = 0xB007,
    kNodeId = 0xB030,
    kNodeHeader = 0xB010,
    kPivot = 0xB013,
    kInstanceName = 0xB011,
    kPosTrack = 0xB020,
    kRotTrack = 0xB021,
    kSclTrack = 0xB022,
    kFovTrack = 0xB023,
    kRollTrack = 0xB024,
    kColTrack = 0xB025,
};

constexpr uint16_t kNoParent = 65535;
constexpr int kDefaultFrames = 100;
constexpr float kDefaultFov = 45.0f;
constexpr float kSpotHotspot = 30.0f;
constexpr float kSpotFalloff = 45.0f;
constexpr std::size_t kMaxName = 63;  // 3DS names fit 64 bytes with their NUL
constexpr double kPi = 3.14159265358979323846;

struct Vec3 {
    float x = 0, y = 0, z = 0;
};

// ---------------------------------------------------------------------------
// Scene model

struct Material {
    std::string name;
    Vec3 ambient{0.1f, 0.1f, 0.1f};
    Vec3 diffuse{0.8f, 0.8f, 0.8f};
    Vec3 specular{1, 1, 1};
    float shininess = 0;
    std::string texture;
};

struct Face {
    uint16_t a, b, c;
    std::string material;
};

struct Mesh {
    std::string name;
    Vec3 at;
    std::vector<Vec3> points;
    std::vector<std::pair<float, float>> uvs;  // empty or one per point
    std::vector<Face> faces;
    bool smooth = false;
};

template <class Value>
using Track = std::map<int, Value>;  // frame -> value, ordered

struct RotKey {
    float degrees = 0;
    Vec3 axis{0, 0, 1};
};

enum class NodeKind { Object, Camera, Target, Light, SpotTarget, SpotLight };

struct Node {
    NodeKind kind = NodeKind::Object;
    std::string name;
    int id = 0;
    int parentId = kNoParent;
    Vec3 pivot;
    std::string instance;
    Track<Vec3> pos;
    Track<RotKey> rot;
    Track<Vec3> scl;
    Track<Vec3> col;
    Track<float> fov;
    Track<float> roll;
    bool hasTarget = false;  // a target node follows this one
};

struct Camera {
    std::string name;
    Vec3 pos, target;
    float fov = kDefaultFov, roll = 0;
};

struct Light {
    std::string name;
    Vec3 pos;
    Vec3 color{1, 1, 1};
    bool spot = false;
    Vec3 target;
    bool node = true;  // false: a light without keyframer node
};

struct Scene {
    int frames = kDefaultFrames;
    std::vector<Material> materials;
    std::vector<Mesh> meshes;
    std::vector<Camera> cameras;
    std::vector<Light> lights;
    std::vector<Node> nodes;
};

// ---------------------------------------------------------------------------
// Description parser

class Parser {
public:
    explicit Parser(Scene& scene) : scene_(scene) {}

    bool Run(const std::string& text, std::string* error)
    {
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line)) {
            ++lineNumber_;
            const std::size_t hash = line.find('#');
            if (hash != std::string::npos)
                line.erase(hash);
            words_.clear();
            std::istringstream split(line);
            for (std::string word; split >> word;)
                words_.push_back(word);
            next_ = 0;
            if (words_.empty())
                continue;
            if (!Statement()) {
                *error = "line " + std::to_string(lineNumber_) + ": " + message_;
                return false;
            }
        }
        if (openMesh_) {
            *error = "mesh " + scene_.meshes.back().name + " has no 'end'";
            return false;
        }
        return true;
    }

private:
    bool Fail(const std::string& message)
    {
        message_ = message;
        return false;
    }
    bool More() const { return next_ < words_.size(); }
    bool Word(std::string* out)
    {
        if (!More())
            return Fail("missing word after '" + words_.back() + "'");
        *out = words_[next_++];
        return true;
    }
    bool Name(std::string* out)
    {
        if (!Word(out))
            return false;
        if (out->size() > kMaxName)
            return Fail("name longer than 63 characters: " + *out);
        return true;
    }
    bool Number(float* out)
    {
        std::string word;
        if (!Word(&word))
            return false;
        char* end = nullptr;
        const double value = std::strtod(word.c_str(), &end);
        if (end == word.c_str() || *end != '\0' || !std::isfinite(value))
            return Fail("not a number: " + word);
        *out = static_cast<float>(value);
        return true;
    }
    bool Integer(int* out, long low, long high)
    {
        std::string word;
        if (!Word(&word))
            return false;
        char* end = nullptr;
        const long value = std::strtol(word.c_str(), &end, 10);
        if (end == word.c_str() || *end != '\0' || value < low || value > high)
            return Fail("not an integer from " + std::to_string(low) + " to " + std::to_string(high) + ": " + word);
        *out = static_cast<int>(value);
        return true;
    }
    bool Vector(Vec3* out) { return Number(&out->x) && Number(&out->y) && Number(&out->z); }

    bool Statement()
    {
        const std::string keyword = words_[next_++];
        if (openMesh_)
            return MeshLine(keyword);
        if (keyword == "frames")
            return Integer(&scene_.frames, 0, 1000000) && Done();
        if (keyword == "material")
            return MaterialLine();
        if (keyword == "quad" || keyword == "box" || keyword == "grid" || keyword == "mesh")
            return ShapeLine(keyword);
        if (keyword == "object")
            return ObjectLine();
        if (keyword == "camera")
            return CameraLine();
        if (keyword == "light")
            return LightLine();
        if (keyword == "pos" || keyword == "rot" || keyword == "scl" || keyword == "target" || keyword == "color" ||
            keyword == "fov" || keyword == "roll")
            return KeyLine(keyword);
        return Fail("unknown statement: " + keyword);
    }

    bool Done() { return More() ? Fail("unexpected word: " + words_[next_]) : true; }

    bool MaterialLine()
    {
        Material material;
        if (!Name(&material.name))
            return false;
        while (More()) {
            const std::string option = words_[next_++];
            bool ok;
            if (option == "ambient")
                ok = Vector(&material.ambient);
            else if (option == "diffuse")
                ok = Vector(&material.diffuse);
            else if (option == "specular")
                ok = Vector(&material.specular);
            else if (option == "shininess")
                ok = Number(&material.shininess);
            else if (option == "texture")
                ok = Name(&material.texture);
            else
                return Fail("unknown material option: " + option);
            if (!ok)
                return false;
        }
        scene_.materials.push_back(material);
        return true;
    }

    bool ShapeLine(const std::string& shape)
    {
        Mesh mesh;
        float size = 1;
        int cells = 1;
        if (!Name(&mesh.name))
            return false;
        if (shape != "mesh" && !Number(&size))
            return false;
        if (shape == "grid" && !Integer(&cells, 1, 250))
            return false;
        std::string material;
        bool uv = false;
        while (More()) {
            const std::string option = words_[next_++];
            bool ok = true;
            if (option == "at")
                ok = Vector(&mesh.at);
            else if (option == "material")
                ok = Name(&material);
            else if (option == "uv")
                uv = true;
            else if (option == "smooth")
                mesh.smooth = true;
            else
                return Fail("unknown mesh option: " + option);
            if (!ok)
                return false;
        }
        if (shape == "quad")
            MakeGrid(mesh, size, 1, uv, material);
        else if (shape == "grid")
            MakeGrid(mesh, size, cells, uv, material);
        else if (shape == "box")
            MakeBox(mesh, size, uv, material);
        scene_.meshes.push_back(mesh);
        openMesh_ = shape == "mesh";
        return true;
    }

    // A line inside a mesh block.
    bool MeshLine(const std::string& keyword)
    {
        Mesh& mesh = scene_.meshes.back();
        if (keyword == "end") {
            openMesh_ = false;
            if (!mesh.uvs.empty() && mesh.uvs.size() != mesh.points.size())
                return Fail("mesh " + mesh.name + ": either every point has U V or none");
            return Done();
        }
        if (keyword == "point") {
            Vec3 p;
            if (!Vector(&p))
                return false;
            if (mesh.points.size() >= 65535)
                return Fail("more than 65535 points");
            mesh.points.push_back({p.x + mesh.at.x, p.y + mesh.at.y, p.z + mesh.at.z});
            if (More()) {
                float u, v;
                if (!Number(&u) || !Number(&v))
                    return false;
                mesh.uvs.push_back({u, v});
            }
            return Done();
        }
        if (keyword == "face") {
            int a, b, c;
            // Indices are written as given, also past the points: tests craft
            // broken meshes this way.
            if (!Integer(&a, 0, 65535) || !Integer(&b, 0, 65535) || !Integer(&c, 0, 65535))
                return false;
            Face face{static_cast<uint16_t>(a), static_cast<uint16_t>(b), static_cast<uint16_t>(c), ""};
            if (More() && !Name(&face.material))
                return false;
            if (mesh.faces.size() >= 65535)
                return Fail("more than 65535 faces");
            mesh.faces.push_back(face);
            return Done();
        }
        return Fail("expected point, face or end in mesh " + mesh.name);
    }

    static void MakeGrid(Mesh& mesh, float size, int cells, bool uv, const std::string& material)
    {
        const int side = cells + 1;
        for (int row = 0; row < side; ++row) {
            for (int column = 0; column < side; ++column) {
                const float u = static_cast<float>(column) / cells;
                const float v = static_cast<float>(row) / cells;
                mesh.points.push_back({mesh.at.x + (u - 0.5f) * size, mesh.at.y, mesh.at.z + (v - 0.5f) * size});
                if (uv)
                    mesh.uvs.push_back({u, v});
            }
        }
        for (int row = 0; row < cells; ++row) {
            for (int column = 0; column < cells; ++column) {
                const uint16_t p = static_cast<uint16_t>(row * side + column);
                const uint16_t right = static_cast<uint16_t>(p + 1);
                const uint16_t up = static_cast<uint16_t>(p + side);
                const uint16_t upRight = static_cast<uint16_t>(up + 1);
                mesh.faces.push_back({p, right, upRight, material});
                mesh.faces.push_back({p, upRight, up, material});
            }
        }
    }

    static void MakeBox(Mesh& mesh, float size, bool uv, const std::string& material)
    {
        // Each side: outward normal n, and right/up vectors with right x up = n,
        // so that its corners run counter-clockwise seen from outside.
        struct Side {
            Vec3 n, right, up;
        };
        const Side sides[] = {
            {{0, -1, 0}, {1, 0, 0}, {0, 0, 1}},  {{0, 1, 0}, {-1, 0, 0}, {0, 0, 1}},
            {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}},   {{-1, 0, 0}, {0, -1, 0}, {0, 0, 1}},
            {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}},   {{0, 0, -1}, {1, 0, 0}, {0, -1, 0}},
        };
        const float h = size / 2;
        for (const Side& side : sides) {
            const uint16_t first = static_cast<uint16_t>(mesh.points.size());
            const float corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
            for (const auto& c : corners) {
                mesh.points.push_back({mesh.at.x + h * (side.n.x + c[0] * side.right.x + c[1] * side.up.x),
                                       mesh.at.y + h * (side.n.y + c[0] * side.right.y + c[1] * side.up.y),
                                       mesh.at.z + h * (side.n.z + c[0] * side.right.z + c[1] * side.up.z)});
                if (uv)
                    mesh.uvs.push_back({(c[0] + 1) / 2, (c[1] + 1) / 2});
            }
            mesh.faces.push_back({first, static_cast<uint16_t>(first + 1), static_cast<uint16_t>(first + 2), material});
            mesh.faces.push_back({first, static_cast<uint16_t>(first + 2), static_cast<uint16_t>(first + 3), material});
        }
    }

    Node& AddNode(NodeKind kind, const std::string& name)
    {
        Node node;
        node.kind = kind;
        node.name = name;
        node.id = static_cast<int>(scene_.nodes.size());
        scene_.nodes.push_back(node);
        lastNode_ = scene_.nodes.size() - 1;
        return scene_.nodes.back();
    }

    bool ObjectLine()
    {
        std::string name;
        if (!Name(&name))
            return false;
        Node node;
        node.kind = NodeKind::Object;
        node.name = name;
        node.id = static_cast<int>(scene_.nodes.size());
        bool explicitParent = false;
        while (More()) {
            const std::string option = words_[next_++];
            bool ok = true;
            if (option == "parent") {
                std::string parent;
                ok = Name(&parent);
                if (ok) {
                    const int found = FindNode(parent);
                    if (found < 0)
                        return Fail("no earlier node named " + parent);
                    node.parentId = scene_.nodes[found].id;
                }
            } else if (option == "pivot") {
                ok = Vector(&node.pivot);
            } else if (option == "instance") {
                ok = Name(&node.instance);
            } else if (option == "id") {
                ok = Integer(&node.id, 0, 65535);
            } else if (option == "parentid") {
                ok = Integer(&node.parentId, 0, 65535);
                explicitParent = true;
            } else {
                return Fail("unknown object option: " + option);
            }
            if (!ok)
                return false;
        }
        (void)explicitParent;
        Vec3 at;
        for (const Mesh& mesh : scene_.meshes)
            if (mesh.name == name)
                at = mesh.at;
        node.pos[0] = at;
        node.rot[0] = RotKey{};
        node.scl[0] = Vec3{1, 1, 1};
        scene_.nodes.push_back(node);
        lastNode_ = scene_.nodes.size() - 1;
        return true;
    }

    bool CameraLine()
    {
        Camera camera;
        if (!Name(&camera.name))
            return false;
        bool havePos = false, haveTarget = false, withTarget = true;
        while (More()) {
            const std::string option = words_[next_++];
            bool ok;
            if (option == "pos")
                ok = Vector(&camera.pos), havePos = true;
            else if (option == "target")
                ok = Vector(&camera.target), haveTarget = true;
            else if (option == "fov")
                ok = Number(&camera.fov);
            else if (option == "roll")
                ok = Number(&camera.roll);
            else if (option == "notarget")
                ok = true, withTarget = false;
            else
                return Fail("unknown camera option: " + option);
            if (!ok)
                return false;
        }
        if (!havePos || !haveTarget)
            return Fail("a camera needs pos and target");
        scene_.cameras.push_back(camera);
        // The camera node, then its target node right after it.
        Node& node = AddNode(NodeKind::Camera, camera.name);
        node.pos[0] = camera.pos;
        node.fov[0] = camera.fov;
        node.roll[0] = camera.roll;
        node.hasTarget = withTarget;
        const std::size_t cameraIndex = scene_.nodes.size() - 1;
        if (withTarget) {
            Node& target = AddNode(NodeKind::Target, camera.name);
            target.pos[0] = camera.target;
        }
        lastNode_ = cameraIndex;
        return true;
    }

    bool LightLine()
    {
        Light light;
        if (!Name(&light.name))
            return false;
        bool havePos = false;
        while (More()) {
            const std::string option = words_[next_++];
            bool ok;
            if (option == "pos")
                ok = Vector(&light.pos), havePos = true;
            else if (option == "color")
                ok = Vector(&light.color);
            else if (option == "spot")
                ok = Vector(&light.target), light.spot = true;
            else if (option == "nonode")
                ok = true, light.node = false;
            else
                return Fail("unknown light option: " + option);
            if (!ok)
                return false;
        }
        if (!havePos)
            return Fail("a light needs pos");
        scene_.lights.push_back(light);
        if (!light.node) {
            lastNode_ = kNone;
            return true;
        }
        Node& node = AddNode(light.spot ? NodeKind::SpotLight : NodeKind::Light, light.name);
        node.pos[0] = light.pos;
        node.col[0] = light.color;
        const std::size_t lightIndex = scene_.nodes.size() - 1;
        node.hasTarget = light.spot;
        if (light.spot) {
            Node& target = AddNode(NodeKind::SpotTarget, light.name);
            target.pos[0] = light.target;
        }
        lastNode_ = lightIndex;
        return true;
    }

    bool KeyLine(const std::string& track)
    {
        if (lastNode_ == kNone)
            return Fail(track + " key before any node");
        Node* node = &scene_.nodes[lastNode_];
        int frame;
        if (!Integer(&frame, -1000000, 1000000))
            return false;
        const NodeKind kind = node->kind;
        const bool object = kind == NodeKind::Object;
        const bool camera = kind == NodeKind::Camera;
        const bool light = kind == NodeKind::Light || kind == NodeKind::SpotLight;
        Vec3 v;
        float f;
        if (track == "pos") {
            if (!Vector(&v))
                return false;
            node->pos[frame] = v;
        } else if (track == "rot" && object) {
            RotKey key;
            if (!Number(&key.degrees) || !Vector(&key.axis))
                return false;
            node->rot[frame] = key;
        } else if (track == "scl" && object) {
            if (!Vector(&v))
                return false;
            node->scl[frame] = v;
        } else if (track == "color" && light) {
            if (!Vector(&v))
                return false;
            node->col[frame] = v;
        } else if ((track == "fov" || track == "roll") && camera) {
            if (!Number(&f))
                return false;
            (track == "fov" ? node->fov : node->roll)[frame] = f;
        } else if (track == "target" && node->hasTarget) {
            if (!Vector(&v))
                return false;
            // The target node follows its camera or spot in the node list.
            scene_.nodes[lastNode_ + 1].pos[frame] = v;
        } else {
            return Fail("no " + track + " track on this kind of node");
        }
        return Done();
    }

    // The first node named `name`; "target:NAME" picks a target node.
    int FindNode(const std::string& name) const
    {
        std::string wanted = name;
        bool target = false;
        if (wanted.rfind("target:", 0) == 0) {
            wanted.erase(0, 7);
            target = true;
        }
        for (std::size_t i = 0; i < scene_.nodes.size(); ++i) {
            const Node& node = scene_.nodes[i];
            const bool isTarget = node.kind == NodeKind::Target || node.kind == NodeKind::SpotTarget;
            if (node.name == wanted && isTarget == target)
                return static_cast<int>(i);
        }
        return -1;
    }

    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    Scene& scene_;
    std::vector<std::string> words_;
    std::size_t next_ = 0;
    int lineNumber_ = 0;
    bool openMesh_ = false;
    std::size_t lastNode_ = kNone;
    std::string message_;
};

// ---------------------------------------------------------------------------
// Chunk writer

class Writer {
public:
    std::string bytes;

    std::size_t Begin(uint16_t id)
    {
        const std::size_t start = bytes.size();
        Word(id);
        Dword(0);  // size, patched by End
        return start;
    }
    void End(std::size_t start)
    {
        const uint32_t size = static_cast<uint32_t>(bytes.size() - start);
        for (int i = 0; i < 4; ++i)
            bytes[start + 2 + i] = static_cast<char>((size >> (8 * i)) & 0xFF);
    }
    void Word(uint16_t w)
    {
        bytes.push_back(static_cast<char>(w & 0xFF));
        bytes.push_back(static_cast<char>(w >> 8));
    }
    void Dword(uint32_t d)
    {
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<char>((d >> (8 * i)) & 0xFF));
    }
    void Float(float f)
    {
        uint32_t d;
        std::memcpy(&d, &f, sizeof d);
        Dword(d);
    }
    void Vector(const Vec3& v)
    {
        Float(v.x);
        Float(v.y);
        Float(v.z);
    }
    void String(const std::string& s)
    {
        bytes.append(s);
        bytes.push_back('\0');
    }
};

struct Marks {
    std::size_t firstPointArray = std::string::npos;
    std::size_t firstMatGroupIndex = std::string::npos;
    uint16_t firstMatGroupFaces = 0;
};

void WriteColor(Writer& w, uint16_t id, const Vec3& color)
{
    const std::size_t chunk = w.Begin(id);
    const std::size_t value = w.Begin(kColorF);
    w.Vector(color);
    w.End(value);
    w.End(chunk);
}

void WriteMaterial(Writer& w, const Material& material)
{
    const std::size_t chunk = w.Begin(kMaterial);
    const std::size_t name = w.Begin(kMatName);
    w.String(material.name);
    w.End(name);
    WriteColor(w, kMatAmbient, material.ambient);
    WriteColor(w, kMatDiffuse, material.diffuse);
    WriteColor(w, kMatSpecular, material.specular);
    const std::size_t shininess = w.Begin(kMatShininess);
    const std::size_t percent = w.Begin(kIntPercentage);
    w.Word(static_cast<uint16_t>(std::lround(material.shininess * 100)));
    w.End(percent);
    w.End(shininess);
    if (!material.texture.empty()) {
        const std::size_t map = w.Begin(kMatTexture);
        const std::size_t strength = w.Begin(kIntPercentage);
        w.Word(100);
        w.End(strength);
        const std::size_t file = w.Begin(kMatMapName);
        w.String(material.texture);
        w.End(file);
        w.End(map);
    }
    w.End(chunk);
}

void WriteMesh(Writer& w, const Mesh& mesh, Marks& marks)
{
    const std::size_t object = w.Begin(kNamedObject);
    w.String(mesh.name);
    const std::size_t tri = w.Begin(kTriObject);

    const std::size_t points = w.Begin(kPointArray);
    if (marks.firstPointArray == std::string::npos)
        marks.firstPointArray = points;
    w.Word(static_cast<uint16_t>(mesh.points.size()));
    for (const Vec3& p : mesh.points)
        w.Vector(p);
    w.End(points);

    if (!mesh.uvs.empty()) {
        const std::size_t texels = w.Begin(kTexVerts);
        w.Word(static_cast<uint16_t>(mesh.uvs.size()));
        for (const auto& uv : mesh.uvs) {
            w.Float(uv.first);
            w.Float(uv.second);
        }
        w.End(texels);
    }

    // Mesh matrix: rows of the 4x3 matrix, the last row the translation.
    const std::size_t matrix = w.Begin(kMeshMatrix);
    const Vec3 rows[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (const Vec3& row : rows)
        w.Vector(row);
    w.Vector(mesh.at);
    w.End(matrix);

    const std::size_t faces = w.Begin(kFaceArray);
    w.Word(static_cast<uint16_t>(mesh.faces.size()));
    for (const Face& face : mesh.faces) {
        w.Word(face.a);
        w.Word(face.b);
        w.Word(face.c);
        w.Word(0x7);  // all three edges visible
    }
    // One material group per material name, in order of first use.
    std::vector<std::string> names;
    for (const Face& face : mesh.faces)
        if (!face.material.empty() && std::find(names.begin(), names.end(), face.material) == names.end())
            names.push_back(face.material);
    for (const std::string& name : names) {
        const std::size_t group = w.Begin(kMatGroup);
        w.String(name);
        uint16_t count = 0;
        for (const Face& face : mesh.faces)
            count += face.material == name;
        w.Word(count);
        if (marks.firstMatGroupIndex == std::string::npos) {
            marks.firstMatGroupIndex = w.bytes.size();
            marks.firstMatGroupFaces = static_cast<uint16_t>(mesh.faces.size());
        }
        for (std::size_t i = 0; i < mesh.faces.size(); ++i)
            if (mesh.faces[i].material == name)
                w.Word(static_cast<uint16_t>(i));
        w.End(group);
    }
    const std::size_t smooth = w.Begin(kSmoothGroup);
    for (std::size_t i = 0; i < mesh.faces.size(); ++i)
        w.Dword(mesh.smooth ? 1 : 0);
    w.End(smooth);
    w.End(faces);

    w.End(tri);
    w.End(object);
}

void WriteCamera(Writer& w, const Camera& camera)
{
    const std::size_t object = w.Begin(kNamedObject);
    w.String(camera.name);
    const std::size_t chunk = w.Begin(kCamera);
    w.Vector(camera.pos);
    w.Vector(camera.target);
    w.Float(camera.roll);
    w.Float(camera.fov);
    w.End(chunk);
    w.End(object);
}

void WriteLight(Writer& w, const Light& light)
{
    const std::size_t object = w.Begin(kNamedObject);
    w.String(light.name);
    const std::size_t chunk = w.Begin(kLight);
    w.Vector(light.pos);
    const std::size_t color = w.Begin(kColorF);
    w.Vector(light.color);
    w.End(color);
    if (light.spot) {
        const std::size_t spot = w.Begin(kSpotLight);
        w.Vector(light.target);
        w.Float(kSpotHotspot);
        w.Float(kSpotFalloff);
        w.End(spot);
    }
    w.End(chunk);
    w.End(object);
}

// Track header: flags, eight unused bytes, key count; each key: frame and
// spline flags (0: no spline parameters follow), then the value.
template <class Value, class Emit>
void WriteTrack(Writer& w, uint16_t id, const Track<Value>& track, Emit emit)
{
    if (track.empty())
        return;
    const std::size_t chunk = w.Begin(id);
    w.Word(0);
    w.Dword(0);
    w.Dword(0);
    w.Dword(static_cast<uint32_t>(track.size()));
    for (const auto& key : track) {
        w.Dword(static_cast<uint32_t>(key.first));
        w.Word(0);
        emit(key.second);
    }
    w.End(chunk);
}

void WriteNode(Writer& w, const Node& node)
{
    uint16_t tag = kObjectNodeTag;
    switch (node.kind) {
    case NodeKind::Object: tag = kObjectNodeTag; break;
    case NodeKind::Camera: tag = kCameraNodeTag; break;
    case NodeKind::Target: tag = kTargetNodeTag; break;
    case NodeKind::Light: tag = kLightNodeTag; break;
    case NodeKind::SpotLight: tag = kSpotLightNodeTag; break;
    case NodeKind::SpotTarget: tag = kSpotTargetNodeTag; break;
    }
    const std::size_t chunk = w.Begin(tag);
    const std::size_t id = w.Begin(kNodeId);
    w.Word(static_cast<uint16_t>(node.id));
    w.End(id);
    const std::size_t header = w.Begin(kNodeHeader);
    w.String(node.name);
    w.Word(0);
    w.Word(0);
    w.Word(static_cast<uint16_t>(node.parentId));
    w.End(header);
    if (node.kind == NodeKind::Object) {
        const std::size_t pivot = w.Begin(kPivot);
        w.Vector(node.pivot);
        w.End(pivot);
        if (!node.instance.empty()) {
            const std::size_t instance = w.Begin(kInstanceName);
            w.String(node.instance);
            w.End(instance);
        }
    }
    auto vector = [&w](const Vec3& v) { w.Vector(v); };
    auto number = [&w](float f) { w.Float(f); };
    WriteTrack(w, kPosTrack, node.pos, vector);
    WriteTrack(w, kRotTrack, node.rot, [&w](const RotKey& key) {
        w.Float(static_cast<float>(key.degrees * kPi / 180.0));
        w.Vector(key.axis);
    });
    WriteTrack(w, kSclTrack, node.scl, vector);
    WriteTrack(w, kColTrack, node.col, vector);
    WriteTrack(w, kFovTrack, node.fov, number);
    WriteTrack(w, kRollTrack, node.roll, number);
    w.End(chunk);
}

std::string Encode(const Scene& scene, Damage damage)
{
    Writer w;
    Marks marks;
    const std::size_t main = w.Begin(kMain);
    const std::size_t version = w.Begin(kVersion);
    w.Dword(3);
    w.End(version);

    const std::size_t editor = w.Begin(kEditor);
    const std::size_t meshVersion = w.Begin(kMeshVersion);
    w.Dword(3);
    w.End(meshVersion);
    const std::size_t scale = w.Begin(kMasterScale);
    w.Float(1.0f);
    w.End(scale);
    for (const Material& material : scene.materials)
        WriteMaterial(w, material);
    for (const Mesh& mesh : scene.meshes)
        WriteMesh(w, mesh, marks);
    for (const Camera& camera : scene.cameras)
        WriteCamera(w, camera);
    for (const Light& light : scene.lights)
        WriteLight(w, light);
    w.End(editor);

    const std::size_t keyframer = w.Begin(kKeyframer);
    const std::size_t header = w.Begin(kKeyHeader);
    w.Word(5);
    w.String("make3ds");
    w.Dword(static_cast<uint32_t>(scene.frames));
    w.End(header);
    const std::size_t segment = w.Begin(kKeySegment);
    w.Dword(0);
    w.Dword(static_cast<uint32_t>(scene.frames));
    w.End(segment);
    const std::size_t now = w.Begin(kKeyCurrentTime);
    w.Dword(0);
    w.End(now);
    for (const Node& node : scene.nodes)
        WriteNode(w, node);
    w.End(keyframer);
    w.End(main);

    std::string bytes = w.bytes;
    switch (damage) {
    case Damage::None:
        break;
    case Damage::ZeroSizeChunk:
        if (marks.firstPointArray != std::string::npos)
            std::memset(&bytes[marks.firstPointArray + 2], 0, 4);
        break;
    case Damage::MatGroupIndex:
        if (marks.firstMatGroupIndex != std::string::npos) {
            const uint16_t past = static_cast<uint16_t>(marks.firstMatGroupFaces + 1000);
            bytes[marks.firstMatGroupIndex] = static_cast<char>(past & 0xFF);
            bytes[marks.firstMatGroupIndex + 1] = static_cast<char>(past >> 8);
        }
        break;
    case Damage::Truncate:
        bytes.resize(bytes.size() / 2);
        break;
    }
    return bytes;
}

}  // namespace

bool BuildScene(const std::string& description, std::string* bytes, std::string* error, Damage damage)
{
    Scene scene;
    Parser parser(scene);
    std::string message;
    if (!parser.Run(description, &message)) {
        if (error)
            *error = message;
        return false;
    }
    *bytes = Encode(scene, damage);
    return true;
}

bool WriteScene(const std::string& description, const std::string& path, std::string* error, Damage damage)
{
    std::string bytes;
    if (!BuildScene(description, &bytes, error, damage))
        return false;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        if (error)
            *error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace scene3ds
