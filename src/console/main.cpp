// clicktrack: a console metronome and click-track writer.
#include <csignal>
#include <cstdio>
#include <new>

#include <string>
#include <vector>

#include "cli/options.hpp"
#include "cli/run.hpp"
#include "console/menu.hpp"
#include "console/session.hpp"
#include "console/startup.hpp"

namespace {

// Prints the reason the program ends, if there is one, and gives its exit status.
int finish(const Session& session, const Stop& stop) {
    if (!stop.message.empty()) {
        std::fprintf(stop.onStderr ? session.io.err : session.io.out, "%s\n", stop.message.c_str());
    }
    std::fflush(session.io.out);
    return stop.status;
}

}  // namespace

int main(int argc, char** argv) {
    // A reader that goes away must not end the program: a failed write to
    // standard output is ignored, and one to a sound device is reported.
    std::signal(SIGPIPE, SIG_IGN);
    Session session;
    if (argc > 1) {
        const ParsedArguments parsed = parseArguments(std::vector<std::string>(argv + 1, argv + argc));
        if (const Stop* stop = std::get_if<Stop>(&parsed)) return finish(session, *stop);
        const CommandLine& line = std::get<CommandLine>(parsed);
        if (line.command != Command::menu) {
            try {
                return finish(session, runCommandLine(line, session.io.out, session.io.err));
            } catch (const std::bad_alloc&) {
                return finish(session, Stop{1, "clicktrack: not enough memory", true});
            }
        }
    }
    try {
        if (Outcome stop = startUp(session)) return finish(session, *stop);
        return finish(session, runMenu(session));
    } catch (const std::bad_alloc&) {
        // A very high sample rate makes a long click; say so instead of aborting.
        return finish(session, programError("Not enough memory for a click at this sample rate."));
    }
}
