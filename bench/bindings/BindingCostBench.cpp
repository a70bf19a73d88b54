// Cost of a binding call against its pure-Perl equivalent, measured side by
// side in one embedded interpreter with the player's own modules.
//
// Each figure compares two loops that differ only in the call they make; the
// cost of the loop itself (measured with no call) is taken off both, so the
// ratio is that of the calls alone. The variants take turns over several
// rounds and the fastest round of each counts, which keeps a busy machine's
// noise out of the ratio.
#include "tests/support/perl/EmbeddedPerl.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using testing_support::EmbeddedPerl;

namespace {

constexpr long kCalls = 1000000;
constexpr int kRounds = 5;

// The loops, compiled once; each runs kCalls iterations of its body.
const char* kSetup = R"(
use strict; use warnings;
our $N;
OpenGL::boot_OpenGL();
sub empty_number { return 0 }
# The eleven drawing keys of Image::SetParams, read one by one as the
# binding reads them.
sub perl_set_params {
    my ($self, $h) = @_;
    my $x = $h->{x}; my $y = $h->{y}; my $wsize = $h->{wsize}; my $hsize = $h->{hsize};
    my $alignh = $h->{alignh}; my $alignv = $h->{alignv}; my $rot = $h->{rot}; my $alpha = $h->{alpha};
    my $r = $h->{r}; my $g = $h->{g}; my $b = $h->{b};
    return $self;
}
our %loops;
for my $body (['none', '$s += 0'], ['empty', '$s += empty_number()'],
              ['space', '$s += OpenGL::glSpacePressed()'], ['time', '$s += OpenGL::glGetTime()'],
              ['perl_params', '$s = perl_set_params($obj, $h)'], ['image_params', '$s = Image::SetParams($obj, $h)'],
              ['params_none', '$s = $obj']) {
    $loops{$body->[0]} = eval "sub { my (\$obj, \$h) = \@_; my \$s = 0; for (1 .. \$N) { $body->[1] } return \$s }" or die $@;
}
our $params = { x => 0.25, y => -0.5, wsize => 0.5, hsize => 0.75, alignh => 1, alignv => -1,
                rot => 30.0, alpha => 0.8, r => 1.0, g => 0.5, b => 0.25 };
1;
)";

double Seconds(EmbeddedPerl& perl, const std::string& loop, const std::string& object)
{
    const auto start = std::chrono::steady_clock::now();
    perl.Eval("$main::loops{" + loop + "}->(" + object + ", $main::params)");
    const auto stop = std::chrono::steady_clock::now();
    if (!perl.error().empty()) {
        std::fprintf(stderr, "%s: %s", loop.c_str(), perl.error().c_str());
        std::exit(1);
    }
    return std::chrono::duration<double>(stop - start).count();
}

// The fastest of kRounds runs of each loop, the loops taking turns.
std::vector<double> Fastest(EmbeddedPerl& perl, const std::vector<std::string>& loops, const std::string& object)
{
    std::vector<double> best(loops.size(), 1e9);
    for (int round = 0; round < kRounds; ++round)
        for (std::size_t i = 0; i < loops.size(); ++i)
            best[i] = std::min(best[i], Seconds(perl, loops[i], object));
    return best;
}

double NsPerCall(double seconds) { return seconds * 1e9 / kCalls; }

// One figure: the binding's call cost over the Perl equivalent's, both net of
// the bare loop.
void Report(const char* name, double binding, double perlSub, double bare, const char* goal)
{
    const double bindingNs = NsPerCall(binding - bare), perlNs = NsPerCall(perlSub - bare);
    std::printf("%s: %.2f (goal %s)\n", name, bindingNs / perlNs, goal);
    std::printf("  binding %.1f ns per call, Perl %.1f ns, bare loop %.1f ns per iteration;"
                " loops whole: %.2f\n",
                bindingNs, perlNs, NsPerCall(bare), binding / perlSub);
}

// Image::SetParams with the eleven drawing keys against a Perl sub that reads
// the same eleven keys. Skipped while the Image package registers no subs.
void BenchImageSetParams(EmbeddedPerl& perl)
{
    perl.Eval("Image::boot_Image(); $main::image = defined(&Image::new) ? Image->new : undef;");
    if (perl.EvalString("defined($main::image) ? 1 : 0") != "1") {
        std::printf("Image::SetParams: not measured, the Image package is not bound\n");
        return;
    }
    const std::vector<double> t = Fastest(perl, {"params_none", "perl_params", "image_params"}, "$main::image");
    Report("Image::SetParams, 11 keys / Perl sub reading them", t[2], t[1], t[0], "<= 1.0");
}

// Image->new many times over in one run: every object stays until the run
// ends, so a registry that grows badly would show here (it once copied
// itself at every new: 80,000 took minutes).
void BenchManyObjects(EmbeddedPerl& perl)
{
    constexpr long kObjects = 100000;
    perl.Eval("Image::boot_Image();");
    const auto start = std::chrono::steady_clock::now();
    perl.Eval("my @made; push @made, Image->new for 1 .. " + std::to_string(kObjects) + "; scalar @made");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!perl.error().empty() || perl.context().effects.Count() < static_cast<std::size_t>(kObjects)) {
        std::fprintf(stderr, "objects: %zu made; %s", perl.context().effects.Count(), perl.error().c_str());
        std::exit(1);
    }
    std::printf("Image->new, %ld objects in one run: %.3f s (goal < 1 s)\n", kObjects, seconds);
}

}  // namespace

int main()
{
    EmbeddedPerl perl;
    perl.Eval(kSetup);
    if (!perl.error().empty()) {
        std::fprintf(stderr, "setup: %s", perl.error().c_str());
        return 1;
    }
    perl.Eval("$main::N = " + std::to_string(kCalls) + ";");

    std::printf("binding calls against empty Perl subs, %ld calls, fastest of %d rounds\n", kCalls, kRounds);
    const std::vector<double> t = Fastest(perl, {"none", "empty", "space", "time"}, "undef");
    Report("OpenGL::glSpacePressed / empty Perl sub", t[2], t[1], t[0], "<= 0.8");
    Report("OpenGL::glGetTime / empty Perl sub", t[3], t[1], t[0], "<= 1.1");
    BenchImageSetParams(perl);
    BenchManyObjects(perl);
    return 0;
}
