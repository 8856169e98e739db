// Which values the arithmetic can work with. Each check gives nothing for a
// usable value, otherwise a refusal whose detail is the rule: one sentence
// that says what is accepted, for the front end to put into its own message.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/outcome.hpp"

using Rule = Outcome;

// Sample rate: a whole number from 1 to 2147483647 (larger ones are negative
// answers wrapped round).
Rule checkRate(long long rate);

// Whether the tempo, frequency and audition length all work at `rate`.
bool rateSuits(uint32_t rate, float tempo, float hz, float atime);

// Sample rate: in range, and suiting the tempo, frequency and audition length
// in force; the refusal names the range of rates that would suit them.
Rule checkRateFor(long long rate, float tempo, float hz, float atime);

// Bit depth: 16 or 24.
Rule checkBits(long long bits);

// Tempo: finite, above 0, and giving a beat of 1 to 2147483647 samples.
Rule checkTempo(float tempo, uint32_t rate);

// Lowest frequency: finite, above 0, and not above half the rate, so that
// at least one partial fits; and its click at this rate within the budget
// of kClickBudgetBytes.
Rule checkFrequency(float hz, uint32_t rate);

// Beats per measure and number of measures: 0 to 2147483647.
Rule checkBeatsPerMeasure(long long meter);
Rule checkMeasures(long long meas);

// Audition length: finite, 0 or more, and its frame count fits 31 bits.
// The refusal states the limit rounded up to the hundredth, which is itself refused.
Rule checkAuditionLength(float atime, uint32_t rate);

// Names: not empty, and no longer than their field.
Rule checkName(const std::string& name, size_t maxChars, const char* what);
