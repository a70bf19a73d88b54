// The Image scene of the frame benchmark: objects on a 20-column grid, each
// with its own 256 x 256 picture, every parameter changing every frame.
// bench/frames/Image.pl draws the very same frames from a show script.
#include "bench/frames/Scenes.h"
#include "effects/Image.h"

#include <cmath>
#include <string>
#include <vector>

namespace frame_bench {

namespace {

constexpr int kSide = 256;
constexpr int kColumns = 20;

// Top half one colour, bottom half another, slightly translucent.
std::string Picture(int n)
{
    const char top[4] = {static_cast<char>(n * 37 % 256), static_cast<char>(n * 11 % 256),
                         static_cast<char>(255 - n % 256), static_cast<char>(255)};
    const char bottom[4] = {static_cast<char>(255 - n % 256), static_cast<char>(n * 53 % 256),
                            static_cast<char>(n * 7 % 256), static_cast<char>(200)};
    std::string pixels;
    pixels.reserve(kSide * kSide * 4);
    for (int i = 0; i < kSide * kSide / 2; ++i)
        pixels.append(top, 4);
    for (int i = 0; i < kSide * kSide / 2; ++i)
        pixels.append(bottom, 4);
    return pixels;
}

class ImageScene : public Scene {
public:
    explicit ImageScene(int count) : images(count), pictures(count), names(count)
    {
        for (int n = 0; n < count; ++n) {
            pictures[n] = Picture(n);
            names[n] = "pic" + std::to_string(n);
        }
    }

    void Frame(int msec) override
    {
        const double t = msec;
        const int rows = (static_cast<int>(images.size()) + kColumns - 1) / kColumns;
        for (std::size_t i = 0; i < images.size(); ++i) {
            const int n = static_cast<int>(i);
            const double x = -1.2 + 2.4 * (n % kColumns) / (kColumns - 1) + 0.05 * std::sin(t / 300 + n);
            const double y = 0.9 - 1.8 * (n / kColumns) / (rows > 1 ? rows - 1 : 1) + 0.05 * std::cos(t / 300 + n);
            const double size = 0.3 + 0.05 * std::sin(t / 500 + n);
            const double rot = std::fmod(t / 10 + n * 7, 360);
            const double alpha = 0.75 + 0.25 * std::sin(t / 400 + n);
            const double g = 0.5 + 0.5 * std::sin(t / 700 + n);
            images[i].SetParams({names[i].c_str(), reinterpret_cast<const unsigned char*>(pictures[i].data()),
                                pictures[i].size(), kSide, kSide, static_cast<float>(x), static_cast<float>(y),
                                static_cast<float>(size), static_cast<float>(size), static_cast<float>(alpha),
                                static_cast<float>(rot), 1, 1, 1.0f, static_cast<float>(g), 1.0f});
            images[i].Render(msec);
        }
    }

private:
    std::vector<Image> images;
    std::vector<std::string> pictures;
    std::vector<std::string> names;
};

}  // namespace

std::unique_ptr<Scene> MakeImageScene(int objects)
{
    return std::make_unique<ImageScene>(objects);
}

}  // namespace frame_bench
