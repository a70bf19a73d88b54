// makesong: composes and renders the bundled show's music, "derure", as a
// 16-bit stereo 44.1 kHz WAV file. Everything is synthesised here: drums, bass,
// pads and an arpeggio, at 120 beats per minute in A minor.
//
//   makesong OUT.wav
//
// The show's script (show/main.pl) knows the tempo and the arrangement below:
// its scenes cut on the bars where the music changes. Keep the two in step.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// Song constants

constexpr int kRate = 44100;
constexpr double kBpm = 120.0;
constexpr double kBeat = 60.0 / kBpm;      // seconds per beat
constexpr double kBar = 4 * kBeat;         // 4/4 time: 2 seconds per bar
constexpr int kBars = 36;                  // 72 s of music...
constexpr double kTail = 2.0;              // ...then the last hit rings for 2 s
constexpr double kLength = kBars * kBar + kTail;  // 74 s, as main.pl's SONG_MS
constexpr double kPi = 3.14159265358979323846;
constexpr double kPeak = 0.89;             // about -1 dBFS after normalising
constexpr double kDcBlock = 0.9995;        // pole of the master's DC-blocking filter (~3.5 Hz)

// Arrangement, in bars (see main.pl's scene list).
constexpr int kGrooveBar = 4;     // kick, bass and hats come in
constexpr int kFullBar = 12;      // snare and arpeggio join
constexpr int kBreakBar = 20;     // drums drop out, pads and arpeggio alone
constexpr int kDropBar = 24;      // everything, with open hats
constexpr int kOutroBar = 34;     // pads only, fading
constexpr int kEndBar = 36;       // one final hit

// One chord per bar, a four-bar loop: Am, F, C, G (MIDI notes).
constexpr int kChords[4][3] = {{57, 60, 64}, {53, 57, 60}, {55, 60, 64}, {55, 59, 62}};
constexpr int kBassRoots[4] = {45, 41, 48, 43};

double MidiToHz(double note) { return 440.0 * std::pow(2.0, (note - 69.0) / 12.0); }

// ---------------------------------------------------------------------------
// Building blocks

// Deterministic noise so that every build makes the same file.
class Noise {
public:
    double Next()
    {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state_ >> 11) / static_cast<double>(1ULL << 53) * 2.0 - 1.0;
    }

private:
    uint64_t state_ = 0x2545F4914F6CDD1DULL;
};

// Band-limited sawtooth step (polyBLEP) so high notes do not alias harshly.
double PolyBlep(double phase, double step)
{
    if (phase < step) {
        const double t = phase / step;
        return t + t - t * t - 1.0;
    }
    if (phase > 1.0 - step) {
        const double t = (phase - 1.0) / step;
        return t * t + t + t + 1.0;
    }
    return 0.0;
}

class Saw {
public:
    explicit Saw(double phase = 0.0) : phase_(phase) {}
    double Next(double hz)
    {
        const double step = hz / kRate;
        const double value = 2.0 * phase_ - 1.0 - PolyBlep(phase_, step);
        phase_ += step;
        if (phase_ >= 1.0)
            phase_ -= 1.0;
        return value;
    }

private:
    double phase_;
};

// One-pole low-pass filter.
class LowPass {
public:
    double Next(double x, double cutoffHz)
    {
        const double a = 1.0 - std::exp(-2.0 * kPi * cutoffHz / kRate);
        y_ += a * (x - y_);
        return y_;
    }

private:
    double y_ = 0.0;
};

// The mix: a dry stereo bus and a send into a ping-pong echo.
struct Mix {
    std::vector<float> left, right, sendL, sendR;
    explicit Mix(std::size_t frames) : left(frames), right(frames), sendL(frames), sendR(frames) {}
    std::size_t Frames() const { return left.size(); }

    // pan runs from -1 (left) to 1 (right); the centre plays on both sides.
    void Add(std::size_t i, double value, double pan, double send = 0.0)
    {
        if (i >= left.size())
            return;
        const double l = value * std::min(1.0, 1.0 - pan);
        const double r = value * std::min(1.0, 1.0 + pan);
        left[i] += static_cast<float>(l);
        right[i] += static_cast<float>(r);
        sendL[i] += static_cast<float>(l * send);
        sendR[i] += static_cast<float>(r * send);
    }
};

std::size_t ToFrame(double seconds) { return static_cast<std::size_t>(std::lround(seconds * kRate)); }

// ---------------------------------------------------------------------------
// Instruments: each writes one note into the mix.

void Kick(Mix& mix, double at, double gain)
{
    const std::size_t start = ToFrame(at);
    const std::size_t length = ToFrame(0.4);
    double phase = 0.0;
    for (std::size_t n = 0; n < length; ++n) {
        const double t = static_cast<double>(n) / kRate;
        const double hz = 48.0 + 120.0 * std::exp(-t * 32.0);  // the pitch drop is the "thump"
        phase += hz / kRate;
        const double body = std::sin(2.0 * kPi * phase) * std::exp(-t * 7.5);
        const double click = t < 0.004 ? (1.0 - t / 0.004) * 0.4 : 0.0;
        mix.Add(start + n, (body + click) * gain, 0.0);
    }
}

void Snare(Mix& mix, Noise& noise, double at, double gain)
{
    const std::size_t start = ToFrame(at);
    const std::size_t length = ToFrame(0.28);
    double previous = 0.0;
    for (std::size_t n = 0; n < length; ++n) {
        const double t = static_cast<double>(n) / kRate;
        const double white = noise.Next();
        const double bright = white - previous;  // first difference: a gentle high-pass
        previous = white;
        const double tone = std::sin(2.0 * kPi * 185.0 * t) * std::exp(-t * 28.0);
        const double rattle = bright * std::exp(-t * 16.0);
        mix.Add(start + n, (tone * 0.6 + rattle * 0.55) * gain, 0.05, 0.15);
    }
}

void Hat(Mix& mix, Noise& noise, double at, double gain, bool open)
{
    const std::size_t start = ToFrame(at);
    const double decay = open ? 9.0 : 55.0;
    const std::size_t length = ToFrame(open ? 0.45 : 0.09);
    double p1 = 0.0, p2 = 0.0;
    for (std::size_t n = 0; n < length; ++n) {
        const double t = static_cast<double>(n) / kRate;
        const double white = noise.Next();
        const double hp = white - 2.0 * p1 + p2;  // second difference: only the sizzle is left
        p2 = p1;
        p1 = white;
        mix.Add(start + n, hp * std::exp(-t * decay) * gain * 0.25, 0.35);
    }
}

void Crash(Mix& mix, Noise& noise, double at, double gain)
{
    const std::size_t start = ToFrame(at);
    const std::size_t length = ToFrame(kTail);
    double previous = 0.0;
    for (std::size_t n = 0; n < length; ++n) {
        const double t = static_cast<double>(n) / kRate;
        const double white = noise.Next();
        const double hp = white - previous;
        previous = white;
        const double fade = std::exp(-t * 2.6) * (1.0 - t / kTail);
        mix.Add(start + n, hp * fade * gain * 0.3, (n & 1) ? 0.3 : -0.3, 0.2);
    }
}

void Bass(Mix& mix, double at, double duration, int note, double gain)
{
    const std::size_t start = ToFrame(at);
    const std::size_t length = ToFrame(duration + 0.03);
    const double hz = MidiToHz(note);
    Saw a, b(0.37);
    LowPass filter;
    for (std::size_t n = 0; n < length; ++n) {
        const double t = static_cast<double>(n) / kRate;
        const double attack = std::min(1.0, t / 0.004);
        const double release = t > duration ? std::max(0.0, 1.0 - (t - duration) / 0.03) : 1.0;
        const double cutoff = 180.0 + 1100.0 * std::exp(-t * 14.0);
        const double raw = a.Next(hz) + b.Next(hz * 1.004);
        const double sub = std::sin(2.0 * kPi * hz * 0.5 * t);
        mix.Add(start + n, (filter.Next(raw * 0.5, cutoff) + sub * 0.45) * attack * release * gain, 0.0);
    }
}

void Pad(Mix& mix, double at, double duration, const int* chord, double gain, double cutoffHz)
{
    const std::size_t start = ToFrame(at);
    constexpr double kAttack = 0.35, kRelease = 0.7;
    const std::size_t length = ToFrame(duration + kRelease);
    for (int voice = 0; voice < 3; ++voice) {
        const double hz = MidiToHz(chord[voice]);
        // Two detuned saws per note, one per side, make the pad wide.
        Saw left(0.1 * voice), right(0.5 + 0.1 * voice);
        LowPass filterL, filterR;
        for (std::size_t n = 0; n < length; ++n) {
            const double t = static_cast<double>(n) / kRate;
            const double attack = std::min(1.0, t / kAttack);
            const double release = t > duration ? std::max(0.0, 1.0 - (t - duration) / kRelease) : 1.0;
            const double env = attack * release * gain * 0.12;
            const double wobble = cutoffHz * (1.0 + 0.25 * std::sin(2.0 * kPi * 0.25 * (at + t)));
            const double l = filterL.Next(left.Next(hz * 0.9965), wobble) * env;
            const double r = filterR.Next(right.Next(hz * 1.0035), wobble) * env;
            mix.Add(start + n, l, -0.8, 0.25);
            mix.Add(start + n, r, 0.8, 0.25);
        }
    }
}

void Pluck(Mix& mix, double at, int note, double gain)
{
    const std::size_t start = ToFrame(at);
    const std::size_t length = ToFrame(0.3);
    const double hz = MidiToHz(note);
    Saw saw;
    LowPass filter;
    for (std::size_t n = 0; n < length; ++n) {
        const double t = static_cast<double>(n) / kRate;
        const double env = std::min(1.0, t / 0.002) * std::exp(-t * 11.0);
        const double cutoff = 700.0 + 4200.0 * std::exp(-t * 20.0);
        mix.Add(start + n, filter.Next(saw.Next(hz), cutoff) * env * gain * 0.22, 0.15, 0.55);
    }
}

void Riser(Mix& mix, Noise& noise, double at, double duration, double gain)
{
    const std::size_t start = ToFrame(at);
    const std::size_t length = ToFrame(duration);
    LowPass filter;
    for (std::size_t n = 0; n < length; ++n) {
        const double u = static_cast<double>(n) / static_cast<double>(length);
        const double cutoff = 300.0 + 7000.0 * u * u;
        mix.Add(start + n, filter.Next(noise.Next(), cutoff) * u * u * gain * 0.5, 0.0, 0.3);
    }
}

// ---------------------------------------------------------------------------
// The arrangement

void Compose(Mix& mix)
{
    Noise noise;
    for (int bar = 0; bar < kBars; ++bar) {
        const double barStart = bar * kBar;
        const int chordIndex = bar % 4;
        const int* chord = kChords[chordIndex];
        const bool groove = bar >= kGrooveBar && bar < kBreakBar;
        const bool full = (bar >= kFullBar && bar < kBreakBar) || (bar >= kDropBar && bar < kOutroBar);
        const bool drop = bar >= kDropBar && bar < kOutroBar;
        const bool breakdown = bar >= kBreakBar && bar < kDropBar;
        const bool outro = bar >= kOutroBar;

        // Pads everywhere; they open up (brighter filter) as the song builds.
        double padGain = 1.0, padCutoff = 900.0;
        if (bar < kGrooveBar)
            padGain = 0.5 + 0.5 * bar / kGrooveBar;  // fade in over the intro
        if (full)
            padCutoff = 1500.0;
        if (breakdown)
            padCutoff = 600.0 + 300.0 * (bar - kBreakBar);
        if (outro)
            padGain = 1.0 - 0.4 * (bar - kOutroBar);
        Pad(mix, barStart, kBar, chord, padGain, padCutoff);

        // Hats on the off-beat 8ths from the second half of the intro on.
        if (bar >= 2 && !breakdown && !outro) {
            for (int eighth = 0; eighth < 8; ++eighth) {
                const double at = barStart + eighth * kBeat / 2;
                const bool offBeat = eighth % 2 == 1;
                if (drop && offBeat)
                    Hat(mix, noise, at, 0.9, true);
                else if (offBeat || full)
                    Hat(mix, noise, at, offBeat ? 0.8 : 0.45, false);
            }
        }

        if (groove || drop) {
            // Four on the floor.
            for (int beat = 0; beat < 4; ++beat)
                Kick(mix, barStart + beat * kBeat, 0.95);
            // Eighth-note bass on the chord's root, an octave up on the off-beats
            // of beats 2 and 4.
            for (int eighth = 0; eighth < 8; ++eighth) {
                const int note = kBassRoots[chordIndex] + ((eighth == 3 || eighth == 7) ? 12 : 0);
                Bass(mix, barStart + eighth * kBeat / 2, kBeat / 2 * 0.8, note - 12, drop ? 0.55 : 0.5);
            }
        }
        if (full)
            for (int beat = 1; beat < 4; beat += 2)
                Snare(mix, noise, barStart + beat * kBeat, 0.8);

        // Sixteenth-note arpeggio over the chord, two octaves up.
        if (full || breakdown) {
            static const int kPattern[16] = {0, 1, 2, 3, 2, 1, 0, 1, 2, 3, 4, 3, 2, 1, 2, 3};
            for (int step = 0; step < 16; ++step) {
                const int index = kPattern[step];
                const int note = chord[index % 3] + 12 * (index / 3) + 12;
                Pluck(mix, barStart + step * kBeat / 4, note, breakdown ? 0.7 : 1.0);
            }
        }
        if (bar == kDropBar - 1)
            Riser(mix, noise, barStart, kBar, 1.0);
    }

    // The final hit: kick, crash and the home chord, left to ring.
    const double end = kEndBar * kBar;
    Kick(mix, end, 1.0);
    Crash(mix, noise, end, 1.0);
    Bass(mix, end, 0.8, kBassRoots[0] - 12, 0.6);
    Pad(mix, end, kTail - 0.75, kChords[0], 1.0, 1200.0);
}

// Ping-pong echo on the send bus, three sixteenths long: the left echo feeds
// the right and back.
void Echo(Mix& mix)
{
    const std::size_t delay = ToFrame(kBeat * 0.75);
    constexpr double kFeedback = 0.45, kWet = 0.5;
    std::vector<float> echoL(mix.Frames()), echoR(mix.Frames());
    for (std::size_t i = delay; i < mix.Frames(); ++i) {
        echoL[i] = static_cast<float>(mix.sendL[i - delay] + kFeedback * echoR[i - delay]);
        echoR[i] = static_cast<float>(mix.sendR[i - delay] + kFeedback * echoL[i - delay]);
        mix.left[i] += static_cast<float>(kWet * echoL[i]);
        mix.right[i] += static_cast<float>(kWet * echoR[i]);
    }
}

bool WriteWav(const char* path, const Mix& mix)
{
    FILE* file = std::fopen(path, "wb");
    if (!file)
        return false;
    const uint32_t frames = static_cast<uint32_t>(mix.Frames());
    const uint32_t dataBytes = frames * 4;
    auto u32 = [&](uint32_t v) { std::fwrite(&v, 4, 1, file); };  // x86: little-endian
    auto u16 = [&](uint16_t v) { std::fwrite(&v, 2, 1, file); };
    std::fwrite("RIFF", 1, 4, file);
    u32(36 + dataBytes);
    std::fwrite("WAVEfmt ", 1, 8, file);
    u32(16);
    u16(1);  // PCM
    u16(2);  // stereo
    u32(kRate);
    u32(kRate * 4);
    u16(4);
    u16(16);
    std::fwrite("data", 1, 4, file);
    u32(dataBytes);

    // Soft-clip, then scale so the loudest sample sits just under full scale.
    std::vector<double> l(frames), r(frames);
    double peak = 1e-9;
    double inL = 0.0, inR = 0.0, outL = 0.0, outR = 0.0;  // DC blocker state
    for (uint32_t i = 0; i < frames; ++i) {
        outL = mix.left[i] - inL + kDcBlock * outL;
        outR = mix.right[i] - inR + kDcBlock * outR;
        inL = mix.left[i];
        inR = mix.right[i];
        l[i] = std::tanh(outL * 0.9);
        r[i] = std::tanh(outR * 0.9);
        peak = std::max(peak, std::max(std::fabs(l[i]), std::fabs(r[i])));
    }
    const double scale = kPeak / peak * 32767.0;
    std::vector<int16_t> pcm(static_cast<std::size_t>(frames) * 2);
    for (uint32_t i = 0; i < frames; ++i) {
        pcm[2 * i] = static_cast<int16_t>(std::lround(l[i] * scale));
        pcm[2 * i + 1] = static_cast<int16_t>(std::lround(r[i] * scale));
    }
    const bool ok = std::fwrite(pcm.data(), 2, pcm.size(), file) == pcm.size();
    return std::fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT.wav\n", argv[0]);
        return 2;
    }
    Mix mix(ToFrame(kLength));
    Compose(mix);
    Echo(mix);
    if (!WriteWav(argv[1], mix)) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
