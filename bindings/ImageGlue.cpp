// The Image package: Image::new, Image::SetParams and Image::Render, the
// script's side of the Image effect.
#include "bindings/Boot.h"
#include "bindings/Glue.h"

#include "effects/Image.h"

template <>
struct glue::Package<Image> {
    static constexpr const char* kName = "Image";
    static constexpr const char* kArticle = "an";
};

namespace {

using namespace glue;

// Image::SetParams(THIS, sv): reads the keys in this order, hands them to the
// object and returns THIS; undef (and nothing done) when sv is no hash
// reference. Every call sets all eleven drawing parameters: a key left out
// sets its parameter to 0.
void XS_SetParams(pTHX_ CV* cv)
{
    dXSARGS;
    CheckArgCount(aTHX_ cv, items, 2, "THIS, sv");
    Image* self = ThisObject<Image>(aTHX_ cv, ST(0));
    HV* hash = ParamHash(aTHX_ ST(1));
    if (!hash)
        XSRETURN_UNDEF;

    STRLEN dataLength = 0;
    const char* data = ReadBytes(aTHX_ hash, "imagedata", &dataLength);
    const char* name = ReadString(aTHX_ hash, "image");
    const int width = ReadInteger(aTHX_ hash, "width");
    const int height = ReadInteger(aTHX_ hash, "height");
    const float x = static_cast<float>(ReadNumber(aTHX_ hash, "x"));
    const float y = static_cast<float>(ReadNumber(aTHX_ hash, "y"));
    float wsize, hsize;
    // "size" sets both scales whenever the key is there, even undefined.
    if (HasKey(aTHX_ hash, "size")) {
        wsize = hsize = static_cast<float>(ReadNumber(aTHX_ hash, "size"));
    } else {
        wsize = static_cast<float>(ReadNumber(aTHX_ hash, "wsize"));
        hsize = static_cast<float>(ReadNumber(aTHX_ hash, "hsize"));
    }
    const int alignh = ReadInteger(aTHX_ hash, "alignh");
    const int alignv = ReadInteger(aTHX_ hash, "alignv");
    const float rot = static_cast<float>(ReadNumber(aTHX_ hash, "rot"));
    const float alpha = static_cast<float>(ReadNumber(aTHX_ hash, "alpha"));
    const float r = static_cast<float>(ReadNumber(aTHX_ hash, "r"));
    const float g = static_cast<float>(ReadNumber(aTHX_ hash, "g"));
    const float b = static_cast<float>(ReadNumber(aTHX_ hash, "b"));

    self->SetParams(name, reinterpret_cast<const unsigned char*>(data), dataLength, width, height, x, y, wsize,
                    hsize, alpha, rot, alignh, alignv, r, g, b);
    XSRETURN(1);  // ST(0): the handle exactly as the script passed it
}

}  // namespace

void BootImage(pTHX_ CV* cv)
{
    BootEffect<Image>(aTHX_ cv, XS_SetParams, "ImageGlue");
}
