// The command line's arguments: every option read, each refused at its
// limits with its message, and help and version.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "cli/options.hpp"

namespace {

using Args = std::vector<std::string>;

CommandLine accepted(const Args& args) {
    const ParsedArguments parsed = parseArguments(args);
    if (const Exit* stop = std::get_if<Exit>(&parsed)) ADD_FAILURE() << stop->message;
    const CommandLine* line = std::get_if<CommandLine>(&parsed);
    return line ? *line : CommandLine{};
}

Exit stopped(const Args& args) {
    const ParsedArguments parsed = parseArguments(args);
    const Exit* stop = std::get_if<Exit>(&parsed);
    EXPECT_TRUE(stop) << "accepted";
    return stop ? *stop : Exit{-1, "", false};
}

TEST(CliOptions, ReadsEveryOption) {
    EXPECT_EQ(accepted({}).command, Command::Menu);
    const CommandLine none = accepted({"render"});
    EXPECT_EQ(none.command, Command::Render);
    EXPECT_FALSE(none.rate || none.bits || none.tempoFrom || none.beats || none.measures ||
                 none.freq || none.map || none.settings || none.output || none.append ||
                 none.quiet);

    const CommandLine r = accepted({"render", "-r", "48000", "--bits=16", "-t", "96.5", "-b3",
                                    "--measures", "0", "-f", "1e2", "--settings", "s.txt", "-qa",
                                    "--out", "x.wav", "-r", "2147483647"});
    EXPECT_EQ(r.rate, 2147483647u);  // the last one wins
    EXPECT_EQ(r.bits, 16);
    EXPECT_EQ(r.tempoFrom, 96.5f);
    EXPECT_EQ(r.tempoTo, 96.5f);
    EXPECT_FALSE(r.tempoRamp);
    EXPECT_EQ(r.beats, 3);
    EXPECT_EQ(r.measures, 0);
    EXPECT_EQ(r.freq, 100.0f);
    EXPECT_EQ(r.settings, "s.txt");
    EXPECT_TRUE(r.quiet && r.append);
    EXPECT_EQ(r.output, "x.wav");

    const CommandLine p = accepted({"play", "--map", "song.txt", "-d", "hw:1,0", "--seconds", "0.5",
                                    "--loop", "--bits", "24", "-r", "1"});
    EXPECT_EQ(p.command, Command::Play);
    EXPECT_EQ(p.map, "song.txt");
    EXPECT_EQ(p.device, "hw:1,0");
    EXPECT_EQ(p.seconds, 0.5f);
    EXPECT_TRUE(p.loop);
    EXPECT_EQ(p.rate, 1u);
    EXPECT_EQ(accepted({"play", "-b", "2147483647"}).beats, 2147483647);
    // JACK: a name after --jack, joined or not; -d jack is the default name.
    const CommandLine j = accepted({"play", "--jack", "studio", "--connect", "a:in_1,b:in_2",
                                    "--transport", "lead", "-q"});
    EXPECT_EQ(j.jack, "studio");
    EXPECT_EQ(j.connect, (std::vector<std::string>{"a:in_1", "b:in_2"}));
    EXPECT_EQ(j.transport, "lead");
    EXPECT_TRUE(j.quiet);
    EXPECT_EQ(accepted({"play", "--jack=x", "--loop"}).jack, "x");
    const CommandLine d = accepted({"play", "-d", "jack", "--connect", "none", "--transport=follow"});
    EXPECT_EQ(d.jack, "clicktrack");
    EXPECT_TRUE(d.connectNone && d.connect.empty());
    EXPECT_EQ(accepted({"play", "--jack", "-t", "90"}).jack, "clicktrack");

    const CommandLine s = accepted({"show", "--sound", "cowbell", "--volume", "-60", "--accent-level",
                                    "12", "--sub-level=-3.5", "--soft-level", "0", "--pattern", "Xo.x"});
    EXPECT_EQ(s.sound, "cowbell");
    EXPECT_EQ(s.volume, -60.0f);
    EXPECT_EQ(s.accentLevel, 12.0f);
    EXPECT_EQ(s.subLevel, -3.5f);
    EXPECT_EQ(s.softLevel, 0.0f);
    EXPECT_EQ(s.pattern, "Xo.x");

    // A falling trainer's step is a value of its own, not an option.
    const CommandLine t = accepted({"render", "--trainer", "-2.5/4:80", "--mute=3/0"});
    EXPECT_EQ(t.trainer->step, -2.5);
    EXPECT_EQ(t.trainer->bars, 4);
    EXPECT_EQ(t.trainer->limit, 80.0);
    EXPECT_EQ(t.mute->on, 3);
    EXPECT_EQ(t.mute->off, 0);
    EXPECT_EQ(accepted({"play", "--trainer", "5/1"}).trainer->step, 5.0);

    const CommandLine ramp = accepted({"render", "-t", "60-1.5e2"});
    EXPECT_TRUE(ramp.tempoRamp);
    EXPECT_EQ(ramp.tempoFrom, 60.0f);
    EXPECT_EQ(ramp.tempoTo, 150.0f);
    EXPECT_TRUE(accepted({"render", "-o", "-"}).toStandardOutput());
}

TEST(CliOptions, RefusesWithALineNamingTheOption) {
    const std::pair<Args, std::string> cases[] = {
        {{"render", "--bits", "20"}, "--bits must be 16 or 24, not '20'."},
        {{"play", "-r", "0"}, "--rate must be a whole number from 1 to 2147483647, not '0'."},
        {{"play", "-r2147483648"},
         "--rate must be a whole number from 1 to 2147483647, not '2147483648'."},
        {{"play", "-r", "0x10"}, "--rate must be a whole number from 1 to 2147483647, not '0x10'."},
        {{"play", "-r", "99999999999999999999"},
         "--rate must be a whole number from 1 to 2147483647, not '99999999999999999999'."},
        {{"render", "-b", "-1"}, "--beats must be a whole number from 0 to 2147483647, not '-1'."},
        {{"render", "-m", "2147483648"},
         "--measures must be a whole number from 0 to 2147483647, not '2147483648'."},
        {{"render", "-m", " 4"},
         "--measures must be a whole number from 0 to 2147483647, not ' 4'."},
        {{"render", "-t", "0"}, "--tempo must be a number of beats per minute above 0, not '0'."},
        {{"render", "-t", "x=90"}, "--tempo must be a number of beats per minute above 0, not 'x=90'."},
        {{"render", "-t", "q.=0"}, "--tempo must be a number of beats per minute above 0, not 'q.=0'."},
        {{"render", "-t", "1e39"},
         "--tempo must be a number of beats per minute above 0, not '1e39'."},
        {{"render", "-t", "inf"},
         "--tempo must be a number of beats per minute above 0, not 'inf'."},
        {{"render", "-t", "90-"},
         "--tempo must be a number of beats per minute above 0, not '90-'."},
        {{"render", "-t", "90--5"},
         "--tempo must be a number of beats per minute above 0, not '90--5'."},
        {{"render", "-t", "9\n0"},
         "--tempo must be a number of beats per minute above 0, not '9?0'."},
        {{"render", "-f", "0"}, "--freq must be a frequency in Hz above 0, not '0'."},
        {{"render", "--swing", "80"},
         "--swing must be a ratio in % from 50 (straight) to 75 (hard swing), not '80'."},
        {{"play", "--swing", "60", "--subdivide", "3"},
         "--swing needs subdivisions in pairs: --subdivide 3 is odd."},
        {{"play", "--seconds", "-0.1"},
         "--seconds must be a number of seconds, 0 or more, not '-0.1'."},
        {{"render", "-o", ""}, "--output must be a file name, not ''."},
        {{"play", "--device="}, "--device must be a device name, not ''."},
        {{"render", "--rate"}, "option '--rate' needs a value."},
        {{"render", "-t"}, "option '--tempo' needs a value."},
        {{"render", "--foo=1"}, "unknown option '--foo'."},
        {{"render", "-qx"}, "unknown option '-x'."},
        {{"render", "--b", "3"}, "option '--b' is ambiguous: --bits, --beats, --backing, --big."},
        {{"render", "--quiet=yes"}, "option '--quiet' takes no value."},
        {{"render", "--version"}, "unknown option '--version'."},
        {{"render", "-o", "-", "--append"},
         "--append cannot be used with '-o -' (standard output)."},
        {{"render", "--midi", "-"},
         "--midi must be a file name (standard output is for -o -), not '-'."},
        {{"render", "--labels", "a.txt", "--midi", "a.mid", "-a"},
         "--midi cannot be used with --append: the audio already in the file has no tempo map"
         " to continue."},
        {{"play", "--markers"}, "--markers is an option of 'clicktrack render', not of"
                                " 'clicktrack play'."},
        {{"render", "--map", "m.txt", "-b", "3"},
         "--map and --beats cannot be used together: the map gives each section its tempo,"
         " beats and measures."},
        {{"play", "-o", "x.wav"},
         "--output is an option of 'clicktrack render', not of 'clicktrack play'."},
        {{"render", "-d", "hw"},
         "--device is an option of 'clicktrack play', not of 'clicktrack render'."},
        {{"render", "--seconds", "1"},
         "--seconds is an option of 'clicktrack play', not of 'clicktrack render'."},
        {{"render", "x.wav"}, "unexpected argument 'x.wav'."},
        {{"play", "--", "-q"}, "unexpected argument '-q'."},
        {{"-t", "96", "render"},
         "--tempo goes after a command: 'clicktrack render', 'clicktrack play' or 'clicktrack "
         "show'."},
        {{"rendre"}, "unknown command 'rendre'; the commands are render, play and show."},
        {{"play", "--map", "m.txt", "--pattern", "X..."},
         "--map and --pattern cannot be used together: the map sets patterns line by line."},
        {{"show", "--midi", "a.mid"},
         "--midi is an option of 'clicktrack render': 'clicktrack show' writes nothing."},
        {{"show", "-a"}, "--append is an option of 'clicktrack render': 'clicktrack show' writes "
                         "nothing."},
        {{"show", "-q"}, "--quiet is an option of 'clicktrack render' and 'clicktrack play', not "
                         "of 'clicktrack show'."},
        {{"show", "--loop"}, "--loop is an option of 'clicktrack play', not of 'clicktrack show'."},
        {{"render", "--tsv"}, "--tsv is an option of 'clicktrack show', not of 'clicktrack render'."},
        {{"render", "--sound", "bell"},
         "--sound must be one of classic, woodblock, beep, tick or cowbell, not 'bell'."},
        {{"play", "--volume", "12.01"}, "--volume must be a level in dB from -60 to 12, not '12.01'."},
        {{"render", "--accent-level", "-60.5"},
         "--accent-level must be a level in dB from -60 to 12, not '-60.5'."},
        {{"show", "--sub-level", "-6dB"}, "--sub-level must be a level in dB from -60 to 12, not '-6dB'."},
        {{"render", "--soft-level", "nan"}, "--soft-level must be a level in dB from -60 to 12, not 'nan'."},
        {{"render", "--pattern", "XoO."},
         "--pattern must be a pattern of X (accent), x (normal), o (soft) and . (silent), not 'XoO.'."},
        {{"render", "--list-sounds"}, "unknown option '--list-sounds'."},
        {{"play", "--transport", "follow"}, "--transport is for JACK: give --jack or -d jack as well."},
        {{"play", "--connect", "none"}, "--connect is for JACK: give --jack or -d jack as well."},
        {{"play", "--jack", "--transport", "chase"}, "--transport must be follow or lead, not 'chase'."},
        {{"play", "--jack", "--connect", "a:in,"},
         "--connect must be PORT[,PORT...] (JACK port names) or none, not 'a:in,'."},
        {{"render", "--jack"}, "--jack is an option of 'clicktrack play', not of 'clicktrack render'."},
    };
    std::vector<std::pair<Args, std::string>> table(std::begin(cases), std::end(cases));
    for (const char* value : {"+0/4", "+2", "+2/0", "+2/4:0", "+2/4:", "++2/4", "+1e1/4", "+10001/1", "2/-4"}) {
        table.push_back({{"render", "--trainer", value},
                         std::string("--trainer must be ") + kTrainerForm + ", not '" + value + "'."});
    }
    for (const char* value : {"0/1", "3", "3/-1", "3/1/1", "2147483648/1"}) {
        table.push_back({{"play", "--mute", value}, std::string("--mute must be ") + kMuteForm + ", not '" + value + "'."});
    }
    for (const auto& [args, line] : table) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const Exit stop = stopped(args);
        EXPECT_EQ(stop.status, 2);
        EXPECT_TRUE(stop.onStderr);
        EXPECT_EQ(stop.message, "clicktrack: " + line + "\nTry 'clicktrack --help'.");
    }
}

TEST(CliOptions, HelpAndVersionGoToStandardOutput) {
    const std::pair<Args, std::string> cases[] = {
        {{"--version"}, "clicktrack 1.1.0"},
        {{"--list-sounds"},
         "classic      the menu's click: low partials shaped by --freq, the accent a fifth up\n"
         "woodblock *  a dry wooden knock around 1.5 kHz; accent higher, subdivision lower\n"
         "beep         a short 1 kHz tone; accent 1.5 kHz, subdivision 750 Hz\n"
         "tick         a bright rim and hi-hat tick of noise; accent a rim shot, subdivision hat "
         "only\n"
         "cowbell      a two-tone cowbell; accent higher, subdivision lower and shorter-ringing\n"
         "* the default; classic with --freq, --accent-freq or --settings"},
        {{"--help"}, helpText(Command::Menu)},
        {{"-h"}, helpText(Command::Menu)},
        {{"render", "-t", "96", "--help"}, helpText(Command::Render)},
        {{"play", "-h"}, helpText(Command::Play)},
        {{"show", "--tsv", "-h"}, helpText(Command::Show)},
    };
    for (const auto& [args, text] : cases) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const Exit stop = stopped(args);
        EXPECT_EQ(stop.status, 0);
        EXPECT_FALSE(stop.onStderr);
        EXPECT_EQ(stop.message, text);
    }
    const std::string render = helpText(Command::Render), play = helpText(Command::Play);
    EXPECT_EQ(render.rfind("Usage: clicktrack render [OPTIONS]\n", 0), 0u);
    EXPECT_EQ(play.rfind("Usage: clicktrack play [OPTIONS]\n", 0), 0u);
}

}  // namespace
