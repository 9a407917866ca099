// Virtual OZR310/OZR320 sensor driver: the control API.
//
// libozrsim.so emulates, in user space, what the sensor's kernel driver
// publishes: the video capture node and the sub-device node of one model
// ("/run/ozr310/video" and "/run/ozr310/subdev", or the ozr320 pair), the
// driver version file ("/sys/module/cam_ozr3x0/version"), an hwmon
// temperature channel under "/sys/class/hwmon" beside an unrelated hwmon
// device, and optionally a calibration directory in
// "/usr/local/share/ozrtofcam/calibration". It does so by defining the C
// library's file and device entry points (open, ioctl, mmap, poll, stat,
// fopen, ...) and forwarding everything it does not serve to the real C
// library, so a program, the camera library included, runs unmodified
// against it. Plain files live in a private temporary directory to which
// those paths are redirected; the device nodes are served from memory.
//
// Until configure() is called (by a test, or by the library's constructor
// when the OZRSIM_ environment variables are set, see the ozr-sim launcher)
// the library serves nothing and every call goes straight to the C library.
//
// The emulated driver, in short (it passes the V4L2 conformance suite,
// v4l2-compliance, on both nodes):
// - Both nodes: requests are checked as the V4L2 core does before a driver
//   sees them: an unknown request fails with ENOTTY, a missing argument with
//   EFAULT, output fields are zeroed. QUERYCAP reports the running kernel's
//   version (the driver's own is in the version file).
// - Video node: V4L2 capture, memory-mapped streaming only, one pixel format
//   (Y16, 16-bit samples with the 12-bit value in the upper bits). The format
//   is fixed by the configuration: 320x240 for the OZR320 and 640x120 (two
//   halves side by side) for the OZR310 unless width/height say otherwise;
//   S_FMT and TRY_FMT adjust any request to it, as V4L2 drivers do. Up to
//   MAX_BUFFERS buffers from REQBUFS and CREATE_BUFS (which may add larger
//   ones); S_FMT is refused with EBUSY while buffers exist and REQBUFS while
//   streaming; a second open file handle may query but not stream (EBUSY).
//   File handles have priorities (G/S_PRIORITY): a handle below the highest
//   may not change the device (EBUSY). poll() reports POLLIN when a buffer
//   can be dequeued and POLLERR when the stream is off or no buffer was ever
//   queued, as videobuf2 does. The video node has no controls of its own.
// - Sub-device node: the controls below, through VIDIOC_G_CTRL/S_CTRL,
//   QUERYCTRL, QUERY_EXT_CTRL, QUERYMENU and the EXT_CTRLS requests (also by
//   the old-style private identifiers V4L2_CID_PRIVATE_BASE + n). Integer
//   values outside the range fail with ERANGE (nothing is clamped), unknown
//   identifiers with EINVAL. Control events (V4L2_EVENT_CTRL) tell other
//   handles of value changes; poll() reports POLLPRI while one is pending.
// - Frames: writing 1 to TRIGGER_SHUTTER acquires one frame: 4 images in
//   4DCS, 1 in grayscale, 12 in HDR (OZR320). Each image fills one queued
//   buffer, timing.exposureDelayUs after the trigger, then one every
//   timing.readoutUs. An image for which no buffer is queued is dropped
//   (its sequence number is skipped). No trigger, no frame, unless
//   timing.freeRun is set: then a frame is acquired every framePeriodUs
//   after STREAMON, for generic V4L2 tools that know nothing of the trigger;
//   S_PARM sets that period, to the microsecond, within the continuous range
//   of frame intervals enumerated (from the time one frame takes to 10 s);
//   G_PARM reports it.
// - Temperature: the die warms while streaming towards temperature.hotC and
//   cools towards temperature.startC when idle (first order, time constant
//   temperature.timeConstantS); the hwmon input file always reads the
//   current value in millidegrees Celsius.
//
// Descriptors: as with the kernel, a descriptor duplicated from a node's
// (dup, dup2, dup3, fcntl F_DUPFD/F_DUPFD_CLOEXEC) refers to the same open
// file: it owns the same buffers and stream, has the same priority, event
// subscriptions and O_NONBLOCK flag. Closing one leaves the others working;
// the open file is released (its stream stopped, its buffers freed) when the
// last one is closed, by close(), close_range(), closefrom() or a dup2()
// over it.
//
// Limits of the emulation: a node opened, duplicated or driven through
// syscall() directly is not seen (openat2, for instance, has no C library
// wrapper to follow); select() and epoll see a node as
// readable whenever poll() would report anything (and a pending control
// event also as an exception, where the kernel has urgent data on local
// sockets); the nodes offer no read()/write() I/O (EINVAL); getcwd() inside
// a served directory shows the private directory;
// std::filesystem::create_directories() of a served path creates missing
// ancestors of the served prefix on the host; a trigger that finds 16 frames
// still pending is ignored.
//
// Every function here is thread-safe.
#pragma once

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kyr/sensors/ozrDriver.h"
#include "scene.h"

namespace ozrsim {

// Identifiers of the sub-device controls, as the driver defines them.
namespace cid {
inline constexpr uint32_t USER_CLASS = V4L2_CID_USER_CLASS;
inline constexpr uint32_t EXPOSURE = OZR_CID_EXPOSURE_US;  // microseconds, 0..10000, default 500
inline constexpr uint32_t GAIN = OZR_CID_GAIN;             // 1..16, default 1
// Write 1 to acquire one frame; reads 0. Range 0..1.
inline constexpr uint32_t TRIGGER_SHUTTER = OZR_CID_TRIGGER_SHUTTER;
// Menu: 0 4DCS, 1 grayscale, 2 HDR (HDR refused with EINVAL by the OZR310).
inline constexpr uint32_t ACQUISITION_MODE = OZR_CID_ACQUISITION_MODE;
// Hertz, 5 MHz..100 MHz, default 24 MHz. The PLL synthesises multiples of
// MODULATION_STEP_HZ: a written value is rounded to the nearest one (halves
// up), so a read-back can differ from the value written.
inline constexpr uint32_t MODULATION_FREQ_HZ = OZR_CID_MODULATION_FREQ_HZ;
// Microseconds, 0..10000, defaults 100, 500 and 2000 (OZR320 HDR exposures).
inline constexpr uint32_t HDR_INTEGRATION_TIME1 = OZR_CID_HDR_INTEGRATION_TIME1_US;
inline constexpr uint32_t HDR_INTEGRATION_TIME2 = OZR_CID_HDR_INTEGRATION_TIME2_US;
inline constexpr uint32_t HDR_INTEGRATION_TIME3 = OZR_CID_HDR_INTEGRATION_TIME3_US;
inline constexpr uint32_t LED_DELAY_STEP = OZR_CID_LED_DELAY_STEP;  // 0..255, default 0
}  // namespace cid

inline constexpr int32_t MODULATION_STEP_HZ = 10000;
inline constexpr uint32_t MAX_BUFFERS = 32;

// Paths the emulation serves.
inline constexpr const char* CALIBRATION_DIR = "/usr/local/share/ozrtofcam/calibration";
inline constexpr const char* HWMON_ROOT = kyr::platform::HWMON_ROOT;

// What "/usr/local/share/ozrtofcam/calibration" shows.
enum class Calibration {
    Hidden,     // nothing: the directory does not exist (default)
    Synthetic,  // written by writeCalibration() for the configured model, size and seed
    Host,       // the host's own directory, not redirected
};

struct TemperatureConfig {
    float startC = 30.0f;         // die temperature at configure() and when idle
    float hotC = 45.0f;           // approached while streaming
    float timeConstantS = 60.0f;  // first-order time constant; 0 keeps the temperature fixed
};

struct TimingConfig {
    uint32_t exposureDelayUs = 1000;  // trigger to the first image of a frame
    uint32_t readoutUs = 100;         // between the images of a frame
    bool freeRun = false;             // acquire a frame every framePeriodUs while streaming
    uint32_t framePeriodUs = 33333;   // free-running period, also reported by G_PARM
};

// Makes a request on either node fail: after `after` successful calls of
// `request`, the next `times` calls (0: all of them) fail with `error`.
struct IoctlFault {
    unsigned long request = 0;  // e.g. VIDIOC_DQBUF
    int error = EIO;
    uint32_t after = 0;
    uint32_t times = 0;
};

struct FaultConfig {
    bool stall = false;              // triggers are accepted but produce no image
    std::vector<IoctlFault> ioctls;  // failing requests
    int32_t bytesusedDelta = 0;      // added to bytesused of every image (clamped at 0)
    // The device vanishes once imagesDelivered (Counters, counted since
    // configure()) reaches this value; -1: never.
    int64_t disconnectAfterImages = -1;
};

// Serving a recording (made with the tools' RecordingWriter) instead of the
// scene: the recording decides the model, the device format, the initial
// controls and the temperature; see replay.h.
struct ReplayConfig {
    std::string file;   // empty: render the scene
    bool loop = false;  // start again after the last frame
};

struct Config {
    Model model = Model::OZR320;
    // First line of "/sys/module/cam_ozr3x0/version" (a newline is added);
    // nullopt: the driver module is not loaded, the file does not exist.
    std::optional<std::string> driverVersion = std::string("1.0.0");
    bool hwmon = true;  // the sensor's hwmon channel exists
    // The other model's node files exist as well ("/run/ozr3x0/video" and
    // "subdev"), as plain files that serve nothing: a board whose
    // autodetection sees both models.
    bool otherModelNodes = false;
    Calibration calibration = Calibration::Hidden;
    uint32_t width = 0;   // device format; 0 takes the model's default
    uint32_t height = 0;  // (OZR320 320x240, OZR310 640x120)
    SceneConfig scene;
    TemperatureConfig temperature;
    TimingConfig timing;
    uint64_t seed = 1;
    FaultConfig faults;
    bool trace = false;  // log every request on the nodes to standard error
    ReplayConfig replay;
};

// Device format of a model when the configuration leaves it open.
void defaultFormat(Model model, uint32_t& width, uint32_t& height);
const char* modelName(Model model);  // "ozr310" or "ozr320"
// The nodes and files through which the model's driver is reached.
const kyr::platform::OzrDeviceFiles& deviceFiles(Model model);

// Starts serving the configuration (after an implicit reset()). Returns 0,
// or a negative errno value (-EINVAL for an unknown scene or a format the
// model cannot have) and leaves the emulation unconfigured.
int configure(const Config& config);

// Back to pass-through: stops the frame worker, forgets every served
// descriptor and mapping (descriptors an application still holds stay valid
// descriptors that serve nothing), removes the temporary directory.
void reset();

bool isConfigured();

// Replaces the fault configuration while running; the call counts of the
// ioctl faults start again.
void setFaults(const FaultConfig& faults);

// The device disappears now: its nodes vanish, poll() on open descriptors
// reports POLLERR|POLLHUP, requests fail with ENODEV, blocked DQBUF returns.
void disconnect();

// After disconnect(), the device comes back as a new instance of the driver
// at the same paths: the nodes exist again, with the controls at their
// defaults, no buffers and no stream. Descriptors opened before the loss
// stay dead (ENODEV, POLLERR|POLLHUP) until closed; mappings made through
// them keep their memory until unmapped. A disconnectAfterImages fault has
// done its work and is cleared. Does nothing while the device is present.
void reconnect();

float temperature();                               // current die temperature, Celsius
void setTemperature(float celsius);                // the model continues from this value
std::optional<int32_t> controlValue(uint32_t id);  // current value of a control

// Ground truth of the last rendered frame, and the state it was rendered
// with (frameIndex counts acquired frames from 0).
GroundTruth lastTruth();
SensorState lastState();

struct Counters {
    uint64_t triggers = 0;         // writes of 1 to TRIGGER_SHUTTER
    uint64_t frames = 0;           // frames acquired (rendered), free-running ones included
    uint64_t imagesDelivered = 0;  // images placed in a buffer
    uint64_t imagesDropped = 0;    // images that found no queued buffer or no stream
    uint64_t streamOns = 0;
    int openVideo = 0;     // open descriptors of the video node
    int openSubdev = 0;    // open descriptors of the sub-device node
    int openHwmon = 0;     // descriptors of the hwmon input file opened with open()
    int mappings = 0;      // mappings of driver buffers not yet unmapped
    uint32_t buffers = 0;  // buffers allocated with REQBUFS
    bool streaming = false;
};
Counters counters();

// Waits until every triggered frame has been delivered or dropped; false on
// time-out.
bool waitIdle(std::chrono::milliseconds timeout);

// The private directory that holds the plain files; empty when unconfigured.
std::string rootDirectory();

// Reads the configuration from the OZRSIM_ environment variables (see
// envconfig.h). Returns 1 when OZRSIM_MODEL is not set (nothing done), 0
// when configured, a negative errno value on a bad variable. With
// OZRSIM_WARM_UP=1 one frame is rendered (and dropped, counted in frames and
// imagesDropped) before it returns, so that the scene's one-time set-up does
// not delay the program's first frame: under valgrind it takes longer than
// a camera waits for an image.
int configureFromEnvironment();

}  // namespace ozrsim
