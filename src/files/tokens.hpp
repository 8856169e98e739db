// Splitting text into tokens the way C's strtok does: each call names its own
// separators, skips any of them in front, and uses up the one that ends the
// token. The settings file and the tempo map are both read this way.
#pragma once

#include <optional>
#include <string_view>

class Tokens {
public:
    explicit Tokens(std::string_view text) : text_(text) {}

    std::optional<std::string_view> next(std::string_view separators) {
        const size_t start = text_.find_first_not_of(separators, at_);
        if (start == std::string_view::npos) {
            at_ = text_.size();
            return std::nullopt;
        }
        size_t end = text_.find_first_of(separators, start);
        if (end == std::string_view::npos) end = text_.size();
        at_ = end < text_.size() ? end + 1 : end;
        return text_.substr(start, end - start);
    }

private:
    std::string_view text_;
    size_t at_ = 0;
};
