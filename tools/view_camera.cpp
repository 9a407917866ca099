#include "view_camera.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <future>

#include "camera_log.h"
#include "capture_options.h"
#include "view_frame.h"

namespace view {

namespace {

// Frames over which the camera's frame rate is measured.
constexpr size_t RATE_WINDOW = 30;
// A failed capture is retried after this pause, so that a camera without
// frames does not spin.
constexpr auto RETRY_PAUSE = std::chrono::milliseconds(100);

bool isSwitch(const char* name) {
    return std::strstr(name, "ENABLE") != nullptr;
}

// A new file name in `dir`: ozr-view-YYYYMMDD-HHMMSS.h5, numbered when taken.
std::string recordingName(const std::string& dir) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    std::string name = std::string("ozr-view-") + stamp + ".h5";
    for (int i = 2; std::filesystem::exists(std::filesystem::path(dir) / name); ++i) {
        name = std::string("ozr-view-") + stamp + "-" + std::to_string(i) + ".h5";
    }
    return name;
}

}  // namespace

CameraService::CameraService(Settings settings)
    : settings_(std::move(settings)), camera_(capture::sensorOf(settings_.model)) {
    status_.mode = settings_.mode;
}

CameraService::~CameraService() {
    stop();
}

Outcome CameraService::cameraError(const std::string& what, int code) {
    std::string why = capture::log::takeErrors();
    if (why.empty()) why = std::strerror(code < 0 ? -code : code);
    return Outcome::failed(400, what + ": " + why + " (" + std::to_string(code) + ")");
}

std::string CameraService::start() {
    capture::log::flush();  // what construction found is not fatal by itself
    if (const int rc = camera_.open(); rc != 0) {
        return cameraError("cannot open the camera", rc).error;
    }
    if (settings_.mode != ozr::AcquisitionMode::DIST_AMP) {
        if (const int rc = camera_.setControl(ozr::ControlID::ACQUISITION_MODE, settings_.mode);
            rc != 0) {
            return cameraError("cannot switch the mode", rc).error;
        }
    }
    ozr::LensIntrinsics lens;
    if (camera_.getLensIntrinsics(lens) == 0) lens_ = lens;
    thermometer_ = ozrrec::HwmonThermometer::open(ozrrec::cameraModel(settings_.model));
    if (const int rc = camera_.startStream(); rc != 0) {
        return cameraError("cannot start streaming", rc).error;
    }
    capture::log::flush();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        status_.running = true;
        started_ = true;
    }
    thread_ = std::thread([this] { loop(); });
    return {};
}

void CameraService::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    commandsChanged_.notify_all();
    framesChanged_.notify_all();
    if (thread_.joinable()) thread_.join();
}

std::shared_ptr<const Published> CameraService::waitNewer(uint64_t after,
                                                          std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    framesChanged_.wait_for(lock, timeout,
                            [&] { return stopping_ || (latest_ && latest_->sequence > after); });
    if (stopping_ || !latest_ || latest_->sequence <= after) return nullptr;
    return latest_;
}

std::shared_ptr<const Published> CameraService::latest() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return latest_;
}

CameraStatus CameraService::status() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return status_;
}

void CameraService::loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        runCommands(lock);
        if (stopping_) break;
        if (!status_.running) {
            commandsChanged_.wait_for(lock, std::chrono::milliseconds(200));
            continue;
        }
        lock.unlock();
        captureOne();
        lock.lock();
    }
    runCommands(lock);  // those queued before the stop: they are answered
    lock.unlock();
    finishRecording();
    camera_.stopStream();
    capture::log::flush();
}

void CameraService::runCommands(std::unique_lock<std::mutex>& lock) {
    while (!commands_.empty()) {
        std::function<void()> command = std::move(commands_.front());
        commands_.pop_front();
        lock.unlock();
        command();
        lock.lock();
    }
}

Outcome CameraService::call(std::function<Outcome()> command) {
    auto task = std::make_shared<std::packaged_task<Outcome()>>(std::move(command));
    std::future<Outcome> result = task->get_future();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_ || !started_) return Outcome::failed(503, "the camera is not running");
        commands_.emplace_back([task] { (*task)(); });
    }
    commandsChanged_.notify_all();
    return result.get();
}

void CameraService::captureOne() {
    std::unique_ptr<ozr::TOFFrame> frame;
    if (const int rc = camera_.captureFrame(frame); rc != 0) {
        std::string why = cameraError("cannot capture a frame", rc).error;
        if (rc == -ETIMEDOUT) {
            // An image later than the sensor's wait ends the camera's stream
            // (a busy board does that to an OZR310 now and then): start it
            // again, or the viewers would wait for ever.
            (void)camera_.stopStream();
            if (const int again = camera_.startStream(); again != 0) {
                why = cameraError("cannot start streaming again", again).error;
            }
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            status_.lastError = why;
        }
        std::this_thread::sleep_for(RETRY_PAUSE);
        return;
    }
    const auto arrival = std::chrono::steady_clock::now();
    arrivals_.push_back(arrival);
    if (arrivals_.size() > RATE_WINDOW) arrivals_.pop_front();
    const ozr::AcquisitionMode mode = status().mode;

    auto published = std::make_shared<Published>();
    published->stats = capture::computeStats(*frame, mode);
    const std::chrono::duration<double> span = arrivals_.back() - arrivals_.front();
    if (arrivals_.size() > 1 && span.count() > 0) {
        published->stats.fps = static_cast<double>(arrivals_.size() - 1) / span.count();
    }
    FrameInfo info;
    info.fps = static_cast<float>(published->stats.fps);
    float celsius = 0.0f;
    if (thermometer_ && thermometer_->read(celsius)) {
        published->temperatureC = celsius;
        info.temperatureKnown = true;
        info.temperatureC = celsius;
    }
    std::string recordError;
    if (recorder_) {
        recordError = recorder_->write(*frame);
        info.recording = recordError.empty();
    }
    encodeFrame(*frame, published->stats, info, published->message);
    published->frame = std::move(frame);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        published->sequence = ++sequence_;
        latest_ = std::move(published);
        status_.lastError = recordError.empty() ? "" : "recording stopped: " + recordError;
        if (recorder_) status_.recordedFrames = recorder_->framesWritten();
    }
    if (!recordError.empty()) finishRecording();
    framesChanged_.notify_all();
}

std::vector<ControlValue> CameraService::controls() {
    std::vector<ControlValue> values;
    call([&] {
        for (const ozr::ControlEntry& e : ozr::controlNames) {
            if (e.id == ozr::ControlID::ACQUISITION_MODE) continue;
            int value = 0;
            capture::log::setMuted(true);  // a control of another mode fails, and says so
            const int rc = camera_.getControl(e.id, value);
            capture::log::setMuted(false);
            if (rc == 0) values.push_back({e.name, value, isSwitch(e.name)});
        }
        return Outcome::ok();
    });
    return values;
}

Outcome CameraService::setControl(const std::string& name, int value) {
    ozr::ControlID id{};
    if (!capture::findControl(name, id)) return Outcome::failed(400, "unknown control " + name);
    if (id == ozr::ControlID::ACQUISITION_MODE) {
        return Outcome::failed(400, "the acquisition mode is set through /api/mode");
    }
    return call([this, id, value] {
        const std::string label = capture::controlName(id);
        int current = 0;
        capture::log::setMuted(true);
        const int known = camera_.getControl(id, current);
        capture::log::setMuted(false);
        if (known != 0) return Outcome::failed(400, label + " is not a control of this mode");
        capture::log::takeErrors();  // older messages belong to other calls
        if (const int rc = camera_.setControl(id, value); rc != 0) {
            return cameraError("the camera refused " + label + " = " + std::to_string(value), rc);
        }
        camera_.getControl(id, current);
        return Outcome::ok(current);
    });
}

Outcome CameraService::setMode(ozr::AcquisitionMode mode) {
    return call([this, mode] {
        CameraStatus now = status();
        if (now.recording)
            return Outcome::failed(409, "stop the recording before the mode changes");
        if (now.mode == mode) return Outcome::ok();
        capture::log::takeErrors();
        // A mode switch ends the stream's thread and starts none.
        if (now.running) camera_.stopStream();
        const int rc = camera_.setControl(ozr::ControlID::ACQUISITION_MODE, mode);
        Outcome outcome = rc == 0 ? Outcome::ok() : cameraError("cannot switch the mode", rc);
        if (rc == 0) {
            std::lock_guard<std::mutex> lock(mutex_);
            status_.mode = mode;
            latest_.reset();  // the frames from here on are the new mode's
        }
        if (now.running) {
            if (const int start = camera_.startStream(); start != 0 && outcome.error.empty()) {
                outcome = cameraError("cannot restart streaming", start);
            }
        }
        arrivals_.clear();
        return outcome;
    });
}

Outcome CameraService::setRunning(bool running) {
    return call([this, running] {
        capture::log::takeErrors();
        if (running == status().running) return Outcome::ok();
        const int rc = running ? camera_.startStream() : camera_.stopStream();
        if (rc != 0) return cameraError(running ? "cannot start" : "cannot stop", rc);
        std::lock_guard<std::mutex> lock(mutex_);
        status_.running = running;
        arrivals_.clear();
        return Outcome::ok();
    });
}

Outcome CameraService::startRecording() {
    return call([this] {
        const CameraStatus now = status();
        if (now.recording) return Outcome::failed(409, "already recording");
        ozrrec::Mode mode = ozrrec::Mode::DCS4;
        if (!ozrrec::recordingMode(now.mode, mode)) {
            return Outcome::failed(409, "recordings keep DCS images: modes dcs4 and hdr");
        }
        const std::string name = recordingName(settings_.recordDir);
        recorder_ = std::make_unique<ozrrec::CameraRecorder>(
            (std::filesystem::path(settings_.recordDir) / name).string(),
            ozrrec::cameraModel(settings_.model), mode, camera_);
        std::lock_guard<std::mutex> lock(mutex_);
        status_.recording = true;
        status_.recordingFile = name;
        status_.recordedFrames = 0;
        return Outcome::ok();
    });
}

Outcome CameraService::stopRecording() {
    return call([this] {
        if (!status().recording) return Outcome::failed(409, "not recording");
        finishRecording();
        return Outcome::ok();
    });
}

void CameraService::finishRecording() {
    if (!recorder_) return;
    const std::string error = recorder_->finish();
    const uint64_t frames = recorder_->framesWritten();
    recorder_.reset();
    std::lock_guard<std::mutex> lock(mutex_);
    status_.recording = false;
    status_.recordedFrames = frames;
    if (!error.empty()) status_.lastError = "recording: " + error;
}

}  // namespace view
