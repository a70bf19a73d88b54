// Common base of the effect classes: the view ratio every projection uses.
#pragma once

// Width over height of the view the effects draw in. 1.33, not 4/3: the
// window is 4:3, and the pictures are stretched by the difference (about a
// quarter of a per cent) on purpose, so that shows look as they always have.
constexpr double kViewAspect = 1.33;

class Renderer {
public:
    Renderer() : aspect(kViewAspect) {}

    // Per-frame step for derived effects; does nothing.
    int Render(int msec)
    {
        (void)msec;
        return 0;
    }

    double aspect;
};
