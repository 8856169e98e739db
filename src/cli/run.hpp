// The command line front end: `clicktrack render`, `clicktrack play` and
// `clicktrack show`.
#pragma once

#include <cstdio>

#include "cli/options.hpp"
#include "cli/exit.hpp"
#include "core/outcome.hpp"

// Runs the command the line asks for; ends with a Exit that carries the exit
// status (0 on success) and what to print.
Exit runCommandLine(const CommandLine& line, FILE* out, FILE* err);
