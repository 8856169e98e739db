#include "core/practice.hpp"

#include "core/user_text.hpp"

namespace {

constexpr double kLargestStep = 10000.0;
constexpr int64_t kMostBars = 2147483647;

std::optional<int64_t> bars(std::string_view text, int64_t low) {
    const std::optional<long long> n = readWholeNumber(text, NumberForm::Digits);
    if (!n || *n < low || *n > kMostBars) return std::nullopt;
    return *n;
}

}  // namespace

std::optional<Trainer> readTrainer(std::string_view text) {
    Trainer t;
    t.text = std::string(text);
    const size_t slash = text.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    std::string_view step = text.substr(0, slash);
    std::string_view rest = text.substr(slash + 1);
    double sign = 1.0;
    if (!step.empty() && (step[0] == '+' || step[0] == '-')) {
        sign = step[0] == '-' ? -1.0 : 1.0;
        step.remove_prefix(1);
    }
    const std::optional<double> size = readDouble(step, NumberForm::Digits);
    if (!size || !(*size > 0.0 && *size <= kLargestStep)) return std::nullopt;
    t.step = sign * *size;
    const size_t colon = rest.find(':');
    const std::optional<int64_t> every = bars(rest.substr(0, colon), 1);
    if (!every) return std::nullopt;
    t.bars = *every;
    if (colon != std::string_view::npos) {
        const std::optional<double> limit = readDouble(rest.substr(colon + 1), NumberForm::Digits);
        if (!limit || !(*limit > 0.0 && *limit < 1e300)) return std::nullopt;
        t.limit = limit;
    }
    return t;
}

std::optional<MuteCycle> readMuteCycle(std::string_view text) {
    const size_t slash = text.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    const std::optional<int64_t> on = bars(text.substr(0, slash), 1);
    const std::optional<int64_t> off = bars(text.substr(slash + 1), 0);
    if (!on || !off) return std::nullopt;
    return MuteCycle{*on, *off, std::string(text)};
}
