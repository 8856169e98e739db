// Playing through JACK: the plan the process callback renders from, checked
// against what the ALSA player hands its device; then the program as a
// client of a real server (jackd -d dummy), recorded by a client of our own
// and checked sample for sample against `render` of the same options.
#include <gtest/gtest.h>
#include <jack/transport.h>
#include <signal.h>

#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "playback/click_plan.hpp"
#include "playback/player.hpp"
#include "support/audio_support.hpp"
#include "support/background_run.hpp"
#include "support/jack_support.hpp"

namespace {

// ---------------------------------------------------------------------------
// The plan, without a server

// A device that keeps every byte it is given.
class Recorder : public PcmDevice {
public:
    int64_t periodFrames() const override { return 100; }
    Outcome writePeriod(const uint8_t* frames, int64_t count) override {
        bytes.insert(bytes.end(), frames, frames + count * 3);
        return std::nullopt;
    }
    void drainAndClose() override {}
    void dropAndClose() override {}
    std::vector<uint8_t> bytes;
};

// Clicks whose samples all differ, longer than some beats so that the cut shows.
struct TestClicks {
    // `step` sets the level: kind k's samples lie around (k + 1) x step.
    explicit TestClicks(int32_t step = 100000) {
        for (int kind = 0; kind < 4; ++kind) {
            for (int i = 0; i < 700; ++i) {
                const int32_t s = (kind + 1) * step + (i % 2 ? -i : i) * 37;
                bytes[kind].push_back(static_cast<uint8_t>(s & 0xFF));
                bytes[kind].push_back(static_cast<uint8_t>(s >> 8 & 0xFF));
                bytes[kind].push_back(static_cast<uint8_t>(s >> 16 & 0xFF));
            }
        }
    }
    PlayClicks clicks() const {
        return {{ClickVoice{bytesOf(bytes[0]), bytesOf(bytes[1]), bytesOf(bytes[2]), bytesOf(bytes[3])}}, 3, {}};
    }
    std::vector<uint8_t> bytes[4];
};

ScheduledSection exactSection(std::vector<double> tempos, int64_t beats, int32_t subdivide,
                              std::string pattern) {
    ScheduledSection s;
    s.rounding = BeatRounding::Exact;
    s.rate = 8000;
    s.tempos = std::move(tempos);
    s.ramp = s.tempos.size() == 2;
    s.beatCount = beats;
    s.beatsPerMeasure = 4;
    s.subdivide = subdivide;
    s.pattern = std::move(pattern);
    return s;
}

std::vector<float> devicePlays(const DeviceStream& stream, const PlayClicks& clicks) {
    Recorder device;
    playStream(device, stream, clicks, [](const BeatEvent&) {});
    std::vector<float> out;
    for (size_t i = 0; i + 2 < device.bytes.size(); i += 3) {
        const uint8_t* b = &device.bytes[i];
        const int32_t s = static_cast<int32_t>(uint32_t{b[0]} << 8 | uint32_t{b[1]} << 16 |
                                               uint32_t{b[2]} << 24) >> 8;
        out.push_back(static_cast<float>(s) / 8388608.0f);
    }
    return out;
}

// Renders `frames` frames in pieces of the given sizes, jumping where asked.
std::vector<float> rendered(const ClickPlan& plan, int64_t frames, int64_t piece) {
    std::vector<float> out(static_cast<size_t>(frames), 0.0f);
    RenderCursor cursor;
    // Backwards first, then forwards in pieces: every other piece is a jump.
    for (int64_t from = (frames - 1) / piece * piece; from >= 0; from -= 2 * piece) {
        renderClicks(plan, from, std::min(piece, frames - from), out.data() + from, cursor);
    }
    for (int64_t from = 0; from < frames; from += piece) {
        std::vector<float> part(static_cast<size_t>(piece), 0.0f);
        renderClicks(plan, from, std::min(piece, frames - from), part.data(), cursor);
        std::copy(part.begin(), part.begin() + std::min(piece, frames - from), out.begin() + from);
    }
    return out;
}

TEST(ClickPlan, RendersWhatTheDeviceIsHandedInAnyPiecesAndJumps) {
    const TestClicks clicks;
    struct Case {
        const char* what;
        std::vector<ScheduledSection> track;
        bool loop;
        std::optional<int64_t> frames;
    } cases[] = {
        {"one tempo", {exactSection({240.0}, 8, 1, "Xxxx")}, false, std::nullopt},
        {"a ramp, subdivisions cut by the next click",
         {exactSection({120.0, 900.0}, 12, 3, "X.ox"), exactSection({300.0}, 4, 1, "")}, false,
         std::nullopt},
        {"looped, cut by --seconds", {exactSection({400.0}, 5, 2, "Xx")}, true, 31000},
    };
    for (const Case& c : cases) {
        DeviceStream stream{c.track, c.loop ? c.track : std::vector<ScheduledSection>{}, c.frames};
        const std::vector<float> expected = devicePlays(stream, clicks.clicks());
        ClickPlan plan;
        ASSERT_FALSE(planClicks(stream, clicks.clicks(), plan)) << c.what;
        ASSERT_GT(expected.size(), 1000u) << c.what;
        for (const int64_t piece : {64, 1000, 4096}) {
            EXPECT_EQ(rendered(plan, static_cast<int64_t>(expected.size()), piece), expected)
                << c.what << ", pieces of " << piece;
        }
        // Past the end: silence.
        std::vector<float> after(64, 0.0f);
        RenderCursor cursor;
        renderClicks(plan, static_cast<int64_t>(expected.size()), 64, after.data(), cursor);
        EXPECT_EQ(after, std::vector<float>(64, 0.0f)) << c.what;
    }
    // Loud clicks five deep, summed past full scale: held there, as the device gets them.
    const TestClicks loud(1500000);
    const DeviceStream dense{{exactSection({900.0}, 16, 4, "Xx.o")}, {}, std::nullopt};
    const std::vector<float> expected = devicePlays(dense, loud.clicks());
    ClickPlan plan;
    ASSERT_FALSE(planClicks(dense, loud.clicks(), plan));
    EXPECT_EQ(rendered(plan, static_cast<int64_t>(expected.size()), 64), expected);
    EXPECT_EQ(*std::max_element(expected.begin(), expected.end()), 8388607.0f / 8388608.0f);
}

TEST(ClickPlan, BarsBeatsAndTempoCountFromTheFirstBarAfterTheCountIn) {
    // A bar of count-in, two bars of 4/4 at 120, a bar of 3/8 at 90 quarters.
    ScheduledSection count = exactSection({120.0}, 4, 1, "");
    ScheduledSection first = exactSection({120.0}, 8, 1, "");
    ScheduledSection second = exactSection({90.0}, 3, 1, "");
    second.beatsPerMeasure = 3;
    second.noteValue = 8;
    BeatPlan plan;
    ASSERT_FALSE(planBeats({count, first, second}, {true, false, false}, plan));
    EXPECT_EQ(plan.origin, 16000);  // 4 beats of 4000 frames at 8000 Hz
    struct Row {
        int64_t frame;
        int32_t bar, beat, tick;
        double barStartTick, beatsPerMinute;
        float beatsPerBar, beatType;
    } rows[] = {
        {0, 1, 1, 0, 0, 120, 4, 4},
        {6000, 1, 2, 960, 0, 120, 4, 4},
        {31999, 2, 4, 1919, 4 * 1920, 120, 4, 4},
        {32000, 3, 1, 0, 8 * 1920, 180, 3, 8},  // eighths at 90 quarters: 2666.67 frames
        {32000 + 2667 * 2 + 1333, 3, 3, 959, 8 * 1920, 180, 3, 8},
        {40000, 4, 1, 0, 11 * 1920, 180, 3, 8},  // past the end: on at its tempo and meter
        {40000 + 2667 * 4, 5, 2, 0, 14 * 1920, 180, 3, 8},
    };
    for (const Row& r : rows) {
        const BarBeat at = barBeatAt(plan, r.frame);
        EXPECT_EQ(at.bar, r.bar) << r.frame;
        EXPECT_EQ(at.beat, r.beat) << r.frame;
        EXPECT_NEAR(at.tick, r.tick, 1) << r.frame;
        EXPECT_EQ(at.barStartTick, r.barStartTick) << r.frame;
        EXPECT_EQ(at.beatsPerMinute, r.beatsPerMinute) << r.frame;
        EXPECT_EQ(at.beatsPerBar, r.beatsPerBar) << r.frame;
        EXPECT_EQ(at.beatType, r.beatType) << r.frame;
    }
}

// ---------------------------------------------------------------------------
// The program against a real server

constexpr uint32_t kRate = JackServer::kRate;

class JackPlay : public CommandLineFolder {
protected:
    void SetUp() override {
        // Only emulation goes without a server; anywhere else one that does
        // not start is a failure, not a reason to test nothing.
        if (CLICKTRACK_EMULATED) GTEST_SKIP() << "no JACK server: " << server.whyNot();
        ASSERT_EQ(server.whyNot(), "");
        ASSERT_TRUE(capture.ok());
    }

    // What render writes with the same options, at the server's rate.
    // The first of `channels` channels of the file render writes.
    std::vector<float> renderedTrack(std::vector<std::string> options, size_t channels = 1) {
        options.insert(options.begin(), {"render", "-q", "-r", "48000", "-o", file("expected.wav")});
        const RunResult r = clicktrack(options);
        EXPECT_EQ(r.status, 0) << r.err;
        const std::vector<float> all = waveSamples(file("expected.wav"));
        std::vector<float> first;
        for (size_t i = 0; i < all.size(); i += channels) first.push_back(all[i]);
        return first;
    }

    std::vector<std::string> playing(const std::string& name, std::vector<std::string> options) {
        options.insert(options.begin(), {"play", "--jack", name, "--connect", "capture:in_1"});
        return options;
    }

    JackServer server;
    // Without a server no client is opened.
    JackCapture capture{server.whyNot().empty() ? kRate * 120 : 0};
};

// Every cycle's frames are the track's at the transport frame from `origin`
// while the transport rolls, silence while it stands; a cycle next to a
// change of connection may be either.
::testing::AssertionResult followsTransport(const std::vector<CaptureCycle>& cycles,
                                            const std::vector<float>& got,
                                            const std::vector<float>& track, int64_t origin) {
    size_t rolling = 0;
    for (size_t c = 0; c < cycles.size(); ++c) {
        const CaptureCycle& cycle = cycles[c];
        bool settled = cycle.connected;
        for (size_t n = c > 2 ? c - 2 : 0; n < std::min(cycles.size(), c + 3); ++n) {
            settled = settled && cycles[n].connected;
        }
        rolling += cycle.rolling;
        for (uint32_t i = 0; i < cycle.frames; ++i) {
            const int64_t frame = origin + int64_t{cycle.transportFrame} + i;
            const float want = cycle.rolling && frame < static_cast<int64_t>(track.size())
                                   ? track[static_cast<size_t>(frame)] : 0.0f;
            const float have = got[cycle.at + i];
            if (have == want || (!settled && have == 0.0f)) continue;
            return ::testing::AssertionFailure()
                   << "cycle " << c << " (transport frame " << cycle.transportFrame
                   << (cycle.rolling ? ", rolling" : ", stopped") << "), frame " << i << ": got "
                   << have << ", want " << want;
        }
    }
    if (rolling == 0) return ::testing::AssertionFailure() << "the transport never rolled";
    return ::testing::AssertionSuccess();
}

TEST_F(JackPlay, FreePlayIsTheRenderedTrackSampleForSample) {
    const std::vector<std::vector<std::string>> cases = {
        {"-t", "150", "-m", "2", "--accent"},
        {"--map", "map.txt", "--count-in", "1", "--subdivide", "2", "--accent"},
        // Two ports: out_1 (recorded) carries the click and the backing, summed.
        {"-t", "150", "-m", "2", "--count-in", "1", "--channels", "2", "--click-to", "1",
         "--backing", "back.wav:1"},
    };
    // A change of tempo, of meter and a tempo for each beat.
    writeFile(file("map.txt"), "1 160\n1 3/4 100-180\n1 5/8 200,210,220,230,240\n");
    // Half a second of a loud rising ramp, at the server's rate.
    std::string ramp;
    for (int i = 0; i < 24000; ++i) putLE(ramp, static_cast<uint32_t>(i * 300 - 3600000), 3);
    writeFile(file("back.wav"), waveHeader(48000, 24, 1, static_cast<uint32_t>(ramp.size())) + ramp);
    for (const std::vector<std::string>& options : cases) {
        const bool ported = std::find(options.begin(), options.end(), "--channels") != options.end();
        const std::vector<float> track = renderedTrack(options, ported ? 2 : 1);
        ASSERT_GT(track.size(), 48000u);
        capture.record(true);
        const RunResult r = clicktrack(playing("ct", options));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        capture.record(false);
        EXPECT_EQ(r.status, 0) << r.err;
        const std::vector<float> got = capture.samples();
        // The track starts on a cycle: line up the first sound of each.
        const auto first = [](const std::vector<float>& v) {
            return std::find_if(v.begin(), v.end(), [](float x) { return x != 0.0f; }) - v.begin();
        };
        const int64_t offset = first(got) - first(track);
        ASSERT_GE(offset, 0);
        ASSERT_GE(got.size(), static_cast<size_t>(offset) + track.size());
        const std::vector<float> played(got.begin() + offset, got.begin() + offset +
                                                                  static_cast<long>(track.size()));
        const auto differs = std::mismatch(played.begin(), played.end(), track.begin()).first;
        EXPECT_EQ(differs, played.end()) << options[1] << ": the first difference at frame "
                                         << differs - played.begin() << " of " << track.size();
        EXPECT_EQ(std::count(got.begin() + offset + static_cast<long>(track.size()), got.end(), 0.0f),
                  static_cast<long>(got.size() - static_cast<size_t>(offset) - track.size()));
        capture.clear();
    }
}

TEST_F(JackPlay, FollowsTheTransportFromBar17ThroughLocatesReconnectsAndServerChanges) {
    const std::vector<std::string> options = {"-t", "120", "-m", "24", "--count-in", "1", "--accent",
                                              "--subdivide", "2"};
    const std::vector<float> track = renderedTrack(options);
    std::vector<std::string> args = playing("ct", options);
    args.insert(args.end(), {"--transport", "follow"});
    BackgroundRun run(dir.path(), "", 0, args);
    jack_client_t* us = capture.client();
    ASSERT_TRUE(waitForConnection(us, "ct:out_1", "capture:in_1"));
    // A recorder whose own tempo and meter change all the time: followed
    // by the frame, the click keeps its own map.
    capture.leadWithChangingTempo();
    // Bar 17 after the count-in: 16 bars of 2 s.
    const uint32_t bar17 = 16 * 2 * kRate;
    ASSERT_TRUE(locateAndWait(us, bar17));
    capture.record(true);
    const auto pause = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    pause(50);
    jack_transport_start(us);
    pause(400);
    jack_transport_locate(us, 2 * 2 * kRate + 1000);  // back, between beats
    pause(300);
    jack_transport_locate(us, 20 * 2 * kRate - 777);  // forwards
    pause(300);
    jack_transport_stop(us);
    pause(200);
    jack_transport_start(us);
    pause(200);
    jack_port_disconnect(us, jack_port_by_name(us, "capture:in_1"));
    pause(200);
    jack_connect(us, "ct:out_1", "capture:in_1");
    pause(300);
    jack_set_buffer_size(us, 256);
    pause(300);
    jack_set_buffer_size(us, 64);
    pause(300);
    jack_set_freewheel(us, 1);
    pause(30);
    jack_set_freewheel(us, 0);
    pause(300);
    capture.record(false);
    jack_transport_stop(us);
    run.signal(SIGINT);
    const RunResult r = run.wait();
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_NE(r.err.find("xrun"), std::string::npos) << r.err;

    const std::vector<CaptureCycle> cycles = capture.cycles();
    const auto firstRolling = std::find_if(cycles.begin(), cycles.end(),
                                           [](const CaptureCycle& c) { return c.rolling; });
    ASSERT_NE(firstRolling, cycles.end());
    EXPECT_EQ(firstRolling->transportFrame, bar17);
    // Bar 17's first click sounds from the first frame that rolls on,
    // then everything the transport passed through.
    const int64_t countIn = 4 * kRate / 2;
    const std::vector<float> got = capture.samples();
    const auto sounds = [](auto from, auto to) {
        return std::find_if(from, to, [](float x) { return x != 0.0f; }) - from;
    };
    EXPECT_EQ(sounds(got.begin() + static_cast<long>(firstRolling->at), got.end()),
              sounds(track.begin() + countIn + bar17, track.end()));
    EXPECT_TRUE(followsTransport(cycles, capture.samples(), track, countIn));
}

TEST_F(JackPlay, LeadPublishesBarBeatAndTempoOfItsOwnMap) {
    writeFile(file("map.txt"), "2 120\n1 3/4 90\n1 60-120\n");
    std::vector<std::string> args = playing("ct", {"--map", file("map.txt"), "--transport", "lead"});
    BackgroundRun run(dir.path(), "", 0, args);
    jack_client_t* us = capture.client();
    ASSERT_TRUE(waitForConnection(us, "ct:out_1", "capture:in_1"));
    struct Row {
        uint32_t frame;
        int32_t bar, beat, tick;
        double beatsPerMinute, barStartTick;
        float beatsPerBar;
    } rows[] = {
        {0, 1, 1, 0, 120, 0, 4},
        {36000, 1, 2, 960, 120, 0, 4},
        {192000, 3, 1, 0, 90, 8 * 1920, 3},
        {192000 + 2 * 32000 + 16000, 3, 3, 960, 90, 8 * 1920, 3},
        {288000, 4, 1, 0, 60, 11 * 1920, 4},
    };
    for (const Row& r : rows) {
        ASSERT_TRUE(locateAndWait(us, r.frame));
        jack_position_t pos{};
        ASSERT_TRUE(waitFor([&] {
            jack_transport_query(us, &pos);
            return pos.frame == r.frame && (pos.valid & JackPositionBBT) && pos.bar == r.bar &&
                   pos.beat == r.beat;
        }, 5.0)) << "frame " << r.frame << ": bar " << pos.bar << " beat " << pos.beat;
        EXPECT_EQ(pos.tick, r.tick) << r.frame;
        EXPECT_EQ(pos.beats_per_minute, r.beatsPerMinute) << r.frame;
        EXPECT_EQ(pos.bar_start_tick, r.barStartTick) << r.frame;
        EXPECT_EQ(pos.beats_per_bar, r.beatsPerBar) << r.frame;
        EXPECT_EQ(pos.beat_type, 4.0f) << r.frame;
        EXPECT_EQ(pos.ticks_per_beat, 1920.0) << r.frame;
    }
    // Started and stopped by the recorder, it plays where the transport is.
    capture.record(true);
    jack_transport_start(us);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    jack_transport_stop(us);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    capture.record(false);
    run.signal(SIGINT);
    EXPECT_EQ(run.wait().status, 130);
    const std::vector<float> track = renderedTrack({"--map", file("map.txt")});
    EXPECT_TRUE(followsTransport(capture.cycles(), capture.samples(), track, 0));
}

TEST_F(JackPlay, ConnectsToThePlaybackPortsAndEndsWhenTheServerGoesAway) {
    BackgroundRun run(dir.path(), "", 0, {"play", "-d", "jack", "--loop", "-q"});
    ASSERT_TRUE(waitForConnection(capture.client(), "clicktrack:out_1", "system:playback_1"));
    EXPECT_TRUE(waitForConnection(capture.client(), "clicktrack:out_1", "system:playback_2"));
    server.stop();
    const RunResult r = run.wait();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("clicktrack: the JACK server went away"), std::string::npos) << r.err;
}

TEST_F(JackPlay, RefusesARateThatIsNotTheServersAndPortsThatDoNotExist) {
    const struct {
        std::vector<std::string> args;
        int status;
        const char* says;
    } cases[] = {
        {{"play", "--jack", "-r", "44100"}, 2,
         "clicktrack: -r 44100 is not the JACK server's rate, 48000 Hz: leave -r out, or give -r 48000.\n"},
        {{"play", "--jack", "--connect", "nobody:in"}, 1,
         "clicktrack: cannot connect clicktrack:out_1 to 'nobody:in': there is no such port.\n"},
    };
    for (const auto& c : cases) {
        const RunResult r = clicktrack(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
}

}  // namespace
