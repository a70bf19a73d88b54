// The Model package: new, SetParams and Render for animated 3DS scenes.
#include "effects/Model.h"

#include "bindings/Boot.h"
#include "bindings/Glue.h"

template <>
struct glue::Package<Model> {
    static constexpr const char* kName = "Model";
    static constexpr const char* kArticle = "a";

    // "fname", "fps", "xoff", "yoff", "zoff" in that order. SetParams returns
    // THIS whatever the load gave.
    static Model::Params Read(pTHX_ HV* hash)
    {
        Model::Params p;
        p.path = ReadString(aTHX_ hash, "fname");
        p.fps = ReadInteger(aTHX_ hash, "fps");
        p.xoff = ReadNumber(aTHX_ hash, "xoff");
        p.yoff = ReadNumber(aTHX_ hash, "yoff");
        p.zoff = ReadNumber(aTHX_ hash, "zoff");
        return p;
    }
};

void BootModel(pTHX_ CV* cv)
{
    glue::BootEffect<Model>(aTHX_ cv, "ModelGlue");
}
