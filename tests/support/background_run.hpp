// Running the built program in the background, for tests that act on it
// while it works: send it a signal, run two at once, hold a lock it waits for.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/test_support.hpp"

class BackgroundRun {
public:
    // Starts the program in `workDir` with `input` as standard input and
    // `args` after its name; HOME is `workDir`. With `fileBytes`, writes past
    // that many bytes are over the process's file-size limit. An
    // `unprivileged` run is the user nobody's when the tests run as root.
    BackgroundRun(const std::string& workDir, const std::string& input, uint64_t fileBytes = 0,
                  const std::vector<std::string>& args = {}, bool unprivileged = false);
    ~BackgroundRun();
    BackgroundRun(const BackgroundRun&) = delete;
    BackgroundRun& operator=(const BackgroundRun&) = delete;

    void signal(int number) const;
    // Whether the program has a handler of its own for signal `number` by
    // now: a test that stops it with a signal waits for that first.
    bool catches(int number) const;
    RunResult wait();  // standard output, standard error and the exit status

private:
    TempDir streams_;
    pid_t pid_ = -1;
};

// Starts the program in `workDir` (HOME too) with `args` on a pseudo-terminal
// of 100 columns and 30 rows: its process, and the terminal's master side
// in `master`.
pid_t startOnTerminal(const std::string& workDir, const std::vector<std::string>& args, int& master);

// Runs the program so, as a musician runs it: everything it writes to the
// terminal, and its exit status.
RunResult runOnTerminal(const std::string& workDir, const std::vector<std::string>& args);

// Preloads the shared `library` into the programs run while it lives, with
// the environment `variables` it reads; all is put back when it goes.
class Preload {
public:
    Preload(const std::string& library,
            const std::vector<std::pair<std::string, std::string>>& variables);
    ~Preload();
    Preload(const Preload&) = delete;
    Preload& operator=(const Preload&) = delete;

private:
    void set(const std::string& name, const std::string& value);
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// A test of the command line in a fresh folder of its own.
class CommandLineFolder : public ::testing::Test {
protected:
    TempDir dir;
    std::string file(const std::string& name) const { return dir.file(name); }
    // Runs the program there with `args` and waits for it.
    RunResult clicktrack(const std::vector<std::string>& args) {
        return BackgroundRun(dir.path(), "", 0, args).wait();
    }
};

// Waits up to `seconds` until `condition` holds; false when it never did.
template <typename Condition>
bool waitFor(Condition condition, double seconds = 20.0);

// The names in `folder`, sorted.
std::string namesIn(const std::string& folder);

#include <chrono>
#include <thread>

template <typename Condition>
bool waitFor(Condition condition, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}
