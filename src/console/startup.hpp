// Start-up: settings from the settings file, or from two questions.
#pragma once

#include "console/ending.hpp"
#include "console/session.hpp"

// Fills the session's settings and track length, fixes the click's per-run
// values and writes "ready". `settingsPath` names the settings file.
Ending startUp(Session& session, const char* settingsPath = kSettingsFileName);
