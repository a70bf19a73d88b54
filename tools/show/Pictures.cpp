// makepictures: paints the bundled show's pictures and writes them as PNG
// files into one folder:
//
//   title.png    512 x 128  the show's title, glowing letters on transparency (Image)
//   credits.png  512 x 128  the closing words (Image)
//   ball.png     128 x 128  a striped ball with a soft edge (BalTrap's "bal")
//   card.png     300 x 440  the card's front page, painted mirrored (InkStain's "frontimage")
//   tiles.png    256 x 256  floor tiles (texture of the 3DS scene)
//   panel.png    128 x 128  striped panels (texture of the 3DS scene)
//
//   makepictures OUTDIR
//
// The PNG files are written uncompressed ("stored" deflate blocks) so that no
// compression library is needed; SDL_image reads them like any other PNG.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

// ---------------------------------------------------------------------------
// A picture of RGBA pixels in floating point (0..1), row 0 at the top.

struct Color {
    double r = 0, g = 0, b = 0, a = 0;
};

Color Mix(const Color& x, const Color& y, double t)
{
    return {x.r + (y.r - x.r) * t, x.g + (y.g - x.g) * t, x.b + (y.b - x.b) * t, x.a + (y.a - x.a) * t};
}

class Picture {
public:
    Picture(int width, int height) : width_(width), height_(height), pixels_(static_cast<std::size_t>(width) * height) {}
    int Width() const { return width_; }
    int Height() const { return height_; }
    Color& At(int x, int y) { return pixels_[static_cast<std::size_t>(y) * width_ + x]; }
    const Color& At(int x, int y) const { return pixels_[static_cast<std::size_t>(y) * width_ + x]; }

    // Paints colour c over pixel (x, y) with coverage alpha ("over" compositing).
    void Blend(int x, int y, const Color& c, double coverage)
    {
        if (x < 0 || y < 0 || x >= width_ || y >= height_)
            return;
        Color& d = At(x, y);
        const double a = std::clamp(c.a * coverage, 0.0, 1.0);
        const double outA = a + d.a * (1.0 - a);
        if (outA <= 0.0)
            return;
        d.r = (c.r * a + d.r * d.a * (1.0 - a)) / outA;
        d.g = (c.g * a + d.g * d.a * (1.0 - a)) / outA;
        d.b = (c.b * a + d.b * d.a * (1.0 - a)) / outA;
        d.a = outA;
    }

    // Mirrors the picture left to right.
    void Mirror()
    {
        for (int y = 0; y < height_; ++y)
            std::reverse(pixels_.begin() + static_cast<long>(y) * width_, pixels_.begin() + static_cast<long>(y + 1) * width_);
    }

    bool WritePng(const std::string& path) const;

private:
    int width_, height_;
    std::vector<Color> pixels_;
};

// ---------------------------------------------------------------------------
// PNG writing: signature, IHDR, one IDAT holding a zlib stream of stored
// blocks, IEND.

uint32_t Crc32(const uint8_t* data, std::size_t size, uint32_t crc = 0)
{
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void PutBe32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(v >> shift));
}

void PutChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data)
{
    PutBe32(out, static_cast<uint32_t>(data.size()));
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    PutBe32(out, Crc32(body.data(), body.size()));
}

uint8_t ToByte(double v) { return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); }

bool Picture::WritePng(const std::string& path) const
{
    // Raw scanlines, each with filter byte 0 (none).
    std::vector<uint8_t> raw;
    raw.reserve(static_cast<std::size_t>(height_) * (width_ * 4 + 1));
    for (int y = 0; y < height_; ++y) {
        raw.push_back(0);
        for (int x = 0; x < width_; ++x) {
            const Color& c = At(x, y);
            raw.push_back(ToByte(c.r));
            raw.push_back(ToByte(c.g));
            raw.push_back(ToByte(c.b));
            raw.push_back(ToByte(c.a));
        }
    }

    std::vector<uint8_t> zlib = {0x78, 0x01};
    constexpr std::size_t kStoredMax = 65535;
    for (std::size_t at = 0; at < raw.size(); at += kStoredMax) {
        const std::size_t n = std::min(kStoredMax, raw.size() - at);
        zlib.push_back(at + n == raw.size() ? 1 : 0);  // BFINAL on the last block, BTYPE 00
        zlib.push_back(static_cast<uint8_t>(n & 0xFF));
        zlib.push_back(static_cast<uint8_t>(n >> 8));
        zlib.push_back(static_cast<uint8_t>(~n & 0xFF));
        zlib.push_back(static_cast<uint8_t>((~n >> 8) & 0xFF));
        zlib.insert(zlib.end(), raw.begin() + static_cast<long>(at), raw.begin() + static_cast<long>(at + n));
    }
    uint32_t s1 = 1, s2 = 0;  // Adler-32 of the raw data
    for (uint8_t byte : raw) {
        s1 = (s1 + byte) % 65521;
        s2 = (s2 + s1) % 65521;
    }
    PutBe32(zlib, (s2 << 16) | s1);

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    PutBe32(header, static_cast<uint32_t>(width_));
    PutBe32(header, static_cast<uint32_t>(height_));
    header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, no filter, no interlace
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", zlib);
    PutChunk(png, "IEND", {});

    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool ok = std::fwrite(png.data(), 1, png.size(), file) == png.size();
    return std::fclose(file) == 0 && ok;
}

// ---------------------------------------------------------------------------
// Lettering: a 5 x 7 dot font, drawn with 4 x 4 supersampling.

struct Glyph {
    char c;
    uint8_t rows[7];  // 5 bits each, bit 4 is the leftmost column
};

constexpr Glyph kFont[] = {
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}}, {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}}, {'D', {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}}, {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}}, {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}}, {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}}, {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}}, {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}}, {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}}, {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}}, {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x0A, 0x04, 0x04, 0x04, 0x04}}, {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}}, {',', {0x00, 0x00, 0x00, 0x00, 0x0C, 0x04, 0x08}},
    {'!', {0x04, 0x04, 0x04, 0x04, 0x04, 0x00, 0x04}}, {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}}, {' ', {0, 0, 0, 0, 0, 0, 0}},
};
constexpr int kGlyphColumns = 6;  // 5 dots and one column of spacing
constexpr int kGlyphRows = 7;
constexpr int kSupersample = 4;

const Glyph* FindGlyph(char c)
{
    for (const Glyph& g : kFont)
        if (g.c == c)
            return &g;
    return nullptr;
}

// True when the font's dot under text position (u, v) is set; u and v are in
// dot units from the text's top-left corner.
bool DotAt(const std::string& text, double u, double v)
{
    if (u < 0 || v < 0 || v >= kGlyphRows)
        return false;
    const int index = static_cast<int>(u) / kGlyphColumns;
    const int column = static_cast<int>(u) % kGlyphColumns;
    if (index >= static_cast<int>(text.size()) || column >= 5)
        return false;
    const Glyph* glyph = FindGlyph(text[static_cast<std::size_t>(index)]);
    return glyph && (glyph->rows[static_cast<int>(v)] >> (4 - column)) & 1;
}

double TextWidth(const std::string& text, double dot) { return (text.size() * kGlyphColumns - 1) * dot; }

// Draws text with its top edge at y, centred on x, dots of the given size;
// the colour runs from top to bottom between two colours.
void DrawText(Picture& pic, const std::string& text, double cx, double top, double dot, const Color& upper,
              const Color& lower)
{
    const double left = cx - TextWidth(text, dot) / 2;
    const int x0 = std::max(0, static_cast<int>(left) - 1);
    const int x1 = std::min(pic.Width(), static_cast<int>(left + TextWidth(text, dot)) + 2);
    const int y0 = std::max(0, static_cast<int>(top) - 1);
    const int y1 = std::min(pic.Height(), static_cast<int>(top + kGlyphRows * dot) + 2);
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            int hits = 0;
            for (int sy = 0; sy < kSupersample; ++sy)
                for (int sx = 0; sx < kSupersample; ++sx) {
                    const double px = x + (sx + 0.5) / kSupersample, py = y + (sy + 0.5) / kSupersample;
                    hits += DotAt(text, (px - left) / dot, (py - top) / dot) ? 1 : 0;
                }
            if (hits) {
                const double t = std::clamp((y - top) / (kGlyphRows * dot), 0.0, 1.0);
                pic.Blend(x, y, Mix(upper, lower, t), static_cast<double>(hits) / (kSupersample * kSupersample));
            }
        }
    }
}

// A soft halo behind whatever is drawn: the alpha channel blurred (three box
// passes approximate a Gaussian) and painted underneath in the glow colour.
void AddGlow(Picture& pic, int radius, const Color& glow)
{
    const int w = pic.Width(), h = pic.Height();
    std::vector<double> a(static_cast<std::size_t>(w) * h), tmp(a.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            a[static_cast<std::size_t>(y) * w + x] = pic.At(x, y).a;
    for (int pass = 0; pass < 3; ++pass) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                double sum = 0;
                for (int k = -radius; k <= radius; ++k)
                    sum += a[static_cast<std::size_t>(y) * w + std::clamp(x + k, 0, w - 1)];
                tmp[static_cast<std::size_t>(y) * w + x] = sum / (2 * radius + 1);
            }
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                double sum = 0;
                for (int k = -radius; k <= radius; ++k)
                    sum += tmp[static_cast<std::size_t>(std::clamp(y + k, 0, h - 1)) * w + x];
                a[static_cast<std::size_t>(y) * w + x] = sum / (2 * radius + 1);
            }
    }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            Color& d = pic.At(x, y);
            const double halo = std::min(1.0, a[static_cast<std::size_t>(y) * w + x] * 1.6) * glow.a;
            // The halo goes under the existing pixel: existing over halo.
            const double outA = d.a + halo * (1.0 - d.a);
            if (outA > 0) {
                d.r = (d.r * d.a + glow.r * halo * (1.0 - d.a)) / outA;
                d.g = (d.g * d.a + glow.g * halo * (1.0 - d.a)) / outA;
                d.b = (d.b * d.a + glow.b * halo * (1.0 - d.a)) / outA;
            }
            d.a = outA;
        }
}

// ---------------------------------------------------------------------------
// The pictures

Picture Title()
{
    Picture pic(512, 128);
    DrawText(pic, "DERURE", 256, 10, 12, {1.0, 1.0, 1.0, 1}, {0.55, 0.9, 1.0, 1});
    DrawText(pic, "A SHOWPLAYER SHOW", 256, 100, 2.4, {1.0, 0.85, 0.5, 1}, {1.0, 0.6, 0.3, 1});
    AddGlow(pic, 4, {0.9, 0.2, 0.8, 0.9});
    return pic;
}

Picture Credits()
{
    Picture pic(512, 128);
    DrawText(pic, "THANKS FOR WATCHING", 256, 16, 4.2, {1.0, 1.0, 1.0, 1}, {1.0, 0.8, 0.5, 1});
    DrawText(pic, "MUSIC, PICTURES AND SCENE", 256, 66, 2.4, {0.7, 0.95, 1.0, 1}, {0.5, 0.8, 1.0, 1});
    DrawText(pic, "MADE BY THE PROJECT ITSELF", 256, 90, 2.4, {0.7, 0.95, 1.0, 1}, {0.5, 0.8, 1.0, 1});
    AddGlow(pic, 3, {0.2, 0.3, 0.9, 0.8});
    return pic;
}

// A lit ball with stripes around its vertical axis and a soft, transparent
// rim. BalTrap stretches its picture over a square of normalised device
// coordinates, which on a 4:3 window is a third wider than high; the ball is
// painted that much narrower (an ellipse 3/4 as wide as high) so that it looks
// round on the screen.
Picture Ball()
{
    constexpr int kSize = 128;
    constexpr double kWidthShare = 0.75;      // window height / width
    constexpr double kStripeWidth = kPi / 5;  // ten stripes round the ball
    const double light[3] = {-0.45, 0.55, 0.7};  // towards the upper left, in front
    const double len = std::sqrt(light[0] * light[0] + light[1] * light[1] + light[2] * light[2]);
    const Color stripes[2] = {{1.0, 0.55, 0.1, 1}, {1.0, 0.95, 0.85, 1}};
    Picture pic(kSize, kSize);
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            const double nx = ((x + 0.5) / (kSize / 2.0) - 1.0) / kWidthShare, ny = 1.0 - (y + 0.5) / (kSize / 2.0);
            const double rr = nx * nx + ny * ny;
            const double edge = std::clamp((1.0 - std::sqrt(rr)) * kSize / 2.0 * kWidthShare, 0.0, 1.0);
            if (edge <= 0)
                continue;
            const double nz = std::sqrt(std::max(0.0, 1.0 - rr));
            const double diffuse = std::max(0.0, (nx * light[0] + ny * light[1] + nz * light[2]) / len);
            // Blinn highlight: the half vector between the light and the viewer (0, 0, 1).
            const double hx = light[0] / len, hy = light[1] / len, hz = light[2] / len + 1.0;
            const double hl = std::sqrt(hx * hx + hy * hy + hz * hz);
            const double highlight = std::pow(std::max(0.0, (nx * hx + ny * hy + nz * hz) / hl), 60.0);
            const double longitude = std::atan2(nx, nz) + 0.3;
            const Color& base = stripes[static_cast<int>(std::floor(longitude / kStripeWidth + 10.0)) % 2];
            const double shade = 0.25 + 0.75 * diffuse;
            pic.At(x, y) = {std::min(1.0, base.r * shade + highlight), std::min(1.0, base.g * shade + highlight),
                            std::min(1.0, base.b * shade + highlight), edge};
        }
    return pic;
}

// The card's front page. InkStain shows it mirrored (its right edge lies on
// the hinge), so it is painted the right way round and then mirrored here.
// The effect tints it by about 0.65, so the colours are bright.
Picture Card()
{
    Picture pic(300, 440);
    const Color top{0.25, 0.35, 1.0, 1}, bottom{1.0, 0.45, 0.75, 1};
    for (int y = 0; y < pic.Height(); ++y)
        for (int x = 0; x < pic.Width(); ++x) {
            const double t = static_cast<double>(y) / pic.Height();
            Color c = Mix(top, bottom, t);
            // Rings spreading from a sun low on the page.
            const double dx = x - 150.0, dy = y - 300.0;
            const double d = std::sqrt(dx * dx + dy * dy);
            const double ring = 0.5 + 0.5 * std::cos(d * 0.12);
            c = Mix(c, {1.0, 0.95, 0.6, 1}, d < 55 ? 1.0 : 0.25 * ring * std::exp(-d / 200.0));
            // A white frame 10 pixels in.
            const bool frame = (x >= 10 && x < 16) || (x >= 284 && x < 290) || (y >= 10 && y < 16) || (y >= 424 && y < 430);
            const bool inside = x >= 10 && x < 290 && y >= 10 && y < 430;
            if (frame && inside)
                c = {1, 1, 1, 1};
            pic.At(x, y) = c;
        }
    DrawText(pic, "DERURE", 150, 50, 7, {1, 1, 1, 1}, {1.0, 0.9, 0.7, 1});
    DrawText(pic, "OPEN ME", 150, 390, 3, {1, 1, 1, 1}, {1, 1, 1, 1});
    pic.Mirror();
    return pic;
}

// Floor tiles: a checkerboard of bevelled squares, 4 x 4 per texture.
Picture Tiles()
{
    constexpr int kSize = 256, kTile = 64;
    Picture pic(kSize, kSize);
    const Color dark{0.18, 0.2, 0.32, 1}, light{0.85, 0.82, 0.7, 1};
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            const int tx = x / kTile, ty = y / kTile;
            Color c = ((tx + ty) % 2) ? dark : light;
            const int u = x % kTile, v = y % kTile;
            const int border = std::min(std::min(u, v), std::min(kTile - 1 - u, kTile - 1 - v));
            if (border < 3) {
                const double bevel = (u < 3 || v < 3) ? 1.25 : 0.6;  // lit top-left edges, shaded bottom-right
                c = {std::min(1.0, c.r * bevel), std::min(1.0, c.g * bevel), std::min(1.0, c.b * bevel), 1};
            }
            pic.At(x, y) = c;
        }
    return pic;
}

// Diagonal stripes with a bright rim: the texture of the scene's boxes.
Picture Panel()
{
    constexpr int kSize = 128;
    Picture pic(kSize, kSize);
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            const bool stripe = ((x + y) / 16) % 2 == 0;
            Color c = stripe ? Color{0.95, 0.3, 0.25, 1} : Color{0.2, 0.2, 0.25, 1};
            if (x < 6 || y < 6 || x >= kSize - 6 || y >= kSize - 6)
                c = {1.0, 0.85, 0.4, 1};
            pic.At(x, y) = c;
        }
    return pic;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const struct {
        const char* name;
        Picture (*paint)();
    } pictures[] = {{"title.png", Title}, {"credits.png", Credits}, {"ball.png", Ball},
                    {"card.png", Card},   {"tiles.png", Tiles},     {"panel.png", Panel}};
    for (const auto& p : pictures) {
        const std::string path = dir + "/" + p.name;
        if (!p.paint().WritePng(path)) {
            std::perror(path.c_str());
            return 1;
        }
    }
    return 0;
}
