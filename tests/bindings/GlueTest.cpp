// The shared binding helpers at their own level: an embedded interpreter and a
// small bound class made here, so the hash readers, handles and THIS checks are
// tested once for every package that uses them.
// gtest before perl.h: the runtime's macros (Stat, Close, Abort...) clash.
#include <gtest/gtest.h>

#include "bindings/Glue.h"
#include "tests/support/perl/EmbeddedPerl.h"

using testing_support::EmbeddedPerl;

namespace {

// Probes alive, made by any interpreter's Probe::new (or copied here).
int liveProbes = 0;
struct LiveCount {
    LiveCount() { ++liveProbes; }
    LiveCount(const LiveCount&) { ++liveProbes; }
    LiveCount& operator=(const LiveCount&) = default;
    ~LiveCount() { --liveProbes; }
};

struct Probe;
Probe* lastProbe = nullptr;

// What SetParams read last, kept as plain values. SetParams and Render throw
// on request, as effect code can.
struct Probe {
    struct Params {
        double n;
        int i;
        const char* s;
        bool has;
    };
    double number = -1;
    int integer = -1;
    bool hasString = false;
    std::string string;
    bool hasKey = false;
    LiveCount live;
    int SetParams(const Params& p)
    {
        if (p.i == -13)
            throw std::bad_alloc();
        lastProbe = this;
        number = p.n;
        integer = p.i;
        hasString = p.s != nullptr;
        string = p.s ? p.s : "";
        hasKey = p.has;
        return 0;
    }
    int Render(int msec)
    {
        if (msec == -13)
            throw std::runtime_error("no frame for -13");
        return msec * 2 + 1;
    }
};

struct Other {
    struct Params {};
    int SetParams(const Params&) { return 0; }
    int Render(int msec) { return msec; }
};

}  // namespace

template <>
struct glue::Package<Probe> {
    static constexpr const char* kName = "Probe";
    static constexpr const char* kArticle = "a";
    static Probe::Params Read(pTHX_ HV* hash)
    {
        Probe::Params p;
        p.n = ReadNumber(aTHX_ hash, "n");
        p.i = ReadInteger(aTHX_ hash, "i");
        p.s = ReadString(aTHX_ hash, "s");
        p.has = HasKey(aTHX_ hash, "k");
        return p;
    }
};
template <>
struct glue::Package<Other> {
    static constexpr const char* kName = "Other";
    static constexpr const char* kArticle = "an";
    static Other::Params Read(pTHX_ HV*) { return {}; }
};

namespace {

void BootProbe(pTHX_ CV* cv) { glue::BootEffect<Probe>(aTHX_ cv, "ProbeGlue"); }
void BootOther(pTHX_ CV* cv) { glue::BootEffect<Other>(aTHX_ cv, "OtherGlue"); }

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
    // A string used as a number: the integer form (SVt_PVIV) reads 0 as a
    // number, the floating form (SVt_PVNV) is accepted.
    const struct { const char* code; double value; } numbers[] = {
        {"n => 2", 2.0}, {"n => 2.5", 2.5}, {"n => -0.25e3", -250.0}, {"n => '2.5'", 0.0},
        {"n => do { my $v = 7; my $t = \"$v\"; $v }", 0.0}, {"n => do { my $v = 0.5; my $t = \"$v\"; $v }", 0.5},
        {"n => do { my $v = '3'; my $t = $v + 1; $v }", 0.0}, {"n => do { my $v = '3.5'; my $t = $v + 1; $v }", 3.5},
        {"n => undef", 0.0}, {"n => [1]", 0.0}, {"", 0.0}};
    for (const auto& c : numbers)
        EXPECT_DOUBLE_EQ(Read(std::string("Probe::SetParams($p, {") + c.code + "})").number, c.value) << c.code;
    const struct { const char* code; int value; } integers[] = {
        {"i => '12'", 12}, {"i => 2.7", 2}, {"i => -2.7", -2}, {"i => '34abc'", 34},
        {"i => do { my $v = 9; my $t = \"$v\"; $v }", 9}, {"i => undef", 0}, {"", 0}};
    for (const auto& c : integers)
        EXPECT_EQ(Read(std::string("no warnings; Probe::SetParams($p, {") + c.code + "})").integer, c.value) << c.code;
    const struct { const char* code; const char* value; } strings[] = {
        {"s => 'pic.png'", "pic.png"}, {"s => ''", ""}, {"s => 5", nullptr}, {"s => 2.5", nullptr},
        {"s => do { my $v = '12'; my $t = $v + 0; $v }", nullptr}, {"s => undef", nullptr}, {"s => {}", nullptr},
        {"s => do { my $v = 'text'; $v = [1]; $v }", nullptr}, {"", nullptr}};
    for (const auto& c : strings) {
        const Probe probe = Read(std::string("Probe::SetParams($p, {") + c.code + "})");
        EXPECT_EQ(probe.hasString, c.value != nullptr) << c.code;
        EXPECT_EQ(probe.string, c.value ? c.value : "") << c.code;
    }
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
// own subs, copies address the same object, dropping them destroys nothing:
// the objects go with the interpreter.
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

    const int before = liveProbes;
    perl.Eval("{ my $gone = Probe->new; }");
    EXPECT_EQ(liveProbes, before + 1);

    // A second interpreter with objects of its own: its handles address
    // nothing here, and its objects go when it does, while ours stay.
    const int ours = liveProbes;
    {
        EmbeddedPerl other;
        dTHXa(other.interpreter());
        newXS("Probe::boot_Probe", BootProbe, __FILE__);
        const long address = other.EvalInteger("Probe::boot_Probe(); our @kept = (Probe->new, Probe->new, Probe->new); ${$kept[0]}");
        perl.Eval("Probe::Render(bless(\\(my $x = " + std::to_string(address) + "), 'Probe'), 1)");
        EXPECT_NE(perl.error().find("THIS is not a Probe object"), std::string::npos) << perl.error();
        EXPECT_EQ(liveProbes, ours + 3);
    }
    EXPECT_EQ(liveProbes, ours);
}

// An exception from effect code becomes a Perl error naming the sub; the
// interpreter carries on.
TEST_F(Glue, EffectExceptionsArePerlErrors)
{
    const struct { const char* call; const char* message; } cases[] = {
        {"Probe::SetParams($p, {i => -13})", "Probe::SetParams: out of memory at (eval "},
        {"$p->Render(-13)", "Probe::Render: no frame for -13 at (eval "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(perl.EvalString("my $r = eval { " + std::string(c.call) + "; 1 }; $r ? 'no error' : $@")
                      .rfind(c.message, 0),
                  0u)
            << c.call << ": " << perl.EvalString("$@");
        EXPECT_EQ(perl.EvalInteger("Probe::Render($p, 4)"), 9) << c.call;
    }
}

// An interrupt request reaches the hook at the script's next binding call,
// once; a hook that dies ends that call with its error.
TEST_F(Glue, InterruptReachesTheHookAtTheNextCall)
{
    struct Seen {
        int calls = 0;
        PerlInterpreter* perl = nullptr;
    } seen;
    seen.perl = perl.interpreter();
    show::Context& context = perl.context();
    context.interruptData = &seen;
    context.interruptHook = [](void* data) {
        Seen* s = static_cast<Seen*>(data);
        dTHXa(s->perl);
        if (++s->calls == 2)
            croak("interrupted");
    };
    EXPECT_EQ(perl.EvalInteger("Probe::Render($p, 1)"), 3);
    EXPECT_EQ(seen.calls, 0);
    context.RequestInterrupt();
    EXPECT_EQ(perl.EvalInteger("Probe::Render($p, 1)"), 3);
    EXPECT_EQ(perl.EvalInteger("Probe::Render($p, 1)"), 3);
    EXPECT_EQ(seen.calls, 1);
    context.RequestInterrupt();
    EXPECT_EQ(perl.EvalString("eval { Probe->new; 1 } ? 'made' : $@").rfind("interrupted at (eval ", 0), 0u);
    EXPECT_EQ(seen.calls, 2);
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
