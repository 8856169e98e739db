#include "cli/run.hpp"

#include <unistd.h>

#include "cli/job.hpp"
#include "cli/play.hpp"
#include "cli/render.hpp"
#include "cli/setlist.hpp"
#include "cli/show.hpp"
#include "cli/studio_play.hpp"

Exit runCommandLine(const CommandLine& line, FILE* out, FILE* err) {
    if (line.setlist) return runSetlist(line, out, err);
    std::variant<Job, Exit> prepared = prepareJob(line);
    if (Exit* stop = std::get_if<Exit>(&prepared)) return *stop;
    const Job& job = std::get<Job>(prepared);
    for (const std::string& warning : job.warnings) std::fprintf(err, "clicktrack: %s\n", warning.c_str());
    Result result;
    if (line.command == Command::Render && line.toStandardOutput() && ::isatty(STDOUT_FILENO)) {
        // Binary samples would only garble the terminal, as compressors refuse to do too.
        return usageError("-o - would write the wave file to the terminal; redirect standard "
                          "output or name a file.");
    }
    if (line.command == Command::Show) {
        result = showTrack(line, job, out, err);
    } else if (line.command == Command::Render) {
        // With the wave file on standard output, the summary goes to standard error.
        std::fflush(out);
        result = renderTrack(line, job, STDOUT_FILENO, line.toStandardOutput() ? err : out, err);
    } else if (line.jack) {
        result = playOnJack(line, job, out, err);
    } else {
        result = playTrack(line, job, out, err);
    }
    return result ? *result : Exit{0, "", false};
}
