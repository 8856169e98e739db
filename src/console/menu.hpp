// The command menu: shows the settings, reads one word and runs it.
#pragma once

#include <cstdio>

#include "click/click.hpp"
#include "console/ending.hpp"
#include "console/session.hpp"

// What the click stage of a menu pass writes: the warning of a frequency too
// low, if any, and one line break.
void writeClickStage(FILE* out, const ClickReport& report);

// Writes the whole menu with the current settings.
void writeMenu(FILE* out, const Settings& s);

// Runs menu passes until a command or an error ends the program.
Stop runMenu(Session& session);
