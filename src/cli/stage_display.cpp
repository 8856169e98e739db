#include "cli/stage_display.hpp"

#include <sys/ioctl.h>

#include <algorithm>
#include <cinttypes>
#include <cstddef>

namespace {

// A font of 3 x 5 dots, a row a string: '#' is a dot.
const char* const kDigits[10][5] = {
    {"###", "# #", "# #", "# #", "###"}, {" # ", "## ", " # ", " # ", "###"},
    {"###", "  #", "###", "#  ", "###"}, {"###", "  #", "###", "  #", "###"},
    {"# #", "# #", "###", "  #", "  #"}, {"###", "#  ", "###", "  #", "###"},
    {"###", "#  ", "###", "# #", "###"}, {"###", "  #", "  #", "  #", "  #"},
    {"###", "# #", "###", "# #", "###"}, {"###", "# #", "###", "  #", "###"},
};
const char* const kDot[5] = {"   ", "   ", "   ", "   ", " # "};
const char* const kBlank[5] = {"   ", "   ", "   ", "   ", "   "};

// A full block, U+2588.
const std::string kBlock = "\xe2\x96\x88";

}  // namespace

std::vector<std::string> bigText(const std::string& text, int wide, int high) {
    std::vector<std::string> rows;
    for (int row = 0; row < 5; ++row) {
        std::string line;
        for (size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            const char* const* glyph = c >= '0' && c <= '9' ? kDigits[c - '0'] : c == '.' ? kDot : kBlank;
            if (i > 0) line.append(static_cast<size_t>(wide), ' ');
            for (const char* dot = glyph[row]; *dot; ++dot) {
                for (int w = 0; w < wide; ++w) line += *dot == '#' ? kBlock : " ";
            }
        }
        for (int h = 0; h < high; ++h) rows.push_back(line);
    }
    return rows;
}

BigDisplay::BigDisplay(FILE* err) : err_(err) {
    // The alternate screen, the cursor hidden.
    std::fputs("\033[?1049h\033[?25l\033[2J", err_);
    std::fflush(err_);
}

BigDisplay::~BigDisplay() {
    std::fputs("\033[?25h\033[?1049l", err_);
    std::fflush(err_);
}

void BigDisplay::draw(int64_t bar, int64_t beat, bool accent, const std::string& status,
                      const char* help) {
    winsize size{};
    if (::ioctl(::fileno(err_), TIOCGWINSZ, &size) != 0 || size.ws_row < 2 || size.ws_col < 8) {
        size.ws_row = 24;
        size.ws_col = 80;
    }
    if (size.ws_row != rows_ || size.ws_col != columns_) {
        rows_ = size.ws_row;
        columns_ = size.ws_col;
        shown_.assign(static_cast<size_t>(rows_), std::string());
        std::fputs("\033[2J", err_);
    }
    // What each row should hold: the digits in the middle, the status at the bottom.
    std::vector<std::string> rows(static_cast<size_t>(rows_));
    if (help) {
        size_t row = 0;
        for (const char* line = help; *line && row + 1 < rows.size(); ++row) {
            const char* end = line;
            while (*end && *end != '\n') ++end;
            rows[row].assign(line, static_cast<size_t>(std::min<std::ptrdiff_t>(end - line, columns_)));
            line = *end ? end + 1 : end;
        }
    } else {
        char text[48];
        std::snprintf(text, sizeof text, "%" PRId64 ".%" PRId64, bar, beat);
        const int length = static_cast<int>(std::char_traits<char>::length(text));
        // Cells are about twice as high as wide: a dot twice as wide as high.
        const int high = std::max(1, std::min((rows_ - 2) / 5, columns_ / (8 * length)));
        const int wide = std::max(1, std::min(2 * high, columns_ / (4 * length)));
        const std::vector<std::string> digits = bigText(text, wide, high);
        const int cells = (4 * length - 1) * wide;
        const std::string indent(static_cast<size_t>(std::max(0, (columns_ - cells) / 2)), ' ');
        const size_t top = static_cast<size_t>(std::max(0, (rows_ - 1 - static_cast<int>(digits.size())) / 2));
        const char* on = accent ? "\033[7m" : "";
        const char* off = accent ? "\033[0m" : "";
        for (size_t i = 0; i < digits.size() && top + i + 1 < rows.size(); ++i) {
            rows[top + i] = indent + on + digits[i] + off;
        }
    }
    rows.back() = status.substr(0, static_cast<size_t>(columns_));
    for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i] == shown_[i]) continue;
        std::fprintf(err_, "\033[%zu;1H%s\033[K", i + 1, rows[i].c_str());
        shown_[i] = rows[i];
    }
    std::fflush(err_);
}
