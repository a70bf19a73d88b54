// The Model effect: an animated 3DS keyframe scene played through its first
// camera, with its lights, meshes, materials and textures.
#include "effects/Model.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <lib3ds/camera.h>
#include <lib3ds/light.h>
#include <lib3ds/matrix.h>
#include <lib3ds/mesh.h>
#include <lib3ds/tracks.h>

#include "effects/model/SceneCheck.h"

namespace {

// ---------------------------------------------------------------------------
// View and lighting constants

constexpr double kFieldOfView = 30.0;  // vertical, degrees; the camera's own fov is not used
constexpr double kNearPlane = 1.0;
constexpr double kFarPlane = 200.0;
constexpr float kQuadraticAttenuation = 0.005f;
constexpr float kLinearAttenuation = 0.1f;
constexpr float kConstantAttenuation = 0.0f;

// Shininess: 2^(25 s) for a 3DS shininess s in 0..1, at most GL's 128.
constexpr double kShininessExponentScale = 25.0;
constexpr float kMaxShininess = 128.0f;

// The material name remembered before the first face of a list: a first face
// whose material bears this name applies nothing.
constexpr char kNoMaterialYet[] = "__DUMMY";
constexpr char kDummyNodeName[] = "$$$DUMMY";

// Fixed colours of faces without material and of textured materials.
constexpr GLfloat kDefaultAmbient[4] = {0.2f, 0.2f, 0.2f, 1.0f};
constexpr GLfloat kDefaultDiffuse[4] = {0.8f, 0.8f, 0.8f, 1.0f};
constexpr GLfloat kDefaultSpecular[4] = {1.0f, 1.0f, 1.0f, 1.0f};
// Ambient of untextured materials (their diffuse and specular are their own).
constexpr GLfloat kMaterialAmbient[4] = {0.1f, 0.1f, 0.1f, 1.0f};

void DefaultColours()
{
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, kDefaultAmbient);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, kDefaultDiffuse);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, kDefaultSpecular);
}

}  // namespace

Model::Model() = default;
// An owner that destroys a Model gets the scene's memory and the meshes'
// display lists back, and the texture cache its textures: a show that is
// loaded again in the same window must not find the old one's lists.
Model::~Model()
{
    for (GLuint list : lists_)
        glDeleteLists(list, 1);
    if (scene)
        lib3ds_file_free(scene);
}

int Model::SetParams(const Params& params)
{
    if (!scene) {
        Lib3dsFile* loaded = scene_check::LoadScene(params.path);
        if (!loaded)
            return -1;
        scene = loaded;
        lib3ds_file_eval(scene, 0.0f);
    }
    xoff = params.xoff;
    yoff = params.yoff;
    zoff = params.zoff;
    fps = params.fps;
    return 0;
}

float Model::FrameAt(int msec) const
{
    return static_cast<float>(static_cast<double>(msec) * fps / 1000.0);
}

void Model::EvalNode(Lib3dsNode* node, int msec)
{
    for (Lib3dsNode* child = node->childs; child; child = child->next)
        EvalNode(child, msec);

    const float frame = FrameAt(msec);
    switch (node->type) {
    case LIB3DS_OBJECT_NODE: {
        Lib3dsObjectData& object = node->data.object;
        lib3ds_quat_track_eval(&object.rot_track, object.rot, frame);
        lib3ds_lin3_track_eval(&object.pos_track, object.pos, frame);
        // A node without scale keys keeps scale 1 from the load-time
        // evaluation, as lib3ds's own evaluation does; evaluating the empty
        // track would give scale 0 and hide the object.
        if (object.scl_track.keyL)
            lib3ds_lin3_track_eval(&object.scl_track, object.scl, frame);
        break;
    }
    case LIB3DS_CAMERA_NODE: {
        Lib3dsCameraData& camera = node->data.camera;
        lib3ds_lin3_track_eval(&camera.pos_track, camera.pos, frame);
        lib3ds_lin1_track_eval(&camera.fov_track, &camera.fov, frame);
        lib3ds_lin1_track_eval(&camera.roll_track, &camera.roll, frame);
        break;
    }
    case LIB3DS_LIGHT_NODE: {
        Lib3dsLightData& light = node->data.light;
        lib3ds_lin3_track_eval(&light.col_track, light.col, frame);
        lib3ds_lin1_track_eval(&light.falloff_track, &light.falloff, frame);
        lib3ds_lin1_track_eval(&light.hotspot_track, &light.hotspot, frame);
        lib3ds_lin3_track_eval(&light.pos_track, light.pos, frame);
        lib3ds_lin1_track_eval(&light.roll_track, &light.roll, frame);
        break;
    }
    default:
        // Camera and spot targets and the ambient node keep their frame-0
        // values from the load-time evaluation.
        break;
    }
}

int Model::Render(int msec)
{
    if (!scene)
        return 0;
    for (Lib3dsNode* node = scene->nodes; node; node = node->next)
        EvalNode(node, msec);

    Lib3dsCamera* camera = scene->cameras;
    if (!camera)
        return 0;
    Lib3dsNode* cameraNode = lib3ds_file_node_by_name(scene, camera->name, LIB3DS_CAMERA_NODE);
    Lib3dsNode* targetNode = lib3ds_file_node_by_name(scene, camera->name, LIB3DS_TARGET_NODE);
    if (!cameraNode || !targetNode)
        return 0;

    glPushAttrib(GL_ENABLE_BIT);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClearDepth(1.0);
    glShadeModel(GL_SMOOTH);
    glEnable(GL_LIGHTING);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);

    // The look-at goes onto the projection matrix; the modelview matrix stays
    // the identity, so lights are placed in scene coordinates.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(kFieldOfView, static_cast<float>(aspect), kNearPlane, kFarPlane);
    const float* eye = cameraNode->data.camera.pos;
    const float* centre = targetNode->data.target.pos;
    gluLookAt(eye[0], eye[1], eye[2], centre[0], centre[1], centre[2], 0.0, 0.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();

    if (maxLights_ == 0)
        glGetIntegerv(GL_MAX_LIGHTS, &maxLights_);
    // GL lights this Render switched on that were off before. glPopAttrib
    // should switch them off again, but some drivers (Mesa 22) restore light
    // enables only with the lighting group, so they are switched off by hand.
    switchedOn_.clear();
    int index = 0;
    for (Lib3dsLight* light = scene->lights; light && index < maxLights_; light = light->next, ++index) {
        Lib3dsNode* node = lib3ds_file_node_by_name(scene, light->name, LIB3DS_LIGHT_NODE);
        if (!node)
            continue;  // a light without a keyframer node has no position or colour
        const GLenum glLight = static_cast<GLenum>(GL_LIGHT0 + index);
        if (!glIsEnabled(glLight))
            switchedOn_.push_back(glLight);
        glEnable(glLight);
        glLightf(glLight, GL_QUADRATIC_ATTENUATION, kQuadraticAttenuation);
        glLightf(glLight, GL_LINEAR_ATTENUATION, kLinearAttenuation);
        glLightf(glLight, GL_CONSTANT_ATTENUATION, kConstantAttenuation);
        const Lib3dsLightData& data = node->data.light;
        const GLfloat colour[4] = {data.col[0], data.col[1], data.col[2], 0.0f};
        glLightfv(glLight, GL_AMBIENT, colour);
        glLightfv(glLight, GL_DIFFUSE, colour);
        glLightfv(glLight, GL_SPECULAR, colour);
        const GLfloat position[4] = {data.pos[0], data.pos[1], data.pos[2], 1.0f};
        glLightfv(glLight, GL_POSITION, position);
    }

    for (Lib3dsNode* node = scene->nodes; node; node = node->next) {
        glPushMatrix();
        DrawNode(node);
        glPopMatrix();
    }

    for (GLenum glLight : switchedOn_)
        glDisable(glLight);
    glPopAttrib();
    return 0;
}

void Model::DrawNode(Lib3dsNode* node)
{
    if (node->type != LIB3DS_OBJECT_NODE)
        return;
    if (std::strcmp(node->name, kDummyNodeName) == 0)
        return;
    // Without a mesh, or when GL hands out no list name, the node and its
    // subtree are left out of this frame; the next frame tries again.
    if (node->user.d == 0 && !BuildList(node))
        return;

    Lib3dsObjectData& object = node->data.object;
    Lib3dsMatrix local;
    lib3ds_matrix_identity(local);
    lib3ds_matrix_translate(local, object.pos);
    lib3ds_matrix_rotate(local, object.rot);
    lib3ds_matrix_scale(local, object.scl);
    lib3ds_matrix_translate_xyz(local, -object.pivot[0], -object.pivot[1], -object.pivot[2]);

    glTranslatef(static_cast<float>(xoff), static_cast<float>(yoff), static_cast<float>(zoff));
    glMultMatrixf(&local[0][0]);
    glPushMatrix();
    glCallList(node->user.d);
    glPopMatrix();
    glTranslatef(object.pivot[0], object.pivot[1], object.pivot[2]);

    for (Lib3dsNode* child = node->childs; child; child = child->next) {
        glPushMatrix();
        DrawNode(child);
        glPopMatrix();
    }
}

bool Model::BuildList(Lib3dsNode* node)
{
    Lib3dsMesh* mesh = lib3ds_file_mesh_by_name(scene, node->name);
    if (!mesh)
        return false;
    const GLuint list = glGenLists(1);
    if (list == 0)
        return false;
    lists_.push_back(list);
    std::printf("mesh %d %d\n", static_cast<int>(mesh->points), static_cast<int>(mesh->texels));
    node->user.d = list;
    std::strcpy(remembered_, kNoMaterialYet);
    PreloadTextures(mesh);

    glNewList(list, GL_COMPILE);
    // Vertices are stored in scene coordinates; the inverse mesh matrix takes
    // them into the node's own frame. A singular matrix is taken as identity.
    Lib3dsMatrix inverse;
    lib3ds_matrix_copy(inverse, mesh->matrix);
    if (!lib3ds_matrix_inv(inverse))
        lib3ds_matrix_identity(inverse);
    glMultMatrixf(&inverse[0][0]);

    std::unique_ptr<Lib3dsVector[]> normals(new Lib3dsVector[3 * static_cast<std::size_t>(mesh->faces) + 1]);
    lib3ds_mesh_calculate_normals(mesh, normals.get());

    glBegin(GL_TRIANGLES);
    for (Lib3dsDword i = 0; i < mesh->faces; ++i) {
        const Lib3dsFace& face = mesh->faceL[i];
        Lib3dsMaterial* material = nullptr;
        if (face.material[0] != '\0')
            material = lib3ds_file_material_by_name(scene, face.material);
        if (material && std::strcmp(material->name, remembered_) != 0) {
            ApplyMaterial(material);
        } else if (!material) {
            glEnd();
            DefaultColours();
            glBegin(GL_TRIANGLES);
        }
        for (int j = 0; j < 3; ++j) {
            glNormal3fv(normals[3 * i + j]);
            if (mesh->texelL)
                glTexCoord2fv(mesh->texelL[face.points[j]]);
            glVertex3fv(mesh->pointL[face.points[j]].pos);
        }
    }
    glEnd();
    glEndList();
    return true;
}

// Loads the textures a mesh's materials name before its list is compiled:
// uploading a texture while compiling would record the upload in the list
// (and repeat it on every call) instead of filling the texture once.
void Model::PreloadTextures(Lib3dsMesh* mesh)
{
    Lib3dsMaterial* previous = nullptr;
    for (Lib3dsDword i = 0; i < mesh->faces; ++i) {
        const Lib3dsFace& face = mesh->faceL[i];
        if (face.material[0] == '\0' || (previous && std::strcmp(previous->name, face.material) == 0))
            continue;
        previous = lib3ds_file_material_by_name(scene, face.material);
        if (previous && previous->texture1_map.name[0] != '\0')
            textures.FindOrLoad(previous->texture1_map.name);
    }
}

void Model::ApplyMaterial(Lib3dsMaterial* material)
{
    glEnd();
    std::snprintf(remembered_, sizeof remembered_, "%s", material->name);

    if (material->texture1_map.name[0] != '\0') {
        const int entry = textures.FindOrLoad(material->texture1_map.name);
        if (entry >= 0) {
            DefaultColours();
            glBindTexture(GL_TEXTURE_2D, textures.Entry(entry).glName());
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
            glEnable(GL_TEXTURE_2D);
            // Flip t: mesh coordinates have v growing upwards, the texture's
            // rows run from the picture's top.
            glMatrixMode(GL_TEXTURE);
            glLoadIdentity();
            glScalef(1.0f, -1.0f, 1.0f);
            glMatrixMode(GL_MODELVIEW);
        }
    } else {
        glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, kMaterialAmbient);
        glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, material->diffuse);
        glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, material->specular);
        glDisable(GL_TEXTURE_2D);
    }

    float shininess = static_cast<float>(std::pow(2.0, kShininessExponentScale * material->shininess));
    if (shininess > kMaxShininess)
        shininess = kMaxShininess;
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, shininess);
    glBegin(GL_TRIANGLES);
}
