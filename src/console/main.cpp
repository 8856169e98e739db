// clicktrack: a console metronome and click-track writer.
#include <cstdio>

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

int main() {
    Session session;
    if (Outcome stop = startUp(session)) return finish(session, *stop);
    return finish(session, runMenu(session));
}
