// A setlist: the night's songs in order, a line each, played one after the
// other (`clicktrack play --setlist FILE`) or written a file each
// (`clicktrack render --setlist FILE -o FOLDER`).
//
// A line holds a song's name, then its options, as on the command line:
//
//   # name        options
//   Intro         -t 96 --count-in 1
//   "Blue Train"  --map blue.txt --sound cowbell
//   'Song #2'     -t 140 -b 3   # a comment
//
// Words are split at blanks; double or single quotes keep blanks and '#'
// in a word, and do not nest (no backslash escapes). A '#' that starts a
// word starts a comment. Blank lines and comments are skipped.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/exit.hpp"
#include "cli/options.hpp"

struct SetlistSong {
    std::string name;
    size_t line = 0;                 // from 1
    std::vector<std::string> words;  // its options
};

struct SetlistReading {
    std::vector<SetlistSong> songs;
    // The first line that cannot be read, and why.
    std::optional<std::string> problem;
    size_t problemLine = 0;
};

SetlistReading readSetlist(const std::string& text);

// The name of a song's file: ASCII letters and digits, '-', '_', '.' and
// bytes of UTF-8 characters beyond ASCII kept, every other byte (a blank,
// '/', a control character ...) a '_'; a leading '.' or '-' a '_' too; at
// most 200 bytes.
std::string safeFileName(const std::string& name);

// Plays or writes the setlist `line` names, every line checked first: a
// line that is wrong refuses the whole setlist, nothing played or written.
Exit runSetlist(const CommandLine& line, FILE* out, FILE* err);
