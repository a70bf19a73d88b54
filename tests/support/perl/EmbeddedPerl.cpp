// An embedded Perl interpreter for tests of the bindings.
#include "tests/support/perl/EmbeddedPerl.h"

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
    perl_ = perl_alloc();
    perl_construct(perl_);
    dTHXa(perl_);
    PL_exit_flags |= PERL_EXIT_DESTRUCT_END;
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
    return static_cast<long>(SvIV(Eval(code)));
}

double EmbeddedPerl::EvalNumber(const std::string& code)
{
    dTHXa(perl_);
    return SvNV(Eval(code));
}

}  // namespace testing_support
