#include "support/background_run.hpp"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <filesystem>
#include <stdexcept>
#include <vector>

BackgroundRun::BackgroundRun(const std::string& workDir, const std::string& input,
                             uint64_t fileBytes, const std::vector<std::string>& args,
                             bool unprivileged) {
    std::vector<std::string> words{CLICKTRACK_BIN};
    if (unprivileged && ::geteuid() == 0) {
        words.insert(words.begin(), {"setpriv", "--reuid=nobody", "--regid=nogroup",
                                     "--clear-groups", "--"});
        // The user the program runs as must be able to reach its folder.
        std::filesystem::permissions(workDir, std::filesystem::perms::others_exec,
                                     std::filesystem::perm_options::add);
    }
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    writeFile(streams_.file("stdin"), input);
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ != 0) return;
    const int in = ::open(streams_.file("stdin").c_str(), O_RDONLY);
    const int out = ::open(streams_.file("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(streams_.file("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || ::chdir(workDir.c_str()) != 0) ::_exit(127);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::setenv("HOME", workDir.c_str(), 1);
    if (fileBytes > 0) {
        // SIGXFSZ keeps its default action: the program must ignore it itself.
        const rlimit size{static_cast<rlim_t>(fileBytes), static_cast<rlim_t>(fileBytes)};
        ::setrlimit(RLIMIT_FSIZE, &size);
    }
    ::alarm(120);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
}

BackgroundRun::~BackgroundRun() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

void BackgroundRun::signal(int number) const { ::kill(pid_, number); }

bool BackgroundRun::catches(int number) const {
    // The mask of caught signals, in hexadecimal, on the SigCgt line.
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("SigCgt:", 0) != 0) continue;
        const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
        return (mask >> (number - 1) & 1u) != 0;
    }
    return false;
}

Preload::Preload(const std::string& library,
                 const std::vector<std::pair<std::string, std::string>>& variables) {
    for (const auto& [name, value] : variables) set(name, value);
    // Under emulation the preload is for the emulated program, not the emulator.
    if (CLICKTRACK_EMULATED) {
        set("QEMU_SET_ENV", "LD_PRELOAD=" + library);
    } else {
        set("LD_PRELOAD", library);
    }
    // In a sanitized build the sanitizer's run-time would otherwise refuse
    // to come after the library.
    const char* asan = std::getenv("ASAN_OPTIONS");
    set("ASAN_OPTIONS", std::string(asan ? asan : "") + ":verify_asan_link_order=0");
}

Preload::~Preload() {
    for (const auto& [name, old] : saved_) {
        if (old) ::setenv(name.c_str(), old->c_str(), 1); else ::unsetenv(name.c_str());
    }
}

void Preload::set(const std::string& name, const std::string& value) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    ::setenv(name.c_str(), value.c_str(), 1);
}

RunResult BackgroundRun::wait() {
    int status = 0;
    rusage usage {};
    ::wait4(pid_, &status, 0, &usage);
    pid_ = -1;
    RunResult result;
    result.peakKiB = usage.ru_maxrss;
    result.out = readFile(streams_.file("stdout"));
    result.err = readFile(streams_.file("stderr"));
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    std::string joined;
    for (const std::string& name : names) joined += (joined.empty() ? "" : " ") + name;
    return joined;
}

pid_t startOnTerminal(const std::string& workDir, const std::vector<std::string>& args, int& master) {
    std::vector<std::string> words{CLICKTRACK_BIN};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    winsize size{};
    size.ws_row = 30;
    size.ws_col = 100;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, &size);
    if (pid < 0) throw std::runtime_error("forkpty failed");
    if (pid == 0) {
        if (::chdir(workDir.c_str()) != 0) ::_exit(127);
        ::setenv("HOME", workDir.c_str(), 1);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

RunResult runOnTerminal(const std::string& workDir, const std::vector<std::string>& args) {
    int terminal = -1;
    const pid_t pid = startOnTerminal(workDir, args, terminal);
    RunResult result;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(terminal, buffer, sizeof buffer);
        if (n > 0) result.out.append(buffer, static_cast<size_t>(n));
        else if (n < 0 && errno == EINTR) continue;
        else break;  // EIO once the program has closed its side
    }
    ::close(terminal);
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}
