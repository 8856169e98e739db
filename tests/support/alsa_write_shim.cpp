// Preloaded into the program (LD_PRELOAD), this stands in for ALSA's
// snd_pcm_writei and snd_pcm_resume so that a test can make them fail in
// chosen ways while everything else is the real ALSA.
//
// CLICKTRACK_TEST_WRITES lists what the program's successive writes do,
// separated by commas:
//   pass     the real write
//   some:N   the real write of at most N frames (a short write)
//   none     nothing is written and 0 is returned
//   EPIPE, ESTRPIPE, EIO, EINTR, EAGAIN, ENOSYS: nothing is written and
//            that error is returned
// Once the list is used up every write is real. CLICKTRACK_TEST_RESUMES does
// the same for snd_pcm_resume (where "pass" is the real resume).
#include <alsa/asoundlib.h>
#include <dlfcn.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Step {
    enum Kind { Pass, Some, Fail } kind = Pass;
    long value = 0;  // frames for Some, the error for Fail
};

Step parseStep(const std::string& word) {
    static const std::pair<const char*, int> errors[] = {
        {"EPIPE", EPIPE}, {"ESTRPIPE", ESTRPIPE}, {"EIO", EIO},
        {"EINTR", EINTR}, {"EAGAIN", EAGAIN},     {"ENOSYS", ENOSYS}};
    if (word.rfind("some:", 0) == 0) return {Step::Some, std::atol(word.c_str() + 5)};
    if (word == "none") return {Step::Fail, 0};
    for (const auto& [name, code] : errors) {
        if (word == name) return {Step::Fail, -code};
    }
    return {};
}

// The steps named by an environment variable, taken one per call.
class Script {
public:
    explicit Script(const char* variable) {
        const char* text = std::getenv(variable);
        std::string word;
        for (const char* c = text ? text : ""; ; ++c) {
            if (*c == ',' || *c == '\0') {
                if (!word.empty()) steps_.push_back(parseStep(word));
                word.clear();
                if (*c == '\0') break;
            } else {
                word += *c;
            }
        }
    }
    Step next() { return at_ < steps_.size() ? steps_[at_++] : Step{}; }

private:
    std::vector<Step> steps_;
    size_t at_ = 0;
};

// The programs this one starts, such as the shell of a capture pipe, run
// without the shim: under emulation they are of another architecture, and
// their loader would complain on standard error.
__attribute__((constructor)) void keepToThisProgram() { unsetenv("LD_PRELOAD"); }

template <typename Function>
Function real(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" snd_pcm_sframes_t snd_pcm_writei(snd_pcm_t* pcm, const void* buffer,
                                            snd_pcm_uframes_t size) {
    static Script script("CLICKTRACK_TEST_WRITES");
    using Write = snd_pcm_sframes_t (*)(snd_pcm_t*, const void*, snd_pcm_uframes_t);
    static const Write write = real<Write>("snd_pcm_writei");
    const Step step = script.next();
    if (step.kind == Step::Fail) return step.value;
    if (step.kind == Step::Some && static_cast<snd_pcm_uframes_t>(step.value) < size) {
        size = static_cast<snd_pcm_uframes_t>(step.value);
    }
    return write(pcm, buffer, size);
}

extern "C" int snd_pcm_resume(snd_pcm_t* pcm) {
    static Script script("CLICKTRACK_TEST_RESUMES");
    static const auto resume = real<int (*)(snd_pcm_t*)>("snd_pcm_resume");
    const Step step = script.next();
    return step.kind == Step::Fail ? static_cast<int>(step.value) : resume(pcm);
}
