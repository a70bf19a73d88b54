// The InkStain package: new, SetParams and Render for the InkStain effect.
#include "bindings/Boot.h"
#include "bindings/Glue.h"

#include "effects/InkStain.h"

namespace glue {
template <>
struct Package<InkStain> {
    static constexpr const char* kName = "InkStain";
    static constexpr const char* kArticle = "an";
};
}  // namespace glue

namespace {

// InkStain::SetParams(THIS, sv): reads "frontimage", "openangle" and
// "stainsize" in that order, the numbers narrowed to float; other keys are
// ignored. Returns THIS, or undef (and changes nothing) when sv is not a hash
// reference.
void XS_SetParams(pTHX_ CV* cv)
{
    dXSARGS;
    glue::CheckArgCount(aTHX_ cv, items, 2, "THIS, sv");
    InkStain* self = glue::ThisObject<InkStain>(aTHX_ cv, ST(0));
    HV* params = glue::ParamHash(aTHX_ ST(1));
    if (!params)
        XSRETURN_UNDEF;
    const char* frontimage = glue::ReadString(aTHX_ params, "frontimage");
    const float openangle = static_cast<float>(glue::ReadNumber(aTHX_ params, "openangle"));
    const float stainsize = static_cast<float>(glue::ReadNumber(aTHX_ params, "stainsize"));
    self->SetParams(frontimage, openangle, stainsize);
    XSRETURN(1);  // ST(0): THIS as the script passed it
}

}  // namespace

void BootInkStain(pTHX_ CV* cv)
{
    glue::BootEffect<InkStain>(aTHX_ cv, XS_SetParams, "InkStainGlue");
}
