// The Image package: Image::new, Image::SetParams and Image::Render, the
// script's side of the Image effect.
#include "effects/Image.h"

#include "bindings/Boot.h"
#include "bindings/Glue.h"

template <>
struct glue::Package<Image> {
    static constexpr const char* kName = "Image";
    static constexpr const char* kArticle = "an";

    // The keys in this order. Every call sets all eleven drawing parameters:
    // a key left out sets its parameter to 0.
    static Image::Params Read(pTHX_ HV* hash)
    {
        Image::Params p;
        STRLEN dataLength = 0;
        p.data = reinterpret_cast<const unsigned char*>(ReadBytes(aTHX_ hash, "imagedata", &dataLength));
        p.dataLength = dataLength;
        p.name = ReadString(aTHX_ hash, "image");
        p.width = ReadInteger(aTHX_ hash, "width");
        p.height = ReadInteger(aTHX_ hash, "height");
        p.x = static_cast<float>(ReadNumber(aTHX_ hash, "x"));
        p.y = static_cast<float>(ReadNumber(aTHX_ hash, "y"));
        // "size" sets both scales whenever the key is there, even undefined.
        if (HasKey(aTHX_ hash, "size")) {
            p.wsize = p.hsize = static_cast<float>(ReadNumber(aTHX_ hash, "size"));
        } else {
            p.wsize = static_cast<float>(ReadNumber(aTHX_ hash, "wsize"));
            p.hsize = static_cast<float>(ReadNumber(aTHX_ hash, "hsize"));
        }
        p.alignh = ReadInteger(aTHX_ hash, "alignh");
        p.alignv = ReadInteger(aTHX_ hash, "alignv");
        p.rot = static_cast<float>(ReadNumber(aTHX_ hash, "rot"));
        p.alpha = static_cast<float>(ReadNumber(aTHX_ hash, "alpha"));
        p.r = static_cast<float>(ReadNumber(aTHX_ hash, "r"));
        p.g = static_cast<float>(ReadNumber(aTHX_ hash, "g"));
        p.b = static_cast<float>(ReadNumber(aTHX_ hash, "b"));
        return p;
    }
};

void BootImage(pTHX_ CV* cv)
{
    glue::BootEffect<Image>(aTHX_ cv, "ImageGlue");
}
