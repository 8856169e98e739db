#include "support/test_support.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "clicktrack-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<uint8_t> readBytes(const std::string& path) {
    const std::string text = readFile(path);
    return std::vector<uint8_t>(text.begin(), text.end());
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

bool fileExists(const std::string& path) { return std::filesystem::exists(path); }

TextSink::TextSink() : file_(::open_memstream(&buffer_, &size_)) {
    if (!file_) throw std::runtime_error("open_memstream failed");
}

TextSink::~TextSink() {
    std::fclose(file_);
    std::free(buffer_);
}

std::string TextSink::text() {
    std::fflush(file_);
    return std::string(buffer_, size_);
}

RunResult runProgram(const std::string& workDir, const std::string& input, const std::string& home,
                     RunLimits limits) {
    const TempDir streams;  // kept apart so the program's folder holds only its own files
    const std::string inPath = streams.file("stdin");
    const std::string outPath = streams.file("stdout");
    const std::string errPath = streams.file("stderr");
    writeFile(inPath, input);
    struct stat folder {};
    if (limits.unprivileged && ::stat(workDir.c_str(), &folder) == 0) {
        // The user the program runs as must be able to reach its folder.
        ::chmod(workDir.c_str(), (folder.st_mode & 07777) | S_IXOTH);
    }
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int in = ::open(inPath.c_str(), O_RDONLY);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || ::chdir(workDir.c_str()) != 0) ::_exit(127);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::setenv("HOME", (home.empty() ? workDir : home).c_str(), 1);
        if (limits.fileBytes > 0) {
            const rlim_t bytes = static_cast<rlim_t>(limits.fileBytes);
            const rlimit size{bytes, bytes};
            ::setrlimit(RLIMIT_FSIZE, &size);
        }
        if (limits.seconds > 0) ::alarm(limits.seconds);  // the alarm outlives exec
        if (limits.unprivileged && ::geteuid() == 0) {
            ::execlp("setpriv", "setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                     "--", CLICKTRACK_BIN, static_cast<char*>(nullptr));
            std::perror("cannot run the program as nobody: setpriv");
            ::_exit(126);
        }
        ::execl(CLICKTRACK_BIN, CLICKTRACK_BIN, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    RunResult result;
    result.out = readFile(outPath);
    result.err = readFile(errPath);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

void writeCaptureAsoundrc(const std::string& home, const std::string& captureFile) {
    writeFile(home + "/.asoundrc",
              "pcm.cap {\n"
              "  type file\n"
              "  slave.pcm \"null\"\n"
              "  file \"|cat >> " + captureFile + "\"\n"
              "  format \"raw\"\n"
              "}\n");
}

std::string startAnswers(int depthAnswer) { return "1\n" + std::to_string(depthAnswer) + "\n"; }
