// The InkStain package: new, SetParams and Render for the InkStain effect.
#include "effects/InkStain.h"

#include "bindings/Boot.h"
#include "bindings/Glue.h"

template <>
struct glue::Package<InkStain> {
    static constexpr const char* kName = "InkStain";
    static constexpr const char* kArticle = "an";

    // "frontimage", "openangle" and "stainsize" in that order, the numbers
    // narrowed to float; other keys are ignored.
    static InkStain::Params Read(pTHX_ HV* hash)
    {
        InkStain::Params p;
        p.frontimage = ReadString(aTHX_ hash, "frontimage");
        p.openangle = static_cast<float>(ReadNumber(aTHX_ hash, "openangle"));
        p.stainsize = static_cast<float>(ReadNumber(aTHX_ hash, "stainsize"));
        return p;
    }
};

void BootInkStain(pTHX_ CV* cv)
{
    glue::BootEffect<InkStain>(aTHX_ cv, "InkStainGlue");
}
