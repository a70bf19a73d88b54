// The BalTrap and InkStain scenes of the frame benchmark. bench/frames/
// BalTrap.pl and InkStain.pl draw the very same frames from show scripts.
#include "bench/frames/Scenes.h"
#include "effects/BalTrap.h"
#include "effects/InkStain.h"

#include <SDL.h>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace frame_bench {

namespace {

constexpr int kSide = 64;
constexpr int kColumns = 20;

// The scripts' picture: kSide x kSide in four coloured quadrants, written to a
// folder of its own that goes with the scene.
class Picture {
public:
    explicit Picture(const char* name)
    {
        char pattern[] = "/tmp/frame-bench-XXXXXX";
        if (const char* dir = mkdtemp(pattern))
            dir_ = dir;
        path_ = dir_ + "/" + name;
        SDL_Surface* surface = SDL_CreateRGBSurface(SDL_SWSURFACE, kSide, kSide, 24, 0x0000FF, 0x00FF00, 0xFF0000, 0);
        const Uint32 colours[4] = {SDL_MapRGB(surface->format, 255, 0, 0), SDL_MapRGB(surface->format, 0, 255, 0),
                                   SDL_MapRGB(surface->format, 0, 0, 255), SDL_MapRGB(surface->format, 255, 255, 0)};
        for (int quadrant = 0; quadrant < 4; ++quadrant) {
            SDL_Rect rect = {static_cast<Sint16>(quadrant % 2 * kSide / 2), static_cast<Sint16>(quadrant / 2 * kSide / 2),
                             kSide / 2, kSide / 2};
            SDL_FillRect(surface, &rect, colours[quadrant]);
        }
        SDL_SaveBMP(surface, path_.c_str());
        SDL_FreeSurface(surface);
    }
    ~Picture()
    {
        if (!dir_.empty())
            std::filesystem::remove_all(dir_);
    }
    const char* path() const { return path_.c_str(); }

private:
    std::string dir_;
    std::string path_;
};

double Wrap(double degrees)
{
    return degrees - 360 * std::floor(degrees / 360);
}

class BalTrapScene : public Scene {
public:
    explicit BalTrapScene(int count) : picture_("bal.bmp")
    {
        for (int n = 0; n < count; ++n)
            traps_.push_back(std::make_unique<BalTrap>());
    }

    void Frame(int msec) override
    {
        const double t = msec;
        const int count = static_cast<int>(traps_.size());
        const int rows = (count + kColumns - 1) / kColumns;
        for (int n = 0; n < count; ++n) {
            const double x = -0.9 + 1.8 * (n % kColumns) / (kColumns - 1) + 0.05 * std::sin(t / 300 + n);
            const double y = 0.9 - 1.8 * (n / kColumns) / (rows > 1 ? rows - 1 : 1) + 0.05 * std::cos(t / 300 + n);
            const double zoom = 1.0 + 0.2 * std::sin(t / 500 + n);
            const double turn = Wrap(t / 10 + n * 7);
            const double alpha = 0.5 + 0.5 * std::sin(t / 400 + n);
            traps_[n]->SetParams({picture_.path(), static_cast<float>(x), static_cast<float>(y),
                                 static_cast<float>(zoom), static_cast<float>(turn), static_cast<float>(alpha)});
            traps_[n]->Render(msec);
        }
    }

private:
    Picture picture_;
    std::vector<std::unique_ptr<BalTrap>> traps_;
};

class InkStainScene : public Scene {
public:
    explicit InkStainScene(int count) : picture_("card.bmp")
    {
        for (int n = 0; n < count; ++n)
            cards_.push_back(std::make_unique<InkStain>());
    }

    void Frame(int msec) override
    {
        const double t = msec;
        const int count = static_cast<int>(cards_.size());
        for (int n = 0; n < count; ++n) {
            const double angle = Wrap(t / 10 + n * 7) - 180;
            const double size = 0.5 + 0.3 * std::sin(t / 500 + n);
            cards_[n]->SetParams({picture_.path(), static_cast<float>(angle), static_cast<float>(size)});
            cards_[n]->Render(msec);
        }
    }

private:
    Picture picture_;
    std::vector<std::unique_ptr<InkStain>> cards_;
};

}  // namespace

std::unique_ptr<Scene> MakeBalTrapScene(int objects)
{
    return std::make_unique<BalTrapScene>(objects);
}

std::unique_ptr<Scene> MakeInkStainScene(int objects)
{
    return std::make_unique<InkStainScene>(objects);
}

}  // namespace frame_bench
