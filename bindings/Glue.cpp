// The out-of-line parts of the shared glue: the context slot of an
// interpreter, registration, interrupts and failures.
#include "bindings/Boot.h"
#include "bindings/Glue.h"

namespace {

// The interpreter's slot for its show context, in PL_modglobal.
constexpr const char kContextKey[] = "showplayer::context";

show::Context* InstalledContext(pTHX)
{
    SV** slot = hv_fetch(PL_modglobal, kContextKey, sizeof kContextKey - 1, 0);
    return slot && SvIOK(*slot) ? INT2PTR(show::Context*, SvIVX(*slot)) : nullptr;
}

}  // namespace

void InstallContext(pTHX_ show::Context* context)
{
    (void)hv_store(PL_modglobal, kContextKey, sizeof kContextKey - 1, newSViv(PTR2IV(context)), 0);
}

namespace glue {

void Interrupt(show::Context& context)
{
    context.interruptRequested.store(false, std::memory_order_relaxed);
    if (context.interruptHook)
        context.interruptHook(context.interruptData);
}

void RaiseFailure(pTHX_ CV* cv, const char* what)
{
    GV* gv = CvGV(cv);
    HV* stash = gv ? GvSTASH(gv) : nullptr;
    const char* package = stash ? HvNAME(stash) : nullptr;
    croak("%s::%s: %s", package ? package : "?", gv ? GvNAME(gv) : "?", what);
}

// The context is looked up once here, so that no call of a registered sub
// pays for a hash lookup.
show::Context& RegisterSubs(pTHX_ const Sub* subs, std::size_t count, const char* file)
{
    show::Context* context = InstalledContext(aTHX);
    if (!context)
        croak("%s: no show context in this interpreter", subs[0].name);
    for (std::size_t i = 0; i < count; ++i) {
        CV* registered = newXS(subs[i].name, subs[i].body, file);
        CvXSUBANY(registered).any_ptr = context;
    }
    return *context;
}

}  // namespace glue
