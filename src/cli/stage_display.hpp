// The display for a dark stage (--big): the bar and the beat in digits that
// fill the terminal, the first beat of a bar in reverse video, the status
// line below them. Only the rows that change are written again.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// `text` (digits, '.', ' ') in big digits: each of the font's dots `wide`
// cells wide and `high` rows high, a gap of one dot between characters.
std::vector<std::string> bigText(const std::string& text, int wide, int high);

class BigDisplay {
public:
    // Takes the terminal's alternate screen, which is left as it was at the end.
    explicit BigDisplay(FILE* err);
    ~BigDisplay();
    BigDisplay(const BigDisplay&) = delete;
    BigDisplay& operator=(const BigDisplay&) = delete;

    // Shows bar `bar`, beat `beat` (`accent`: in reverse video) and `status`
    // on the last row; or, with `help`, the lines of `help` instead of the digits.
    void draw(int64_t bar, int64_t beat, bool accent, const std::string& status,
              const char* help);

private:
    FILE* err_;
    int rows_ = 0, columns_ = 0;
    std::vector<std::string> shown_;  // the rows on the screen
};
