// clicktrack: a console metronome and click-track writer. The entry point
// chooses the front end: the command line when a command is given, the
// menu otherwise; neither front end knows the other.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>

#include <string>
#include <vector>

#include "cli/options.hpp"
#include "cli/run.hpp"
#include "console/menu.hpp"
#include "console/session.hpp"
#include "console/startup.hpp"

namespace {

// Prints the reason the program ends, if there is one, and gives its exit
// status. Help or a summary that could not be written is a failure.
int finish(const Session& session, int status, const std::string& message, bool onStderr) {
    if (!message.empty()) std::fprintf(onStderr ? session.io.err : session.io.out, "%s\n", message.c_str());
    errno = 0;
    const bool lost = std::fflush(session.io.out) != 0 || std::ferror(session.io.out) != 0;
    if (lost && status == 0) {
        const int error = errno != 0 ? errno : EIO;
        std::fprintf(session.io.err, "clicktrack: can't write to standard output: %s\n",
                     std::strerror(error));
        return 1;
    }
    return status;
}

int finish(const Session& session, const Stop& stop) {
    return finish(session, stop.status, stop.message, stop.onStderr);
}

int finish(const Session& session, const Exit& exit) {
    return finish(session, exit.status, exit.message, exit.onStderr);
}

}  // namespace

int main(int argc, char** argv) {
    // A reader that goes away must not end the program: a failed write to
    // standard output is ignored, and one to a sound device is reported.
    std::signal(SIGPIPE, SIG_IGN);
    // A file-size limit (ulimit -f) must not end the program in the middle
    // of a write: the write fails with EFBIG instead, and the work is undone.
    std::signal(SIGXFSZ, SIG_IGN);
    Session session;
    if (argc > 1) {
        const ParsedArguments parsed = parseArguments(std::vector<std::string>(argv + 1, argv + argc));
        if (const Exit* exit = std::get_if<Exit>(&parsed)) return finish(session, *exit);
        const CommandLine& line = std::get<CommandLine>(parsed);
        if (line.command != Command::Menu) {
            try {
                return finish(session, runCommandLine(line, session.io.out, session.io.err));
            } catch (const std::bad_alloc&) {
                return finish(session, Exit{1, "clicktrack: not enough memory", true});
            }
        }
    }
    try {
        if (Ending stop = startUp(session)) return finish(session, *stop);
        return finish(session, runMenu(session));
    } catch (const std::bad_alloc&) {
        // A very high sample rate makes a long click; say so instead of aborting.
        return finish(session, programError("Not enough memory for a click at this sample rate."));
    }
}
