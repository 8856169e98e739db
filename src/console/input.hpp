// Reading the user's answers from a text stream, the way the C formatted-input
// conversions read them: an answer that is not a number leaves its text in the
// stream for the next read.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

enum class ReadResult {
    Ok,        // a value was read
    NoNumber,  // the next text is not a number; it stays unread
    End,       // the input has ended
};

// An integer with base detection (0x1F hexadecimal, 017 octal, else decimal).
ReadResult readInteger(FILE* in, long long& value);

// A decimal number (also "inf" and "nan", which callers refuse).
ReadResult readDecimal(FILE* in, float& value);

// One whitespace-delimited word. At most `keep` characters are stored; a
// longer word is still consumed whole and `truncated` tells so.
ReadResult readWord(FILE* in, std::string& word, bool& truncated, size_t keep = 4096);
