// V4l2Sensor against the virtual sensor driver: opening and initialising,
// streaming, frame copies, controls with the acquisition mode translation,
// and every failure of the device with its message and status.
#include "kyr/sensors/v4l2Sensor.h"

#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ozrsim.h"
#include "scene.h"
#include "support/log_capture.h"
#include "support/sim_config.h"

namespace {

using kyr::platform::LogLevel;
using ozr::AcquisitionMode;
using ozr::ControlID;
using testsupport::LogCapture;
using Img = Image<uint16_t>;

constexpr const char* VIDEO_320 = "/run/ozr320/video";
constexpr const char* SUBDEV_320 = "/run/ozr320/subdev";
constexpr const char* VIDEO_310 = "/run/ozr310/video";
constexpr const char* SUBDEV_310 = "/run/ozr310/subdev";

// Text of an errno value as the library prints it.
std::string text(int err) {
    return std::strerror(err);
}

class V4l2SensorSim : public ::testing::Test {
protected:
    // A small sensor and fast frames.
    static ozrsim::Config config(ozrsim::Model model = ozrsim::Model::OZR320) {
        ozrsim::Config c = testsupport::fastSimConfig(model);
        c.width = model == ozrsim::Model::OZR320 ? 32 : 64;
        c.height = model == ozrsim::Model::OZR320 ? 24 : 12;
        return c;
    }
    void start(const ozrsim::Config& c) {
        cfg = c;
        ASSERT_EQ(ozrsim::configure(c), 0);
    }
    void TearDown() override { ozrsim::reset(); }

    std::unique_ptr<V4l2Sensor> acquire320(size_t nBuffers = 4) {
        return V4l2Sensor::acquire(VIDEO_320, SUBDEV_320, nBuffers);
    }
    static void fault(unsigned long request, int error, uint32_t after = 0, uint32_t times = 0) {
        ozrsim::FaultConfig f;
        f.ioctls.push_back({request, error, after, times});
        ozrsim::setFaults(f);
    }
    std::shared_ptr<Img> newImage() const { return Img::createNewBuffer(cfg.width, cfg.height); }

    ozrsim::Config cfg;
};

// --- opening, initialising, closing ---

TEST_F(V4l2SensorSim, AcquireOpensInitialisesAndMapsTheBuffers) {
    start(config());
    LogCapture log;
    auto dev = acquire320(12);
    ASSERT_TRUE(dev);
    EXPECT_TRUE(dev->isOpened());
    EXPECT_EQ(dev->bufferCount(), 12u);
    const auto c = ozrsim::counters();
    EXPECT_EQ(c.openVideo, 1);
    EXPECT_EQ(c.openSubdev, 1);
    EXPECT_EQ(c.buffers, 12u);
    EXPECT_EQ(c.mappings, 12);
    EXPECT_FALSE(c.streaming);
    EXPECT_EQ(ozrsim::controlValue(ozrsim::cid::ACQUISITION_MODE), OZR_ACQUISITION_TYPE_4DCS);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].level, LogLevel::LOG_LEVEL_INFO);
    EXPECT_EQ(log.lines()[0].text, "Current format: width=32, height=24, pitch=64");

    dev.reset();  // the destructor closes
    const auto after = ozrsim::counters();
    EXPECT_EQ(after.openVideo, 0);
    EXPECT_EQ(after.openSubdev, 0);
    EXPECT_EQ(after.mappings, 0);
}

TEST_F(V4l2SensorSim, DefaultFormatsOfBothModels) {
    ozrsim::Config c = config(ozrsim::Model::OZR310);
    c.width = c.height = 0;
    start(c);
    LogCapture log;
    auto dev = V4l2Sensor::acquire(VIDEO_310, SUBDEV_310, 4);
    ASSERT_TRUE(dev);
    EXPECT_TRUE(log.contains("Current format: width=640, height=120, pitch=1280"));
    ozr::VideoFormat f{7, 9, 0, 0, 0};
    ASSERT_EQ(dev->getFormat(f), 0);
    EXPECT_EQ(f.left, 7u);  // not the device's business
    EXPECT_EQ(f.top, 9u);
    EXPECT_EQ(f.width, 640u);
    EXPECT_EQ(f.height, 120u);
    EXPECT_EQ(f.pitch, 1280u);
}

TEST_F(V4l2SensorSim, MissingNodesGiveNoDevice) {
    start(config(ozrsim::Model::OZR310));
    LogCapture log;
    EXPECT_FALSE(acquire320());
    EXPECT_EQ(log.count("Failed to open video device or subdevice"), 1u);
    EXPECT_EQ(log.count("Failed to open sensor device: " + text(1)), 1u);
    EXPECT_EQ(log.countLevel(LogLevel::LOG_LEVEL_ERROR), 2u);
}

TEST_F(V4l2SensorSim, HalfSuccessfulOpenKeepsNoDescriptor) {
    start(config());
    for (auto [video, subdev] :
         {std::pair{VIDEO_320, "/run/ozr320/none"}, std::pair{"/run/ozr320/none", SUBDEV_320}}) {
        V4l2Sensor dev(video, subdev);
        LogCapture log;
        EXPECT_EQ(dev.open(), -1);
        EXPECT_FALSE(dev.isOpened());
        EXPECT_EQ(log.count("Failed to open video device or subdevice"), 1u);
        const auto c = ozrsim::counters();
        EXPECT_EQ(c.openVideo, 0) << video;
        EXPECT_EQ(c.openSubdev, 0) << subdev;
        EXPECT_EQ(dev.close(), -114);
    }
}

TEST_F(V4l2SensorSim, CloseTwiceAndCloseUnopened) {
    start(config());
    V4l2Sensor never(VIDEO_320, SUBDEV_320);
    EXPECT_EQ(never.close(), -114);
    auto dev = acquire320();
    ASSERT_TRUE(dev);
    EXPECT_EQ(dev->close(), 0);
    EXPECT_FALSE(dev->isOpened());
    EXPECT_EQ(ozrsim::counters().mappings, 0);
    EXPECT_EQ(dev->close(), -114);
    EXPECT_EQ(dev->close(), -114);
}

TEST_F(V4l2SensorSim, OpeningAnOpenDeviceOpensNothingMore) {
    start(config());
    V4l2Sensor dev(VIDEO_320, SUBDEV_320);
    ASSERT_EQ(dev.open(), 0);
    ASSERT_EQ(dev.open(), 0);
    EXPECT_EQ(ozrsim::counters().openVideo, 1);
    EXPECT_EQ(ozrsim::counters().openSubdev, 1);
}

TEST_F(V4l2SensorSim, InitializeOpensAClosedDeviceAndMayBeRepeated) {
    start(config());
    V4l2Sensor dev(VIDEO_320, SUBDEV_320);
    ASSERT_EQ(dev.initialize(4), 0);
    EXPECT_TRUE(dev.isOpened());
    // Again, with buffers mapped: the format may only change without them.
    ASSERT_EQ(dev.initialize(6), 0);
    EXPECT_EQ(ozrsim::counters().buffers, 6u);
    EXPECT_EQ(ozrsim::counters().mappings, 6);

    V4l2Sensor missing("/run/ozr320/none", SUBDEV_320);
    LogCapture log;
    EXPECT_EQ(missing.initialize(4), -1);
    EXPECT_EQ(log.count("Failed to open devices during initialization"), 1u);
}

TEST_F(V4l2SensorSim, PrepareBuffersZeroReleasesThemAndTooManyAreRefused) {
    start(config());
    auto dev = acquire320(4);
    ASSERT_TRUE(dev);
    EXPECT_EQ(dev->prepareBuffers(0), 0);
    EXPECT_EQ(ozrsim::counters().buffers, 0u);
    EXPECT_EQ(ozrsim::counters().mappings, 0);
    LogCapture log;
    EXPECT_EQ(dev->prepareBuffers(V4l2Sensor::MAX_BUFFERS + 1), -22);
    EXPECT_EQ(log.countLevel(LogLevel::LOG_LEVEL_ERROR), 1u);
    EXPECT_EQ(dev->prepareBuffers(V4l2Sensor::MAX_BUFFERS), 0);
    EXPECT_EQ(ozrsim::counters().mappings, static_cast<int>(V4l2Sensor::MAX_BUFFERS));
}

// --- streaming and frames ---

TEST_F(V4l2SensorSim, StreamsOnAndOffManyTimes) {
    start(config());
    auto dev = acquire320(4);
    ASSERT_TRUE(dev);
    LogCapture log;
    for (int i = 0; i < 40; ++i) {
        ASSERT_EQ(dev->setStreaming(true), 0) << i;
        ASSERT_TRUE(ozrsim::counters().streaming);
        ASSERT_EQ(dev->setControl(ControlID::TRIGGER_SHUTTER, 1), 0);
        for (int k = 0; k < 4; ++k) {
            auto img = newImage();
            ASSERT_EQ(dev->nextFrame(img, 1000), 0) << i << " " << k;
        }
        ASSERT_EQ(dev->setStreaming(false), 0) << i;
        ASSERT_FALSE(ozrsim::counters().streaming);
    }
    EXPECT_TRUE(log.lines().empty());
    const auto c = ozrsim::counters();
    EXPECT_EQ(c.streamOns, 40u);
    EXPECT_EQ(c.imagesDelivered, 160u);
    EXPECT_EQ(c.imagesDropped, 0u);
    EXPECT_EQ(c.mappings, 4);
}

TEST_F(V4l2SensorSim, NextFrameCopiesTheDriversImagesAndRequeuesTheBuffers) {
    start(config());
    auto dev = acquire320(4);
    ASSERT_TRUE(dev);
    ASSERT_EQ(dev->setStreaming(true), 0);
    ozrsim::Renderer reference(cfg.scene, cfg.seed);
    std::vector<std::shared_ptr<Img>> kept;
    std::vector<std::vector<uint16_t>> expected;
    // Five frames of four images through four buffers: each buffer is
    // re-queued and filled again.
    for (int frame = 0; frame < 5; ++frame) {
        ASSERT_EQ(dev->setControl(ControlID::TRIGGER_SHUTTER, 1), 0);
        for (int k = 0; k < 4; ++k) {
            auto img = newImage();
            ASSERT_EQ(dev->nextFrame(img, 1000), 0) << frame << " " << k;
            kept.push_back(img);
        }
        const auto images = reference.renderFrame(ozrsim::lastState());
        ASSERT_EQ(images.size(), 4u);
        expected.insert(expected.end(), images.begin(), images.end());
    }
    // Every copy still holds its own frame after the buffers were reused.
    ASSERT_EQ(kept.size(), expected.size());
    for (size_t i = 0; i < kept.size(); ++i) {
        ASSERT_EQ(expected[i].size(), kept[i]->pixelCount());
        EXPECT_TRUE(std::equal(expected[i].begin(), expected[i].end(), kept[i]->getData()))
            << "image " << i;
    }
    EXPECT_NE(kept[0]->getData()[0], kept[2]->getData()[0]);  // different phases
    EXPECT_EQ(ozrsim::counters().imagesDropped, 0u);
}

TEST_F(V4l2SensorSim, NoFrameWithinTheTimeOutIsMinus110) {
    start(config());
    auto dev = acquire320();
    ASSERT_TRUE(dev);
    ASSERT_EQ(dev->setStreaming(true), 0);
    LogCapture log;
    auto img = newImage();
    EXPECT_EQ(dev->nextFrame(img, 30), -110);  // nothing triggered
    EXPECT_EQ(log.count("Failed to dequeue buffer: -110"), 1u);
    EXPECT_EQ(log.lines().size(), 1u);

    // A stalled sensor accepts the trigger but delivers nothing.
    ozrsim::FaultConfig stall;
    stall.stall = true;
    ozrsim::setFaults(stall);
    ASSERT_EQ(dev->setControl(ControlID::TRIGGER_SHUTTER, 1), 0);
    EXPECT_EQ(dev->nextFrame(img, 30), -110);
}

TEST_F(V4l2SensorSim, NextFrameWithoutStreamIsBusy) {
    start(config());
    auto dev = acquire320();
    ASSERT_TRUE(dev);
    LogCapture log;
    auto img = newImage();
    // The node reports an error, not data, while the stream is off.
    EXPECT_EQ(dev->nextFrame(img, 30), -16);
    EXPECT_EQ(log.count("Failed to dequeue buffer: -16"), 1u);
}

TEST_F(V4l2SensorSim, NextFrameWithoutImageTouchesNothing) {
    start(config());
    auto dev = acquire320();
    ASSERT_TRUE(dev);
    ASSERT_EQ(dev->setStreaming(true), 0);
    ASSERT_EQ(dev->setControl(ControlID::TRIGGER_SHUTTER, 1), 0);
    ASSERT_TRUE(ozrsim::waitIdle(std::chrono::milliseconds(2000)));
    LogCapture log;
    std::shared_ptr<Img> none;
    EXPECT_EQ(dev->nextFrame(none, 30), -22);
    EXPECT_TRUE(log.lines().empty());
    // The frame is still there for the next call.
    auto img = newImage();
    EXPECT_EQ(dev->nextFrame(img, 30), 0);
}

TEST_F(V4l2SensorSim, FramesOfTheWrongSizeAreRefusedAndTheirBuffersRequeued) {
    start(config());
    auto dev = acquire320(4);
    ASSERT_TRUE(dev);
    ASSERT_EQ(dev->setStreaming(true), 0);
    const size_t bytes = cfg.width * cfg.height * 2;
    for (int32_t delta : {2, 4096, -2, -static_cast<int32_t>(bytes)}) {
        ozrsim::FaultConfig f;
        f.bytesusedDelta = delta;
        ozrsim::setFaults(f);
        ASSERT_EQ(dev->setControl(ControlID::TRIGGER_SHUTTER, 1), 0);
        for (int k = 0; k < 4; ++k) {
            LogCapture log;
            auto img = newImage();
            std::fill(img->getData(), img->getData() + img->pixelCount(), uint16_t{0xBEEF});
            EXPECT_EQ(dev->nextFrame(img, 1000), -22) << delta;
            const std::string msg = "Frame of " + std::to_string(bytes + delta) +
                                    " bytes does not fit an image of " + std::to_string(bytes) +
                                    " bytes; frame dropped";
            EXPECT_EQ(log.count(msg), 1u) << delta;
            EXPECT_EQ(log.lines().size(), 1u);
            // Nothing was copied into the image.
            EXPECT_TRUE(std::all_of(img->getData(), img->getData() + img->pixelCount(),
                                    [](uint16_t v) { return v == 0xBEEF; }));
        }
    }
    // All four buffers went back to the driver: good frames flow again.
    ozrsim::setFaults({});
    for (int frame = 0; frame < 2; ++frame) {
        ASSERT_EQ(dev->setControl(ControlID::TRIGGER_SHUTTER, 1), 0);
        for (int k = 0; k < 4; ++k) {
            auto img = newImage();
            EXPECT_EQ(dev->nextFrame(img, 1000), 0);
        }
    }
    EXPECT_EQ(ozrsim::counters().imagesDropped, 0u);
}

TEST_F(V4l2SensorSim, ImageOfAnotherSizeThanTheFrameIsRefused) {
    start(config());
    auto dev = acquire320(4);
    ASSERT_TRUE(dev);
    ASSERT_EQ(dev->setStreaming(true), 0);
    ASSERT_EQ(dev->setControl(ControlID::TRIGGER_SHUTTER, 1), 0);
    LogCapture log;
    auto small = Img::createNewBuffer(cfg.width, cfg.height - 1);
    EXPECT_EQ(dev->nextFrame(small, 1000), -22);
    auto large = Img::createNewBuffer(cfg.width, cfg.height + 1);
    EXPECT_EQ(dev->nextFrame(large, 1000), -22);
    EXPECT_EQ(log.countLevel(LogLevel::LOG_LEVEL_ERROR), 2u);
    auto right = newImage();
    EXPECT_EQ(dev->nextFrame(right, 1000), 0);
}

TEST_F(V4l2SensorSim, BufferTheLibraryDoesNotHoldIsRefused) {
    start(config());
    auto dev = acquire320(4);
    ASSERT_TRUE(dev);
    ASSERT_EQ(dev->setStreaming(true), 0);
    // Re-preparing two buffers while streaming fails in the driver and
    // leaves the library with two unmapped entries while the driver still
    // streams into its four buffers.
    {
        LogCapture log;
        EXPECT_EQ(dev->prepareBuffers(2), -EBUSY);
        EXPECT_EQ(log.count("Failed to request buffers: " + text(EBUSY)), 1u);
    }
    ASSERT_EQ(dev->bufferCount(), 2u);
    ASSERT_EQ(dev->setControl(ControlID::TRIGGER_SHUTTER, 1), 0);
    LogCapture log;
    for (uint32_t k = 0; k < 4; ++k) {
        auto img = newImage();
        EXPECT_EQ(dev->nextFrame(img, 1000), -22) << k;
        EXPECT_EQ(log.count("Driver returned buffer " + std::to_string(k) +
                            ", but only 2 buffers are mapped"),
                  1u);
    }
}

// --- controls ---

TEST_F(V4l2SensorSim, DeviceControlsReachTheirDriverControls) {
    start(config());
    auto dev = acquire320();
    ASSERT_TRUE(dev);
    struct Case {
        ControlID id;
        uint32_t cid;
        int32_t value;
    };
    for (const Case& c :
         {Case{ControlID::GAIN, 0x980913, 3}, Case{ControlID::EXPOSURE_US, 0x980911, 750},
          Case{ControlID::MODULATION_FREQ_HZ, 0x981903, 20000000},
          Case{ControlID::HDR_INTEGRATION_TIME1_US, 0x981905, 111},
          Case{ControlID::HDR_INTEGRATION_TIME2_US, 0x981906, 222},
          Case{ControlID::HDR_INTEGRATION_TIME3_US, 0x981907, 3333},
          Case{ControlID::LED_DELAY_STEP, 0x981909, 17}}) {
        EXPECT_EQ(V4l2Sensor::controlIdMap.at(c.id), c.cid);
        ASSERT_EQ(dev->setControl(c.id, c.value), 0) << c.cid;
        EXPECT_EQ(ozrsim::controlValue(c.cid), c.value) << c.cid;
        int back = -1;
        ASSERT_EQ(dev->getControl(c.id, back), 0) << c.cid;
        EXPECT_EQ(back, c.value) << c.cid;
    }
    const uint64_t before = ozrsim::counters().triggers;
    ASSERT_EQ(dev->setControl(ControlID::TRIGGER_SHUTTER, 1), 0);
    EXPECT_EQ(ozrsim::counters().triggers, before + 1);
    EXPECT_EQ(V4l2Sensor::controlIdMap.size(), 9u);
}

TEST_F(V4l2SensorSim, OtherControlsAreNoDeviceControls) {
    start(config());
    auto dev = acquire320();
    ASSERT_TRUE(dev);
    LogCapture log;
    EXPECT_EQ(dev->setControl(ControlID::MIN_AMPLITUDE, 5), -22);
    EXPECT_TRUE(log.lines().empty());
    int v = 42;
    EXPECT_EQ(dev->getControl(ControlID::MIN_AMPLITUDE, v), -22);
    EXPECT_EQ(v, 42);
    EXPECT_EQ(log.count("Invalid control ID: 16"), 1u);
    EXPECT_EQ(dev->getControl(ControlID::KALMAN_FILTER_ENABLE, v), -22);
    EXPECT_EQ(log.count("Invalid control ID: 25"), 1u);
}

TEST_F(V4l2SensorSim, AcquisitionModeIsTranslatedBothWays) {
    start(config());
    auto dev = acquire320();
    ASSERT_TRUE(dev);
    struct Case {
        AcquisitionMode mode;
        int32_t driver;
        AcquisitionMode readBack;
    };
    for (const Case& c : {Case{AcquisitionMode::DCS4, 0, AcquisitionMode::DIST_AMP},
                          Case{AcquisitionMode::GRAYSCALE, 1, AcquisitionMode::GRAYSCALE},
                          Case{AcquisitionMode::DIST_AMP_HDR, 2, AcquisitionMode::DIST_AMP_HDR},
                          Case{AcquisitionMode::DIST_AMP, 0, AcquisitionMode::DIST_AMP}}) {
        ASSERT_EQ(dev->setControl(ControlID::ACQUISITION_MODE, static_cast<int32_t>(c.mode)), 0);
        EXPECT_EQ(ozrsim::controlValue(ozrsim::cid::ACQUISITION_MODE), c.driver);
        int back = -1;
        ASSERT_EQ(dev->getControl(ControlID::ACQUISITION_MODE, back), 0);
        EXPECT_EQ(back, static_cast<int>(c.readBack));
    }
}

TEST_F(V4l2SensorSim, ModesWithoutDriverValueAreRefusedWithoutThrowing) {
    start(config());
    auto dev = acquire320();
    ASSERT_TRUE(dev);
    ASSERT_EQ(dev->setControl(ControlID::ACQUISITION_MODE,
                              static_cast<int32_t>(AcquisitionMode::GRAYSCALE)),
              0);
    for (int32_t value : {3 /* TEST_PATTERN */, 5, 255, 256, 257, -1, INT32_MIN}) {
        LogCapture log;
        EXPECT_EQ(dev->setControl(ControlID::ACQUISITION_MODE, value), -22) << value;
        EXPECT_EQ(log.count("Acquisition mode " + std::to_string(value) +
                            " is not supported by the device"),
                  1u);
        EXPECT_EQ(ozrsim::controlValue(ozrsim::cid::ACQUISITION_MODE),
                  OZR_ACQUISITION_TYPE_GRAYSCALE);
    }
}

TEST_F(V4l2SensorSim, RefusedControlValuesAreLoggedWithTheSystemText) {
    start(config(ozrsim::Model::OZR310));
    auto dev = V4l2Sensor::acquire(VIDEO_310, SUBDEV_310, 4);
    ASSERT_TRUE(dev);
    LogCapture log;
    // The OZR310's driver has no HDR mode of its own. Values the driver
    // refuses, out of range as well, are refused device controls.
    EXPECT_EQ(dev->setControl(ControlID::ACQUISITION_MODE,
                              static_cast<int32_t>(AcquisitionMode::DIST_AMP_HDR)),
              -EINVAL);
    EXPECT_EQ(log.count("Failed to set control 1: " + text(EINVAL)), 1u);
    EXPECT_EQ(dev->setControl(ControlID::EXPOSURE_US, 20000), -EINVAL);
    EXPECT_EQ(log.count("Failed to set control 4: " + text(ERANGE)), 1u);
    EXPECT_EQ(ozrsim::controlValue(ozrsim::cid::EXPOSURE), 500);
}

// --- injected driver failures ---

struct InitFault {
    unsigned long request;
    uint32_t after;
    std::vector<std::string> messages;
};

TEST_F(V4l2SensorSim, EveryInitialisationFailureIsLoggedAndGivesNoDevice) {
    const std::string eio = text(EIO);  // a failed request's status is its negated errno
    const std::vector<InitFault> cases{
        {VIDIOC_S_CTRL,
         0,
         {"Failed to set control 1: " + eio, "Failed to set acquisition mode: " + eio,
          "Failed to initialize sensor device: " + eio}},
        {VIDIOC_G_FMT,
         0,
         {"Failed to get format: " + eio, "Failed to get format: " + eio,
          "Failed to initialize sensor device: " + eio}},
        {VIDIOC_G_FMT,
         1,  // the read-back inside setFormat
         {"Failed to get format: " + eio, "Failed to set format: " + eio,
          "Failed to initialize sensor device: " + eio}},
        {VIDIOC_S_FMT,
         0,
         {"Failed to set format: " + eio, "Failed to set format: " + eio,
          "Failed to initialize sensor device: " + eio}},
        {VIDIOC_REQBUFS,
         0,
         {"Failed to request buffers: " + eio, "Failed to prepare buffers: " + eio,
          "Failed to initialize sensor device: " + eio}},
        {VIDIOC_QUERYBUF,
         2,
         {"Failed to query buffer 2: " + eio, "Failed to prepare buffers: " + eio,
          "Failed to initialize sensor device: " + eio}},
    };
    for (const InitFault& c : cases) {
        ozrsim::Config conf = config();
        conf.faults.ioctls.push_back({c.request, EIO, c.after, 0});
        start(conf);
        LogCapture log;
        EXPECT_FALSE(acquire320(4)) << c.messages[0];
        std::vector<std::string> errors;
        for (const auto& l : log.lines()) {
            if (l.level == LogLevel::LOG_LEVEL_ERROR) errors.push_back(l.text);
        }
        EXPECT_EQ(errors, c.messages);
        // Nothing stays open or mapped.
        const auto counters = ozrsim::counters();
        EXPECT_EQ(counters.openVideo, 0) << c.messages[0];
        EXPECT_EQ(counters.mappings, 0) << c.messages[0];
        ozrsim::reset();
    }
}

TEST_F(V4l2SensorSim, StreamStartAndStopFailures) {
    start(config());
    auto dev = acquire320(4);
    ASSERT_TRUE(dev);
    {
        fault(VIDIOC_QBUF, EIO, 1);
        LogCapture log;
        EXPECT_EQ(dev->setStreaming(true), -EIO);
        EXPECT_EQ(log.lines().size(), 2u);
        EXPECT_EQ(log.count("Failed to queue buffer 1: " + text(EIO)), 1u);
        EXPECT_EQ(log.count("Failed to queue buffers before starting stream: " + text(EIO)), 1u);
    }
    // Reset the half-queued buffers by re-preparing them.
    ozrsim::setFaults({});
    ASSERT_EQ(dev->prepareBuffers(4), 0);
    {
        fault(VIDIOC_STREAMON, EIO);
        LogCapture log;
        EXPECT_EQ(dev->setStreaming(true), -EIO);
        EXPECT_EQ(log.count("Failed to start streaming: " + text(EIO)), 1u);
        EXPECT_EQ(log.lines().size(), 1u);
    }
    ozrsim::setFaults({});
    ASSERT_EQ(dev->prepareBuffers(4), 0);
    ASSERT_EQ(dev->setStreaming(true), 0);
    {
        fault(VIDIOC_STREAMOFF, EIO);
        LogCapture log;
        EXPECT_EQ(dev->setStreaming(false), -EIO);
        EXPECT_EQ(log.count("Failed to stop streaming: " + text(EIO)), 1u);
    }
    ozrsim::setFaults({});
    EXPECT_EQ(dev->setStreaming(false), 0);
}

TEST_F(V4l2SensorSim, DequeueAndRequeueFailures) {
    start(config());
    auto dev = acquire320(4);
    ASSERT_TRUE(dev);
    ASSERT_EQ(dev->setStreaming(true), 0);
    ASSERT_EQ(dev->setControl(ControlID::TRIGGER_SHUTTER, 1), 0);
    ASSERT_TRUE(ozrsim::waitIdle(std::chrono::milliseconds(2000)));
    {
        fault(VIDIOC_DQBUF, EIO, 0, 1);
        LogCapture log;
        auto img = newImage();
        EXPECT_EQ(dev->nextFrame(img, 1000), -EIO);
        // The request's own message, then the frame's, both with the status.
        EXPECT_EQ(log.count("Failed to dequeue buffer: -5"), 2u);
    }
    {
        fault(VIDIOC_DQBUF, EAGAIN, 0, 1);
        LogCapture log;
        auto img = newImage();
        EXPECT_EQ(dev->nextFrame(img, 1000), -EAGAIN);
        EXPECT_EQ(log.count("No buffer available to dequeue (EAGAIN)"), 1u);
        EXPECT_EQ(log.count("Failed to dequeue buffer: -11"), 1u);
    }
    {
        fault(VIDIOC_QBUF, EIO, 0, 1);
        LogCapture log;
        auto img = newImage();
        EXPECT_EQ(dev->nextFrame(img, 1000), -EIO);
        EXPECT_EQ(log.count("Failed to enqueue buffer: " + text(EIO)), 1u);
        EXPECT_EQ(log.count("Failed to enqueue buffer: -5"), 1u);
    }
    ozrsim::setFaults({});
    auto img = newImage();
    EXPECT_EQ(dev->nextFrame(img, 1000), 0);  // the last image of the frame
}

TEST_F(V4l2SensorSim, ControlAndFormatRequestFailures) {
    start(config());
    auto dev = acquire320(4);
    ASSERT_TRUE(dev);
    LogCapture log;
    fault(VIDIOC_G_CTRL, EIO);
    int v = 5;
    EXPECT_EQ(dev->getControl(ControlID::GAIN, v), -EIO);
    EXPECT_EQ(v, 5);
    EXPECT_EQ(log.count("Failed to get control 0: " + text(EIO)), 1u);
    fault(VIDIOC_G_FMT, EIO);
    ozr::VideoFormat f{};
    EXPECT_EQ(dev->getFormat(f), -EIO);
    EXPECT_EQ(dev->setFormat(f), -EIO);
    EXPECT_EQ(log.count("Failed to get format: " + text(EIO)), 2u);
    // The driver refuses a format change while buffers exist.
    ozrsim::setFaults({});
    f = {0, 0, cfg.width, cfg.height, 0};
    EXPECT_EQ(dev->setFormat(f), -EBUSY);
    EXPECT_EQ(log.count("Failed to set format: " + text(EBUSY)), 1u);
    fault(VIDIOC_REQBUFS, EIO);
    EXPECT_EQ(dev->prepareBuffers(0), -EIO);
    EXPECT_EQ(log.count("Failed to release buffers: " + text(EIO)), 1u);
}

TEST_F(V4l2SensorSim, VanishedDeviceEndsFramesWithAStatus) {
    start(config());
    auto dev = acquire320(4);
    ASSERT_TRUE(dev);
    ASSERT_EQ(dev->setStreaming(true), 0);
    ozrsim::disconnect();
    LogCapture log;
    auto img = newImage();
    EXPECT_LT(dev->nextFrame(img, 100), 0);
    EXPECT_EQ(log.countLevel(LogLevel::LOG_LEVEL_ERROR), 1u);
    EXPECT_LT(dev->setControl(ControlID::GAIN, 2), 0);
    EXPECT_EQ(dev->close(), 0);
}

}  // namespace
