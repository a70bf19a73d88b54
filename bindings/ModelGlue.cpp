// The Model package: new, SetParams and Render for animated 3DS scenes.
#include "bindings/Boot.h"
#include "bindings/Glue.h"
#include "effects/Model.h"

namespace glue {
template <>
struct Package<Model> {
    static constexpr const char* kName = "Model";
    static constexpr const char* kArticle = "a";
};
}  // namespace glue

namespace {

// Model::SetParams(THIS, sv): reads "fname", "fps", "xoff", "yoff", "zoff"
// and returns THIS whatever the load gave; undef when sv is not a hash.
XS(ModelSetParams)
{
    dXSARGS;
    glue::CheckArgCount(aTHX_ cv, items, 2, "THIS, sv");
    Model* self = glue::ThisObject<Model>(aTHX_ cv, ST(0));
    HV* hash = glue::ParamHash(aTHX_ ST(1));
    if (!hash)
        XSRETURN_UNDEF;
    const char* fname = glue::ReadString(aTHX_ hash, "fname");
    const int fps = glue::ReadInteger(aTHX_ hash, "fps");
    const double xoff = glue::ReadNumber(aTHX_ hash, "xoff");
    const double yoff = glue::ReadNumber(aTHX_ hash, "yoff");
    const double zoff = glue::ReadNumber(aTHX_ hash, "zoff");
    self->SetParams(fname, fps, xoff, yoff, zoff);
    XSRETURN(1);  // ST(0), the handle as the script passed it
}

}  // namespace

void BootModel(pTHX_ CV* cv)
{
    glue::BootEffect<Model>(aTHX_ cv, ModelSetParams, "ModelGlue");
}
