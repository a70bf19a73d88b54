// The shared binding helpers at their own level: an embedded interpreter and a
// small bound class made here, so the hash readers, handles and THIS checks are
// tested once for every package that uses them.
// gtest before perl.h: the runtime's macros (Stat, Close, Abort...) clash.
#include <gtest/gtest.h>

#include "bindings/Glue.h"
#include "tests/support/perl/EmbeddedPerl.h"

using testing_support::EmbeddedPerl;

namespace {

// What SetParams read last, kept as plain values.
struct Probe {
    double number = -1;
    int integer = -1;
    bool hasString = false;
    std::string string;
    bool hasKey = false;
    int SetParams(double n, int i, const char* s, bool has)
    {
        number = n;
        integer = i;
        hasString = s != nullptr;
        string = s ? s : "";
        hasKey = has;
        return 0;
    }
    int Render(int msec) { return msec * 2 + 1; }
};

struct Other {
    int Render(int msec) { return msec; }
};

}  // namespace

template <>
struct glue::Package<Probe> {
    static constexpr const char* kName = "Probe";
    static constexpr const char* kArticle = "a";
};
template <>
struct glue::Package<Other> {
    static constexpr const char* kName = "Other";
    static constexpr const char* kArticle = "an";
};

namespace {

Probe* lastProbe = nullptr;

void XS_ProbeSetParams(pTHX_ CV* cv)
{
    dXSARGS;
    glue::CheckArgCount(aTHX_ cv, items, 2, "THIS, sv");
    Probe* self = glue::ThisObject<Probe>(aTHX_ cv, ST(0));
    HV* hash = glue::ParamHash(aTHX_ ST(1));
    if (!hash)
        XSRETURN_UNDEF;
    self->SetParams(glue::ReadNumber(aTHX_ hash, "n"), glue::ReadInteger(aTHX_ hash, "i"),
                    glue::ReadString(aTHX_ hash, "s"), glue::HasKey(aTHX_ hash, "k"));
    lastProbe = self;
    XSRETURN(1);
}

void XS_OtherSetParams(pTHX_ CV* cv)
{
    dXSARGS;
    glue::CheckArgCount(aTHX_ cv, items, 2, "THIS, sv");
    glue::ThisObject<Other>(aTHX_ cv, ST(0));
    XSRETURN(1);
}

void BootProbe(pTHX_ CV* cv) { glue::BootEffect<Probe>(aTHX_ cv, XS_ProbeSetParams, "ProbeGlue"); }
void BootOther(pTHX_ CV* cv) { glue::BootEffect<Other>(aTHX_ cv, XS_OtherSetParams, "OtherGlue"); }

class Glue : public ::testing::Test {
protected:
    void SetUp() override
    {
        dTHXa(perl.interpreter());
        newXS("Probe::boot_Probe", BootProbe, __FILE__);
        newXS("Other::boot_Other", BootOther, __FILE__);
        ASSERT_EQ(perl.EvalString("Probe::boot_Probe(1, 2, 3) ? 'yes' : 'no'"), "yes");
        ASSERT_EQ(perl.EvalString("Other::boot_Other() ? 'yes' : 'no'"), "yes");
        ASSERT_EQ(perl.EvalString("$main::p = Probe->new; ref $main::p"), "Probe");
    }

    // Runs SetParams on $main::p with the given hash text (after a prelude)
    // and returns what the object read.
    Probe Read(const std::string& code)
    {
        lastProbe = nullptr;
        perl.Eval(code);
        EXPECT_EQ(perl.error(), "") << code;
        EXPECT_NE(lastProbe, nullptr) << code;
        return lastProbe ? *lastProbe : Probe{};
    }

    EmbeddedPerl perl;
};

}  // namespace

// The number reader accepts only plain numeric scalars; the integer reader
// anything; the string reader only plain strings. Absent keys read 0, 0, none.
TEST_F(Glue, ReadersFollowTheScalarsType)
{
    EXPECT_DOUBLE_EQ(Read("Probe::SetParams($p, {n => 2})").number, 2.0);
    EXPECT_DOUBLE_EQ(Read("Probe::SetParams($p, {n => 2.5})").number, 2.5);
    EXPECT_DOUBLE_EQ(Read("Probe::SetParams($p, {n => -0.25e3})").number, -250.0);
    EXPECT_DOUBLE_EQ(Read("Probe::SetParams($p, {n => '2.5'})").number, 0.0);
    EXPECT_DOUBLE_EQ(Read("my $v = 7; my $t = \"$v\"; Probe::SetParams($p, {n => $v})").number, 0.0);
    EXPECT_DOUBLE_EQ(Read("my $v = 0.5; my $t = \"$v\"; Probe::SetParams($p, {n => $v})").number, 0.5);
    // A string used as a number: the integer form (SVt_PVIV) reads 0, the
    // floating form (SVt_PVNV) is accepted.
    EXPECT_DOUBLE_EQ(Read("my $v = '3'; my $t = $v + 1; Probe::SetParams($p, {n => $v})").number, 0.0);
    EXPECT_DOUBLE_EQ(Read("my $v = '3.5'; my $t = $v + 1; Probe::SetParams($p, {n => $v})").number, 3.5);
    EXPECT_DOUBLE_EQ(Read("Probe::SetParams($p, {n => undef})").number, 0.0);
    EXPECT_DOUBLE_EQ(Read("Probe::SetParams($p, {n => [1]})").number, 0.0);
    EXPECT_DOUBLE_EQ(Read("Probe::SetParams($p, {})").number, 0.0);

    EXPECT_EQ(Read("Probe::SetParams($p, {i => '12'})").integer, 12);
    EXPECT_EQ(Read("Probe::SetParams($p, {i => 2.7})").integer, 2);
    EXPECT_EQ(Read("Probe::SetParams($p, {i => -2.7})").integer, -2);
    EXPECT_EQ(Read("no warnings; Probe::SetParams($p, {i => '34abc'})").integer, 34);
    EXPECT_EQ(Read("my $v = 9; my $t = \"$v\"; Probe::SetParams($p, {i => $v})").integer, 9);
    EXPECT_EQ(Read("no warnings; Probe::SetParams($p, {i => undef})").integer, 0);
    EXPECT_EQ(Read("Probe::SetParams($p, {})").integer, 0);

    Probe s = Read("Probe::SetParams($p, {s => 'pic.png'})");
    EXPECT_TRUE(s.hasString);
    EXPECT_EQ(s.string, "pic.png");
    s = Read("Probe::SetParams($p, {s => ''})");
    EXPECT_TRUE(s.hasString);
    EXPECT_EQ(s.string, "");
    EXPECT_FALSE(Read("Probe::SetParams($p, {s => 5})").hasString);
    EXPECT_FALSE(Read("Probe::SetParams($p, {s => 2.5})").hasString);
    EXPECT_FALSE(Read("my $v = '12'; my $t = $v + 0; Probe::SetParams($p, {s => $v})").hasString);
    EXPECT_FALSE(Read("Probe::SetParams($p, {s => undef})").hasString);
    EXPECT_FALSE(Read("Probe::SetParams($p, {s => {}})").hasString);
    EXPECT_FALSE(Read("my $v = 'text'; $v = [1]; Probe::SetParams($p, {s => $v})").hasString);
    EXPECT_FALSE(Read("Probe::SetParams($p, {})").hasString);

    // Keys are looked up, never created.
    EXPECT_EQ(perl.EvalInteger("my %h = (n => 1); Probe::SetParams($p, \\%h); scalar keys %h"), 1);
    EXPECT_TRUE(Read("Probe::SetParams($p, {k => undef})").hasKey);
    EXPECT_FALSE(Read("Probe::SetParams($p, {kk => 1})").hasKey);
}

// SetParams returns its first argument itself for a hash reference, undef for
// anything else and then leaves the object alone.
TEST_F(Glue, SetParamsResult)
{
    EXPECT_EQ(perl.EvalInteger("Probe::SetParams($p, {n => 1}) == $p ? 1 : 0"), 1);
    EXPECT_EQ(perl.EvalInteger("\\(Probe::SetParams($p, {n => 1})) == \\$p ? 1 : 0"), 1);  // the very scalar
    EXPECT_EQ(perl.EvalInteger("Probe::SetParams($p, bless({}, 'Foo')) == $p ? 1 : 0"), 1);
    Read("Probe::SetParams($p, {i => 42})");
    for (const char* notHash : {"[1, 2]", "5", "'n'", "undef", "\\5", "sub {}"}) {
        EXPECT_EQ(perl.EvalString(std::string("defined(Probe::SetParams($p, ") + notHash + ")) ? 'def' : 'undef'"),
                  "undef")
            << notHash;
        EXPECT_EQ(perl.error(), "") << notHash;
    }
    EXPECT_EQ(lastProbe->integer, 42);
}

// Handles: blessed into the class named, subclasses accepted by the package's
// own subs, copies address the same object, dropping them destroys nothing.
TEST_F(Glue, HandlesAndSubclasses)
{
    EXPECT_EQ(perl.EvalString("ref(Probe::new('Foo'))"), "Foo");
    EXPECT_EQ(perl.EvalString("@Sub::ISA = ('Probe'); ref(Sub->new)"), "Sub");
    EXPECT_EQ(perl.EvalInteger("my $f = Probe::new('Foo'); Probe::Render($f, 10)"), 21);
    EXPECT_EQ(perl.EvalInteger("my $s = Sub->new; $s->Render(20)"), 41);
    EXPECT_EQ(perl.EvalInteger("my $f = Probe::new('Foo'); Probe::SetParams($f, {i => 3}) == $f"), 1);
    EXPECT_EQ(perl.EvalInteger("my $f = Probe->new; my $g = $f; Probe::SetParams($g, {i => 8}); $$f == $$g"), 1);
    EXPECT_EQ(lastProbe->integer, 8);
    EXPECT_EQ(perl.EvalInteger("Probe::Render($p, 1.9)"), 3);
    EXPECT_EQ(perl.EvalInteger("Probe::Render($p, '1000')"), 2001);
    EXPECT_EQ(perl.EvalInteger("my $r = Probe::Render($p, 5); $r + 0"), 11);

    const std::size_t before = glue::Objects<Probe>().size();
    perl.Eval("{ my $gone = Probe->new; }");
    EXPECT_EQ(glue::Objects<Probe>().size(), before + 1);
}

// Anything but a handle made by the package's own new is refused with a Perl
// error naming the sub and the package: never a crash.
TEST_F(Glue, BadThisIsAPerlError)
{
    perl.Eval("$main::o = Other->new;");
    const std::string probeRender = "Probe::Render: THIS is not a Probe object at (eval ";
    for (const char* bad : {"0", "12345", "'Probe'", "'junk'", "undef", "\\0", "\\5", "[]", "{}", "$o",
                            "bless(\\(my $x = 1), 'Probe')", "\\(my $y = $$p)", "sub { 1 }", "\\*STDOUT"}) {
        perl.Eval(std::string("Probe::Render(") + bad + ", 1)");
        EXPECT_EQ(perl.error().substr(0, probeRender.size()), probeRender) << bad << ": " << perl.error();
    }
    perl.Eval("Probe::SetParams($o, {})");
    EXPECT_EQ(perl.error().substr(0, 45), "Probe::SetParams: THIS is not a Probe object ") << perl.error();
    perl.Eval("Other::Render($p, 1)");
    EXPECT_EQ(perl.error().substr(0, 43), "Other::Render: THIS is not an Other object ") << perl.error();
    // A forged handle that holds a real address but was re-blessed elsewhere
    // still addresses a Probe: the class is not what decides.
    EXPECT_EQ(perl.EvalInteger("Probe::Render(bless(\\(my $z = $$p), 'Elsewhere'), 3)"), 7);
}

// Exact argument counts, with the script location appended by the runtime.
TEST_F(Glue, UsageMessages)
{
    struct Case { const char* call; const char* message; } cases[] = {
        {"Probe::new()", "Usage: Probe::new(CLASS)"},
        {"Probe::new('Probe', 1)", "Usage: Probe::new(CLASS)"},
        {"Probe::Render($p)", "Usage: Probe::Render(THIS, msec)"},
        {"Probe::Render($p, 1, 2)", "Usage: Probe::Render(THIS, msec)"},
        {"$p->Render()", "Usage: Probe::Render(THIS, msec)"},
        {"Probe::SetParams($p)", "Usage: Probe::SetParams(THIS, sv)"},
        {"Probe::SetParams($p, {}, {})", "Usage: Probe::SetParams(THIS, sv)"},
        {"my $alias = \\&Probe::Render; $alias->()", "Usage: Probe::Render(THIS, msec)"},
    };
    for (const auto& c : cases) {
        perl.Eval(std::string("\n") + c.call);
        const std::string error = perl.error();
        const std::string head = std::string(c.message) + " at (eval ";
        const std::string tail = ") line 2.\n";
        EXPECT_EQ(error.substr(0, head.size()), head) << c.call;
        ASSERT_GE(error.size(), tail.size()) << c.call;
        EXPECT_EQ(error.substr(error.size() - tail.size()), tail) << c.call;
    }
}

// A second boot registers the subs again and returns true.
TEST_F(Glue, BootTwice)
{
    EXPECT_EQ(perl.EvalInteger("my $before = \\&Probe::Render; Probe::boot_Probe() && \\&Probe::Render != $before"), 1);
    EXPECT_EQ(perl.EvalInteger("Probe::Render($p, 2)"), 5);
}
