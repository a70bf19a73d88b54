// Text the player draws itself, over the show or instead of it: the error
// screen of the authoring loop and the author's overlay.
#pragma once

#include <GL/gl.h>

#include <map>
#include <string>
#include <vector>

typedef struct _TTF_Font TTF_Font;

namespace render {

// The font the player draws its text with, found when the build was configured.
extern const char* const kFontFile;

// Point sizes of the error screen at a window 600 pixels high; taller windows
// scale it. A long message steps down to the smallest size before anything
// is left out.
constexpr int kErrorPointSize = 16;
constexpr int kSmallestPointSize = 8;
constexpr int kOverlayPointSize = 14;

// A text image in a GL texture of its own, made again only when its text or
// size changes.
struct TextImage {
    std::vector<std::string> lines;
    int pointSize = 0;
    int width = 0;  // pixels covered by the text
    int height = 0;
    int texWidth = 0;
    int texHeight = 0;
    GLuint name = 0;
};

class TextPainter {
public:
    TextPainter() = default;
    // Frees the textures and fonts; the GL context must still be current.
    ~TextPainter();
    TextPainter(const TextPainter&) = delete;
    TextPainter& operator=(const TextPainter&) = delete;

    // Opens the font file. False with *error when it cannot be read.
    bool Open(const std::string& fontFile, std::string* error);

    // The text as lines no wider than width pixels at pointSize: split at its
    // newlines, between words, and inside a word longer than a line (never
    // inside the bytes of one UTF-8 character). Tabs become spaces.
    std::vector<std::string> Wrap(const std::string& text, int pointSize, int width);

    // Distance between two baselines at pointSize.
    int LineHeight(int pointSize);

    // The largest size from largest down to kSmallestPointSize at which
    // text, wrapped to width, is at most height pixels high (the smallest
    // size when none is).
    int FitSize(const std::string& text, int largest, int width, int height);

    // Fills the frame with the error screen: the message wrapped at the
    // largest size that shows all of it, the hint below it in grey. What
    // does not fit even at the smallest size ends in a line saying so.
    void DrawErrorScreen(const std::string& message, const std::string& hint, int width, int height);

    // Draws one line of text on a dark panel in the top-left corner, over
    // whatever the frame holds.
    void DrawOverlay(const std::string& line, int width, int height);

private:
    TTF_Font* Font(int pointSize);
    // Makes image hold lines at pointSize (unchanged images are kept).
    void Prepare(TextImage& image, const std::vector<std::string>& lines, int pointSize);

    // The error screen's lines as last laid out, and for what.
    struct Layout {
        std::string key;
        std::vector<std::string> lines;
        int size = 0;
        std::vector<std::string> hint;
        int hintSize = 0;
    };

    std::string fontFile_;
    Layout layout_;
    bool startedTtf_ = false;
    std::map<int, TTF_Font*> fonts_;
    TextImage message_;
    TextImage hint_;
    TextImage overlay_;
};

}  // namespace render
