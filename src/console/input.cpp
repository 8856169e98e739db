#include "console/input.hpp"

#include <cctype>

namespace {

ReadResult fromScanCount(int count) {
    if (count == 1) return ReadResult::Ok;
    return count == EOF ? ReadResult::End : ReadResult::NoNumber;
}

}  // namespace

ReadResult readInteger(FILE* in, long long& value) {
    long long v = 0;
    const ReadResult r = fromScanCount(std::fscanf(in, "%lli", &v));
    if (r == ReadResult::Ok) value = v;
    return r;
}

ReadResult readDecimal(FILE* in, float& value) {
    float v = 0.0f;
    const ReadResult r = fromScanCount(std::fscanf(in, "%f", &v));
    if (r == ReadResult::Ok) value = v;
    return r;
}

ReadResult readWord(FILE* in, std::string& word, bool& truncated, size_t keep) {
    word.clear();
    truncated = false;
    int c = std::getc(in);
    while (c != EOF && std::isspace(c)) c = std::getc(in);
    if (c == EOF) return ReadResult::End;
    while (c != EOF && !std::isspace(c)) {
        if (word.size() < keep) {
            word.push_back(static_cast<char>(c));
        } else {
            truncated = true;
        }
        c = std::getc(in);
    }
    if (c != EOF) std::ungetc(c, in);
    return ReadResult::Ok;
}
