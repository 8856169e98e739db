#include "cli/channels.hpp"

#include <cstdlib>

namespace {

// The highest channel a mask names, counting from 1.
int32_t highestChannel(uint32_t mask) {
    int32_t highest = 0;
    for (int32_t c = 0; c < kMostChannels; ++c) {
        if (mask >> c & 1u) highest = c + 1;
    }
    return highest;
}

// A channel number from 1 to kMostChannels, digits only.
bool channelNumber(const std::string& text, int32_t& channel) {
    if (text.empty() || text.size() > 2 || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    channel = std::atoi(text.c_str());
    return channel >= 1 && channel <= kMostChannels;
}

}  // namespace

bool channelList(const std::string& text, uint32_t& mask) {
    uint32_t channels = 0;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma == std::string::npos ? comma : comma - start);
        const size_t dash = item.find('-');
        int32_t first = 0, last = 0;
        if (!channelNumber(item.substr(0, dash), first)) return false;
        last = first;
        if (dash != std::string::npos && (!channelNumber(item.substr(dash + 1), last) || last < first)) {
            return false;
        }
        for (int32_t c = first; c <= last; ++c) channels |= 1u << (c - 1);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    mask = channels;
    return true;
}

bool backingValue(const std::string& text, CommandLine& line) {
    const size_t colon = text.rfind(':');
    uint32_t mask = 0;
    if (colon != std::string::npos && channelList(text.substr(colon + 1), mask)) {
        line.backing = text.substr(0, colon);
        line.backingTo = mask;
    } else {
        line.backing = text;
        line.backingTo.reset();
    }
    return !line.backing->empty();
}

Result checkChannels(const CommandLine& line) {
    const int32_t channels = channelCount(line);
    const std::pair<const char*, const std::optional<uint32_t>*> lists[] = {
        {"--click-to", &line.clickTo}, {"--backing", &line.backingTo}};
    for (const auto& [option, list] : lists) {
        const int32_t highest = *list ? highestChannel(**list) : 0;
        if (highest <= channels) continue;
        const std::string named = std::string(option) + " names channel " + std::to_string(highest);
        if (!line.channels) {
            return usageError(named + ", but a track has one channel unless --channels says more.");
        }
        return usageError(named + ", but --channels " + std::to_string(channels) + " gives " +
                          std::to_string(channels) + (channels == 1 ? " channel." : " channels."));
    }
    if (line.append && (channels > 1 || line.backing)) {
        return usageError("--append adds to a file of one channel: it cannot be used with " +
                          (line.backing ? std::string("--backing") : "--channels " + std::to_string(channels)) +
                          ".");
    }
    return std::nullopt;
}

int32_t channelsIn(uint32_t mask) {
    int32_t count = 0;
    for (; mask != 0; mask &= mask - 1) ++count;
    return count;
}

int32_t channelCount(const CommandLine& line) { return line.channels.value_or(1); }

uint32_t allChannels(int32_t channels) {
    return channels >= kMostChannels ? ~uint32_t{0} : (uint32_t{1} << channels) - 1;
}

void routeBacking(BackingTrack& backing, uint32_t mask, int32_t channels) {
    backing.source.assign(static_cast<size_t>(channels), -1);
    const bool oneToOne = backing.channels == channelsIn(mask) && backing.channels > 1;
    int32_t next = 0;
    for (int32_t c = 0; c < channels; ++c) {
        if (mask >> c & 1u) backing.source[static_cast<size_t>(c)] = oneToOne ? next++ : 0;
    }
}

int64_t firstBarFrame(const Song& song, const std::vector<int64_t>& starts, int64_t end) {
    if (song.sections.empty() || !song.sections.front().countIn) return 0;
    return starts.size() > 1 ? starts[1] : end;
}

FrameLayout frameLayout(const CommandLine& line, const Job& job, int64_t backingStart) {
    FrameLayout layout;
    layout.channels = channelCount(line);
    layout.clickChannels = line.clickTo.value_or(allChannels(layout.channels));
    if (job.backing) {
        layout.backing = &*job.backing;
        layout.backingStart = backingStart;
    }
    return layout;
}
