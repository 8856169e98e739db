// The actions of the menu: audition, the tempo map, and writing wave files.
// Each runs after the click stage and uses the click made in that pass.
#pragma once

#include <string>

#include "console/ending.hpp"
#include "console/session.hpp"

// Runs the action of `word`, if it has one (`a`, `rtm`, `ptm`, `w`, `+`).
Ending runAction(const std::string& word, Session& session);
