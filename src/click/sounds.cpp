#include "click/sounds.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

constexpr double kLn2 = 0.6931471805599453;
constexpr double kLn10Over20 = 0.11512925464970229;  // ln(10) / 20
constexpr double kTwoPi = 6.283185307179586;

// e^x: x = k ln 2 + r with |r| <= ln 2 / 2, the series of e^r, times 2^k.
double expSeries(double x) {
    const double turns = x / kLn2;
    const int k = static_cast<int>(turns < 0.0 ? turns - 0.5 : turns + 0.5);
    const double r = x - static_cast<double>(k) * kLn2;
    double p = 1.0;
    for (int n = 24; n >= 1; --n) p = 1.0 + r * p / static_cast<double>(n);
    return std::ldexp(p, k);
}

// sin and cos of w from 0 to pi by their series, in Horner's order.
void sinCosSeries(double w, double& sine, double& cosine) {
    const double w2 = w * w;
    double s = 1.0;
    double c = 1.0;
    for (int n = 30; n >= 2; n -= 2) {
        s = 1.0 - w2 * s / static_cast<double>(n * (n + 1));
        c = 1.0 - w2 * c / static_cast<double>(n * (n - 1));
    }
    sine = w * s;
    cosine = c;
}

struct Partial {
    double hz;
    double amplitude;
    double decayMs;  // time to fall to 1/e
};

// One version of a sound: partials, a burst of noise brightened by taking
// its first difference, a straight rise and a straight fall at the end.
struct Recipe {
    std::vector<Partial> partials;
    double noise = 0.0;
    double noiseDecayMs = 1.0;
    double attackMs = 0.2;
    double releaseMs = 3.0;
};

struct Design {
    const char* name;
    Recipe normal, accent, subdivision;
};

const std::vector<Design>& designs() {
    static const std::vector<Design> all{
        {"woodblock",
         {{{1450, 1.0, 9}, {3770, 0.45, 4}, {640, 0.25, 12}}, 0.15, 1.5, 0.25, 3},
         {{{1850, 1.0, 10}, {4810, 0.5, 4}, {820, 0.25, 12}}, 0.2, 1.5, 0.25, 3},
         {{{1150, 1.0, 7}, {2990, 0.35, 3}}, 0.1, 1.0, 0.25, 3}},
        {"beep",
         {{{1000, 1.0, 1000}, {3000, 0.08, 1000}}, 0.0, 1.0, 1.0, 4},
         {{{1500, 1.0, 1000}, {4500, 0.1, 1000}}, 0.0, 1.0, 1.0, 4},
         {{{750, 1.0, 1000}}, 0.0, 1.0, 1.0, 4}},
        {"tick",
         {{{3300, 0.35, 5}}, 1.0, 3, 0.1, 3},
         {{{2500, 0.7, 8}, {5100, 0.3, 5}}, 1.0, 5, 0.1, 3},
         {{}, 1.0, 2, 0.1, 3}},
        {"cowbell",
         {{{587, 1.0, 30}, {845, 0.9, 30}, {1761, 0.25, 15}, {2535, 0.22, 15}}, 0.0, 1.0, 0.5, 4},
         {{{700, 1.0, 35}, {1008, 0.9, 35}, {2100, 0.25, 15}, {3024, 0.22, 15}}, 0.0, 1.0, 0.5, 4},
         {{{540, 1.0, 22}, {800, 0.8, 22}, {1620, 0.2, 12}}, 0.0, 1.0, 0.5, 4}},
    };
    return all;
}

// The per-sample factor of a decay to 1/e in `ms` milliseconds.
double decayFactor(double ms, uint32_t rate) {
    return expSeries(-1000.0 / (ms * static_cast<double>(rate)));
}

void addPartial(std::vector<double>& out, const Partial& p, uint32_t rate) {
    // A partial at or above half the rate cannot be carried: left out.
    if (2.0 * p.hz >= static_cast<double>(rate)) return;
    double step_s = 0.0;
    double step_c = 1.0;
    sinCosSeries(kTwoPi * p.hz / static_cast<double>(rate), step_s, step_c);
    const double decay = decayFactor(p.decayMs, rate);
    double s = 0.0;
    double c = 1.0;
    double level = p.amplitude;
    for (double& x : out) {
        x = x + level * s;
        const double nextC = c * step_c - s * step_s;
        s = s * step_c + c * step_s;
        c = nextC;
        level = level * decay;
    }
}

void addNoise(std::vector<double>& out, double amplitude, double decayMs, uint32_t rate,
              uint32_t seed) {
    if (amplitude == 0.0) return;
    const double decay = decayFactor(decayMs, rate);
    uint32_t state = seed;
    double before = 0.0;
    double level = amplitude;
    for (double& x : out) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const double white = (static_cast<double>(state) - 2147483648.0) / 2147483648.0;
        x = x + level * (white - before) * 0.5;
        before = white;
        level = level * decay;
    }
}

// A straight rise over the attack and a straight fall to zero at the end.
void shape(std::vector<double>& out, const Recipe& r, uint32_t rate) {
    const double perMs = static_cast<double>(rate) / 1000.0;
    const size_t n = out.size();
    const size_t rise = std::min(n, static_cast<size_t>(r.attackMs * perMs));
    const size_t fall = std::min(n, static_cast<size_t>(r.releaseMs * perMs));
    for (size_t i = 0; i < rise; ++i) {
        out[i] = out[i] * static_cast<double>(i) / static_cast<double>(rise);
    }
    for (size_t i = 0; i < fall; ++i) {
        out[n - 1 - i] = out[n - 1 - i] * static_cast<double>(i) / static_cast<double>(fall);
    }
}

}  // namespace

const std::vector<BuiltInSound>& builtInSounds() {
    static const std::vector<BuiltInSound> all{
        {kClassicSound, "the menu's click: low partials shaped by --freq, the accent a fifth up",
         0, 0.0},
        {"woodblock", "a dry wooden knock around 1.5 kHz; accent higher, subdivision lower",
         40, 3.0},
        {"beep", "a short 1 kHz tone; accent 1.5 kHz, subdivision 750 Hz", 30, 3.0},
        {"tick", "a bright rim and hi-hat tick of noise; accent a rim shot, subdivision hat only",
         25, 3.0},
        {"cowbell", "a two-tone cowbell; accent higher, subdivision lower and shorter-ringing", 70,
         3.0},
    };
    return all;
}

std::optional<BuiltInSound> findSound(const std::string& name) {
    for (const BuiltInSound& s : builtInSounds()) {
        if (name == s.name) return s;
    }
    return std::nullopt;
}

std::vector<int32_t> designedSound(const std::string& name, SoundVersion version, uint32_t rate) {
    const std::optional<BuiltInSound> sound = findSound(name);
    const Design* design = nullptr;
    for (const Design& d : designs()) {
        if (name == d.name) design = &d;
    }
    if (!sound || !design) return {};
    const size_t length =
        static_cast<size_t>(int64_t{sound->milliseconds} * int64_t{rate} / 1000);
    const Recipe& r = version == SoundVersion::Accent        ? design->accent
                      : version == SoundVersion::Subdivision ? design->subdivision
                                                             : design->normal;
    std::vector<double> wave(length, 0.0);
    for (const Partial& p : r.partials) addPartial(wave, p, rate);
    addNoise(wave, r.noise, r.noiseDecayMs, rate, 0x9E3779B9u + static_cast<uint32_t>(version));
    shape(wave, r, rate);
    double peak = 0.0;
    for (const double x : wave) peak = std::max(peak, std::fabs(x));
    std::vector<int32_t> samples(length, 0);
    if (peak > 0.0) {
        const double scale = static_cast<double>(kDesignedPeak) / peak;
        for (size_t i = 0; i < length; ++i) samples[i] = static_cast<int32_t>(wave[i] * scale);
    }
    return samples;
}

double gainOfDecibels(double decibels) { return expSeries(decibels * kLn10Over20); }
