// The BalTrap package: new, SetParams and Render for the BalTrap effect.
#include "effects/BalTrap.h"

#include "bindings/Boot.h"
#include "bindings/Glue.h"

template <>
struct glue::Package<BalTrap> {
    static constexpr const char* kName = "BalTrap";
    static constexpr const char* kArticle = "a";

    // "bal", "x", "y", "zoom", "turn" and "trap_alpha" in that order, the
    // numbers narrowed to float.
    static BalTrap::Params Read(pTHX_ HV* hash)
    {
        BalTrap::Params p;
        p.bal = ReadString(aTHX_ hash, "bal");
        p.x = static_cast<float>(ReadNumber(aTHX_ hash, "x"));
        p.y = static_cast<float>(ReadNumber(aTHX_ hash, "y"));
        p.zoom = static_cast<float>(ReadNumber(aTHX_ hash, "zoom"));
        p.turn = static_cast<float>(ReadNumber(aTHX_ hash, "turn"));
        p.trap_alpha = static_cast<float>(ReadNumber(aTHX_ hash, "trap_alpha"));
        return p;
    }
};

void BootBalTrap(pTHX_ CV* cv)
{
    glue::BootEffect<BalTrap>(aTHX_ cv, "BalTrapGlue");
}
