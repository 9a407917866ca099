// ozr-sim: runs a program against the virtual sensor driver, or writes the
// calibration of a virtual sensor.
//
//   ozr-sim [OPTIONS] -- PROGRAM [ARGS...]
//   ozr-sim --replay FILE [--loop] [OPTIONS] -- PROGRAM [ARGS...]
//   ozr-sim calibrate DIR [--model M] [--width W] [--height H] [--seed S]
//
// The options become OZRSIM_ environment variables; libozrsim.so, preloaded
// into the program, reads them when it is loaded.
#include <link.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "envconfig.h"
#include "ozrsim.h"
#include "recording_reader.h"
#include "replay.h"
#include "scene.h"

#ifndef OZRSIM_INSTALL_LIBDIR
#define OZRSIM_INSTALL_LIBDIR "/usr/local/lib/ozrtofcam"
#endif
#ifndef OZRSIM_RELATIVE_LIBDIR
#define OZRSIM_RELATIVE_LIBDIR "../lib/ozrtofcam"
#endif

namespace {

struct Option {
    const char* flag;
    const char* variable;
    const char* fixedValue;  // null: the option takes a value
    const char* help;
};

const Option OPTIONS[] = {
    {"--model", "OZRSIM_MODEL", nullptr, "ozr310 | ozr320 (default ozr320)"},
    {"--driver-version", "OZRSIM_DRIVER_VERSION", nullptr,
     "contents of the driver version file, or \"none\" (default 1.0.0)"},
    {"--no-hwmon", "OZRSIM_HWMON", "0", "the sensor has no hwmon temperature channel"},
    {"--calibration", "OZRSIM_CALIBRATION", "synthetic",
     "serve a calibration of the virtual sensor in /usr/local/share/ozrtofcam/calibration"},
    {"--host-calibration", "OZRSIM_CALIBRATION", "host",
     "leave /usr/local/share/ozrtofcam/calibration to the host"},
    {"--width", "OZRSIM_WIDTH", nullptr,
     "device format width, even, 2 to 2048 (default 320; OZR310 640)"},
    {"--height", "OZRSIM_HEIGHT", nullptr,
     "device format height, even, 2 to 2048 (default 240; OZR310 120)"},
    {"--scene", "OZRSIM_SCENE", nullptr, "wall | boxes | tilted | file:PATH (default wall)"},
    {"--wall-mm", "OZRSIM_WALL_MM", nullptr, "distance of the wall in millimetres"},
    {"--reflectivity", "OZRSIM_REFLECTIVITY", nullptr, "base reflectivity 0..1"},
    {"--interference", "OZRSIM_INTERFERENCE", "1", "a foreign light source disturbs a region"},
    {"--noise", "OZRSIM_NOISE", nullptr, "temporal noise scale (0: noiseless)"},
    {"--no-systematic-errors", "OZRSIM_SYSTEMATIC_ERRORS", "0",
     "no phase offset, cyclic error or temperature drift"},
    {"--dark", "OZRSIM_DARK", "1",
     "no illumination: the scene under a dark cloth (dark signal and noise only)"},
    {"--temp-start", "OZRSIM_TEMP_START", nullptr, "idle die temperature, Celsius (30)"},
    {"--temp-hot", "OZRSIM_TEMP_HOT", nullptr, "temperature approached while streaming (45)"},
    {"--temp-tau", "OZRSIM_TEMP_TAU", nullptr, "warming time constant, seconds (60; 0 fixed)"},
    {"--exposure-delay-us", "OZRSIM_EXPOSURE_DELAY_US", nullptr,
     "trigger to first image, microseconds (1000)"},
    {"--readout-us", "OZRSIM_READOUT_US", nullptr, "between images of a frame (100)"},
    {"--free-run", "OZRSIM_FREE_RUN", "1",
     "acquire a frame every frame period after STREAMON, without trigger"},
    {"--frame-period-us", "OZRSIM_FRAME_PERIOD_US", nullptr, "free-running period (33333)"},
    {"--seed", "OZRSIM_SEED", nullptr,
     "the unit: seed of the noise and of the sensor's own errors (1)"},
    {"--stall", "OZRSIM_STALL", "1", "fault: triggers produce no image"},
    {"--fail-ioctl", "OZRSIM_FAIL_IOCTL", nullptr,
     "fault: REQUEST:ERRNO[:AFTER[:TIMES]][,...], e.g. DQBUF:EIO:10"},
    {"--bytesused-delta", "OZRSIM_BYTESUSED_DELTA", nullptr,
     "fault: add N bytes to bytesused of every image"},
    {"--disconnect-after", "OZRSIM_DISCONNECT_AFTER", nullptr,
     "fault: the device vanishes after N images"},
    {"--trace", "OZRSIM_TRACE", "1", "log every request on the nodes to standard error"},
    {"--report-truth", "OZRSIM_REPORT_TRUTH", "1",
     "at the end, print the true distance of the last frame (centre, median) and the true "
     "3-D point of its centre pixel"},
    {"--truth-pixel", "OZRSIM_TRUTH_PIXEL", nullptr,
     "X,Y: with --report-truth, also the true distance and 3-D point of pixel X,Y"},
    {"--replay", "OZRSIM_REPLAY", nullptr,
     "serve a recording (HDF5) instead of the scene: its model, format, controls"},
    {"--loop", "OZRSIM_REPLAY_LOOP", "1",
     "with --replay: start again after the last frame (else no more frames)"},
};

void usage(std::FILE* out) {
    std::fprintf(out,
                 "usage: ozr-sim [OPTIONS] -- PROGRAM [ARGS...]\n"
                 "       ozr-sim calibrate DIR [--model M] [--width W] [--height H] [--seed S]\n"
                 "\n"
                 "Runs PROGRAM with the virtual OZR310/OZR320 sensor driver preloaded: the\n"
                 "device nodes /run/ozr3x0/video and /run/ozr3x0/subdev, the driver version\n"
                 "file, an hwmon temperature channel and optionally a calibration directory.\n"
                 "\"calibrate\" writes the calibration of a virtual sensor into DIR.\n"
                 "\n"
                 "options:\n");
    for (const Option& o : OPTIONS) {
        std::string left = o.flag;
        if (!o.fixedValue) left += " VALUE";
        std::fprintf(out, "  %-26s %s\n", left.c_str(), o.help);
    }
    std::fprintf(out, "  %-26s %s\n", "--help", "this text");
}

const Option* findOption(const std::string& flag) {
    for (const Option& o : OPTIONS) {
        if (flag == o.flag) return &o;
    }
    return nullptr;
}

// Limits of a device format side given on the command line: even (the
// OZR310 splits its rows into two equally wide halves, and its rows fold into
// two) and at most what the renderer draws.
constexpr unsigned long MIN_SIDE = 2;
constexpr unsigned long MAX_SIDE = 2048;

// Checks the value of an option that has a rule of its own; prints why and
// returns false when the value breaks it.
bool checkValue(const Option& option, const std::string& value) {
    const std::string flag = option.flag;
    if (flag != "--width" && flag != "--height") return true;
    unsigned long side = 0;
    const bool digits = !value.empty() && value.size() <= 9 &&
                        value.find_first_not_of("0123456789") == std::string::npos;
    if (digits) side = std::stoul(value);
    if (!digits || side < MIN_SIDE || side > MAX_SIDE || side % 2 != 0) {
        std::fprintf(stderr, "ozr-sim: %s \"%s\": expected an even whole number from %lu to %lu\n",
                     option.flag, value.c_str(), MIN_SIDE, MAX_SIDE);
        return false;
    }
    return true;
}

// With only one side of the device format given, the other is the model's.
void completeFormat(ozrsim::Config& config) {
    if ((config.width == 0) == (config.height == 0)) return;
    uint32_t width = 0, height = 0;
    ozrsim::defaultFormat(config.model, width, height);
    if (config.width == 0) {
        config.width = width;
        setenv("OZRSIM_WIDTH", std::to_string(width).c_str(), 1);
    } else {
        config.height = height;
        setenv("OZRSIM_HEIGHT", std::to_string(height).c_str(), 1);
    }
}

// Splits "--flag=value"; returns false for an unknown flag, a missing value or
// a value its option refuses.
bool takeOption(int argc, char** argv, int& i, const Option*& option, std::string& value) {
    std::string arg = argv[i];
    std::string inlineValue;
    bool hasInline = false;
    if (const size_t eq = arg.find('='); eq != std::string::npos) {
        inlineValue = arg.substr(eq + 1);
        arg = arg.substr(0, eq);
        hasInline = true;
    }
    option = findOption(arg);
    if (!option) {
        std::fprintf(stderr, "ozr-sim: unknown option %s\n", argv[i]);
        return false;
    }
    if (option->fixedValue) {
        if (hasInline) {
            std::fprintf(stderr, "ozr-sim: %s takes no value\n", option->flag);
            return false;
        }
        value = option->fixedValue;
        return true;
    }
    if (hasInline) {
        value = inlineValue;
    } else if (i + 1 >= argc) {
        std::fprintf(stderr, "ozr-sim: %s needs a value\n", option->flag);
        return false;
    } else {
        value = argv[++i];
    }
    return checkValue(*option, value);
}

std::string findLibrary() {
    if (const char* lib = std::getenv("OZRSIM_LIBRARY"); lib && *lib) return lib;
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    std::vector<std::filesystem::path> candidates;
    if (!ec) {
        candidates.push_back(exe.parent_path() / "libozrsim.so");
        candidates.push_back(exe.parent_path() / OZRSIM_RELATIVE_LIBDIR / "libozrsim.so");
    }
    candidates.push_back(std::filesystem::path(OZRSIM_INSTALL_LIBDIR) / "libozrsim.so");
    for (const auto& c : candidates) {
        if (std::filesystem::exists(c, ec)) {
            return std::filesystem::weakly_canonical(c, ec).string();
        }
    }
    return {};
}

// The sanitizer runtimes this launcher (and so libozrsim.so, built alike)
// was linked with: they must come first in the program's preload list.
int collectRuntime(struct dl_phdr_info* info, size_t, void* data) {
    auto* out = static_cast<std::vector<std::string>*>(data);
    const std::string name = info->dlpi_name ? info->dlpi_name : "";
    const std::string base = std::filesystem::path(name).filename().string();
    for (const char* rt : {"libasan.so", "libubsan.so", "libtsan.so", "liblsan.so"}) {
        if (base.rfind(rt, 0) == 0) out->push_back(name);
    }
    return 0;
}

std::vector<std::string> sanitizerRuntimes() {
    std::vector<std::string> runtimes;
    dl_iterate_phdr(collectRuntime, &runtimes);
    return runtimes;
}

pid_t g_child = -1;

void forwardSignal(int sig) {
    if (g_child > 0) kill(g_child, sig);
}

int calibrate(int argc, char** argv) {
    // argv[0] is "calibrate".
    if (argc < 2 || argv[1][0] == '-') {
        std::fprintf(stderr, "ozr-sim: calibrate needs a directory\n");
        return 2;
    }
    const std::string dir = argv[1];
    for (int i = 2; i < argc; ++i) {
        const Option* option = nullptr;
        std::string value;
        if (!takeOption(argc, argv, i, option, value)) return 2;
        const std::string flag = option->flag;
        if (flag != "--model" && flag != "--width" && flag != "--height" && flag != "--seed") {
            std::fprintf(stderr, "ozr-sim: calibrate does not take %s\n", option->flag);
            return 2;
        }
        setenv(option->variable, value.c_str(), 1);
    }
    if (!std::getenv("OZRSIM_MODEL")) setenv("OZRSIM_MODEL", "ozr320", 1);
    ozrsim::Config config;
    std::string error;
    if (ozrsim::env::readConfig(config, error) < 0) {
        std::fprintf(stderr, "ozr-sim: %s\n", error.c_str());
        return 2;
    }
    completeFormat(config);
    uint32_t width = config.width, height = config.height;
    if (width == 0 || height == 0) ozrsim::defaultFormat(config.model, width, height);
    const int rc = ozrsim::writeCalibration(dir, config.model, width, height, config.seed);
    if (rc != 0) {
        std::fprintf(stderr, "ozr-sim: cannot write the calibration to %s: %s\n", dir.c_str(),
                     std::strerror(-rc));
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "calibrate") == 0) return calibrate(argc - 1, argv + 1);

    // Options apply to this run only: earlier OZRSIM_ settings of the
    // environment are kept unless an option replaces them.
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        }
        if (arg.empty() || arg[0] != '-') break;  // the program, without "--"
        const Option* option = nullptr;
        std::string value;
        if (!takeOption(argc, argv, i, option, value)) {
            usage(stderr);
            return 2;
        }
        setenv(option->variable, value.c_str(), 1);
    }
    if (i >= argc) {
        std::fprintf(stderr, "ozr-sim: no program to run\n");
        usage(stderr);
        return 2;
    }
    if (!std::getenv("OZRSIM_MODEL")) setenv("OZRSIM_MODEL", "ozr320", 1);

    // Check the options here, where the error is clearest.
    ozrsim::Config config;
    std::string error;
    if (ozrsim::env::readConfig(config, error) < 0) {
        std::fprintf(stderr, "ozr-sim: %s\n", error.c_str());
        return 2;
    }
    completeFormat(config);
    {
        const ozrsim::Renderer renderer(config.scene, config.seed);
        if (!renderer.valid()) {
            std::fprintf(stderr, "ozr-sim: scene \"%s\": %s\n", config.scene.name.c_str(),
                         renderer.error().c_str());
            return 2;
        }
    }
    if (!config.replay.file.empty()) {
        // The recording is checked here, completely and where a failure of
        // the HDF5 library cannot take the program down, then as the
        // emulation will check it.
        if (!ozrrec::RecordingReader::checkInChild(config.replay.file, error) ||
            !ozrsim::Replay::openRecording(config, error)) {
            std::fprintf(stderr, "ozr-sim: %s\n", error.c_str());
            return 2;
        }
    }

    const std::string library = findLibrary();
    if (library.empty()) {
        std::fprintf(stderr, "ozr-sim: libozrsim.so not found (set OZRSIM_LIBRARY)\n");
        return 127;
    }
    std::string preload;
    for (const std::string& rt : sanitizerRuntimes()) preload += rt + ":";
    preload += library;
    if (const char* old = std::getenv("LD_PRELOAD"); old && *old) preload += std::string(":") + old;
    setenv("LD_PRELOAD", preload.c_str(), 1);

    // The program's private directories go into one directory of ours, which
    // is removed however the program ends.
    const char* tmp = std::getenv("TMPDIR");
    std::string base = "/tmp";
    if (tmp && *tmp == '/') {
        base = tmp;
    } else if (access("/dev/shm", W_OK | X_OK) == 0) {
        base = "/dev/shm";
    }
    std::string scratch = base + "/ozr-sim.XXXXXX";
    if (!mkdtemp(scratch.data())) {
        std::fprintf(stderr, "ozr-sim: cannot create a temporary directory: %s\n",
                     std::strerror(errno));
        return 1;
    }
    setenv("OZRSIM_TMPDIR", scratch.c_str(), 1);

    signal(SIGINT, SIG_IGN);
    signal(SIGQUIT, SIG_IGN);
    g_child = fork();
    if (g_child < 0) {
        std::fprintf(stderr, "ozr-sim: fork: %s\n", std::strerror(errno));
        return 1;
    }
    if (g_child == 0) {
        signal(SIGINT, SIG_DFL);
        signal(SIGQUIT, SIG_DFL);
        execvp(argv[i], argv + i);
        std::fprintf(stderr, "ozr-sim: cannot run %s: %s\n", argv[i], std::strerror(errno));
        _exit(127);
    }
    signal(SIGTERM, forwardSignal);
    signal(SIGHUP, forwardSignal);
    int status = 0;
    while (waitpid(g_child, &status, 0) < 0 && errno == EINTR) {
    }
    std::error_code ec;
    std::filesystem::remove_all(scratch, ec);
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 1;
}
