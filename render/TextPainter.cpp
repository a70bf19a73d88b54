// Text the player draws itself, over the show or instead of it: the error
// screen of the authoring loop and the author's overlay.
#include "render/TextPainter.h"

#include "render/Picture.h"

#include <SDL.h>
#include <SDL_ttf.h>

#include <algorithm>

namespace render {

const char* const kFontFile = SHOWPLAYER_FONT_FILE;

namespace {

// ---------------------------------------------------------------------------
// Looks

constexpr GLfloat kErrorBackground[4] = {0.16f, 0.03f, 0.03f, 1.0f};
constexpr GLfloat kErrorText[4] = {1.0f, 1.0f, 1.0f, 1.0f};
constexpr GLfloat kHintText[4] = {0.65f, 0.65f, 0.65f, 1.0f};
constexpr GLfloat kPanel[4] = {0.0f, 0.0f, 0.0f, 0.6f};
constexpr GLfloat kOverlayText[4] = {1.0f, 1.0f, 0.6f, 1.0f};

constexpr int kReferenceHeight = 600;  // window height the point sizes are for
constexpr int kMarginDivisor = 32;     // error screen margin: 1/32 of the width
constexpr int kTabWidth = 4;
constexpr int kOverlayInset = 8;       // pixels between the window edge and the panel
constexpr int kOverlayPadding = 4;     // pixels between the panel edge and the text

// ---------------------------------------------------------------------------
// GL state

// Everything the drawing below changes, saved when it starts and put back
// when it ends, so that the show's next frame finds the state its last one
// left: all attribute groups, the client's pixel store, and the three
// matrices (kept by value, as the show may have filled a matrix stack).
class SavedGlState {
public:
    SavedGlState()
    {
        glPushAttrib(GL_ALL_ATTRIB_BITS);
        glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
        glGetDoublev(GL_PROJECTION_MATRIX, projection_);
        glGetDoublev(GL_MODELVIEW_MATRIX, modelview_);
        glGetDoublev(GL_TEXTURE_MATRIX, texture_);
    }
    ~SavedGlState()
    {
        glMatrixMode(GL_TEXTURE);
        glLoadMatrixd(texture_);
        glMatrixMode(GL_MODELVIEW);
        glLoadMatrixd(modelview_);
        glMatrixMode(GL_PROJECTION);
        glLoadMatrixd(projection_);
        glPopClientAttrib();
        glPopAttrib();  // the matrix mode too
    }
    SavedGlState(const SavedGlState&) = delete;
    SavedGlState& operator=(const SavedGlState&) = delete;

private:
    GLdouble projection_[16];
    GLdouble modelview_[16];
    GLdouble texture_[16];
};

// A known state for drawing flat, blended, textured quads in window pixels
// (origin top-left, y down), whatever the show left behind.
void SetUpPixelDrawing(int width, int height)
{
    static const GLenum kOff[] = {
        GL_LIGHTING,     GL_DEPTH_TEST,     GL_CULL_FACE,    GL_FOG,          GL_ALPHA_TEST,
        GL_STENCIL_TEST, GL_SCISSOR_TEST,   GL_COLOR_LOGIC_OP, GL_COLOR_MATERIAL, GL_POLYGON_STIPPLE,
        GL_TEXTURE_GEN_S, GL_TEXTURE_GEN_T, GL_TEXTURE_GEN_R, GL_TEXTURE_GEN_Q, GL_TEXTURE_1D,
        GL_TEXTURE_3D,   GL_TEXTURE_CUBE_MAP,
    };
    for (GLenum capability : kOff)
        glDisable(capability);
    GLint clipPlanes = 0;
    glGetIntegerv(GL_MAX_CLIP_PLANES, &clipPlanes);
    for (GLint i = 0; i < clipPlanes; ++i)
        glDisable(static_cast<GLenum>(GL_CLIP_PLANE0 + i));

    glViewport(0, 0, width, height);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);

    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    glPixelStorei(GL_UNPACK_SWAP_BYTES, GL_FALSE);
    glPixelStorei(GL_UNPACK_LSB_FIRST, GL_FALSE);
    glPixelTransferi(GL_MAP_COLOR, GL_FALSE);
    glPixelTransferf(GL_ALPHA_SCALE, 1.0f);
    glPixelTransferf(GL_ALPHA_BIAS, 0.0f);

    glMatrixMode(GL_TEXTURE);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, width, height, 0, -1, 1);
}

void FillRect(int x, int y, int width, int height, const GLfloat* colour)
{
    glDisable(GL_TEXTURE_2D);
    glColor4fv(colour);
    glBegin(GL_QUADS);
    glVertex2i(x, y);
    glVertex2i(x + width, y);
    glVertex2i(x + width, y + height);
    glVertex2i(x, y + height);
    glEnd();
}

void DrawImage(const TextImage& image, int x, int y, const GLfloat* colour)
{
    if (!image.name || image.width == 0)
        return;
    const GLfloat s = static_cast<GLfloat>(image.width) / image.texWidth;
    const GLfloat t = static_cast<GLfloat>(image.height) / image.texHeight;
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, image.name);
    glColor4fv(colour);
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex2i(x, y);
    glTexCoord2f(s, 0);
    glVertex2i(x + image.width, y);
    glTexCoord2f(s, t);
    glVertex2i(x + image.width, y + image.height);
    glTexCoord2f(0, t);
    glVertex2i(x, y + image.height);
    glEnd();
}

// ---------------------------------------------------------------------------
// Text

int TextWidth(TTF_Font* font, const std::string& text)
{
    int w = 0, h = 0;
    if (text.empty() || TTF_SizeUTF8(font, text.c_str(), &w, &h) != 0)
        return 0;
    return w;
}

// Length of the longest prefix of text, ending on a character boundary, at
// most width pixels wide; at least one character.
std::size_t FittingPrefix(TTF_Font* font, const std::string& text, int width)
{
    std::size_t best = 0;
    for (std::size_t end = 1; end <= text.size(); ++end) {
        if (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
            continue;  // inside a UTF-8 sequence
        if (best > 0 && TextWidth(font, text.substr(0, end)) > width)
            break;
        best = end;
    }
    return best;
}

std::string ExpandTabs(const std::string& line)
{
    std::string out;
    for (char c : line) {
        if (c == '\t')
            out.append(kTabWidth - out.size() % kTabWidth, ' ');
        else if (c != '\r')
            out += c;
    }
    return out;
}

}  // namespace

TextPainter::~TextPainter()
{
    for (TextImage* image : {&message_, &hint_, &overlay_})
        if (image->name)
            glDeleteTextures(1, &image->name);
    for (auto& entry : fonts_)
        TTF_CloseFont(entry.second);
    if (startedTtf_)
        TTF_Quit();
}

bool TextPainter::Open(const std::string& fontFile, std::string* error)
{
    if (!TTF_WasInit()) {
        if (TTF_Init() != 0) {
            *error = TTF_GetError();
            return false;
        }
        startedTtf_ = true;
    }
    fontFile_ = fontFile;
    if (!Font(kErrorPointSize)) {
        *error = "cannot read the font " + fontFile + ": " + TTF_GetError();
        return false;
    }
    return true;
}

TTF_Font* TextPainter::Font(int pointSize)
{
    auto found = fonts_.find(pointSize);
    if (found != fonts_.end())
        return found->second;
    TTF_Font* font = TTF_OpenFont(fontFile_.c_str(), pointSize);
    if (font)
        fonts_[pointSize] = font;
    return font;
}

int TextPainter::LineHeight(int pointSize)
{
    TTF_Font* font = Font(pointSize);
    return font ? TTF_FontLineSkip(font) : pointSize;
}

std::vector<std::string> TextPainter::Wrap(const std::string& text, int pointSize, int width)
{
    std::vector<std::string> lines;
    TTF_Font* font = Font(pointSize);
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string paragraph = ExpandTabs(text.substr(start, end - start));
        start = end + 1;
        if (end == text.size() && paragraph.empty() && !lines.empty())
            break;  // the newline that ends the text opens no line

        // The paragraph's own indentation is kept on its first line.
        const std::size_t indent = paragraph.find_first_not_of(' ');
        std::string line = paragraph.substr(0, indent == std::string::npos ? paragraph.size() : indent);
        bool lineHasWord = false;
        std::size_t pos = line.size();
        while (pos < paragraph.size()) {
            std::size_t wordEnd = paragraph.find(' ', pos);
            if (wordEnd == std::string::npos)
                wordEnd = paragraph.size();
            std::string word = paragraph.substr(pos, wordEnd - pos);
            pos = wordEnd + 1;
            if (word.empty())
                continue;
            const std::string joined = lineHasWord ? line + " " + word : line + word;
            if (!font || TextWidth(font, joined) <= width) {
                line = joined;
                lineHasWord = true;
                continue;
            }
            if (lineHasWord)
                lines.push_back(line);
            else if (!line.empty())
                word = line + word;  // indentation wider than the room left
            while (TextWidth(font, word) > width) {
                const std::size_t cut = FittingPrefix(font, word, width);
                lines.push_back(word.substr(0, cut));
                word.erase(0, cut);
            }
            line = word;
            lineHasWord = true;
        }
        lines.push_back(line);
    }
    return lines;
}

int TextPainter::FitSize(const std::string& text, int largest, int width, int height)
{
    for (int size = largest; size > kSmallestPointSize; --size) {
        const int lines = static_cast<int>(Wrap(text, size, width).size());
        if (lines * LineHeight(size) <= height)
            return size;
    }
    return kSmallestPointSize;
}

void TextPainter::Prepare(TextImage& image, const std::vector<std::string>& lines, int pointSize)
{
    if (image.name && image.lines == lines && image.pointSize == pointSize)
        return;
    image.lines = lines;
    image.pointSize = pointSize;
    TTF_Font* font = Font(pointSize);
    if (!font) {
        image.width = image.height = 0;
        return;
    }
    const int lineHeight = TTF_FontLineSkip(font);
    image.width = 0;
    for (const std::string& line : lines)
        image.width = std::max(image.width, TextWidth(font, line));
    image.height = static_cast<int>(lines.size()) * lineHeight;
    image.texWidth = NextPowerOfTwo(image.width);
    image.texHeight = NextPowerOfTwo(image.height);

    // One alpha value per pixel; the colour comes from glColor when drawn.
    std::vector<unsigned char> alpha(static_cast<std::size_t>(image.texWidth) * image.texHeight, 0);
    const SDL_Color white = {255, 255, 255, 0};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].empty())
            continue;
        SDL_Surface* rendered = TTF_RenderUTF8_Blended(font, lines[i].c_str(), white);
        if (!rendered)
            continue;
        SDL_LockSurface(rendered);
        const SDL_PixelFormat* format = rendered->format;
        const int top = static_cast<int>(i) * lineHeight;
        const int rows = std::min(rendered->h, image.texHeight - top);
        const int columns = std::min(rendered->w, image.texWidth);
        for (int y = 0; y < rows; ++y) {
            const auto* row = reinterpret_cast<const Uint32*>(static_cast<const Uint8*>(rendered->pixels) +
                                                              y * rendered->pitch);
            unsigned char* out = &alpha[static_cast<std::size_t>(top + y) * image.texWidth];
            for (int x = 0; x < columns; ++x)
                out[x] = std::max(out[x], static_cast<unsigned char>((row[x] & format->Amask) >> format->Ashift));
        }
        SDL_UnlockSurface(rendered);
        SDL_FreeSurface(rendered);
    }

    if (!image.name)
        glGenTextures(1, &image.name);
    glBindTexture(GL_TEXTURE_2D, image.name);
    // Drawn texel for pixel: no filtering blurs the glyphs.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_ALPHA, image.texWidth, image.texHeight, 0, GL_ALPHA, GL_UNSIGNED_BYTE,
                 alpha.data());
}

void TextPainter::DrawErrorScreen(const std::string& message, const std::string& hint, int width, int height)
{
    const int margin = std::max(4, width / kMarginDivisor);
    std::string key = std::to_string(width) + "x" + std::to_string(height) + '\0' + hint + '\0' + message;
    if (key != layout_.key) {
        // Wrapping is measured glyph by glyph: done once per message.
        layout_.key = std::move(key);
        const int room = std::max(1, width - 2 * margin);
        const int largest = std::max(kSmallestPointSize, kErrorPointSize * height / kReferenceHeight);
        layout_.hintSize = std::max(kSmallestPointSize, largest * 3 / 4);
        layout_.hint = hint.empty() ? std::vector<std::string>{} : Wrap(hint, layout_.hintSize, room);
        const int hintHeight = static_cast<int>(layout_.hint.size()) * LineHeight(layout_.hintSize);
        const int messageRoom = std::max(0, height - 2 * margin - (hintHeight > 0 ? hintHeight + margin : 0));

        layout_.size = FitSize(message, largest, room, messageRoom);
        layout_.lines = Wrap(message, layout_.size, room);
        const int fitting = messageRoom / LineHeight(layout_.size);
        if (static_cast<int>(layout_.lines.size()) > fitting && fitting > 0) {
            const std::size_t left = layout_.lines.size() - static_cast<std::size_t>(fitting - 1);
            layout_.lines.resize(static_cast<std::size_t>(fitting - 1));
            layout_.lines.push_back("... " + std::to_string(left) + " more lines on standard error");
        }
    }

    SavedGlState saved;
    SetUpPixelDrawing(width, height);
    Prepare(message_, layout_.lines, layout_.size);
    Prepare(hint_, layout_.hint, layout_.hintSize);
    glClearColor(kErrorBackground[0], kErrorBackground[1], kErrorBackground[2], kErrorBackground[3]);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    DrawImage(message_, margin, margin, kErrorText);
    DrawImage(hint_, margin, height - margin - hint_.height, kHintText);
}

void TextPainter::DrawOverlay(const std::string& line, int width, int height)
{
    const int size = std::max(kSmallestPointSize, kOverlayPointSize * height / kReferenceHeight);
    SavedGlState saved;
    SetUpPixelDrawing(width, height);
    Prepare(overlay_, {line}, size);
    FillRect(kOverlayInset, kOverlayInset, overlay_.width + 2 * kOverlayPadding,
             overlay_.height + 2 * kOverlayPadding, kPanel);
    DrawImage(overlay_, kOverlayInset + kOverlayPadding, kOverlayInset + kOverlayPadding, kOverlayText);
}

}  // namespace render
