// The BalTrap package: new, SetParams and Render for the BalTrap effect.
#include "bindings/Boot.h"
#include "bindings/Glue.h"

#include "effects/BalTrap.h"

namespace glue {
template <>
struct Package<BalTrap> {
    static constexpr const char* kName = "BalTrap";
    static constexpr const char* kArticle = "a";
};
}  // namespace glue

namespace {

// BalTrap::SetParams(THIS, sv): reads "bal", "x", "y", "zoom", "turn" and
// "trap_alpha" in that order, the numbers narrowed to float; returns THIS, or
// undef (and changes nothing) when sv is not a hash reference.
void XS_SetParams(pTHX_ CV* cv)
{
    dXSARGS;
    glue::CheckArgCount(aTHX_ cv, items, 2, "THIS, sv");
    BalTrap* self = glue::ThisObject<BalTrap>(aTHX_ cv, ST(0));
    HV* params = glue::ParamHash(aTHX_ ST(1));
    if (!params)
        XSRETURN_UNDEF;
    const char* bal = glue::ReadString(aTHX_ params, "bal");
    const float x = static_cast<float>(glue::ReadNumber(aTHX_ params, "x"));
    const float y = static_cast<float>(glue::ReadNumber(aTHX_ params, "y"));
    const float zoom = static_cast<float>(glue::ReadNumber(aTHX_ params, "zoom"));
    const float turn = static_cast<float>(glue::ReadNumber(aTHX_ params, "turn"));
    const float trapAlpha = static_cast<float>(glue::ReadNumber(aTHX_ params, "trap_alpha"));
    self->SetParams(bal, x, y, zoom, turn, trapAlpha);
    XSRETURN(1);  // ST(0): THIS as the script passed it
}

}  // namespace

void BootBalTrap(pTHX_ CV* cv)
{
    glue::BootEffect<BalTrap>(aTHX_ cv, XS_SetParams, "BalTrapGlue");
}
