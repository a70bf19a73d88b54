// An embedded Perl interpreter for tests of the bindings.
#include "tests/support/perl/EmbeddedPerl.h"

#include "bindings/Boot.h"
#include "host/LiveFrontEnd.h"
#include "host/Modules.h"
#include "host/ScriptHost.h"

namespace testing_support {

namespace {
bool systemInitialised = false;
}  // namespace

EmbeddedPerl::EmbeddedPerl()
{
    if (!systemInitialised) {
        int argc = 0;
        char** argv = nullptr;
        char** env = nullptr;
        PERL_SYS_INIT3(&argc, &argv, &env);
        systemInitialised = true;
    }
    context_.frontEnd = std::make_unique<host::LiveFrontEnd>();
    perl_ = perl_alloc();
    perl_construct(perl_);
    dTHXa(perl_);
    PL_exit_flags |= PERL_EXIT_DESTRUCT_END;
    InstallContext(aTHX_ &context_);
    static char empty[] = "";
    static char dashE[] = "-e";
    static char zero[] = "0";
    char* args[] = {empty, dashE, zero, nullptr};
    perl_parse(perl_, host::RegisterModules, 3, args, nullptr);
    perl_run(perl_);
}

EmbeddedPerl::~EmbeddedPerl()
{
    PERL_SET_CONTEXT(perl_);
    perl_destruct(perl_);
    perl_free(perl_);
    context_.effects.DestroyAll();
}

SV* EmbeddedPerl::Eval(const std::string& code)
{
    dTHXa(perl_);
    PERL_SET_CONTEXT(perl_);
    SV* result = eval_pv(code.c_str(), FALSE);
    SV* err = ERRSV;
    error_ = SvTRUE(err) ? SvPV_nolen(err) : "";
    return result;
}

std::string EmbeddedPerl::EvalString(const std::string& code)
{
    dTHXa(perl_);
    SV* sv = Eval(code);
    return SvOK(sv) ? SvPV_nolen(sv) : "<undef>";
}

long EmbeddedPerl::EvalInteger(const std::string& code)
{
    dTHXa(perl_);
    // SvIV is a macro that may name its argument twice: evaluate once.
    SV* result = Eval(code);
    return static_cast<long>(SvIV(result));
}

double EmbeddedPerl::EvalNumber(const std::string& code)
{
    dTHXa(perl_);
    SV* result = Eval(code);
    return SvNV(result);
}

}  // namespace testing_support
