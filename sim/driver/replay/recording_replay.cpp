// The replay of a recording read with the tools' RecordingReader; built into
// the replay module and the launcher.
#include <array>
#include <cstdio>
#include <exception>
#include <mutex>
#include <utility>

#include "recording_format.h"
#include "recording_reader.h"
#include "replay.h"

namespace ozrsim {

namespace {

// The samples arrive with the 12-bit value in the upper bits.
constexpr unsigned RAW_SHIFT = 4;

// The device controls a recording was made with.
std::array<std::pair<uint32_t, int32_t>, 6> recordedSettings(const ozrrec::RecordingInfo& info) {
    return {{
        {cid::MODULATION_FREQ_HZ, info.modulationFrequencyHz},
        {cid::EXPOSURE, info.exposureUs},
        {cid::GAIN, info.gain},
        {cid::HDR_INTEGRATION_TIME1, info.hdrIntegrationTimesUs[0]},
        {cid::HDR_INTEGRATION_TIME2, info.hdrIntegrationTimesUs[1]},
        {cid::HDR_INTEGRATION_TIME3, info.hdrIntegrationTimesUs[2]},
    }};
}

class RecordingReplay final : public Replay {
public:
    void applyControls(ControlSet& controls) const override;
    std::optional<uint64_t> frameFor(uint64_t n) const override;
    float temperatureOf(uint64_t deviceFrame) const override;
    std::vector<std::vector<uint16_t>> images(uint64_t deviceFrame, AcqType acq) override;
    void reportEnd() override;

private:
    friend class Replay;

    std::vector<uint16_t> encode(const uint16_t* image) const;
    void reportOnce(const std::string& message);

    std::unique_ptr<ozrrec::RecordingReader> reader_;
    Model model_ = Model::OZR320;
    bool loop_ = false;
    uint32_t width_ = 0;  // of a recorded (unfolded) image
    uint32_t height_ = 0;
    uint32_t imagesPerDeviceFrame_ = 4;
    uint32_t deviceFramesPerRecorded_ = 1;
    uint64_t deviceFrames_ = 0;
    std::vector<float> temperatures_;  // per recorded frame

    std::mutex mu_;  // the cache and the message below
    uint64_t cachedIndex_ = UINT64_MAX;
    ozrrec::RecordedFrame cached_;
    bool reported_ = false;
};

}  // namespace

std::unique_ptr<Replay> Replay::openRecording(Config& config, std::string& error) {
    auto reader = ozrrec::RecordingReader::open(config.replay.file, error);
    if (!reader) return nullptr;
    return fromReader(std::move(reader), config, error);
}

std::unique_ptr<Replay> Replay::fromReader(std::unique_ptr<ozrrec::RecordingReader> reader,
                                           Config& config, std::string& error) {
    if (!reader) {
        error = "no recording";
        return nullptr;
    }
    const ozrrec::RecordingInfo& info = reader->info();
    if (reader->frameCount() == 0) {
        error = "recording " + reader->path() + ": no complete frame";
        return nullptr;
    }
    auto r = std::make_unique<RecordingReplay>();
    if (!reader->readTemperatures(r->temperatures_, error)) return nullptr;
    r->model_ = info.model == ozrrec::Model::OZR310 ? Model::OZR310 : Model::OZR320;
    r->loop_ = config.replay.loop;
    r->width_ = info.width;
    r->height_ = info.height;
    const bool hdr = info.mode == ozrrec::Mode::DIST_AMP_HDR;
    if (hdr && r->model_ == Model::OZR310) {
        r->imagesPerDeviceFrame_ = 4;
        r->deviceFramesPerRecorded_ = 3;
    } else {
        r->imagesPerDeviceFrame_ = info.dcsCount();
        r->deviceFramesPerRecorded_ = 1;
    }
    r->deviceFrames_ = reader->frameCount() * r->deviceFramesPerRecorded_;

    config.model = r->model_;
    if (r->model_ == Model::OZR310) {
        // Two halves of width x height/2 side by side.
        config.width = info.width * 2;
        config.height = info.height / 2;
    } else {
        config.width = info.width;
        config.height = info.height;
    }
    config.temperature.startC = r->temperatures_.front();
    config.temperature.timeConstantS = 0.0f;

    // The device must accept the recorded settings.
    const ControlSet controls(r->model_);
    for (auto [id, value] : recordedSettings(info)) {
        int32_t v = value;
        if (controls.validate(id, v) != 0) {
            const ControlInfo* c = controls.find(id);
            error = "recording " + reader->path() + ": " + (c ? c->name : "a control") + " " +
                    std::to_string(value) + " is outside the device's range";
            return nullptr;
        }
    }
    r->reader_ = std::move(reader);
    return r;
}

void RecordingReplay::applyControls(ControlSet& controls) const {
    const ozrrec::RecordingInfo& info = reader_->info();
    const bool hdr320 = info.mode == ozrrec::Mode::DIST_AMP_HDR && model_ == Model::OZR320;
    int32_t acq = static_cast<int32_t>(hdr320 ? AcqType::Hdr : AcqType::FourDcs);
    if (controls.validate(cid::ACQUISITION_MODE, acq) == 0)
        controls.set(cid::ACQUISITION_MODE, acq);
    for (auto [id, value] : recordedSettings(info)) {
        int32_t v = value;
        if (controls.validate(id, v) == 0) controls.set(id, v);
    }
}

std::optional<uint64_t> RecordingReplay::frameFor(uint64_t n) const {
    if (n < deviceFrames_) return n;
    if (loop_) return n % deviceFrames_;
    return std::nullopt;
}

float RecordingReplay::temperatureOf(uint64_t deviceFrame) const {
    const uint64_t recorded = deviceFrame / deviceFramesPerRecorded_;
    return recorded < temperatures_.size() ? temperatures_[recorded] : temperatures_.back();
}

std::vector<uint16_t> RecordingReplay::encode(const uint16_t* image) const {
    std::vector<uint16_t> raw(size_t{width_} * height_);
    if (model_ == Model::OZR320) {
        for (size_t i = 0; i < raw.size(); ++i)
            raw[i] = static_cast<uint16_t>(image[i] << RAW_SHIFT);
        return raw;
    }
    // The library unfolds a W x H buffer into W/2 x 2H: the left half of
    // buffer row y becomes row H + y, the right half row H - 1 - y.
    const size_t half = width_, rows = height_ / 2, rawWidth = 2 * half;
    for (size_t y = 0; y < rows; ++y) {
        const uint16_t* left = image + (rows + y) * half;
        const uint16_t* right = image + (rows - 1 - y) * half;
        uint16_t* out = raw.data() + y * rawWidth;
        for (size_t x = 0; x < half; ++x) {
            out[x] = static_cast<uint16_t>(left[x] << RAW_SHIFT);
            out[half + x] = static_cast<uint16_t>(right[x] << RAW_SHIFT);
        }
    }
    return raw;
}

std::vector<std::vector<uint16_t>> RecordingReplay::images(uint64_t deviceFrame, AcqType acq) {
    const uint32_t wanted = imagesPerFrame(acq);
    if (acq == AcqType::Grayscale || wanted == 0 || wanted > imagesPerDeviceFrame_) {
        reportOnce("the recording " + reader_->path() + " holds frames of " +
                   std::to_string(imagesPerDeviceFrame_) +
                   " DCS images; the sensor's acquisition mode " +
                   std::to_string(static_cast<int>(acq)) + " gets no images");
        return {};
    }
    std::lock_guard<std::mutex> lock(mu_);
    const uint64_t recorded = deviceFrame / deviceFramesPerRecorded_;
    if (cachedIndex_ != recorded) {
        std::string error;
        if (!reader_->read(recorded, cached_, error)) {
            cachedIndex_ = UINT64_MAX;
            if (!reported_)
                std::fprintf(stderr, "ozrsim: %s; its images are not served\n", error.c_str());
            reported_ = true;
            return {};
        }
        cachedIndex_ = recorded;
    }
    const size_t pixels = size_t{width_} * height_;
    const size_t first = (deviceFrame % deviceFramesPerRecorded_) * imagesPerDeviceFrame_;
    std::vector<std::vector<uint16_t>> out;
    out.reserve(wanted);
    for (size_t i = 0; i < wanted; ++i)
        out.push_back(encode(cached_.dcs.data() + (first + i) * pixels));
    return out;
}

void RecordingReplay::reportOnce(const std::string& message) {
    std::lock_guard<std::mutex> lock(mu_);
    if (reported_) return;
    reported_ = true;
    std::fprintf(stderr, "ozrsim: %s\n", message.c_str());
}

void RecordingReplay::reportEnd() {
    reportOnce("end of the recording " + reader_->path() + " after " +
               std::to_string(deviceFrames_ / deviceFramesPerRecorded_) +
               " frames: the sensor delivers no more frames (ozr-sim --loop replays it again)");
}

}  // namespace ozrsim

extern "C" ozrsim::Replay* ozrsim_open_recording(ozrsim::Config* config, std::string* error) {
    try {
        return ozrsim::Replay::openRecording(*config, *error).release();
    } catch (const std::exception& e) {
        *error = "recording " + config->replay.file + ": " + e.what();
        return nullptr;
    }
}
