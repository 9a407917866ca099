// Soak: random public-API operations on the camera of each model while the
// virtual sensor driver injects random faults (stalls, failing requests,
// short and long frames, the device vanishing and coming back). Every call
// must return within its bound, watched by a thread that aborts the process
// with the operation's name when one does not; after every close the
// process's descriptors, threads and mappings of device buffers must be back
// at their starting values.
//
// Settings (command line, else environment, of this test only):
//   --soak-ops=N   OZR_SOAK_OPS   operations per model (default 400)
//   --soak-seed=S  OZR_SOAK_SEED  random seed (default: from the clock)
//   --soak-slack-ms=M  OZR_SOAK_SLACK_MS  added to every bound (default 1500)
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <utility>

#include "ozr/tofcam.h"
#include "ozrsim.h"

namespace {

using Clock = std::chrono::steady_clock;
using ozr::ControlID;
using std::chrono::milliseconds;

struct Settings {
    uint64_t ops = 400;
    uint64_t seed = 0;
    int64_t slackMs = 1500;
};
Settings g_settings;

// ---------------------------------------------------------------- log

// The library's messages are counted, and the last few kept for a report;
// nothing is printed (a soak logs a great deal).
class QuietLog {
public:
    static void install() { kyr::platform::register_log_function(&QuietLog::record); }
    static void uninstall() { kyr::platform::register_log_function(nullptr); }
    static uint64_t errors() { return errors_.load(); }
    static std::string recent() {
        std::lock_guard<std::mutex> lock(mu_);
        std::string out;
        for (const std::string& line : lines_) out += "  " + line + "\n";
        return out;
    }

private:
    static void record(kyr::platform::LogLevel level, const char* format, va_list args) {
        if (level == kyr::platform::LogLevel::LOG_LEVEL_ERROR) ++errors_;
        char text[256];
        std::vsnprintf(text, sizeof(text), format, args);
        std::lock_guard<std::mutex> lock(mu_);
        lines_.emplace_back(text);
        if (lines_.size() > 12) lines_.pop_front();
    }
    static inline std::atomic<uint64_t> errors_{0};
    static inline std::mutex mu_;
    static inline std::deque<std::string> lines_;
};

// ---------------------------------------------------------------- watchdog

// Aborts the process, naming the operation, when an operation runs past its
// bound: a hang must not be waited out.
class Watchdog {
public:
    Watchdog() : thread_([this] { loop(); }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mu_);
            stop_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    void arm(std::string what, milliseconds bound) {
        std::lock_guard<std::mutex> lock(mu_);
        what_ = std::move(what);
        bound_ = bound;
        deadline_ = Clock::now() + bound;
        armed_ = true;
        cv_.notify_all();
    }
    void disarm() {
        std::lock_guard<std::mutex> lock(mu_);
        armed_ = false;
    }

private:
    void loop() {
        std::unique_lock<std::mutex> lock(mu_);
        while (!stop_) {
            if (!armed_) {
                cv_.wait(lock);
                continue;
            }
            const auto deadline = deadline_;
            if (cv_.wait_until(lock, deadline) == std::cv_status::timeout && armed_ &&
                deadline_ == deadline && Clock::now() >= deadline) {
                std::fprintf(stderr,
                             "soak: %s did not return within its bound of %lld ms; last "
                             "messages:\n%s",
                             what_.c_str(), static_cast<long long>(bound_.count()),
                             QuietLog::recent().c_str());
                std::fflush(stderr);
                std::abort();
            }
        }
    }

    std::mutex mu_;
    std::condition_variable cv_;
    std::string what_;
    milliseconds bound_{0};
    Clock::time_point deadline_{};
    bool armed_ = false;
    bool stop_ = false;
    std::thread thread_;
};

// ---------------------------------------------------------------- resources

size_t entries(const char* dir) {
    size_t n = 0;
    if (DIR* d = ::opendir(dir)) {
        while (const dirent* e = ::readdir(d)) {
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) ++n;
        }
        ::closedir(d);
    }
    return n;
}

// Mappings of the driver's buffer memory (its own and the application's).
size_t bufferMappings() {
    std::ifstream maps("/proc/self/maps");
    size_t n = 0;
    for (std::string line; std::getline(maps, line);) {
        if (line.find("memfd:ozrsim-buffer") != std::string::npos) ++n;
    }
    return n;
}

struct Resources {
    size_t fds = 0;
    size_t threads = 0;
    size_t bufferMaps = 0;
    int simMappings = 0;
    int simNodes = 0;  // open descriptors of the nodes and the hwmon input

    bool operator==(const Resources&) const = default;
    std::string text() const {
        return "descriptors " + std::to_string(fds) + ", threads " + std::to_string(threads) +
               ", buffer mappings " + std::to_string(bufferMaps) + " (driver count " +
               std::to_string(simMappings) + "), node descriptors " + std::to_string(simNodes);
    }
};

Resources measure() {
    Resources r;
    r.fds = entries("/proc/self/fd");
    r.threads = entries("/proc/self/task");
    r.bufferMaps = bufferMappings();
    const ozrsim::Counters c = ozrsim::counters();
    r.simMappings = c.mappings;
    r.simNodes = c.openVideo + c.openSubdev + c.openHwmon;
    return r;
}

// ---------------------------------------------------------------- random choices

struct ControlRange {
    ControlID id;
    int lo, hi;  // values an application would plausibly use
};
constexpr ControlRange CONTROLS[] = {
    {ControlID::GAIN, 0, 17},
    {ControlID::ACQUISITION_MODE, 0, 4},
    {ControlID::MODULATION_FREQ_HZ, 4000000, 101000000},
    {ControlID::TRIGGER_SHUTTER, 0, 1},
    {ControlID::EXPOSURE_US, 0, 10000},
    {ControlID::HDR_INTEGRATION_TIME1_US, 0, 10000},
    {ControlID::HDR_INTEGRATION_TIME2_US, 0, 10000},
    {ControlID::HDR_INTEGRATION_TIME3_US, 0, 10000},
    {ControlID::ENABLE_HDR_ROLLING_MODE, 0, 1},
    {ControlID::ENABLE_DCS_ROLLING_MODE, 0, 1},
    {ControlID::ENABLE_PHASE_OFFSET_COMPENSATION, 0, 1},
    {ControlID::ENABLE_PHASE_ERROR_COMPENSATION, 0, 1},
    {ControlID::ENABLE_TEMPERATURE_COMPENSATION, 0, 1},
    {ControlID::ENABLE_GRAYSCALE_DSNU_COMPENSATION, 0, 1},
    {ControlID::ENABLE_GRAYSCALE_PRNU_COMPENSATION, 0, 1},
    {ControlID::LED_DELAY_STEP, 0, 256},
    {ControlID::MIN_AMPLITUDE, 0, 70000},
    {ControlID::INTERFERENCE_DETECTION_ENABLE, 0, 1},
    {ControlID::INTERFERENCE_DETECTION_THRESHOLD, 0, 70000},
    {ControlID::INTERFERENCE_ENABLE_LATCHING, 0, 1},
    {ControlID::AVERAGE_FILTER_ENABLE, 0, 1},
    {ControlID::MEDIAN_FILTER_ENABLE, 0, 1},
    {ControlID::TEMPORAL_FILTER_ENABLE, 0, 1},
    {ControlID::TEMPORAL_FILTER_ALPHA, 0, 101},
    {ControlID::TEMPORAL_FILTER_THRESHOLD, 0, 70000},
    {ControlID::KALMAN_FILTER_ENABLE, 0, 1},
    {ControlID::KALMAN_FILTER_THRESHOLD, 0, 70000},
    {ControlID::KALMAN_FILTER_PROCESS_NOISE, 0, 70000},
    {ControlID::EDGE_FILTER_ENABLE, 0, 1},
    {ControlID::EDGE_FILTER_THRESHOLD, 0, 70000},
};
static_assert(std::size(CONTROLS) == ozr::CONTROL_COUNT);

constexpr unsigned long FAULTY_REQUESTS[] = {
    VIDIOC_DQBUF,  VIDIOC_QBUF,  VIDIOC_STREAMON, VIDIOC_STREAMOFF, VIDIOC_S_CTRL,
    VIDIOC_G_CTRL, VIDIOC_G_FMT, VIDIOC_S_FMT,    VIDIOC_REQBUFS,   VIDIOC_QUERYBUF};
constexpr int FAULT_ERRORS[] = {EIO, EBUSY, EINVAL, EAGAIN, ENODEV, ENOMEM};

enum class Op {
    Open,
    Close,
    Start,
    Stop,
    Mode,
    SetControl,
    GetControl,
    Capture,
    Recreate,
    Faults,
    Disconnect,
    Reconnect,
    COUNT
};
constexpr const char* OP_NAMES[] = {"open",        "close",      "startStream", "stopStream",
                                    "mode switch", "setControl", "getControl",  "captureFrame",
                                    "new camera",  "set faults", "disconnect",  "reconnect"};
// Relative frequencies, in the order of Op.
constexpr int OP_WEIGHTS[] = {9, 3, 8, 6, 6, 18, 6, 34, 1, 5, 1, 5};
static_assert(std::size(OP_NAMES) == static_cast<size_t>(Op::COUNT));
static_assert(std::size(OP_WEIGHTS) == static_cast<size_t>(Op::COUNT));

struct FaultTally {
    uint64_t stalls = 0, failingRequests = 0, shortFrames = 0, longFrames = 0, timedUnplugs = 0,
             disconnects = 0, reconnects = 0, cleared = 0;
    std::string text() const {
        return "stalls " + std::to_string(stalls) + ", failing requests " +
               std::to_string(failingRequests) + ", short frames " + std::to_string(shortFrames) +
               ", long frames " + std::to_string(longFrames) + ", unplugs after images " +
               std::to_string(timedUnplugs) + ", disconnects " + std::to_string(disconnects) +
               ", reconnects " + std::to_string(reconnects) + ", cleared " +
               std::to_string(cleared);
    }
};

class Soak : public ::testing::TestWithParam<ozrsim::Model> {
protected:
    void SetUp() override {
        QuietLog::install();
        ozrsim::Config c;
        c.model = GetParam();
        c.timing.exposureDelayUs = 300;
        c.timing.readoutUs = 100;
        c.temperature.timeConstantS = 5.0f;
        c.calibration = ozrsim::Calibration::Synthetic;
        ASSERT_EQ(ozrsim::configure(c), 0);
        ozrsim::defaultFormat(c.model, width_, height_);
        ASSERT_TRUE(ozrsim::processedSize(c.model, width_, height_, width_, height_));
        warmUp();
        sensor_ =
            GetParam() == ozrsim::Model::OZR310 ? ozr::TOFSensor::ozr310 : ozr::TOFSensor::ozr320;
        // Slowest image wait of the model's source: 200 ms for the OZR310,
        // 1000 ms for the OZR320.
        imageTimeout_ = milliseconds(GetParam() == ozrsim::Model::OZR310 ? 200 : 1000);
    }
    void TearDown() override {
        cam_.reset();
        ozrsim::reset();
        QuietLog::uninstall();
    }

    // The first frame also sets up the scene, which under the sanitizers
    // takes long: one is rendered before the camera's first.
    void warmUp() {
        const int fd = ::open(
            GetParam() == ozrsim::Model::OZR310 ? "/run/ozr310/subdev" : "/run/ozr320/subdev",
            O_RDWR);
        ASSERT_GE(fd, 0);
        v4l2_control trigger{ozrsim::cid::TRIGGER_SHUTTER, 1};
        EXPECT_EQ(::ioctl(fd, VIDIOC_S_CTRL, &trigger), 0);
        ::close(fd);
        ASSERT_TRUE(ozrsim::waitIdle(std::chrono::seconds(30)));
    }

    // Bounds: a stop finishes the frame in progress and drains the one
    // triggered, each at worst an image time-out; a capture adds its own
    // 1000 ms wait.
    milliseconds slack() const { return milliseconds(g_settings.slackMs); }
    milliseconds stopBound() const { return 2 * imageTimeout_ + slack(); }
    milliseconds captureBound() const { return milliseconds(1000) + stopBound(); }

    // After a close the process holds what it held before the first open.
    void expectReleased(uint64_t index, const char* what) {
        (void)ozrsim::waitIdle(std::chrono::seconds(5));
        Resources now = measure();
        // The driver's frame worker ends shortly after its last frame.
        for (int i = 0; i < 100 && !(now == baseline_); ++i) {
            std::this_thread::sleep_for(milliseconds(20));
            now = measure();
        }
        EXPECT_EQ(now, baseline_) << "after operation " << index << " (" << what
                                  << "): " << now.text() << "; at the start " << baseline_.text();
        ++releaseChecks_;
    }

    int randomValue(const ControlRange& r) {
        switch (rng_() % 8) {
            case 0:
                return 0;
            case 1:
                return -1;
            case 2:
                return (rng_() & 1) ? INT_MAX : INT_MIN;
            case 3:
                return static_cast<int>(static_cast<uint32_t>(rng_()));
            default:
                return std::uniform_int_distribution<int>(r.lo, r.hi)(rng_);
        }
    }

    void randomFaults(FaultTally& tally) {
        ozrsim::FaultConfig f;
        const uint64_t kind = rng_() % 12;
        if (kind < 5) {
            ++tally.cleared;  // healthy for a while
        } else if (kind == 5) {
            f.stall = true;
            ++tally.stalls;
        } else if (kind == 6) {
            f.bytesusedDelta = (rng_() & 1) ? -static_cast<int32_t>(1 + rng_() % 4096)
                                            : static_cast<int32_t>(1 + rng_() % 4096);
            ++(f.bytesusedDelta < 0 ? tally.shortFrames : tally.longFrames);
        } else if (kind == 7) {
            f.disconnectAfterImages =
                static_cast<int64_t>(ozrsim::counters().imagesDelivered + rng_() % 40);
            unplugged_ = true;  // soon
            ++tally.timedUnplugs;
        } else {
            const size_t n = 1 + rng_() % 2;
            for (size_t i = 0; i < n; ++i) {
                ozrsim::IoctlFault io;
                io.request = FAULTY_REQUESTS[rng_() % std::size(FAULTY_REQUESTS)];
                io.error = FAULT_ERRORS[rng_() % std::size(FAULT_ERRORS)];
                io.after = static_cast<uint32_t>(rng_() % 30);
                // Now and then for ever (0), until the faults change.
                io.times = static_cast<uint32_t>(rng_() % 8 == 0 ? 0 : 1 + rng_() % 3);
                f.ioctls.push_back(io);
                ++tally.failingRequests;
            }
        }
        ozrsim::setFaults(f);
    }

    // A delivered frame has the size the model publishes.
    void checkFrame(const ozr::TOFFrame& f, uint64_t index) {
        EXPECT_EQ(f.getWidth(), width_) << "operation " << index;
        EXPECT_EQ(f.getHeight(), height_) << "operation " << index;
    }

    void run() {
        const uint64_t seed =
            g_settings.seed ^ (GetParam() == ozrsim::Model::OZR310 ? 0x310u : 0x320u);
        rng_.seed(seed);
        std::printf("soak %s: seed %llu (--soak-seed=%llu), %llu operations\n",
                    ozrsim::modelName(GetParam()), static_cast<unsigned long long>(seed),
                    static_cast<unsigned long long>(g_settings.seed),
                    static_cast<unsigned long long>(g_settings.ops));
        std::fflush(stdout);

        Watchdog watchdog;
        cam_ = std::make_unique<ozr::TOFCam>(sensor_);
        // The warm-up frame's worker thread ends just after the frame.
        (void)ozrsim::waitIdle(std::chrono::seconds(5));
        std::this_thread::sleep_for(milliseconds(200));
        baseline_ = measure();

        std::discrete_distribution<int> pick(std::begin(OP_WEIGHTS), std::end(OP_WEIGHTS));
        std::array<uint64_t, static_cast<size_t>(Op::COUNT)> done{};
        std::array<Clock::duration, static_cast<size_t>(Op::COUNT)> longest{};
        std::array<std::map<int, uint64_t>, static_cast<size_t>(Op::COUNT)> failed;
        FaultTally tally;
        uint64_t frames = 0;
        std::unique_ptr<ozr::TOFFrame> frame;
        const auto t0 = Clock::now();
        bool opened = false, unplugged = false;
        for (uint64_t i = 0; i < g_settings.ops; ++i) {
            // Most of the time is spent on an open camera and a present
            // device, where there is most to go wrong.
            Op op = static_cast<Op>(pick(rng_));
            if (!opened && rng_() % 2 == 0) op = Op::Open;
            if (unplugged && rng_() % 4 == 0) op = Op::Reconnect;
            const size_t k = static_cast<size_t>(op);
            std::string what = std::string(OP_NAMES[k]) + " (operation " + std::to_string(i) +
                               ", seed " + std::to_string(g_settings.seed) + ")";
            int r = 0;
            const auto started = Clock::now();
            switch (op) {
                case Op::Open:
                    watchdog.arm(what, stopBound() + slack());
                    r = cam_->open();
                    opened = r == 0;
                    break;
                case Op::Close:
                    watchdog.arm(what, stopBound());
                    r = cam_->close();
                    opened = false;
                    watchdog.disarm();
                    EXPECT_EQ(r, 0) << what;
                    expectReleased(i, OP_NAMES[k]);
                    break;
                case Op::Start:
                    watchdog.arm(what, slack());
                    r = cam_->startStream();
                    break;
                case Op::Stop:
                    watchdog.arm(what, stopBound());
                    r = cam_->stopStream();
                    break;
                case Op::Mode: {
                    // Now and then a value that is no mode.
                    const int mode = (rng_() % 8 == 0) ? static_cast<int>(rng_() % 300)
                                                       : static_cast<int>(rng_() % 5);
                    what.append(" to ").append(std::to_string(mode));
                    watchdog.arm(what, stopBound());
                    r = cam_->setControl(ControlID::ACQUISITION_MODE, mode);
                    break;
                }
                case Op::SetControl: {
                    const ControlRange& c = CONTROLS[rng_() % std::size(CONTROLS)];
                    const int value = randomValue(c);
                    what.append(" ").append(ozr::controlNames[static_cast<size_t>(c.id)].name);
                    what.append(" = ").append(std::to_string(value));
                    // Applied with the stream stopped and restarted.
                    watchdog.arm(what, stopBound() + slack());
                    r = cam_->setControl(c.id, value);
                    break;
                }
                case Op::GetControl: {
                    const ControlRange& c = CONTROLS[rng_() % std::size(CONTROLS)];
                    watchdog.arm(what, slack());
                    int value = 0;
                    r = cam_->getControl(c.id, value);
                    break;
                }
                case Op::Capture:
                    watchdog.arm(what, captureBound());
                    r = cam_->captureFrame(frame);
                    watchdog.disarm();
                    if (r == 0) {
                        ++frames;
                        ASSERT_TRUE(frame) << what;
                        checkFrame(*frame, i);
                    }
                    break;
                case Op::Recreate:
                    watchdog.arm(what, stopBound() + slack());
                    frame.reset();
                    cam_ = std::make_unique<ozr::TOFCam>(sensor_);
                    opened = false;
                    watchdog.disarm();
                    expectReleased(i, OP_NAMES[k]);
                    break;
                case Op::Faults:
                    watchdog.arm(what, slack());
                    randomFaults(tally);
                    unplugged = unplugged || std::exchange(unplugged_, false);
                    break;
                case Op::Disconnect:
                    watchdog.arm(what, slack());
                    ozrsim::disconnect();
                    unplugged = true;
                    ++tally.disconnects;
                    break;
                case Op::Reconnect:
                    watchdog.arm(what, slack());
                    ozrsim::reconnect();
                    unplugged = false;
                    ++tally.reconnects;
                    break;
                case Op::COUNT:
                    break;
            }
            watchdog.disarm();
            longest[k] = std::max(longest[k], Clock::now() - started);
            ++done[k];
            if (r != 0) ++failed[k][r];
        }
        // In the end everything is let go.
        watchdog.arm("final close", stopBound());
        EXPECT_EQ(cam_->close(), 0);
        watchdog.disarm();
        frame.reset();
        expectReleased(g_settings.ops, "final close");
        const Resources end = measure();
        const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();

        const ozrsim::Counters n = ozrsim::counters();
        std::printf(
            "soak %s: %llu operations in %.1f s, %llu frames delivered, %llu library "
            "errors logged, %llu release checks\n",
            ozrsim::modelName(GetParam()), static_cast<unsigned long long>(g_settings.ops), seconds,
            static_cast<unsigned long long>(frames),
            static_cast<unsigned long long>(QuietLog::errors()),
            static_cast<unsigned long long>(releaseChecks_));
        for (size_t k = 0; k < done.size(); ++k) {
            std::string failures;
            for (const auto& [code, count] : failed[k]) {
                failures.append(" ").append(std::to_string(code));
                failures.append(" x").append(std::to_string(count));
            }
            std::printf("  %-13s %6llu calls, longest %5lld ms, failed:%s\n", OP_NAMES[k],
                        static_cast<unsigned long long>(done[k]),
                        static_cast<long long>(
                            std::chrono::duration_cast<milliseconds>(longest[k]).count()),
                        failures.empty() ? " none" : failures.c_str());
        }
        std::printf("  faults: %s\n", tally.text().c_str());
        std::printf(
            "  driver: %llu triggers, %llu frames, %llu images delivered, %llu dropped, "
            "%llu stream starts\n",
            static_cast<unsigned long long>(n.triggers), static_cast<unsigned long long>(n.frames),
            static_cast<unsigned long long>(n.imagesDelivered),
            static_cast<unsigned long long>(n.imagesDropped),
            static_cast<unsigned long long>(n.streamOns));
        std::printf("  at the end: %s; at the start: %s\n", end.text().c_str(),
                    baseline_.text().c_str());
        std::fflush(stdout);
    }

    ozr::TOFSensor sensor_ = ozr::TOFSensor::ozr320;
    uint32_t width_ = 0, height_ = 0;
    milliseconds imageTimeout_{1000};
    std::mt19937_64 rng_;
    std::unique_ptr<ozr::TOFCam> cam_;
    Resources baseline_;
    uint64_t releaseChecks_ = 0;
    bool unplugged_ = false;  // a timed unplug was set since the last look
};

TEST_P(Soak, RandomOperationsUnderFaults) {
    run();
}

INSTANTIATE_TEST_SUITE_P(Models, Soak,
                         testing::Values(ozrsim::Model::OZR310, ozrsim::Model::OZR320),
                         [](const testing::TestParamInfo<ozrsim::Model>& info) {
                             return info.param == ozrsim::Model::OZR310 ? "OZR310" : "OZR320";
                         });

// A setting from "--name=value" on the command line, else the environment.
bool setting(int argc, char** argv, const char* flag, const char* env, int64_t& out) {
    const std::string prefix = std::string(flag) + "=";
    const char* text = std::getenv(env);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], prefix.c_str(), prefix.size()) == 0) {
            text = argv[i] + prefix.size();
        }
    }
    if (!text) return true;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || v < 0) {
        std::fprintf(stderr, "soak: bad value for %s / %s: \"%s\"\n", flag, env, text);
        return false;
    }
    out = v;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    int64_t ops = static_cast<int64_t>(g_settings.ops);
    int64_t seed = -1;
    if (!setting(argc, argv, "--soak-ops", "OZR_SOAK_OPS", ops) ||
        !setting(argc, argv, "--soak-seed", "OZR_SOAK_SEED", seed) ||
        !setting(argc, argv, "--soak-slack-ms", "OZR_SOAK_SLACK_MS", g_settings.slackMs)) {
        return 2;
    }
    g_settings.ops = static_cast<uint64_t>(ops);
    g_settings.seed =
        seed >= 0 ? static_cast<uint64_t>(seed)
                  : static_cast<uint64_t>(Clock::now().time_since_epoch().count() & 0x7fffffff);
    return RUN_ALL_TESTS();
}
