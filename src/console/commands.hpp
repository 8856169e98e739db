// The actions of the menu: audition, the tempo map, and writing wave files.
// Each runs after the click stage and uses the click made in that pass.
#pragma once

#include <cstdint>
#include <string>

#include "common/outcome.hpp"
#include "console/session.hpp"

// Samples `w` and `+` plan for a track of `trackSeconds`: rate x trackSeconds
// in single precision, truncated; false when that is no 32-bit sample count.
bool trackFrames(uint32_t rate, float trackSeconds, int32_t& frames);

// Runs the action of `word`, if it has one (`a`, `rtm`, `ptm`, `w`, `+`).
Outcome runAction(const std::string& word, Session& session);
