// Shared machinery of every bound package: the way to the show context,
// argument counts, object handles, the parameter-hash readers, the guard
// around effect code, integer results and boot registration.
//
// NOTE: croak() longjmps out of the sub. Nothing here, and nothing in a glue
// sub before its last croak, may hold a C++ object with a destructor.
#pragma once

#include "bindings/Context.h"
#include "bindings/Perl.h"

namespace glue {

// ---------------------------------------------------------------------------
// The show context

// Calls the context's interrupt hook for a pending request (rare, so kept out
// of line).
void Interrupt(show::Context& context);

// The one way a binding call reaches the show context: the boot sub stored it
// in each sub it registered. Every sub calls this first, so an interrupt
// request takes effect at the script's next call into the player.
inline show::Context& Enter(CV* cv)
{
    show::Context& context = *static_cast<show::Context*>(CvXSUBANY(cv).any_ptr);
    if (UNLIKELY(context.interruptRequested.load(std::memory_order_relaxed)))
        Interrupt(context);
    return context;
}

// ---------------------------------------------------------------------------
// Argument counts and results

// Raises "Usage: Package::sub(params)" unless exactly `expected` arguments
// came; the runtime appends " at main.pl line N.". The text is built from the
// sub's own name, so it is right whatever name the script called it by.
inline void CheckArgCount(pTHX_ CV* cv, I32 items, I32 expected, const char* params)
{
    if (UNLIKELY(items != expected))
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
// Effect code

// Raises "Package::sub: what" for the sub being run.
[[noreturn]] void RaiseFailure(pTHX_ CV* cv, const char* what);

// Runs body, which calls into an effect. An exception it throws (out of
// memory deep in a scene loader, say) must not unwind through the runtime's
// C frames: it becomes a Perl error, raised once the C++ scope has ended.
template <class Body>
void Guard(pTHX_ CV* cv, Body&& body)
{
    char what[160];
    bool failed = false;
    try {
        body();
    } catch (const std::bad_alloc&) {
        std::snprintf(what, sizeof what, "out of memory");
        failed = true;
    } catch (const std::exception& e) {
        std::snprintf(what, sizeof what, "%s", e.what());
        failed = true;
    } catch (...) {
        std::snprintf(what, sizeof what, "unexpected failure");
        failed = true;
    }
    if (UNLIKELY(failed))
        RaiseFailure(aTHX_ cv, what);
}

// ---------------------------------------------------------------------------
// Object handles

// What each effect glue file declares about its class, for example
//   template <> struct Package<Image> {
//       static constexpr const char* kName = "Image";
//       static constexpr const char* kArticle = "an";
//       // Reads the parameter hash, key by key in the order scripts see.
//       static Image::Params Read(pTHX_ HV* hash);
//   };
template <class T>
struct Package;

// THIS: the object behind a handle made by the same package's new (blessed
// into that package or any other class). Anything else raises
// "Package::sub: THIS is not a(n) Package object".
//
// A handle is a blessed reference to a plain scalar; an unblessed reference is
// rejected even when it holds a valid address, as it cannot have come from new.
template <class T>
T* ThisObject(pTHX_ const show::Context& context, CV* cv, SV* handle)
{
    SvGETMAGIC(handle);
    if (SvROK(handle)) {
        SV* referent = SvRV(handle);
        if (SvOBJECT(referent) && SvTYPE(referent) <= SVt_PVMG) {
            void* address = INT2PTR(void*, SvIOK(referent) ? SvIVX(referent) : SvIV(referent));
            if (T* object = context.effects.Find<T>(address))
                return object;
        }
    }
    GV* gv = CvGV(cv);
    croak("%s::%s: THIS is not %s %s object", Package<T>::kName, gv ? GvNAME(gv) : "?",
          Package<T>::kArticle, Package<T>::kName);
}

// P::new(CLASS): a new object, owned by the context's registry, its handle
// blessed into CLASS as given. A constructor that throws (out of memory)
// becomes a Perl error after the catch block has ended.
template <class T>
void NewObject(pTHX_ CV* cv)
{
    dXSARGS;
    show::Context& context = Enter(cv);
    CheckArgCount(aTHX_ cv, items, 1, "CLASS");
    const char* className = SvPV_nolen(ST(0));
    T* object = nullptr;
    try {
        object = context.effects.Adopt(std::make_unique<T>());
    } catch (...) {
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
    show::Context& context = Enter(cv);
    CheckArgCount(aTHX_ cv, items, 2, "THIS, msec");
    T* self = ThisObject<T>(aTHX_ context, cv, ST(0));
    const int msec = static_cast<int>(SvIV(ST(1)));
    int result = 0;
    Guard(aTHX_ cv, [&] { result = self->Render(msec); });
    GLUE_RETURN_INT(result);
}

// P::SetParams(THIS, sv): the package's key reader turns the hash into the
// effect's parameters, which the effect takes in one call; returns THIS
// itself, or undef (and changes nothing) when sv is no hash reference.
template <class T>
void SetParamsObject(pTHX_ CV* cv)
{
    dXSARGS;
    show::Context& context = Enter(cv);
    CheckArgCount(aTHX_ cv, items, 2, "THIS, sv");
    T* self = ThisObject<T>(aTHX_ context, cv, ST(0));
    SV* arg = ST(1);
    SvGETMAGIC(arg);
    if (!SvROK(arg) || SvTYPE(SvRV(arg)) != SVt_PVHV)
        XSRETURN_UNDEF;
    // Readers may run script code (tie, overloading, warning handlers) that
    // drops the script's last reference to the hash: hold one of our own.
    HV* hash = reinterpret_cast<HV*>(SvREFCNT_inc_simple_NN(SvRV(arg)));
    sv_2mortal(reinterpret_cast<SV*>(hash));
    const typename T::Params params = Package<T>::Read(aTHX_ hash);
    Guard(aTHX_ cv, [&] { self->SetParams(params); });
    XSRETURN(1);  // ST(0): the handle exactly as the script passed it
}

// ---------------------------------------------------------------------------
// Parameter hashes

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

// NOTE: the text readers below hand out a mortal copy, never the hash value's
// own buffer: a later reader can run script code (an overloaded or tied
// value, a warning handler) that deletes or changes the value, and the text
// must outlive that. The copy shares a plain string's buffer the way a Perl
// assignment does (copy on write: whichever side changes first gets its own
// buffer), so a large picture string costs no copy. Outside the core the
// runtime leaves that to the caller's flags; the glue never writes into a copy.
constexpr U32 kShareCopy = SV_NOSTEAL | SV_COW_SHARED_HASH_KEYS | SV_COW_OTHER_PVS;

// String reader: only plain strings (SVt_PV); numbers, strings since used as
// numbers, undef and references give null, as does an absent key. The text
// is valid for the current call.
inline const char* ReadString(pTHX_ HV* hash, const char* key)
{
    SV* value = Fetch(aTHX_ hash, key);
    // A string variable that was later given a reference keeps its SVt_PV
    // type; it is a reference now, not text.
    if (!value || SvTYPE(value) != SVt_PV || !SvOK(value) || SvROK(value))
        return nullptr;
    return SvPV_nolen(sv_mortalcopy_flags(value, kShareCopy));
}

// Raw bytes of any value, in its string form; null for an absent key. A
// string the runtime holds as UTF-8 (after joining it with text, say) gives
// its characters as bytes when they all fit in one; the script's value stays
// as it is. Valid for the current call.
inline const char* ReadBytes(pTHX_ HV* hash, const char* key, STRLEN* length)
{
    SV* value = Fetch(aTHX_ hash, key);
    if (!value) {
        *length = 0;
        return nullptr;
    }
    // The string form, computed once: get-magic and overloading run here.
    const char* bytes = SvPV(value, *length);
    SV* copy = SvPOK(value) && !SvMAGICAL(value) && !SvROK(value)
                   ? sv_mortalcopy_flags(value, kShareCopy)
                   : newSVpvn_flags(bytes, *length, SVs_TEMP | (SvUTF8(value) ? SVf_UTF8 : 0));
    if (SvUTF8(copy))
        sv_utf8_downgrade(copy, TRUE);
    return SvPV(copy, *length);
}

// ---------------------------------------------------------------------------
// Boot subs

struct Sub {
    const char* name;  // full name, "Package::sub"
    XSUBADDR_t body;
};

// Registers the subs in order under the package's glue file name, each
// carrying the interpreter's show context for Enter. newXS keeps the file
// pointer, so it must be a string literal. Raises an error when the
// interpreter has no context installed; returns the context.
show::Context& RegisterSubs(pTHX_ const Sub* subs, std::size_t count, const char* file);

// The boot sub of an effect package: "P::SetParams", "P::Render", "P::new".
template <class T>
void BootEffect(pTHX_ CV* cv, const char* file)
{
    dXSARGS;
    PERL_UNUSED_VAR(items);
    PERL_UNUSED_VAR(cv);
    char setParamsName[64], renderName[64], newName[64];
    std::snprintf(setParamsName, sizeof setParamsName, "%s::SetParams", Package<T>::kName);
    std::snprintf(renderName, sizeof renderName, "%s::Render", Package<T>::kName);
    std::snprintf(newName, sizeof newName, "%s::new", Package<T>::kName);
    const Sub subs[] = {
        {setParamsName, SetParamsObject<T>},
        {renderName, RenderObject<T>},
        {newName, NewObject<T>},
    };
    RegisterSubs(aTHX_ subs, sizeof subs / sizeof subs[0], file);
    XSRETURN_YES;
}

}  // namespace glue
