// A recording as the virtual sensor serves it: the input is a whole HDF5 file
// opened in memory with RecordingReader::openImage; its frames and
// temperatures are read, and the replay built on it hands out every device
// frame (at most a few) for each acquisition type, re-encoded into the
// driver's raw layout, whose size and samples are checked.
//
// The HDF5 library itself fails hard on some damaged files (see
// RecordingReader::checkInChild), and makes invalid accesses on others that
// depend on the state of its heap; ozr-sim therefore reads a recording once in
// a child process before serving it. Here all of the above runs in a child
// process, the checker (kept for the following inputs while it lives), and
// the fuzzer itself never calls the library: the checker sends its coverage
// counters back after each input, and they are copied into the fuzzer's. A
// fatal signal in the checker, or an invalid access the sanitizer sees the
// library make, ends it quietly and the input is passed over; any other
// sanitizer report or failed check there is a finding. The checker's memory
// is bounded (the HDF5 library allocates without end on some damaged files,
// and then sees malloc fail), and an input it works on for more than a few
// seconds of processor time (so that a loaded machine does not make a slow
// input a stalled one) is passed over when the HDF5 library is on the stack
// then and a finding otherwise. (Leaks of the code under test go unnoticed in
// the checker, which never exits normally.)
#include <dlfcn.h>
#include <execinfo.h>
#include <sanitizer/asan_interface.h>
#include <sanitizer/common_interface_defs.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "controls.h"
#include "hdf5_util.h"
#include "recording_reader.h"
#include "replay.h"

namespace {

// At most this many frames are read from the start of a recording, and its
// last frame.
constexpr uint64_t MAX_READ = 3;
constexpr int HDF5_DIED = 77;
// The checker's bounds on one input: memory beyond what it holds when
// started, and time.
constexpr uint64_t CHECKER_MEMORY = uint64_t{2} << 30;
constexpr unsigned STALL_SECONDS = 10;

// The frames read of a recording with `count` frames.
std::vector<uint64_t> framesToRead(uint64_t count) {
    std::vector<uint64_t> frames;
    for (uint64_t i = 0; i < count && i < MAX_READ; ++i) frames.push_back(i);
    if (count > MAX_READ) frames.push_back(count - 1);
    return frames;
}

void diedInHdf5(int) {
    _exit(HDF5_DIED);
}

// The checker worked on one input for STALL_SECONDS of processor time:
// passed over when the
// HDF5 library is on the stack (it spins on some damaged files), a finding
// otherwise.
void stalled(int) {
    void* frames[128];
    const int n = backtrace(frames, 128);
    for (int i = 0; i < n; ++i) {
        Dl_info info{};
        if (dladdr(frames[i], &info) != 0 && info.dli_fname != nullptr &&
            std::strstr(info.dli_fname, "libhdf5") != nullptr) {
            _exit(HDF5_DIED);
        }
    }
    static const char message[] =
        "recording_fuzzer: the checker stalled outside the HDF5 library\n";
    (void)!::write(STDERR_FILENO, message, sizeof message - 1);
    backtrace_symbols_fd(frames, n, STDERR_FILENO);
    std::abort();
}

// In the checker: whether AddressSanitizer's report is about an access the
// HDF5 library made itself (it is not instrumented, so the sanitizer sees its
// invalid accesses only in the C library functions it calls: the first frame
// outside the sanitizer's interceptors lies in the library). Such a report
// ends the checker like the library's crashes; it is printed either way.
bool reportInHdf5 = false;

// This executable's own frames without a source line: the sanitizer runtime
// linked into it (its interceptors, such as strdup). Named by the path the
// executable runs from, whatever the file is called.
std::string ownRuntimeFrame;

bool firstFrameInHdf5(const std::string& report) {
    size_t at = 0;
    while ((at = report.find("    #", at)) != std::string::npos) {
        const size_t end = report.find('\n', at);
        const std::string frame = report.substr(at, end - at);
        at = end;
        if (frame.find("__interceptor_") != std::string::npos ||
            frame.find(" in __asan") != std::string::npos ||
            frame.find(" in __sanitizer") != std::string::npos ||
            frame.find("libc.so") != std::string::npos ||
            (!ownRuntimeFrame.empty() && frame.find(ownRuntimeFrame) != std::string::npos)) {
            continue;
        }
        return frame.find("libhdf5") != std::string::npos;
    }
    return false;
}

// Standard error as the fuzzer found it, before it may close it: where the
// checker's sanitizer reports go.
int realStderr = -1;

void onReport(const char* report) {
    reportInHdf5 = firstFrameInHdf5(report);
}

void onDeath() {
    if (reportInHdf5) _exit(HDF5_DIED);
}

bool readAll(int fd, void* data, size_t size) {
    auto* p = static_cast<uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::read(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool writeAll(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// The replay of `reader` as the driver uses it.
void serve(std::unique_ptr<ozrrec::RecordingReader> reader, bool loop) {
    ozrsim::Config config;
    config.replay.loop = loop;
    std::string error;
    auto replay = ozrsim::Replay::fromReader(std::move(reader), config, error);
    if (!replay) return;
    ozrsim::ControlSet controls(config.model);
    replay->applyControls(controls);
    const size_t pixels = size_t{config.width} * config.height;
    for (uint64_t n = 0; n < MAX_READ + 2; ++n) {
        const std::optional<uint64_t> device = replay->frameFor(n);
        if (!device) {
            replay->reportEnd();
            break;
        }
        (void)replay->temperatureOf(*device);
        for (const auto acq :
             {ozrsim::AcqType::FourDcs, ozrsim::AcqType::Hdr, ozrsim::AcqType::Grayscale}) {
            for (const std::vector<uint16_t>& image : replay->images(*device, acq)) {
                // The device format the replay set, 12-bit samples in the
                // upper bits.
                if (image.size() != pixels) std::abort();
                for (const uint16_t v : image) {
                    if ((v & 0xF) != 0) std::abort();
                }
            }
        }
    }
}

// Everything the input goes through, in the checker.
void exercise(const uint8_t* data, size_t size) {
    std::string error;
    auto reader = ozrrec::RecordingReader::openImage(data, size, "input", error);
    if (!reader) return;
    ozrrec::RecordedFrame frame;
    for (const uint64_t i : framesToRead(reader->frameCount())) {
        if (reader->read(i, frame, error) && frame.dcs.size() != reader->info().frameValues()) {
            std::abort();
        }
    }
    (void)reader->read(reader->frameCount(), frame, error);  // one past the end
    std::vector<float> celsius;
    if (reader->readTemperatures(celsius, error) && celsius.size() != reader->frameCount()) {
        std::abort();
    }
    serve(std::move(reader), size % 2 != 0);
}

// The coverage counters of the whole executable (the harness, the reader and
// the replay are linked in statically), which the checker sends back after
// each input for the fuzzer to see.
extern "C" uint8_t __start___sancov_cntrs[];
extern "C" uint8_t __stop___sancov_cntrs[];

size_t counterCount() {
    return static_cast<size_t>(__stop___sancov_cntrs - __start___sancov_cntrs);
}

// The checker: a child that takes each input it is sent through exercise()
// and answers with its coverage counters, and in which a fatal signal ends it
// quietly. It is forked once and again only after it died, since forking the
// fuzzer per input (with the sanitizers' memory mapped) costs more than the
// input.
class Checker {
public:
    // Has the checker take the input through everything and copies its
    // coverage into this process's counters; an input the checker does not
    // survive is passed over (and the checker started again).
    void run(const uint8_t* data, size_t size) {
        if (pid_ < 0) start();
        const uint64_t length = size;
        std::vector<uint8_t> counters(counterCount());
        if (writeAll(toChild_, &length, sizeof length) && writeAll(toChild_, data, size) &&
            readAll(fromChild_, counters.data(), counters.size())) {
            for (size_t i = 0; i < counters.size(); ++i) {
                __start___sancov_cntrs[i] = std::max(__start___sancov_cntrs[i], counters[i]);
            }
            return;
        }
        reap();
    }

private:
    void start() {
        int down[2], up[2];
        if (pipe(down) != 0 || pipe(up) != 0) std::abort();
        const pid_t parent = getpid();
        pid_ = fork();
        if (pid_ < 0) std::abort();
        if (pid_ == 0) {
            ::close(down[1]);
            ::close(up[0]);
            serve(parent, down[0], up[1]);
        }
        ::close(down[0]);
        ::close(up[1]);
        toChild_ = down[1];
        fromChild_ = up[0];
    }

    [[noreturn]] static void serve(pid_t parent, int in, int out) {
        // Never outlives the fuzzer, which may end on a timeout while the
        // checker holds its standard error.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(0);
        for (const int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) {
            struct sigaction action {};
            action.sa_handler = diedInHdf5;
            sigaction(sig, &action, nullptr);
        }
        struct sigaction alarmAction {};
        alarmAction.sa_handler = stalled;
        sigaction(SIGPROF, &alarmAction, nullptr);
        void* warm[1];
        (void)backtrace(warm, 1);  // loads the unwinder before a signal needs it
        if (!ozrrec::h5::limitMemory(CHECKER_MEMORY)) std::abort();
        if (realStderr >= 0) {
            __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<intptr_t>(realStderr)));
        }
        __asan_set_error_report_callback(onReport);
        __sanitizer_set_death_callback(onDeath);
        std::vector<uint8_t> input;
        for (uint64_t length = 0; readAll(in, &length, sizeof length);) {
            input.resize(length);
            if (!readAll(in, input.data(), input.size())) break;
            std::fill(__start___sancov_cntrs, __stop___sancov_cntrs, uint8_t{0});
            itimerval limit{};
            limit.it_value.tv_sec = STALL_SECONDS;
            setitimer(ITIMER_PROF, &limit, nullptr);
            exercise(input.data(), input.size());
            limit.it_value.tv_sec = 0;
            setitimer(ITIMER_PROF, &limit, nullptr);
            if (!writeAll(out, __start___sancov_cntrs, counterCount())) break;
        }
        _exit(0);
    }

    // The checker ended without an answer: nothing for a fatal signal (the
    // input is passed over), a finding for anything else.
    void reap() {
        ::close(toChild_);
        ::close(fromChild_);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        if (WIFEXITED(status) && WEXITSTATUS(status) == HDF5_DIED) return;
        if (WIFSIGNALED(status) && (WTERMSIG(status) == SIGSEGV || WTERMSIG(status) == SIGBUS ||
                                    WTERMSIG(status) == SIGFPE || WTERMSIG(status) == SIGILL)) {
            return;  // a stack overflow, which no handler survives
        }
        std::fprintf(stderr, "recording_fuzzer: the checker ended with status %d\n", status);
        std::abort();
    }

    pid_t pid_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
};

Checker checker;

}  // namespace

// The HDF5 library leaks on some of its own error paths (a dataset whose
// layout message it cannot read leaks what it read of it in H5Dopen2), which
// no caller can free. Memory the library keeps behind identifiers left open
// stays reachable from its tables, so no leak of ours hides behind this.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libhdf5\n";
}

// A damaged size makes the HDF5 library ask malloc for anything up to
// exabytes, and it copes with a null answer as it does outside the
// sanitizer; operator new, the harness's and the reader's, still reports.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1:max_allocation_size_mb=2048";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    realStderr = ::dup(STDERR_FILENO);
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (n > 0) ownRuntimeFrame = "(" + std::string(self, static_cast<size_t>(n)) + "+0x";
    // A checker that died is noticed by its closed pipe, not by a signal.
    signal(SIGPIPE, SIG_IGN);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    checker.run(data, size);
    return 0;
}
