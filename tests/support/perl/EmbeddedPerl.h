// An embedded Perl interpreter for tests of the bindings, with the player's
// own module registration and a show context of its own: the live front end,
// no music, and no window unless the test opens one.
#pragma once

#include "bindings/Context.h"
#include "bindings/Perl.h"

#include <string>

namespace testing_support {

class EmbeddedPerl {
public:
    EmbeddedPerl();
    ~EmbeddedPerl();
    EmbeddedPerl(const EmbeddedPerl&) = delete;
    EmbeddedPerl& operator=(const EmbeddedPerl&) = delete;

    // Evaluates code in scalar context; an error is caught and kept in error().
    SV* Eval(const std::string& code);
    std::string EvalString(const std::string& code);
    long EvalInteger(const std::string& code);
    double EvalNumber(const std::string& code);
    // The text of $@ after the last Eval; empty when it succeeded.
    std::string error() const { return error_; }

    PerlInterpreter* interpreter() const { return perl_; }
    show::Context& context() { return context_; }

private:
    show::Context context_;
    PerlInterpreter* perl_ = nullptr;
    std::string error_;
};

}  // namespace testing_support
