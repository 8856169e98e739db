// The command line front end: `clicktrack render` and `clicktrack play`.
#pragma once

#include <cstdio>

#include "cli/options.hpp"
#include "core/outcome.hpp"

// Runs the command the line asks for; ends with a Stop that carries the exit
// status (0 on success) and what to print.
Stop runCommandLine(const CommandLine& line, FILE* out, FILE* err);
