#include "cli/setlist.hpp"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <thread>

#include "cli/job.hpp"
#include "cli/keys.hpp"
#include "cli/play.hpp"
#include "cli/render.hpp"
#include "core/interrupt.hpp"
#include "io/regular_file.hpp"

namespace {

constexpr size_t kMaxSetlistBytes = 1 << 20;
constexpr size_t kMaxFileNameBytes = 200;

// A song checked and ready: its command line and its job.
struct ReadySong {
    std::string name;
    CommandLine line;
    Job job;
};

// What `refusal` said, each line of it after "clicktrack: FILE:N: ", with
// status 1: the setlist is a file whose line is wrong.
Exit atLine(const std::string& path, size_t line, const std::string& refusal) {
    const std::string where = "clicktrack: " + path + ":" + std::to_string(line) + ": ";
    std::string lines;
    size_t start = 0;
    while (start < refusal.size()) {
        size_t end = refusal.find('\n', start);
        if (end == std::string::npos) end = refusal.size();
        std::string one = refusal.substr(start, end - start);
        start = end + 1;
        if (one == "Try 'clicktrack --help'.") continue;
        if (one.rfind("clicktrack: ", 0) == 0) one.erase(0, 12);
        lines += (lines.empty() ? "" : "\n") + where + one;
    }
    return Exit{1, lines, true};
}

std::string extensionOf(const CommandLine& line) {
    return std::string(".") + formatName(line.format.value_or(AudioFormat::Wav));
}

// Every song of the setlist checked; the first wrong line refuses all.
std::variant<std::vector<ReadySong>, Exit> prepareSongs(const CommandLine& line) {
    const std::string& path = *line.setlist;
    const RegularFileText file = readRegularFile(path, kMaxSetlistBytes + 1);
    if (file.status == RegularFileText::Status::NotRegular) {
        return Exit{1, "clicktrack: Setlist file '" + path + "' is not a regular file.", true};
    }
    if (file.status != RegularFileText::Status::Read) {
        return Exit{1, "clicktrack: Can't read setlist file '" + path + "': " +
                           std::strerror(file.error) + ".", true};
    }
    if (file.text.size() > kMaxSetlistBytes) {
        return Exit{1, "clicktrack: Setlist file '" + path + "' is larger than 1 MiB.", true};
    }
    const SetlistReading reading = readSetlist(file.text);
    if (reading.problem) return atLine(path, reading.problemLine, *reading.problem);
    if (reading.songs.empty()) return Exit{1, "clicktrack: " + path + ": no songs in the setlist.", true};
    const bool render = line.command == Command::Render;
    const std::string folder = line.output.value_or(".");
    std::vector<ReadySong> songs;
    std::map<std::string, size_t> files;  // file name: the line that takes it
    for (const SetlistSong& song : reading.songs) {
        const std::string command = render ? "render" : "play";
        // A song's own line may not say where it goes, nor hold another setlist.
        // (a setlist of its own named first, so that --gap is taken).
        const std::string mark = "\x01";
        std::vector<std::string> own{command, "--setlist", mark};
        own.insert(own.end(), song.words.begin(), song.words.end());
        const ParsedArguments alone = parseArguments(own);
        if (const CommandLine* l = std::get_if<CommandLine>(&alone)) {
            const char* misplaced = *l->setlist != mark ? "--setlist" : l->gap ? "--gap" : l->output ? "-o"
                                    : l->big ? "--big" : nullptr;
            if (misplaced) {
                return atLine(path, song.line, std::string(misplaced) +
                                                   " belongs on the command line, not on a song's line.");
            }
        }
        // The command line's options first, the song's after them.
        std::vector<std::string> words{command};
        words.insert(words.end(), line.arguments.begin(), line.arguments.end());
        words.insert(words.end(), song.words.begin(), song.words.end());
        ParsedArguments parsed = parseArguments(words);
        if (const Exit* refused = std::get_if<Exit>(&parsed)) {
            return atLine(path, song.line, refused->message);
        }
        CommandLine songLine = std::get<CommandLine>(parsed);
        if (render) {
            const std::string name = safeFileName(song.name) + extensionOf(songLine);
            const auto [taken, fresh] = files.emplace(name, song.line);
            if (!fresh) {
                return atLine(path, song.line, "'" + song.name + "' would be written to '" + name +
                                                   "', as the song of line " +
                                                   std::to_string(taken->second) + " is.");
            }
            songLine.output = folder + "/" + name;
        }
        std::variant<Job, Exit> job = prepareJob(songLine);
        if (const Exit* refused = std::get_if<Exit>(&job)) return atLine(path, song.line, refused->message);
        songs.push_back(ReadySong{song.name, std::move(songLine), std::move(std::get<Job>(job))});
    }
    return songs;
}

Exit renderSongs(const CommandLine& line, std::vector<ReadySong>& songs, FILE* out, FILE* err) {
    struct stat folder {};
    const std::string name = line.output.value_or(".");
    if (::stat(name.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode)) {
        return usageError("-o '" + name + "' must be a folder with --setlist: each song gets a "
                          "file of its own there.");
    }
    for (ReadySong& song : songs) {
        for (const std::string& warning : song.job.warnings) std::fprintf(err, "clicktrack: %s\n", warning.c_str());
        if (Result r = renderTrack(song.line, song.job, STDOUT_FILENO, out, err)) return *r;
    }
    return Exit{0, "", false};
}

enum class Between { Start, End };

// Waits for the next song: a key (space or Enter starts it, n and p choose
// another, q ends), --gap's seconds, or, without a terminal, a line of
// standard input (q ends, n and p move; at its end the songs follow at once).
Between waitForNext(const CommandLine& line, const std::vector<ReadySong>& songs, size_t& next,
                    bool terminal, bool& inputEnded, FILE* err) {
    const bool shown = !line.quiet && ::isatty(::fileno(err)) == 1;
    const auto start = std::chrono::steady_clock::now();
    std::string pending;
    for (;;) {
        if (shown) {
            std::fprintf(err, "\rNext: %zu/%zu %s  (%s)\033[K", next + 1, songs.size(),
                         songs[next].name.c_str(),
                         terminal ? "space or Enter starts it, n p choose, q ends"
                                  : "Enter starts it");
            std::fflush(err);
        }
        int wait = -1;
        if (line.gap) {
            const double left = *line.gap - std::chrono::duration<double>(
                                                  std::chrono::steady_clock::now() - start).count();
            if (left <= 0.0) break;
            wait = static_cast<int>(left * 1000.0) + 1;
        }
        if (!terminal && inputEnded) {
            if (!line.gap) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(wait, 100)));
            if (interruptSignal()) break;
            continue;
        }
        pollfd in{STDIN_FILENO, POLLIN, 0};
        const int ready = ::poll(&in, 1, wait < 0 || wait > 100 ? 100 : wait);
        if (interruptSignal()) break;
        if (ready <= 0) continue;
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n <= 0) {
            inputEnded = true;
            continue;
        }
        pending += c;
        if (!terminal && c != '\n') continue;
        if (!terminal) {
            // A line: its first letter says what to do.
            const char first = pending.empty() ? '\n' : pending[0];
            pending.clear();
            if (first == 'q') return Between::End;
            if (first == 'n' && next + 1 < songs.size()) ++next;
            else if (first == 'p' && next > 0) --next;
            else if (first != 'n' && first != 'p') break;
            continue;
        }
        for (const Key key : takeKeys(pending, false)) {
            if (key == Key::Quit) return Between::End;
            if (key == Key::Space || key == Key::Enter) {
                if (shown) std::fputs("\r\033[K", err);
                return Between::Start;
            }
            if (key == Key::Next && next + 1 < songs.size()) ++next;
            if (key == Key::Previous && next > 0) --next;
        }
    }
    if (shown) std::fputs("\r\033[K", err);
    return Between::Start;
}

Exit playSongs(const CommandLine& line, std::vector<ReadySong>& songs, FILE* out, FILE* err) {
    const bool terminal = keysAvailable();
    // The keys stay unechoed between the songs too; the signals stop the wait.
    std::optional<RawTerminal> raw;
    if (terminal) raw.emplace();
    const InterruptGuard guard;
    bool inputEnded = false;
    size_t next = 0;
    for (;;) {
        ReadySong& song = songs[next];
        for (const std::string& warning : song.job.warnings) std::fprintf(err, "clicktrack: %s\n", warning.c_str());
        const std::string title = std::to_string(next + 1) + "/" + std::to_string(songs.size()) +
                                  " " + song.name + "  ";
        if (Result r = playTrack(song.line, song.job, out, err, title)) return *r;
        if (const int signal = interruptSignal()) return Exit{kSignalExit + signal, "", true};
        if (next + 1 >= songs.size()) break;
        ++next;
        if (waitForNext(line, songs, next, terminal, inputEnded, err) == Between::End) break;
        if (const int signal = interruptSignal()) return Exit{kSignalExit + signal, "", true};
    }
    return Exit{0, "", false};
}

}  // namespace

SetlistReading readSetlist(const std::string& text) {
    SetlistReading reading;
    size_t number = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        std::vector<std::string> words;
        std::string word;
        bool inWord = false;
        char quote = 0;
        for (const char c : line) {
            if (quote) {
                if (c == quote) quote = 0;
                else word += c;
            } else if (c == '"' || c == '\'') {
                quote = c;
                inWord = true;
            } else if (c == ' ' || c == '\t' || c == '\r') {
                if (inWord) words.push_back(word);
                word.clear();
                inWord = false;
            } else if (c == '#' && !inWord) {
                break;
            } else {
                word += c;
                inWord = true;
            }
        }
        if (quote) {
            reading.problem = std::string("a quote (") + quote + ") that is not closed";
            reading.problemLine = number;
            return reading;
        }
        if (inWord) words.push_back(word);
        if (words.empty()) continue;
        if (words[0].empty() || words[0][0] == '-') {
            reading.problem = "a song's name first, then its options, not '" + words[0] + "'";
            reading.problemLine = number;
            return reading;
        }
        reading.songs.push_back(SetlistSong{words[0], number, {words.begin() + 1, words.end()}});
    }
    return reading;
}

std::string safeFileName(const std::string& name) {
    std::string safe;
    for (const char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        const bool kept = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
                          u == '-' || u == '_' || u == '.' || u >= 0x80;
        safe += kept ? c : '_';
    }
    if (safe.size() > kMaxFileNameBytes) safe.resize(kMaxFileNameBytes);
    if (!safe.empty() && (safe[0] == '.' || safe[0] == '-')) safe[0] = '_';
    return safe;
}

Exit runSetlist(const CommandLine& line, FILE* out, FILE* err) {
    std::variant<std::vector<ReadySong>, Exit> prepared = prepareSongs(line);
    if (Exit* refused = std::get_if<Exit>(&prepared)) return *refused;
    std::vector<ReadySong>& songs = std::get<std::vector<ReadySong>>(prepared);
    if (line.command == Command::Render) return renderSongs(line, songs, out, err);
    return playSongs(line, songs, out, err);
}
