// The BalTrap effect: a picture moving, scaling and turning about its vertical
// axis in front of a fixed dark-red staircase whose opacity the script sets.
#include "effects/BalTrap.h"

namespace {

// ---------------------------------------------------------------------------
// Geometry, in normalised device coordinates (the effect draws with identity
// projection, so it is not corrected for the window's aspect ratio).

constexpr double kSquareHalfSize = 0.1;

// The staircase is drawn by a pen that starts at the middle of the lowest
// tread and climbs one tread and one riser per step. The pen is held in single
// precision, as the vertices are, so the bars land on the same float values
// however often the list is rebuilt.
constexpr float kPenStartX = -0.8f;
constexpr float kPenStartY = -0.485f;
constexpr double kPenStepX = 0.2;
constexpr double kPenStepY = 0.095;
constexpr double kTreadHalfWidth = 0.2;
constexpr double kTreadHalfHeight = 0.005;
constexpr double kRiserHalfWidth = 0.005;
constexpr double kRiserHalfHeight = 0.1;

// Dark red; the alpha comes from trap_alpha.
constexpr GLfloat kStairRed = 0.58f;
constexpr GLfloat kStairGreen = 0.1f;
constexpr GLfloat kStairBlue = 0.1f;

}  // namespace

// ---------------------------------------------------------------------------
// Construction

BalTrap::BalTrap()
{
    ballList = CompileSquare();
    trapList = CompileStaircase();
}

BalTrap::~BalTrap()
{
    if (ballList != 0)
        glDeleteLists(ballList, 1);
    if (trapList != 0)
        glDeleteLists(trapList, 1);
}

BalTrap::Staircase BalTrap::StaircaseVertices()
{
    Staircase corners{};
    float penX = kPenStartX;
    float penY = kPenStartY;
    int next = 0;
    for (int bar = 0; bar < kBarCount; ++bar) {
        // Bars 1, 3, 5, 7, 9 (even indices) are treads, the others risers.
        const bool tread = bar % 2 == 0;
        const double halfWidth = tread ? kTreadHalfWidth : kRiserHalfWidth;
        const double halfHeight = tread ? kTreadHalfHeight : kRiserHalfHeight;
        const double left = penX - halfWidth, right = penX + halfWidth;
        const double bottom = penY - halfHeight, top = penY + halfHeight;
        corners[next++] = {static_cast<float>(left), static_cast<float>(bottom)};
        corners[next++] = {static_cast<float>(right), static_cast<float>(bottom)};
        corners[next++] = {static_cast<float>(right), static_cast<float>(top)};
        corners[next++] = {static_cast<float>(left), static_cast<float>(top)};
        if (bar + 1 < kBarCount) {
            penX = static_cast<float>(penX + kPenStepX);
            penY = static_cast<float>(penY + kPenStepY);
        }
    }
    return corners;
}

// The picture square, upright and unmirrored (t = 0 is the picture's top row).
// It spans the whole texture, not only the picture's share of it.
GLuint BalTrap::CompileSquare()
{
    const GLuint list = glGenLists(1);
    if (list == 0)
        return 0;  // no name to compile into: draw nothing rather than draw now
    glNewList(list, GL_COMPILE);
    glEnable(GL_TEXTURE_2D);
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 1.0f);
    glVertex3d(-kSquareHalfSize, -kSquareHalfSize, 0.0);
    glTexCoord2f(1.0f, 1.0f);
    glVertex3d(kSquareHalfSize, -kSquareHalfSize, 0.0);
    glTexCoord2f(1.0f, 0.0f);
    glVertex3d(kSquareHalfSize, kSquareHalfSize, 0.0);
    glTexCoord2f(0.0f, 0.0f);
    glVertex3d(-kSquareHalfSize, kSquareHalfSize, 0.0);
    glEnd();
    glEndList();
    return list;
}

GLuint BalTrap::CompileStaircase()
{
    const GLuint list = glGenLists(1);
    if (list == 0)
        return 0;
    const Staircase corners = StaircaseVertices();
    glNewList(list, GL_COMPILE);
    glDisable(GL_TEXTURE_2D);
    glBegin(GL_QUADS);
    for (const Vertex& corner : corners)
        glVertex3f(corner.x, corner.y, 0.0f);
    glEnd();
    glEndList();
    return list;
}

// ---------------------------------------------------------------------------
// Parameters and drawing

int BalTrap::SetParams(const Params& params)
{
    const char* bal = params.bal;
    if (!ballTexture && bal) {
        // Loading binds the new texture and enables texturing; keep that
        // from leaking into whatever the script draws next.
        glPushAttrib(GL_ENABLE_BIT | GL_TEXTURE_BIT);
        ballTexture = Texture::Load(bal);
        glPopAttrib();
    }
    x = params.x;
    y = params.y;
    zoom = params.zoom;
    turn = params.turn;
    trap_alpha = params.trap_alpha;
    return 0;
}

int BalTrap::Render(int msec)
{
    (void)msec;
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    // NOTE: the texture matrix is not part of any attribute group, and a
    // Model's textured material leaves it flipped in t; without this the
    // picture would hang upside down whenever a Model was drawn before.
    glMatrixMode(GL_TEXTURE);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);

    // The staircase stays fixed in device coordinates.
    glColor4f(kStairRed, kStairGreen, kStairBlue, trap_alpha);
    if (trapList != 0)
        glCallList(trapList);

    // The offsets are scaled with the square; the turn narrows it by the
    // cosine without perspective.
    glScalef(zoom, zoom, zoom);
    glTranslatef(x, 0.0f, 0.0f);
    glTranslatef(0.0f, y, 0.0f);
    glRotatef(turn, 0.0f, 1.0f, 0.0f);

    // No picture yet: the staircase alone.
    if (ballTexture && ballList != 0) {
        glBindTexture(GL_TEXTURE_2D, ballTexture->glName());
        glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
        glCallList(ballList);
    }
    glPopAttrib();
    return 0;
}
