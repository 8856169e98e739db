#include "cli/keys.hpp"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <numeric>

namespace {

// The tempos the keys reach, in beats a minute as the display shows them.
constexpr double kSlowest = 10.0;
constexpr double kFastest = 600.0;
// How long the key side sleeps between looks at the keys and the player.
constexpr int kPollMilliseconds = 20;
// A pause's silent beats, a hundredth of a second apart, keep the player
// asking whether to resume.
constexpr uint32_t kPauseBeatsASecond = 100;

}  // namespace

std::vector<Key> takeKeys(std::string& pending, bool idle) {
    std::vector<Key> keys;
    size_t at = 0;
    while (at < pending.size()) {
        const char c = pending[at];
        if (c != '\x1b') {
            ++at;
            switch (c) {
                case ' ': keys.push_back(Key::Space); break;
                case '\r':
                case '\n': keys.push_back(Key::Enter); break;
                case '+':
                case '=': keys.push_back(Key::Faster); break;
                case '-':
                case '_': keys.push_back(Key::Slower); break;
                case 't':
                case 'T': keys.push_back(Key::Tap); break;
                case 'n':
                case 'N': keys.push_back(Key::Next); break;
                case 'p':
                case 'P': keys.push_back(Key::Previous); break;
                case 'm':
                case 'M': keys.push_back(Key::Mute); break;
                case 'r':
                case 'R': keys.push_back(Key::Restart); break;
                case 'q':
                case 'Q': keys.push_back(Key::Quit); break;
                case '?': keys.push_back(Key::Help); break;
                default: keys.push_back(Key::Other); break;
            }
            continue;
        }
        // Esc [ or Esc O, then parameters, then a final byte from @ to ~.
        if (at + 1 >= pending.size()) {
            if (!idle) break;
            keys.push_back(Key::Quit);
            ++at;
            continue;
        }
        if (pending[at + 1] != '[' && pending[at + 1] != 'O') {
            keys.push_back(Key::Quit);
            ++at;
            continue;
        }
        size_t end = at + 2;
        while (end < pending.size() && !(pending[end] >= '@' && pending[end] <= '~')) ++end;
        if (end >= pending.size()) {
            if (!idle) break;
            at = end;  // a sequence that never ended
            keys.push_back(Key::Other);
            continue;
        }
        const std::string sequence = pending.substr(at + 2, end - at - 1);
        at = end + 1;
        if (sequence == "A") keys.push_back(Key::Faster);
        else if (sequence == "B") keys.push_back(Key::Slower);
        else if (sequence == "C") keys.push_back(Key::Next);
        else if (sequence == "D") keys.push_back(Key::Previous);
        else if (sequence == "5~") keys.push_back(Key::MuchFaster);
        else if (sequence == "6~") keys.push_back(Key::MuchSlower);
        else keys.push_back(Key::Other);
    }
    pending.erase(0, at);
    return keys;
}

const char* keyHelp() {
    return "Keys while it plays (standard input a terminal):\n"
           "  space            pause; play again from the next bar\n"
           "  + - up down      tempo 1 bpm faster, slower\n"
           "  PgUp PgDn        tempo 5 bpm faster, slower\n"
           "  t                tap the tempo (3 taps or more; it takes over at the next bar)\n"
           "  n p right left   next, previous section\n"
           "  m                mute, unmute the click (the display keeps counting)\n"
           "  r                from the start\n"
           "  q Esc            stop\n"
           "  ?                show, hide these keys";
}

bool keysAvailable() {
    return ::isatty(STDIN_FILENO) == 1 && ::tcgetpgrp(STDIN_FILENO) == ::getpgrp();
}

RawTerminal::RawTerminal() {
    if (::tcgetattr(STDIN_FILENO, &saved_) != 0) return;
    termios raw = saved_;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    active_ = ::tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
}

RawTerminal::~RawTerminal() {
    if (active_) ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
}

std::optional<double> TapTempo::tap(double seconds) {
    if (forgotten(seconds)) taps_.clear();
    taps_.push_back(seconds);
    if (taps_.size() > 8) taps_.pop_front();
    if (taps_.size() < 3) return std::nullopt;
    const double beat = (taps_.back() - taps_.front()) / static_cast<double>(taps_.size() - 1);
    if (!(beat > 0.0)) return std::nullopt;
    return 60.0 / beat;
}

LiveKeys::LiveKeys(const Song& song, std::optional<Song> again, uint32_t rate, size_t silentVoice)
    : song_(song),
      again_(std::move(again)),
      rate_(rate),
      silentVoice_(silentVoice),
      plain_(planFile(song, rate, 0)),
      markers_(markerNames(song)) {}

LiveKeys::~LiveKeys() {
    done_.store(true);
    if (thread_.joinable()) thread_.join();
}

std::unique_ptr<LivePlan> LiveKeys::plan(const Song& song, SongPlace place) const {
    std::vector<ScheduledSection> sections = planFrom(song, rate_, place, factor_);
    if (muted_) {
        for (ScheduledSection& s : sections) s.voice = silentVoice_;
    }
    return std::make_unique<LivePlan>(std::move(sections));
}

void LiveKeys::postRound() {
    if (again_) link_.postRound(plan(*again_, SongPlace{}));
}

Outcome LiveKeys::play(const PlaybackTarget& target, const PlayClicks& clicks,
                       std::optional<int64_t> frames, const EventListener& onEvent,
                       PlayTally* tally) {
    link_.post(plan(song_, SongPlace{}));
    postRound();
    const RawTerminal raw;
    thread_ = std::thread([this] { run(); });
    const Outcome played = playLiveOnDevice(target, link_, clicks, frames, onEvent, tally);
    done_.store(true);
    thread_.join();
    return played;
}

SongPlace LiveKeys::placeOf(const HeldBeat& held) const {
    if (!held.valid || held.section >= plain_.size()) return SongPlace{};
    const int64_t perBar = plain_[held.section].beatsPerMeasure;
    const int64_t beat = perBar > 0 ? (held.measure - 1) * perBar + held.beat - 1 : held.beat - 1;
    return SongPlace{held.section, beat};
}

double LiveKeys::baseTempo(SongPlace place) const {
    if (place.section >= plain_.size()) return plain_.empty() ? 120.0 : tempoAtBeat(plain_.back(), 0);
    return tempoAtBeat(plain_[place.section], place.beat);
}

void LiveKeys::changed() {
    status_.factor.store(factor_);
    status_.paused.store(paused_);
    status_.muted.store(muted_);
    status_.changes.fetch_add(1);
}

void LiveKeys::request(const Request& r) {
    last_ = r;
    const HeldBeat held = link_.held();
    // The first beat not laid yet, when the plan gets there in time.
    const SongPlace laid = placeOf(held);
    const SongPlace next = held.valid ? placeAfter(song_, laid, false) : laid;
    const uint64_t count = held.valid ? held.count + 1 : 0;
    std::unique_ptr<LivePlan> p;
    if (r.pause) {
        ScheduledSection silence;
        silence.rounding = BeatRounding::WholeBeats;
        silence.rate = rate_;
        silence.beatLength = std::max<int64_t>(rate_ / kPauseBeatsASecond, 1);
        silence.frames = std::numeric_limits<int64_t>::max() / 4;
        silence.beatsPerMeasure = 0;
        silence.pattern = ".";
        silence.voice = silentVoice_;
        p = std::make_unique<LivePlan>(std::vector<ScheduledSection>{silence});
        p->paused = true;
        p->from = count;
        // Played again from the bar the pause falls in when it falls on its
        // first beat, else from the next.
        const int64_t perBar = next.section < plain_.size() ? plain_[next.section].beatsPerMeasure : 1;
        resumeAt_ = perBar > 0 && next.beat % perBar == 0 ? next : placeAfter(song_, next, true);
    } else if (r.landing == Landing::NextBar) {
        const SongPlace bar = placeAfter(song_, laid, true);
        const SongPlace start = held.valid ? bar : laid;
        p = plan(song_, r.to.value_or(start));
        // Beats from the one laid to the next bar's first.
        int64_t beats = 0;
        if (held.valid && bar.section == laid.section) beats = bar.beat - laid.beat;
        else if (held.valid && laid.section < plain_.size()) beats = plain_[laid.section].beatCount - laid.beat;
        p->from = held.valid ? held.count + static_cast<uint64_t>(std::max<int64_t>(beats, 1)) : 0;
    } else {
        p = plan(song_, r.to.value_or(next));
        p->from = count;
    }
    link_.post(std::move(p));
    if (!r.pause) postRound();
}

void LiveKeys::changeTempo(double tempo, SongPlace at) {
    const double base = baseTempo(at);
    if (!(base > 0.0)) return;
    factor_ = std::clamp(tempo, kSlowest, kFastest) / base;
}

void LiveKeys::press(Key key, double now) {
    const HeldBeat held = link_.held();
    // Where a change of tempo lands: its tempo is the one asked for.
    const SongPlace laid = placeOf(held);
    const SongPlace at = paused_ ? resumeAt_ : !held.valid ? laid
                         : placeAfter(song_, laid, key == Key::Tap);
    // Where a jump lands: a section that has a name of its own, never the count-in.
    const auto sectionStart = [this](size_t section) {
        while (section > 0 && (markers_[section].empty() || song_.sections[section].countIn)) --section;
        return section;
    };
    std::optional<SongPlace> to;
    switch (key) {
        case Key::Faster:
        case Key::Slower:
        case Key::MuchFaster:
        case Key::MuchSlower: {
            const double step = key == Key::Faster ? 1.0 : key == Key::Slower ? -1.0
                                : key == Key::MuchFaster ? 5.0 : -5.0;
            changeTempo(baseTempo(at) * factor_ + step, at);
            status_.moved.store(true);
            break;
        }
        case Key::Tap: {
            const std::optional<double> tempo = taps_.tap(now);
            if (!tempo) return;
            // The taps count beats; the tempo counts quarter notes.
            const ScheduledSection& s = plain_[std::min(at.section, plain_.size() - 1)];
            const double quarters = *tempo * 4.0 / s.noteValue;
            status_.tapped.store(std::clamp(quarters, kSlowest, kFastest));
            changeTempo(quarters, at);
            status_.moved.store(true);
            changed();
            if (!paused_) request(Request{Landing::NextBar, std::nullopt, false});
            return;
        }
        case Key::Next:
        case Key::Previous: {
            const SongPlace here = paused_ ? resumeAt_ : laid;
            if (here.section >= song_.sections.size()) return;
            size_t target = sectionStart(here.section);
            if (key == Key::Next) {
                size_t s = here.section + 1;
                while (s < song_.sections.size() && markers_[s].empty()) ++s;
                if (s >= song_.sections.size()) return;
                target = s;
            } else if (target > 0) {
                target = sectionStart(target - 1);
            }
            if (song_.sections[target].countIn && target + 1 < song_.sections.size()) ++target;
            to = SongPlace{target, 0};
            status_.moved.store(true);
            break;
        }
        case Key::Restart:
            to = SongPlace{};
            status_.moved.store(true);
            break;
        case Key::Mute: muted_ = !muted_; break;
        case Key::Space:
            if (paused_) {
                paused_ = false;
                changed();
                std::unique_ptr<LivePlan> p = plan(song_, resumeAt_);
                p->atOnce = true;
                last_ = Request{Landing::NextBeat, resumeAt_, false};
                link_.post(std::move(p));
                postRound();
                return;
            }
            paused_ = true;
            status_.moved.store(true);
            changed();
            request(Request{Landing::NextBeat, std::nullopt, true});
            return;
        case Key::Quit:
            link_.quit();
            return;
        case Key::Help:
            status_.help.store(!status_.help.load());
            status_.changes.fetch_add(1);
            return;
        case Key::Enter:
        case Key::Other: return;
    }
    changed();
    if (paused_) {
        if (to) resumeAt_ = *to;
        return;
    }
    request(Request{Landing::NextBeat, to, false});
}

void LiveKeys::run() {
    const auto start = std::chrono::steady_clock::now();
    std::string pending;
    bool open = true;
    while (!done_.load()) {
        pollfd in{STDIN_FILENO, POLLIN, 0};
        const int ready = open ? ::poll(&in, 1, kPollMilliseconds) : 0;
        if (!open) std::this_thread::sleep_for(std::chrono::milliseconds(kPollMilliseconds));
        const double now = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (ready > 0) {
            char bytes[64];
            const ssize_t n = ::read(STDIN_FILENO, bytes, sizeof bytes);
            if (n > 0) pending.append(bytes, static_cast<size_t>(n));
            else if (n == 0) open = false;
        }
        for (const Key key : takeKeys(pending, ready <= 0)) press(key, now);
        if (status_.tapped.load() != 0.0 && taps_.forgotten(now)) status_.tapped.store(0.0);
        // A plan that came too late for its beat is made again for a later one.
        const uint64_t missed = link_.takeMissed();
        if (missed != 0 && missed == link_.posted()) {
            if (last_.pause) paused_ = true;
            request(last_);
        }
        if (again_ && link_.roundWanted()) postRound();
        link_.collect();
    }
}
