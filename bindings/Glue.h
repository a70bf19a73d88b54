// Shared machinery of every bound package: argument counts, object handles,
// the three parameter-hash readers, integer results and boot registration.
//
// NOTE: croak() longjmps out of the sub. Nothing here, and nothing in a glue
// sub before its last croak, may hold a C++ object with a destructor.
#pragma once

#include "bindings/Perl.h"

namespace glue {

// ---------------------------------------------------------------------------
// Argument counts and results

// Raises "Usage: Package::sub(params)" unless exactly `expected` arguments
// came; the runtime appends " at main.pl line N.". The text is built from the
// sub's own name, so it is right whatever name the script called it by.
inline void CheckArgCount(pTHX_ CV* cv, I32 items, I32 expected, const char* params)
{
    if (items != expected)
        croak_xs_usage(cv, params);
}

// Returns one integer through the calling op's target scalar (or a new mortal
// when the op has none), with set-magic, as the sub's only result.
#define GLUE_RETURN_INT(value)          \
    STMT_START                          \
    {                                   \
        dXSTARG;                        \
        XSprePUSH;                      \
        PUSHi(static_cast<IV>(value));  \
        XSRETURN(1);                    \
    }                                   \
    STMT_END

// ---------------------------------------------------------------------------
// Object handles

// What each effect glue file declares about its class, for example
//   template <> struct Package<Image> { static constexpr const char* kName = "Image";
//                                       static constexpr const char* kArticle = "an"; };
template <class T>
struct Package;

// Every object the package's new made. Objects live until the process ends,
// so the set only grows; it lets a handle be checked before it is trusted.
// The set itself is never destroyed, so the objects stay reachable through
// it until the process has ended (leak checkers at exit see them in use, as
// they are, and no static destructor runs after a script's END blocks).
template <class T>
std::unordered_set<const void*>& Objects()
{
    static auto* objects = new std::unordered_set<const void*>();
    return *objects;
}

// THIS: the object behind a handle made by the same package's new (blessed
// into that package or any other class). Anything else raises
// "Package::sub: THIS is not a(n) Package object".
//
// A handle is a blessed reference to a plain scalar; an unblessed reference is
// rejected even when it holds a valid address, as it cannot have come from new.
template <class T>
T* ThisObject(pTHX_ CV* cv, SV* handle)
{
    SvGETMAGIC(handle);
    if (SvROK(handle)) {
        SV* referent = SvRV(handle);
        if (SvOBJECT(referent) && SvTYPE(referent) <= SVt_PVMG) {
            void* address = INT2PTR(void*, SvIOK(referent) ? SvIVX(referent) : SvIV(referent));
            if (Objects<T>().count(address))
                return static_cast<T*>(address);
        }
    }
    GV* gv = CvGV(cv);
    croak("%s::%s: THIS is not %s %s object", Package<T>::kName, gv ? GvNAME(gv) : "?",
          Package<T>::kArticle, Package<T>::kName);
}

// P::new(CLASS): a new object, its handle blessed into CLASS as given.
// A constructor that throws (out of memory) becomes a Perl error rather than
// an exception unwinding through the interpreter's C frames; the croak comes
// after the catch block has ended.
template <class T>
void NewObject(pTHX_ CV* cv)
{
    dXSARGS;
    CheckArgCount(aTHX_ cv, items, 1, "CLASS");
    const char* className = SvPV_nolen(ST(0));
    T* object = nullptr;
    try {
        object = new T();
        Objects<T>().insert(object);
    } catch (...) {
        delete object;
        object = nullptr;
    }
    if (!object)
        croak("%s::new: cannot create %s %s object", Package<T>::kName, Package<T>::kArticle, Package<T>::kName);
    SV* handle = sv_newmortal();
    sv_setref_pv(handle, className, object);
    ST(0) = handle;
    XSRETURN(1);
}

// P::Render(THIS, msec): the effect's Render result.
template <class T>
void RenderObject(pTHX_ CV* cv)
{
    dXSARGS;
    CheckArgCount(aTHX_ cv, items, 2, "THIS, msec");
    T* self = ThisObject<T>(aTHX_ cv, ST(0));
    const int msec = static_cast<int>(SvIV(ST(1)));
    const int result = self->Render(msec);
    GLUE_RETURN_INT(result);
}

// ---------------------------------------------------------------------------
// Parameter hashes

// The hash a SetParams argument refers to, or null when it is not a hash
// reference (SetParams then returns undef and changes nothing).
inline HV* ParamHash(pTHX_ SV* arg)
{
    SvGETMAGIC(arg);
    if (SvROK(arg) && SvTYPE(SvRV(arg)) == SVt_PVHV)
        return reinterpret_cast<HV*>(SvRV(arg));
    return nullptr;
}

// The value stored under key, looked up by byte length without creating it.
inline SV* Fetch(pTHX_ HV* hash, const char* key)
{
    SV** slot = hv_fetch(hash, key, static_cast<I32>(std::strlen(key)), 0);
    return slot ? *slot : nullptr;
}

inline bool HasKey(pTHX_ HV* hash, const char* key)
{
    return hv_exists(hash, key, static_cast<I32>(std::strlen(key)));
}

// Number reader: only plain numeric scalars (SVt_IV, SVt_NV, SVt_PVNV) count;
// a quoted "0.5", an integer that has been printed (SVt_PVIV), undef,
// references and magical scalars all read 0.0, as does an absent key.
inline double ReadNumber(pTHX_ HV* hash, const char* key)
{
    SV* value = Fetch(aTHX_ hash, key);
    if (!value || SvROK(value))
        return 0.0;
    switch (SvTYPE(value)) {
    case SVt_IV:
    case SVt_NV:
    case SVt_PVNV:
        return SvNV(value);
    default:
        return 0.0;
    }
}

// Integer reader: any scalar, through the runtime's integer conversion
// ("12" gives 12, 2.7 gives 2, undef 0); 0 for an absent key.
inline int ReadInteger(pTHX_ HV* hash, const char* key)
{
    SV* value = Fetch(aTHX_ hash, key);
    return value ? static_cast<int>(SvIV(value)) : 0;
}

// String reader: only plain strings (SVt_PV); numbers, strings since used as
// numbers, undef and references give null, as does an absent key. The text
// belongs to the hash value and is valid for the current call only.
inline const char* ReadString(pTHX_ HV* hash, const char* key)
{
    SV* value = Fetch(aTHX_ hash, key);
    // A string variable that was later given a reference keeps its SVt_PV
    // type; it is a reference now, not text.
    if (!value || SvTYPE(value) != SVt_PV || !SvOK(value) || SvROK(value))
        return nullptr;
    return SvPV_nolen(value);
}

// Raw bytes of any value, in its string form; null for an absent key. A
// string the runtime holds as UTF-8 (after joining it with text, say) gives
// its characters as bytes when they all fit in one; the script's value stays
// as it is.
inline const char* ReadBytes(pTHX_ HV* hash, const char* key, STRLEN* length)
{
    SV* value = Fetch(aTHX_ hash, key);
    if (!value) {
        *length = 0;
        return nullptr;
    }
    const char* bytes = SvPV(value, *length);
    if (SvUTF8(value)) {
        SV* copy = sv_2mortal(newSVpvn(bytes, *length));
        SvUTF8_on(copy);
        if (sv_utf8_downgrade(copy, TRUE))
            return SvPV(copy, *length);
    }
    return bytes;
}

// ---------------------------------------------------------------------------
// Boot subs

struct Sub {
    const char* name;  // full name, "Package::sub"
    XSUBADDR_t body;
};

// Registers the subs in order under the package's glue file name. newXS keeps
// the file pointer, so it must be a string literal.
inline void RegisterSubs(pTHX_ const Sub* subs, std::size_t count, const char* file)
{
    for (std::size_t i = 0; i < count; ++i)
        newXS(subs[i].name, subs[i].body, file);
}

// The boot sub of an effect package: "P::SetParams", "P::Render", "P::new".
template <class T>
void BootEffect(pTHX_ CV* cv, XSUBADDR_t setParams, const char* file)
{
    dXSARGS;
    PERL_UNUSED_VAR(items);
    PERL_UNUSED_VAR(cv);
    char setParamsName[64], renderName[64], newName[64];
    std::snprintf(setParamsName, sizeof setParamsName, "%s::SetParams", Package<T>::kName);
    std::snprintf(renderName, sizeof renderName, "%s::Render", Package<T>::kName);
    std::snprintf(newName, sizeof newName, "%s::new", Package<T>::kName);
    const Sub subs[] = {
        {setParamsName, setParams},
        {renderName, RenderObject<T>},
        {newName, NewObject<T>},
    };
    RegisterSubs(aTHX_ subs, sizeof subs / sizeof subs[0], file);
    XSRETURN_YES;
}

}  // namespace glue
