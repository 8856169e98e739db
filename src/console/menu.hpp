// The command menu: shows the settings, reads one word and runs it.
#pragma once

#include <cstdio>

#include "core/outcome.hpp"
#include "console/session.hpp"

// Writes the whole menu with the current settings.
void writeMenu(FILE* out, const Settings& s);

// Runs menu passes until a command or an error ends the program.
Stop runMenu(Session& session);
