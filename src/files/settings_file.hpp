// The settings file: one "key<TAB>value" line for each of the ten settings.
//
//   rate    44100
//   device  default
//   bits    24
//   tempo   120.00
//   Hz      60.00
//   atime   10.0
//   meter   4
//   meas    48
//   save    click.wav
//   map     tmap.txt
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/outcome.hpp"
#include "core/settings.hpp"

// The reader looks at no more than this many bytes of the file.
constexpr size_t kSettingsReadLimit = 1023;

// Sets every field whose key appears in `text` and holds a usable value.
// Returns one line for each value refused (the field then keeps the value
// it had) and for anything else the user should know.
std::vector<std::string> parseSettingsText(std::string_view text, Settings& settings,
                                           const std::string& fileName);

// The settings file as start-up finds it.
struct SettingsFileText {
    std::optional<std::string> text;  // its first bytes; none when there is no file to use
    Outcome problem;                  // why a file that is there is not used
};

// Reads at most kSettingsReadLimit + 1 bytes of the settings file at `path`,
// never waiting on it. A missing file has no text and no problem; one that is
// not a regular file or cannot be read has a problem.
SettingsFileText readSettingsFile(const std::string& path);

// Loads the settings file's text (as readSettingsFile gives it) into `settings`.
std::vector<std::string> loadSettingsText(std::string text, Settings& settings,
                                          const std::string& fileName);

// The ten lines the settings file holds.
std::string settingsText(const Settings& settings);

// Saves the settings to `path` without ever leaving it half written: the text
// goes to a new file beside it, which then replaces it. A failure says why
// nothing was saved; the file is then as it was.
Outcome saveSettings(const Settings& settings, const std::string& path);
