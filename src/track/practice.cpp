#include "track/practice.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

namespace {

constexpr int64_t kNoLimit = std::numeric_limits<int64_t>::max();
constexpr double kLongestBeat = 2147483647.0;  // frames

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

// A trainer at work over a run of bars: what it adds to the tempo, in the
// note the tempo counts, at each bar counted from its first.
class Steps {
public:
    Steps(const Trainer& trainer, double start) : trainer_(trainer), start_(start) {
        if (!trainer.limit) return;
        // The first step that reaches the limit; the amount holds from there.
        const double room = (*trainer.limit - start) / trainer.step;
        last_ = room < 1e18 ? static_cast<int64_t>(std::ceil(std::max(room, 0.0))) : kNoLimit;
        while (last_ > 0 && last_ != kNoLimit && reaches(last_ - 1)) --last_;
        while (last_ != kNoLimit && !reaches(last_)) ++last_;
    }

    double amount(int64_t bar) const {
        const int64_t n = std::min(bar / trainer_.bars, last_);
        const double a = trainer_.step * static_cast<double>(n);
        if (!trainer_.limit) return a;
        const double room = *trainer_.limit - start_;
        return trainer_.step > 0 ? std::min(a, room) : std::max(a, room);
    }

    // The bars in [from, to) after `from` where the amount steps, in order.
    int64_t stepsWithin(int64_t from, int64_t to) const {
        if (to - 1 <= from) return 0;
        return std::max<int64_t>(0, std::min((to - 1) / trainer_.bars, last_) - from / trainer_.bars);
    }
    int64_t nextStep(int64_t bar) const { return (bar / trainer_.bars + 1) * trainer_.bars; }

private:
    bool reaches(int64_t n) const {
        const double a = trainer_.step * static_cast<double>(n);
        const double room = *trainer_.limit - start_;
        return trainer_.step > 0 ? a >= room : a <= room;
    }

    const Trainer& trainer_;
    double start_;
    int64_t last_ = kNoLimit;
};

// The tempo a trainer starts from: the section's first, in its own note.
double startOf(const SongSection& s) { return s.tempos.empty() ? 0.0 : s.tempos.front() / s.countedQuarters; }

std::optional<std::string> wrongSide(const Trainer& t, double start) {
    if (!t.limit) return std::nullopt;
    if (t.step > 0 && *t.limit < start) {
        return "its limit " + number(*t.limit) + " lies below the tempo it starts from, " +
               number(start) + ": a rising tempo stops at a ceiling";
    }
    if (t.step < 0 && *t.limit > start) {
        return "its limit " + number(*t.limit) + " lies above the tempo it starts from, " +
               number(start) + ": a falling tempo stops at a floor";
    }
    return std::nullopt;
}

// Why a beat at `tempo` quarter notes a minute cannot be laid at `rate`.
std::optional<std::string> tempoProblem(double tempo, const SongSection& s, uint32_t rate, int64_t bar) {
    const std::string reached = "it would take the tempo to " + number(tempo / s.countedQuarters) +
                                " at bar " + std::to_string(bar);
    if (!(tempo > 0.0)) return reached + ": a tempo stays above 0";
    const double frames = 240.0 / (tempo * static_cast<double>(s.noteValue)) * (s.dotted ? 1.5 : 1.0) * rate;
    if (!(frames >= 1.0)) return reached + ": a beat would be shorter than one sample at this rate";
    if (!(frames <= kLongestBeat)) return reached + ": a beat would last more than 2147483647 samples";
    return std::nullopt;
}

// Bars [from, to) of `s`, its tempos moved by `amount` quarter notes a minute.
SongSection partOf(const SongSection& s, int64_t from, int64_t to, double amount) {
    SongSection part = s;
    part.measures = to - from;
    part.earlierBars = from;
    part.trainer.reset();
    if (from > 0) part.continues = true;
    const int64_t beats = s.measures * s.beatsPerMeasure;
    const int64_t k0 = from * s.beatsPerMeasure, k1 = to * s.beatsPerMeasure;
    if (s.tempos.size() == 2 && s.ramp && beats > 0) {
        // The same straight line of tempos, from the part's first beat to its end.
        const auto at = [&](int64_t k) {
            if (k == 0) return s.tempos[0];
            if (k == beats) return s.tempos[1];
            return s.tempos[0] + (s.tempos[1] - s.tempos[0]) * static_cast<double>(k) / static_cast<double>(beats);
        };
        part.tempos = {at(k0), at(k1)};
    } else if (s.tempos.size() > 1 && beats > 0) {
        const size_t last = s.tempos.size();
        part.tempos.assign(s.tempos.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(k0, last)),
                           s.tempos.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(k1, last)));
    }
    for (double& t : part.tempos) t += amount;
    return part;
}

}  // namespace

std::optional<PracticeProblem> layPractice(Song& song, uint32_t rate) {
    const auto first = std::find_if(song.sections.begin(), song.sections.end(),
                                    [](const SongSection& s) { return !s.countIn; });
    if (first == song.sections.end()) return std::nullopt;
    const size_t firstIndex = static_cast<size_t>(first - song.sections.begin());
    const double songStart = startOf(*first);
    if (song.trainer) {
        if (auto why = wrongSide(*song.trainer, songStart)) return PracticeProblem{firstIndex, false, *why};
    }
    const std::optional<Steps> songSteps =
        song.trainer ? std::optional<Steps>(std::in_place, *song.trainer, songStart) : std::nullopt;

    // How many parts the trainers make, known before any is made.
    int64_t steps = 0, bar = 0;
    for (size_t i = 0; i < song.sections.size(); ++i) {
        const SongSection& s = song.sections[i];
        if (s.countIn) continue;
        if (s.trainer) {
            if (auto why = wrongSide(*s.trainer, startOf(s))) return PracticeProblem{i, true, *why};
            steps += Steps(*s.trainer, startOf(s)).stepsWithin(0, s.measures);
        } else if (songSteps) {
            steps += songSteps->stepsWithin(bar, bar + s.measures);
        }
        if (steps > kMostTrainerSteps) {
            return PracticeProblem{i, s.trainer.has_value(),
                                   "it would step the tempo more than " +
                                       std::to_string(kMostTrainerSteps) + " times"};
        }
        bar += s.measures;
    }

    std::vector<SongSection> laid;
    laid.reserve(song.sections.size() + static_cast<size_t>(steps));
    bar = 0;
    for (size_t i = 0; i < song.sections.size(); ++i) {
        const SongSection& s = song.sections[i];
        if (s.countIn) {
            laid.push_back(s);
            continue;
        }
        // Whose trainer and cycle, and where this section starts in them.
        const std::optional<Steps> own =
            s.trainer ? std::optional<Steps>(std::in_place, *s.trainer, startOf(s)) : std::nullopt;
        const Steps* trainer = own ? &*own : songSteps ? &*songSteps : nullptr;
        const int64_t from = own ? 0 : bar;
        const std::optional<MuteCycle> mute = s.mute ? s.mute : song.mute;
        const int64_t phase = s.mute || !mute ? 0 : bar % mute->length();
        // Parts only split a measure that ends.
        const bool splits = trainer && s.beatsPerMeasure > 0;
        for (int64_t at = 0;;) {
            int64_t to = s.measures;
            if (splits && trainer->stepsWithin(from + at, from + s.measures) > 0) {
                to = trainer->nextStep(from + at) - from;
            }
            const double amount = trainer ? trainer->amount(from + at) : 0.0;
            SongSection part = partOf(s, at, to, amount * s.countedQuarters);
            part.mute = mute;
            part.mutePhase = mute ? (phase + at) % mute->length() : 0;
            if (amount != 0.0) {
                for (const double t : part.tempos) {
                    if (auto why = tempoProblem(t, s, rate, bar + at + 1)) {
                        return PracticeProblem{i, own.has_value(), *why};
                    }
                }
            }
            laid.push_back(std::move(part));
            if (to == s.measures) break;
            at = to;
        }
        bar += s.measures;
    }
    song.sections = std::move(laid);
    song.trainer.reset();
    return std::nullopt;
}
