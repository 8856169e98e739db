#include "click/click_set.hpp"

#include "core/sample_codec.hpp"

namespace {

void encodeAll(const std::vector<int32_t>& samples, std::vector<uint8_t>& bytes,
               int32_t bytesPerSample) {
    bytes.assign(samples.size() * static_cast<size_t>(bytesPerSample), 0);
    const int32_t length = static_cast<int32_t>(samples.size());
    if (bytesPerSample == 3) {
        encode24(samples.data(), bytes.data(), length);
    } else {
        encode16(samples.data(), bytes.data(), length);
    }
}

// The samples times `gain`, held within full scale; a gain of 1 keeps them.
std::vector<int32_t> atLevel(const std::vector<int32_t>& samples, double gain) {
    std::vector<int32_t> out(samples.size());
    scaleSaturated(samples.data(), gain, out.data(), static_cast<int64_t>(samples.size()));
    return out;
}

// A click state holding `samples`, at `gain`.
void fill(ClickState& state, const std::vector<int32_t>& samples, double gain) {
    state.madeFrom.reset();
    state.clickSamples = gain == 1.0 ? samples : atLevel(samples, gain);
    state.clickLength = static_cast<int32_t>(samples.size());
    encodeAll(state.clickSamples, state.clickBytes, state.bytesPerSample);
}

}  // namespace

std::vector<ClickVoice> ClickSet::voices() const {
    ClickVoice full{bytesOf(normal.clickBytes), bytesOf(accent.clickBytes), bytesOf(subdivision),
                    bytesOf(soft)};
    std::vector<ClickVoice> all{full};
    for (const double level : levels) {
        ClickVoice quieter = full;
        quieter.normalSamples = normal.clickSamples.data();
        quieter.accentSamples = accent.clickSamples.data();
        quieter.subdivisionSamples = subdivisionSamples.data();
        quieter.softSamples = softSamples.data();
        quieter.level = level;
        all.push_back(quieter);
    }
    return all;
}

ClickSet makeClickSet(int32_t bits, float hz, uint32_t rate, std::optional<float> accentHz,
                      std::vector<double> levels, const ClickChoice& choice) {
    ClickSet set;
    initClickState(set.normal, bits);
    initClickState(set.accent, bits);
    const int32_t bytes = set.normal.bytesPerSample;
    const std::optional<BuiltInSound> sound = findSound(choice.sound);
    const double ownAccent = sound && !choice.samples ? sound->accentDecibels : 0.0;
    const double accentGain = choice.volume * choice.accent.value_or(gainOfDecibels(ownAccent));
    std::vector<int32_t> normal;
    std::vector<int32_t> subdivision;
    if (const SoundSamples* own = choice.samples) {
        normal = own->normal;
        subdivision = own->subdivision.empty() ? own->normal : own->subdivision;
        fill(set.normal, normal, choice.volume);
        fill(set.accent, own->accent.empty() ? own->normal : own->accent, accentGain);
    } else if (sound && sound->milliseconds > 0) {
        normal = designedSound(choice.sound, SoundVersion::Normal, rate);
        subdivision = designedSound(choice.sound, SoundVersion::Subdivision, rate);
        fill(set.normal, normal, choice.volume);
        fill(set.accent, designedSound(choice.sound, SoundVersion::Accent, rate), accentGain);
    } else {
        set.frequencyTooLow = makeClick(set.normal, hz, rate).frequencyTooLow;
        normal = set.normal.clickSamples;
        subdivision = normal;
        if (choice.volume != 1.0) fill(set.normal, normal, choice.volume);
        if (!accentHz) return set;
        set.frequencyTooLow |= makeClick(set.accent, *accentHz, rate).frequencyTooLow;
        if (accentGain != 1.0) fill(set.accent, set.accent.clickSamples, accentGain);
    }
    // Each from the sound's own samples, so that one truncation makes it.
    set.subdivisionSamples = atLevel(subdivision, choice.volume * choice.subdivision);
    encodeAll(set.subdivisionSamples, set.subdivision, bytes);
    set.softSamples = atLevel(normal, choice.volume * choice.soft);
    encodeAll(set.softSamples, set.soft, bytes);
    set.levels = std::move(levels);
    return set;
}
