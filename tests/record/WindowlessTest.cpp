// The window-less context that recordings draw into gives the player's window's pictures, pixel for pixel.
#include "record/Offscreen.h"
#include "host/Stages.h"

#include "effects/BalTrap.h"
#include "effects/Image.h"
#include "effects/InkStain.h"
#include "effects/Model.h"
#include "tests/model/ModelScenes.h"
#include "tests/support/Display.h"

#include <GL/gl.h>
#include <SDL.h>
#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;

// Two crates cutting through each other (depth testing decides the cut), lit from the side.
const char kScene[] =
    "material Red diffuse 0.9 0.1 0.1 specular 1 1 1 shininess 0.5\n"
    "material Blue diffuse 0.1 0.2 0.9\n"
    "box A 4 material Red\n"
    "box B 4 material Blue at 1.5 0 0.7\n"
    "object A\n"
    "rot 10 30 0 0 1\n"
    "object B\n"
    "rot 10 -50 1 0 1\n"
    "camera Cam pos 6 -14 5 target 0 0 0\n"
    "light Sun pos 10 -10 10 color 1 1 1\n";

// One frame of the show's kind in the current context, read back as the player does (BGRA).
std::vector<unsigned char> DrawFrame(const std::string& scene)
{
    Model model;
    EXPECT_EQ(model.SetParams({scene.c_str(), 25, 0, 0, 0}), 0);
    InkStain stain;
    stain.SetParams({nullptr, 40.0f, 0.7f});
    BalTrap trap;
    trap.SetParams({nullptr, 0.2f, -0.1f, 1.5f, 30.0f, 0.6f});
    Image image;
    std::vector<unsigned char> pixels;
    for (int i = 0; i < 8 * 8; ++i)
        pixels.insert(pixels.end(), {static_cast<unsigned char>(i * 4), 200, static_cast<unsigned char>(255 - i * 4), 255});
    image.SetParams({nullptr, pixels.data(), pixels.size(), 8, 8, 0.5f, 0.3f, 1.2f, 1.2f, 0.8f, 25.0f, 1, 1, 1, 1, 1});

    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    stain.Render(0);
    trap.Render(0);
    model.Render(300);
    image.Render(0);

    std::vector<unsigned char> frame(kWidth * kHeight * 4);
    glReadPixels(0, 0, kWidth, kHeight, GL_BGRA, GL_UNSIGNED_BYTE, frame.data());
    return frame;
}

}  // namespace

TEST(Windowless, DrawsWhatThePlayersWindowDraws)
{
    if (!testing_support::HoldDisplay())
        GTEST_SKIP() << "no display";
    model_test::ScratchDir dir;
    const std::string scene = dir.Scene("scene.3ds", kScene);

    show::Context context;
    ASSERT_EQ(host::InitVideo(kWidth, kHeight, 32, false, context), 0);
    const std::vector<unsigned char> window = DrawFrame(scene);

    // NOTE: a thread holds one current context across GLX and EGL: the window-less one gets its own thread.
    std::vector<unsigned char> recorded;
    std::thread([&] {
        std::string error;
        auto offscreen = record::Offscreen::Create(kWidth, kHeight, true, &error);
        ASSERT_TRUE(offscreen) << error;
        DrawFrame(scene);
        EXPECT_EQ(offscreen->Capture(), nullptr);  // one frame behind: nothing yet
        const unsigned char* read = offscreen->Drain();
        ASSERT_NE(read, nullptr);
        recorded.assign(read, read + window.size());
        if (offscreen->Rgba())
            for (std::size_t i = 0; i < recorded.size(); i += 4)
                std::swap(recorded[i], recorded[i + 2]);
    }).join();
    ASSERT_EQ(recorded.size(), window.size());

    // Every pixel alike (alpha aside), and the frame is not blank: the effects drew many colours.
    long differing = 0;
    std::set<unsigned> colours;
    for (std::size_t i = 0; i < window.size(); i += 4) {
        differing += window[i] != recorded[i] || window[i + 1] != recorded[i + 1] || window[i + 2] != recorded[i + 2];
        colours.insert(window[i] | window[i + 1] << 8 | window[i + 2] << 16);
    }
    EXPECT_EQ(differing, 0);
    EXPECT_GT(colours.size(), 100u);

    SDL_Quit();
}
