// The InkStain effect: a card seen in perspective whose picture page swings
// open on its left-hand hinge to uncover a five-lobed black blot.
#include "effects/InkStain.h"

#include <GL/glu.h>
#include <cmath>

namespace {

// ---------------------------------------------------------------------------
// The card, in scene units: lower left corner at the origin in the plane
// z = 0, x right, y up. Some values are single-precision constants handed to
// GL in double precision, which places the card where shows expect it.
constexpr double kCardWidth = 3.0;
constexpr double kCardHeight = static_cast<double>(4.4f);
// The backing card sits just behind the page's plane.
constexpr double kBackDepth = static_cast<double>(-0.0005f);
// The page's reverse face lies in the page's plane; written as -0 on purpose.
constexpr double kReverseDepth = -0.0;
// Card and page colour; it also tints the picture (modulate).
constexpr GLubyte kCardRed = 166;
constexpr GLubyte kCardGreen = 168;
constexpr GLubyte kCardBlue = 151;
constexpr GLubyte kCardAlpha = 255;

// ---------------------------------------------------------------------------
// The stain: r = size * (1 + sin(5 theta) / 3), sampled every pi/100 from the
// top; the small slack on the limit makes the rim close on its first point.
constexpr double kStainStep = M_PI / 100.0;
constexpr double kStainLimit = 2.0 * M_PI + 0.001;
constexpr double kStainLobes = 5.0;
constexpr double kStainLobeDepth = 1.0 / 3.0;
// The stain's centre: the card's centre, a little behind the card's plane (it
// still shows because it is drawn after the card).
constexpr double kStainX = 1.5;
constexpr double kStainY = 2.2;
constexpr double kStainZ = -0.1;

// ---------------------------------------------------------------------------
// The camera: level with the card's middle, 10 units in front of it.
constexpr double kFieldOfView = 30.0;  // vertical, degrees
constexpr double kNearPlane = 0.1;
constexpr double kFarPlane = 100.0;
constexpr double kEyeHeight = static_cast<double>(2.2f);
constexpr double kEyeDistance = 10.0;

bool HasList(GLuint list)
{
    return list != 0 && list != InkStain::kNoList;
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction

InkStain::InkStain()
{
    backList = BuildBackList();
    // Contents come with the first non-zero stain size.
    stainList = glGenLists(1);
}

InkStain::~InkStain()
{
    if (HasList(frontList))
        glDeleteLists(frontList, 1);
    if (backList != 0)
        glDeleteLists(backList, 1);
    if (stainList != 0)
        glDeleteLists(stainList, 1);
}

// ---------------------------------------------------------------------------
// Display lists

GLuint InkStain::BuildBackList()
{
    const GLuint list = glGenLists(1);
    if (list == 0)
        return 0;  // no name to compile into: draw nothing rather than draw now
    glNewList(list, GL_COMPILE);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glPolygonMode(GL_FRONT, GL_FILL);
    glPolygonMode(GL_BACK, GL_FILL);
    glColor4ub(kCardRed, kCardGreen, kCardBlue, kCardAlpha);
    glBindTexture(GL_TEXTURE_2D, 0);
    glMatrixMode(GL_TEXTURE);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glBegin(GL_QUADS);
    glVertex3d(0.0, 0.0, kBackDepth);
    glVertex3d(kCardWidth, 0.0, kBackDepth);
    glVertex3d(kCardWidth, kCardHeight, kBackDepth);
    glVertex3d(0.0, kCardHeight, kBackDepth);
    glEnd();
    glEndList();
    return list;
}

// The page: the picture on its front, mirrored so that its right edge lies on
// the hinge, and the plain card colour on its reverse. Needs frontTexture.
GLuint InkStain::BuildFrontList()
{
    if (!frontTexture)
        return kNoList;
    const GLuint list = glGenLists(1);
    if (list == 0)
        return 0;
    const GLfloat maxS = frontTexture->maxS();
    const GLfloat maxT = frontTexture->maxT();
    glNewList(list, GL_COMPILE);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glEnable(GL_TEXTURE_2D);
    glColor4ub(kCardRed, kCardGreen, kCardBlue, kCardAlpha);
    glBindTexture(GL_TEXTURE_2D, frontTexture->glName());
    glMatrixMode(GL_TEXTURE);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    // Inside the list, so applied again on every call.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
    glPolygonMode(GL_FRONT, GL_FILL);

    // Only the picture's share of the texture, none of its transparent border.
    glBegin(GL_QUADS);
    glTexCoord2f(maxS, maxT);
    glVertex3d(0.0, 0.0, 0.0);
    glTexCoord2f(0.0f, maxT);
    glVertex3d(kCardWidth, 0.0, 0.0);
    glTexCoord2f(0.0f, 0.0f);
    glVertex3d(kCardWidth, kCardHeight, 0.0);
    glTexCoord2f(maxS, 0.0f);
    glVertex3d(0.0, kCardHeight, 0.0);
    glEnd();

    // Reverse face: opposite winding, culled until the page turns past 90.
    glBindTexture(GL_TEXTURE_2D, 0);
    glPolygonMode(GL_BACK, GL_FILL);
    glBegin(GL_QUADS);
    glVertex3d(0.0, 0.0, kReverseDepth);
    glVertex3d(0.0, kCardHeight, kReverseDepth);
    glVertex3d(kCardWidth, kCardHeight, kReverseDepth);
    glVertex3d(kCardWidth, 0.0, kReverseDepth);
    glEnd();
    glEndList();
    return list;
}

std::vector<InkStain::Point> InkStain::StainRim(float size)
{
    std::vector<Point> rim;
    rim.reserve(kStainRimPointCount);
    // theta is accumulated, not multiplied out, so the rim ends where shows
    // have always seen it end.
    for (double theta = 0.0; theta <= kStainLimit; theta += kStainStep) {
        const double r = size * (1.0 + std::sin(kStainLobes * theta) * kStainLobeDepth);
        rim.push_back({std::sin(-theta) * r, std::cos(theta) * r});
    }
    return rim;
}

void InkStain::BuildStainList(float size)
{
    if (stainList == 0)
        return;
    const std::vector<Point> rim = StainRim(size);
    glNewList(stainList, GL_COMPILE);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glPolygonMode(GL_FRONT, GL_FILL);
    glColor4f(0.0f, 0.0f, 0.0f, 1.0f);
    glBegin(GL_TRIANGLE_FAN);
    glVertex3d(0.0, 0.0, 0.0);
    for (const Point& point : rim)
        glVertex3d(point.x, point.y, 0.0);
    glEnd();
    glEndList();
}

// ---------------------------------------------------------------------------
// Parameters and drawing

int InkStain::SetParams(const Params& params)
{
    const char* frontimage = params.frontimage;
    const float newStainsize = params.stainsize;
    if (!frontTexture && frontimage) {
        // Loading binds the new texture and enables texturing; keep that
        // from leaking into whatever the script draws next.
        glPushAttrib(GL_ENABLE_BIT | GL_TEXTURE_BIT);
        frontTexture = Texture::Load(frontimage);
        glPopAttrib();
        // Without a picture the page stays undrawn and the next call tries again.
        if (frontTexture) {
            if (HasList(frontList))
                glDeleteLists(frontList, 1);
            frontList = BuildFrontList();
        }
    }
    openangle = params.openangle;
    // A NaN compares unequal, so it always recompiles.
    if (!(newStainsize == stainsize)) {
        stainsize = newStainsize;
        BuildStainList(stainsize);
    }
    return 0;
}

int InkStain::Render(int msec)
{
    Renderer::Render(msec);
    glPushAttrib(GL_ENABLE_BIT);

    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(kFieldOfView, aspect, kNearPlane, kFarPlane);
    gluLookAt(0.0, kEyeHeight, kEyeDistance, 0.0, kEyeHeight, 0.0, 0.0, 1.0, 0.0);

    // Drawing order does the layering; there is no depth test.
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    if (backList != 0)
        glCallList(backList);

    glLoadIdentity();
    glTranslated(kStainX, kStainY, kStainZ);
    if (stainList != 0)
        glCallList(stainList);

    // A positive angle swings the free edge towards the viewer.
    glLoadIdentity();
    glRotatef(-openangle, 0.0f, 1.0f, 0.0f);
    if (HasList(frontList))
        glCallList(frontList);

    glPopAttrib();
    return 0;
}
