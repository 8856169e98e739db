// Practising with the click: a trainer that steps the tempo every few bars,
// and bars played then kept silent, to hold time without the click. The
// command line (--trainer, --mute) and a map line (trainer=, mute=) write
// them the same way; the planner lays them into the song.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// [+|-]STEP/BARS[:MAX]: the tempo moves by `step` every `bars` bars, in the
// note the tempo counts (q.=52 steps in dotted quarters), until it reaches
// `limit` (MAX): a ceiling for a rising tempo, a floor for a falling one.
struct Trainer {
    double step = 0.0;            // not 0, at most 10000 either way
    int64_t bars = 1;             // 1 to 2147483647
    std::optional<double> limit;  // above 0
    std::string text;             // as written, for messages
};

// ON/OFF: `on` bars played, then `off` bars silent, over and over.
struct MuteCycle {
    int64_t on = 1;   // 1 to 2147483647
    int64_t off = 0;  // 0 to 2147483647; 0 never silences a bar
    std::string text;

    int64_t length() const { return on + off; }
    // Whether bar `bar` (from 0) of a cycle that starts `phase` bars in is silent.
    bool silent(int64_t phase, int64_t bar) const { return off > 0 && (phase + bar) % length() >= on; }
};

// What each reads, as a usage message puts it after "must be".
constexpr const char* kTrainerForm =
    "+STEP/BARS[:MAX]: a step other than 0 and at most 10000 either way, every 1 to 2147483647 "
    "bars, up to a tempo MAX above 0";
constexpr const char* kMuteForm = "ON/OFF: 1 to 2147483647 bars played, then 0 to 2147483647 silent";

std::optional<Trainer> readTrainer(std::string_view text);
std::optional<MuteCycle> readMuteCycle(std::string_view text);
