// Record and replay through the virtual sensor. Frames are recorded from the
// live sensor with the camera in DCS4 (or HDR) mode, then the sensor serves
// the recording. The camera, unaware of it, must then see the recorded DCS
// images exactly (so the re-encoding into the driver's raw layout is the
// exact inverse of what the sensor sources undo) and, in DIST_AMP, produce
// the very distance and amplitude images that the distance and filter
// graphs produce when fed the recorded DCS images and temperatures directly.
// The camera and the graphs here are the same code (the internal library),
// the graphs fed by hand; bit-identical results therefore show that the
// replay hands the camera what was recorded, temperatures included, and
// nothing else.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "hwmon_thermometer.h"
#include "kyr/graphs/dcs2DistAmpGraph.h"
#include "kyr/graphs/filterGraph.h"
#include "kyr/sink.h"
#include "ozr/tofcam.h"
#include "ozrsim.h"
#include "recording_reader.h"
#include "recording_writer.h"

namespace {

namespace fs = std::filesystem;
using ozr::AcquisitionMode;
using ozr::ControlID;
using ozr::FrameType;

constexpr uint32_t FRAMES = 20;
constexpr int MODULATION_HZ = 20000000;

// Filters with memory (temporal, Kalman) make the comparison depend on the
// order of all frames, not only on each one.
const std::pair<ControlID, int> FILTERS[] = {
    {ControlID::MEDIAN_FILTER_ENABLE, 1},          {ControlID::TEMPORAL_FILTER_ENABLE, 1},
    {ControlID::KALMAN_FILTER_ENABLE, 1},          {ControlID::EDGE_FILTER_ENABLE, 1},
    {ControlID::INTERFERENCE_DETECTION_ENABLE, 1}, {ControlID::MIN_AMPLITUDE, 40},
};

template <typename T>
class Catcher : public Sink<T> {
public:
    explicit Catcher(Source<T>* source) { this->registerDependency(source); }
    std::shared_ptr<T> take() { return this->hasNewData() ? this->value() : nullptr; }
};

// The distance and filter graphs of DIST_AMP, fed by hand.
class DirectGraphs {
public:
    explicit DirectGraphs(int hz) : distance_(static_cast<uint32_t>(hz)) {
        Source<Image<uint16_t>>* dcs[4] = {&dcs_[0], &dcs_[1], &dcs_[2], &dcs_[3]};
        distance_.connect(dcs, &temperature_);
        filters_.connect(distance_.getDistanceSource(), distance_.getAmplitudeSource(), dcs);
        dist_ = std::make_unique<Catcher<Image<uint16_t>>>(filters_.getDistanceSource());
        amp_ = std::make_unique<Catcher<Image<uint16_t>>>(filters_.getAmplitudeSource());
    }
    void setControl(ControlID id, int value) {
        EXPECT_TRUE(distance_.setControl(id, value) == 0 || filters_.setControl(id, value) == 0);
    }
    void run(const ozrrec::RecordedFrame& f, uint32_t w, uint32_t h) {
        temperature_.fire(std::make_shared<float>(f.temperatureC));
        for (size_t i = 0; i < 4; ++i) {
            auto image = Image<uint16_t>::createNewBuffer(w, h);
            std::memcpy(image->getData(), f.dcs.data() + i * w * h, image->size());
            dcs_[i].fire(std::move(image));
        }
    }
    std::shared_ptr<Image<uint16_t>> distance() { return dist_->take(); }
    std::shared_ptr<Image<uint16_t>> amplitude() { return amp_->take(); }

private:
    Source<Image<uint16_t>> dcs_[4];
    Source<float> temperature_;
    DCS2DistAmpGraph distance_;
    FilterGraph filters_;
    std::unique_ptr<Catcher<Image<uint16_t>>> dist_, amp_;
};

struct Case {
    ozrsim::Model model;
    AcquisitionMode mode;
};

class Replay : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        path = (fs::temp_directory_path() / ("ozr-replay-" + std::to_string(getpid()) + ".h5"))
                   .string();
    }
    void TearDown() override {
        ozrsim::reset();
        fs::remove(path);
    }
    ozr::TOFSensor sensor() const {
        return GetParam().model == ozrsim::Model::OZR310 ? ozr::TOFSensor::ozr310
                                                         : ozr::TOFSensor::ozr320;
    }
    ozrrec::Model recModel() const {
        return GetParam().model == ozrsim::Model::OZR310 ? ozrrec::Model::OZR310
                                                         : ozrrec::Model::OZR320;
    }
    uint32_t dcsCount() const { return GetParam().mode == AcquisitionMode::DCS4 ? 4 : 12; }

    static void fastTiming(ozrsim::Config& c) {
        c.timing.exposureDelayUs = 200;
        c.timing.readoutUs = 50;
        c.calibration = ozrsim::Calibration::Synthetic;
    }

    // Setting up the scene at a new frequency can take longer than an image
    // time-out: one frame is rendered (and dropped) before the camera's first.
    void warmUp() {
        const int fd = ::open(
            GetParam().model == ozrsim::Model::OZR310 ? "/run/ozr310/subdev" : "/run/ozr320/subdev",
            O_RDWR);
        ASSERT_GE(fd, 0);
        v4l2_control trigger{ozrsim::cid::TRIGGER_SHUTTER, 1};
        EXPECT_EQ(::ioctl(fd, VIDIOC_S_CTRL, &trigger), 0);
        ::close(fd);
        ASSERT_TRUE(ozrsim::waitIdle(std::chrono::seconds(20)));
    }

    // Records FRAMES frames of the live sensor ("boxes", warming up quickly
    // so that the temperatures differ) and keeps them in `recorded`.
    void record() {
        ozrsim::Config c;
        c.model = GetParam().model;
        c.scene.name = "boxes";
        // A quarter of the default format: quick to render on a busy machine.
        ozrsim::defaultFormat(c.model, c.width, c.height);
        c.width /= 2;
        c.height /= 2;
        c.temperature.timeConstantS = 2.0f;
        fastTiming(c);
        ASSERT_EQ(ozrsim::configure(c), 0);
        ozr::TOFCam cam(sensor());
        ASSERT_EQ(cam.open(), 0);
        ASSERT_EQ(cam.setControl(ControlID::ACQUISITION_MODE, GetParam().mode), 0);
        ASSERT_EQ(cam.setControl(ControlID::MODULATION_FREQ_HZ, MODULATION_HZ), 0);
        ASSERT_EQ(cam.setControl(ControlID::HDR_INTEGRATION_TIME2_US, 800), 0);
        ASSERT_NO_FATAL_FAILURE(warmUp());
        auto thermometer = ozrrec::HwmonThermometer::open(recModel());
        ASSERT_TRUE(thermometer);
        ozrrec::RecordingInfo info;
        info.model = recModel();
        info.mode = dcsCount() == 4 ? ozrrec::Mode::DCS4 : ozrrec::Mode::DIST_AMP_HDR;
        info.libraryVersion = ozrrec::builtLibraryVersion();
        const std::pair<ControlID, int32_t*> settings[] = {
            {ControlID::MODULATION_FREQ_HZ, &info.modulationFrequencyHz},
            {ControlID::EXPOSURE_US, &info.exposureUs},
            {ControlID::GAIN, &info.gain},
            {ControlID::HDR_INTEGRATION_TIME1_US, &info.hdrIntegrationTimesUs[0]},
            {ControlID::HDR_INTEGRATION_TIME2_US, &info.hdrIntegrationTimesUs[1]},
            {ControlID::HDR_INTEGRATION_TIME3_US, &info.hdrIntegrationTimesUs[2]},
        };
        for (auto [id, field] : settings) {
            int v = 0;
            ASSERT_EQ(cam.getControl(id, v), 0);
            *field = v;
        }
        std::unique_ptr<ozrrec::RecordingWriter> writer;
        std::string error;
        for (uint32_t n = 0; n < FRAMES; ++n) {
            // The live sensor renders each frame; on a busy machine a
            // capture may time out, and the recording takes the next one.
            std::unique_ptr<ozr::TOFFrame> frame;
            int rc = cam.captureFrame(frame);
            for (int retry = 0; rc != 0 && retry < 3; ++retry) rc = cam.captureFrame(frame);
            ASSERT_EQ(rc, 0);
            if (!writer) {
                info.width = frame->getWidth();
                info.height = frame->getHeight();
                writer = ozrrec::RecordingWriter::create(path, info, error);
                ASSERT_TRUE(writer) << error;
            }
            ozrrec::RecordedFrame f;
            f.frameNumber = frame->getMetadata().frameNumber;
            f.timestampMs = frame->getMetadata().timestamp;
            ASSERT_TRUE(thermometer->read(f.temperatureC));
            const size_t pixels = size_t{info.width} * info.height;
            for (uint32_t i = 0; i < dcsCount(); ++i) {
                const uint16_t* dcs = frame->getData<uint16_t>(FrameType::DCS, i);
                ASSERT_NE(dcs, nullptr);
                f.dcs.insert(f.dcs.end(), dcs, dcs + pixels);
            }
            ASSERT_TRUE(writer->append(f, error)) << error;
            recorded.push_back(std::move(f));
        }
        this->info = info;
        // The die warmed during the recording: the replay has distinct
        // temperatures to carry.
        EXPECT_NE(recorded.front().temperatureC, recorded.back().temperatureC);
        ASSERT_TRUE(writer->close(error)) << error;
        ozrsim::reset();
    }

    void replay(bool loop) {
        ozrsim::Config c;
        c.replay.file = path;
        c.replay.loop = loop;
        fastTiming(c);
        ASSERT_EQ(ozrsim::configure(c), 0);
    }

    std::string path;
    ozrrec::RecordingInfo info;
    std::vector<ozrrec::RecordedFrame> recorded;
};

std::string caseName(const ::testing::TestParamInfo<Case>& p) {
    return std::string(p.param.model == ozrsim::Model::OZR310 ? "OZR310" : "OZR320") +
           (p.param.mode == AcquisitionMode::DCS4 ? "Dcs4" : "Hdr");
}

// The camera sees the recorded DCS images, device controls and model; at the
// end the sensor delivers nothing more, unless looping.
TEST_P(Replay, TheCameraSeesTheRecordedFrames) {
    ASSERT_NO_FATAL_FAILURE(record());
    for (const bool loop : {false, true}) {
        ASSERT_NO_FATAL_FAILURE(replay(loop));
        ozr::TOFCam cam(ozr::TOFSensor::autodetect);
        ASSERT_EQ(cam.open(), 0);
        ASSERT_EQ(cam.setControl(ControlID::ACQUISITION_MODE, GetParam().mode), 0);
        auto thermometer = ozrrec::HwmonThermometer::open(recModel());
        ASSERT_TRUE(thermometer);
        int hz = 0, t2 = 0;
        EXPECT_EQ(cam.getControl(ControlID::MODULATION_FREQ_HZ, hz), 0);
        EXPECT_EQ(hz, info.modulationFrequencyHz);
        // The OZR310's HDR times are the camera's own, not the device's.
        if (GetParam().model == ozrsim::Model::OZR320) {
            EXPECT_EQ(cam.getControl(ControlID::HDR_INTEGRATION_TIME2_US, t2), 0);
            EXPECT_EQ(t2, 800);
        }
        for (uint32_t n = 0; n < FRAMES + 1; ++n) {
            std::unique_ptr<ozr::TOFFrame> frame;
            const int rc = cam.captureFrame(frame);
            if (n == FRAMES && !loop) {
                EXPECT_NE(rc, 0) << "a frame after the end of the recording";
                break;
            }
            ASSERT_EQ(rc, 0) << "frame " << n;
            ASSERT_EQ(frame->getWidth(), info.width);
            ASSERT_EQ(frame->getHeight(), info.height);
            const ozrrec::RecordedFrame& want = recorded[n % FRAMES];
            // The channel holds the temperature of the frame last triggered.
            float celsius = 0.0f;
            ASSERT_TRUE(thermometer->read(celsius));
            EXPECT_EQ(celsius, want.temperatureC) << "frame " << n;
            const size_t pixels = size_t{info.width} * info.height;
            for (uint32_t i = 0; i < dcsCount(); ++i) {
                const uint16_t* dcs = frame->getData<uint16_t>(FrameType::DCS, i);
                ASSERT_NE(dcs, nullptr);
                ASSERT_EQ(std::memcmp(dcs, want.dcs.data() + i * pixels, pixels * 2), 0)
                    << "frame " << n << " DCS " << i;
            }
        }
        cam.close();
        ozrsim::reset();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Models, Replay,
    ::testing::Values(Case{ozrsim::Model::OZR310, AcquisitionMode::DCS4},
                      Case{ozrsim::Model::OZR320, AcquisitionMode::DCS4},
                      Case{ozrsim::Model::OZR310, AcquisitionMode::DIST_AMP_HDR},
                      Case{ozrsim::Model::OZR320, AcquisitionMode::DIST_AMP_HDR}),
    caseName);

class ReplayDistance : public Replay {};

// DIST_AMP of the replayed frames, with calibration and filters on, equals
// the graphs run directly on the recording, frame by frame.
TEST_P(ReplayDistance, EqualsTheGraphsOnTheRecordedImages) {
    ASSERT_NO_FATAL_FAILURE(record());
    ASSERT_NO_FATAL_FAILURE(replay(false));
    ozr::TOFCam cam(ozr::TOFSensor::autodetect);
    ASSERT_EQ(cam.open(), 0);
    DirectGraphs direct(info.modulationFrequencyHz);
    for (auto [id, value] : FILTERS) {
        ASSERT_EQ(cam.setControl(id, value), 0);
        direct.setControl(id, value);
    }
    // Read back from the file, not from memory: what the replay serves.
    std::string error;
    auto reader = ozrrec::RecordingReader::open(path, error);
    ASSERT_TRUE(reader) << error;
    ASSERT_EQ(reader->frameCount(), FRAMES);
    size_t valid = 0;
    for (uint32_t n = 0; n < FRAMES; ++n) {
        std::unique_ptr<ozr::TOFFrame> frame;
        ASSERT_EQ(cam.captureFrame(frame), 0) << "frame " << n;
        ozrrec::RecordedFrame f;
        ASSERT_TRUE(reader->read(n, f, error)) << error;
        direct.run(f, info.width, info.height);
        const auto dist = direct.distance();
        const auto amp = direct.amplitude();
        ASSERT_TRUE(dist && amp);
        const size_t bytes = dist->size();
        EXPECT_EQ(
            std::memcmp(frame->getData<uint16_t>(FrameType::DISTANCE), dist->getData(), bytes), 0)
            << "distance of frame " << n;
        EXPECT_EQ(
            std::memcmp(frame->getData<uint16_t>(FrameType::AMPLITUDE), amp->getData(), bytes), 0)
            << "amplitude of frame " << n;
        for (size_t i = 0; i < dist->pixelCount(); ++i) valid += dist->getData()[i] < 64000;
    }
    // The comparison covers measured distances, not only error codes.
    EXPECT_GT(valid, FRAMES * size_t{info.width} * info.height / 2);
}

INSTANTIATE_TEST_SUITE_P(Models, ReplayDistance,
                         ::testing::Values(Case{ozrsim::Model::OZR310, AcquisitionMode::DCS4},
                                           Case{ozrsim::Model::OZR320, AcquisitionMode::DCS4}),
                         caseName);

}  // namespace
