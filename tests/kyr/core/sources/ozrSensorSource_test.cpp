// Sensor sources of both models against a scripted video device: outputs
// per mode, the order of device requests in a stream, and every failure of
// a frame with its message and status. The sources against the virtual
// driver are tested in ozr310Source_test.cpp, ozr320Source_test.cpp and,
// where both models behave alike, ozrSensorSourceBase_test.cpp.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "kyr/sensors/fakeTempSensor.h"
#include "kyr/sink.h"
#include "kyr/sources/ozr310Source.h"
#include "kyr/sources/ozr320Source.h"
#include "kyr/stage.h"
#include "scriptedVideoDevice.h"
#include "support/log_capture.h"

namespace {

using ozr::AcquisitionMode;
using ozr::ControlID;
using testsupport::DeviceScript;
using testsupport::LogCapture;
using testsupport::ScriptedVideoDevice;
using testsupport::setCall;
using Img = Image<uint16_t>;

constexpr int MODE_DIST_AMP = static_cast<int>(AcquisitionMode::DIST_AMP);
constexpr int MODE_GRAYSCALE = static_cast<int>(AcquisitionMode::GRAYSCALE);
constexpr int MODE_HDR = static_cast<int>(AcquisitionMode::DIST_AMP_HDR);
constexpr int MODE_TEST_PATTERN = static_cast<int>(AcquisitionMode::TEST_PATTERN);
constexpr int MODE_DCS4 = static_cast<int>(AcquisitionMode::DCS4);
const std::string TRIGGER = setCall(ControlID::TRIGGER_SHUTTER, 1);

class FailingTempSensor : public TempSensorIF {
public:
    explicit FailingTempSensor(int status) : status(status) {}
    int getTemperature(float& celsius) const override {
        celsius = 0.0f;
        return status;
    }
    int status;
};

// Records the order in which images and temperatures arrive.
class Recorder {
public:
    struct ImageSink : Sink<Img> {
        ImageSink(Recorder& r, size_t index) : rec(r), index(index) {}
        int action() override {
            rec.events.push_back("dcs " + std::to_string(index));
            rec.images[index] = std::static_pointer_cast<Img>(buffer_in);
            return 0;
        }
        Recorder& rec;
        size_t index;
    };
    struct TempSink : Sink<float> {
        explicit TempSink(Recorder& r) : rec(r) {}
        int action() override {
            rec.events.push_back("temp " +
                                 std::to_string(*std::static_pointer_cast<float>(buffer_in)));
            return 0;
        }
        Recorder& rec;
    };

    Recorder(OZRSensorSourceIF& source, size_t count) : temp(*this) {
        temp << *source.getTemperatureSource();
        for (size_t i = 0; i < count; ++i) {
            sinks.push_back(std::make_unique<ImageSink>(*this, i));
            Source<Img>* out = source.getDCSSource(i);
            EXPECT_NE(out, nullptr) << i;
            if (out != nullptr) {
                *sinks.back() << *out;
            }
        }
        images.resize(count);
    }

    std::vector<std::string> events;
    std::vector<std::shared_ptr<Img>> images;
    std::vector<std::unique_ptr<ImageSink>> sinks;
    TempSink temp;
};

// Model traits for the typed tests.
template <typename S>
struct Model;
template <>
struct Model<OZR310Source> {
    static constexpr bool unfolds = true;
    static constexpr size_t timeout = 200;
    static constexpr int hdrDeviceMode = MODE_DIST_AMP;
};
template <>
struct Model<OZR320Source> {
    static constexpr bool unfolds = false;
    static constexpr size_t timeout = 1000;
    static constexpr int hdrDeviceMode = MODE_HDR;
};

template <typename S>
class SensorSource : public ::testing::Test {
protected:
    void SetUp() override {
        script = std::make_shared<DeviceScript>();
        auto dev = std::make_unique<ScriptedVideoDevice>(script);
        device = dev.get();
        auto temp = std::make_unique<FakeTempSensor>(25.0f);
        tempSensor = temp.get();
        source = std::make_unique<S>(std::move(dev), std::move(temp), 4);
    }
    // A source whose device refuses `op` with `status` from the start.
    void rebuildFailing(const std::string& op, int status) {
        source.reset();
        script = std::make_shared<DeviceScript>();
        script->failures[op] = status;
        auto dev = std::make_unique<ScriptedVideoDevice>(script);
        device = dev.get();
        source = std::make_unique<S>(std::move(dev), std::make_unique<FakeTempSensor>(25.0f), 4);
    }

    std::shared_ptr<DeviceScript> script;
    ScriptedVideoDevice* device = nullptr;
    FakeTempSensor* tempSensor = nullptr;
    std::unique_ptr<S> source;
};

using Models = ::testing::Types<OZR310Source, OZR320Source>;
TYPED_TEST_SUITE(SensorSource, Models);

TYPED_TEST(SensorSource, StartsInDistAmpWithFourDcsOutputs) {
    LogCapture log;
    int mode = -1;
    EXPECT_EQ(this->source->getControl(ControlID::ACQUISITION_MODE, mode), 0);
    EXPECT_EQ(mode, MODE_DIST_AMP);
    EXPECT_EQ(this->script->log(),
              std::vector<std::string>{setCall(ControlID::ACQUISITION_MODE, 0)});
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_NE(this->source->getDCSSource(i), nullptr) << i;
    }
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(this->source->getDCSSource(4), nullptr);
    EXPECT_EQ(log.count("Current Mode: 0, Invalid DCS Source Index: 4"), 1u);
    EXPECT_EQ(this->source->getGrayscaleSource(), nullptr);
    EXPECT_EQ(log.count("Current Mode: 0, Grayscale Source not available"), 1u);
    EXPECT_EQ(log.countLevel(kyr::platform::LogLevel::LOG_LEVEL_WARN), 2u);
    EXPECT_NE(this->source->getTemperatureSource(), nullptr);
}

TYPED_TEST(SensorSource, ModeDecidesTheOutputs) {
    LogCapture log;
    Source<Img>* dcs0 = this->source->getDCSSource(0);
    ASSERT_EQ(this->source->setControl(ControlID::ACQUISITION_MODE, MODE_HDR), 0);
    EXPECT_EQ(this->script->controls[static_cast<int>(ControlID::ACQUISITION_MODE)],
              Model<TypeParam>::hdrDeviceMode);
    EXPECT_NE(this->source->getDCSSource(11), nullptr);
    EXPECT_EQ(this->source->getDCSSource(12), nullptr);
    EXPECT_EQ(log.count("Current Mode: 2, Invalid DCS Source Index: 12"), 1u);

    ASSERT_EQ(this->source->setControl(ControlID::ACQUISITION_MODE, MODE_GRAYSCALE), 0);
    EXPECT_EQ(this->script->controls[static_cast<int>(ControlID::ACQUISITION_MODE)], 1);
    EXPECT_EQ(this->source->getDCSSource(0), nullptr);
    EXPECT_EQ(log.count("Current Mode: 1, Invalid DCS Source Index: 0"), 1u);
    EXPECT_EQ(this->source->getGrayscaleSource(), dcs0);

    ASSERT_EQ(this->source->setControl(ControlID::ACQUISITION_MODE, MODE_DCS4), 0);
    EXPECT_EQ(this->script->controls[static_cast<int>(ControlID::ACQUISITION_MODE)], MODE_DCS4);
    EXPECT_NE(this->source->getDCSSource(3), nullptr);
    EXPECT_EQ(this->source->getDCSSource(4), nullptr);
    int mode = -1;
    EXPECT_EQ(this->source->getControl(ControlID::ACQUISITION_MODE, mode), 0);
    EXPECT_EQ(mode, MODE_DCS4);
    EXPECT_EQ(this->script->count("get"), 0u);  // the mode is the source's own

    // TEST_PATTERN passes to the device (which decides); it has one image.
    ASSERT_EQ(this->source->setControl(ControlID::ACQUISITION_MODE, MODE_TEST_PATTERN), 0);
    EXPECT_EQ(this->source->getGrayscaleSource(), dcs0);
    EXPECT_EQ(this->source->getDCSSource(0), nullptr);
}

TYPED_TEST(SensorSource, ValuesThatAreNoModeAreRefusedBeforeTheDevice) {
    for (int32_t value : {5, 7, 255, 256, 258, -1, -254}) {
        LogCapture log;
        this->script->clearLog();
        EXPECT_EQ(this->source->setControl(ControlID::ACQUISITION_MODE, value), -22) << value;
        EXPECT_EQ(log.count("Invalid acquisition mode: " + std::to_string(value)), 1u);
        EXPECT_TRUE(this->script->log().empty()) << value;
        int mode = -1;
        this->source->getControl(ControlID::ACQUISITION_MODE, mode);
        EXPECT_EQ(mode, MODE_DIST_AMP);
    }
}

TYPED_TEST(SensorSource, RefusedModeChangesNothing) {
    this->script->failures["set 1"] = -22;
    LogCapture log;
    EXPECT_EQ(this->source->setControl(ControlID::ACQUISITION_MODE, MODE_GRAYSCALE), -22);
    EXPECT_EQ(log.count("Failed to set acquisition mode: -22"), 1u);
    int mode = -1;
    this->source->getControl(ControlID::ACQUISITION_MODE, mode);
    EXPECT_EQ(mode, MODE_DIST_AMP);
    EXPECT_NE(this->source->getDCSSource(3), nullptr);
}

TYPED_TEST(SensorSource, ModeRefusedAtConstructionStillStartsInDistAmp) {
    this->rebuildFailing("set 1", -5);
    int mode = -1;
    this->source->getControl(ControlID::ACQUISITION_MODE, mode);
    EXPECT_EQ(mode, MODE_DIST_AMP);
    EXPECT_NE(this->source->getDCSSource(3), nullptr);
    LogCapture log;
    EXPECT_EQ(this->source->setupStreaming(), -5);
    EXPECT_EQ(log.count("Failed to set acquisition mode: -5"), 1u);
    EXPECT_EQ(this->script->count("stream on"), 0u);
}

TYPED_TEST(SensorSource, StagesCarryIndexedNames) {
    for (size_t i = 0; i < 4; ++i) {
        StageBase* last = this->source->getDCSSource(i)->getOwner();
        ASSERT_NE(last, nullptr);
        const std::string expected =
            (Model<TypeParam>::unfolds ? "SplitStack Stage " : "Shift Stage ") + std::to_string(i);
        EXPECT_EQ(std::string(last->getName()), expected);
    }
}

TYPED_TEST(SensorSource, StreamReadsFormatSetsModeTriggersAfterTheLastRead) {
    Recorder rec(*this->source, 4);
    ASSERT_EQ(this->source->setupStreaming(), 0);
    EXPECT_EQ(this->script->log(),
              (std::vector<std::string>{setCall(ControlID::ACQUISITION_MODE, 0), "getFormat",
                                        setCall(ControlID::ACQUISITION_MODE, 0), "stream on"}));
    this->script->clearLog();
    ASSERT_EQ(this->source->fetchNext(), 0);
    ASSERT_EQ(this->source->captureNext(true), 0);
    EXPECT_EQ(this->script->log(), (std::vector<std::string>{TRIGGER, "frame 0", "frame 1",
                                                             "frame 2", "frame 3", TRIGGER}));
    // Temperature first, then the images in order; the trigger came before
    // the last image was published.
    EXPECT_EQ(rec.events,
              (std::vector<std::string>{"temp 25.000000", "dcs 0", "dcs 1", "dcs 2", "dcs 3"}));
    EXPECT_EQ(this->device->lastTimeout, Model<TypeParam>::timeout);
    this->script->clearLog();
    ASSERT_EQ(this->source->captureNext(false), 0);
    EXPECT_EQ(this->script->log(),
              (std::vector<std::string>{"frame 4", "frame 5", "frame 6", "frame 7"}));
    ASSERT_EQ(this->source->stopStreaming(), 0);
    EXPECT_EQ(this->script->count("stream off"), 1u);
}

TYPED_TEST(SensorSource, TriggerFollowsTheLastReadAndPrecedesItsPublication) {
    // A listener on the last image sees the trigger already given.
    struct Probe : Sink<Img> {
        explicit Probe(DeviceScript& s) : s(s) {}
        int action() override {
            triggersSeen = s.count("set 3=1");
            return 0;
        }
        DeviceScript& s;
        size_t triggersSeen = 99;
    } probe(*this->script);
    probe << *this->source->getDCSSource(3);
    ASSERT_EQ(this->source->setupStreaming(), 0);
    ASSERT_EQ(this->source->captureNext(true), 0);
    EXPECT_EQ(probe.triggersSeen, 1u);
}

TYPED_TEST(SensorSource, ImagesAreShiftedAndForTheOzr310Unfolded) {
    Recorder rec(*this->source, 4);
    ASSERT_EQ(this->source->setupStreaming(), 0);
    ASSERT_EQ(this->source->captureNext(false), 0);
    for (size_t n = 0; n < 4; ++n) {
        ASSERT_TRUE(rec.images[n]) << n;
        const Img& img = *rec.images[n];
        // Device 4 x 2: raw pixel i of frame n is (n * 100 + i) << 4.
        if (Model<TypeParam>::unfolds) {
            ASSERT_EQ(img.getWidth(), 2u);
            ASSERT_EQ(img.getHeight(), 4u);
            const std::vector<int> order{6, 7, 2, 3, 0, 1, 4, 5};
            for (size_t k = 0; k < 8; ++k) {
                EXPECT_EQ(img.getData()[k], n * 100 + order[k]) << n << " " << k;
            }
        } else {
            ASSERT_EQ(img.getWidth(), 4u);
            ASSERT_EQ(img.getHeight(), 2u);
            for (size_t k = 0; k < 8; ++k) {
                EXPECT_EQ(img.getData()[k], n * 100 + k) << n << " " << k;
            }
        }
    }
}

TYPED_TEST(SensorSource, GrayscaleFrameIsOneImageOnOutputZero) {
    ASSERT_EQ(this->source->setControl(ControlID::ACQUISITION_MODE, MODE_GRAYSCALE), 0);
    Sink<Img> gray;
    gray << *this->source->getGrayscaleSource();
    ASSERT_EQ(this->source->setupStreaming(), 0);
    this->script->clearLog();
    ASSERT_EQ(this->source->captureNext(true), 0);
    EXPECT_EQ(this->script->log(), (std::vector<std::string>{"frame 0", TRIGGER}));
    EXPECT_TRUE(gray.value());
}

TYPED_TEST(SensorSource, SetupFailuresAreLoggedAndReturned) {
    struct Case {
        const char* op;
        int status;
        const char* message;
    };
    for (const Case& c : {Case{"getFormat", -5, "Failed to get format: -5"},
                          Case{"setStreaming", -1, "Failed to start streaming: -1"}}) {
        this->rebuildFailing(c.op, c.status);
        LogCapture log;
        EXPECT_EQ(this->source->setupStreaming(), c.status) << c.op;
        EXPECT_EQ(log.count(c.message), 1u) << c.op;
        EXPECT_EQ(log.lines().size(), 1u) << c.op;
    }
}

TYPED_TEST(SensorSource, FailedReadStopsTheFrameWithItsStatus) {
    Recorder rec(*this->source, 4);
    ASSERT_EQ(this->source->setupStreaming(), 0);
    this->script->failures["nextFrame"] = -110;
    this->script->failAfter["nextFrame"] = 2;
    LogCapture log;
    EXPECT_EQ(this->source->captureNext(true), -110);
    EXPECT_EQ(log.count("Failed to get next frame: -110"), 1u);
    EXPECT_EQ(rec.events, (std::vector<std::string>{"temp 25.000000", "dcs 0", "dcs 1"}));
    EXPECT_EQ(this->script->count("set 3=1"), 0u);
}

TYPED_TEST(SensorSource, FailedTriggerLeavesTheLastImageUnpublished) {
    Recorder rec(*this->source, 4);
    ASSERT_EQ(this->source->setupStreaming(), 0);
    this->script->failures["set 3"] = -5;
    LogCapture log;
    EXPECT_EQ(this->source->fetchNext(), -5);
    EXPECT_EQ(this->source->captureNext(true), -5);
    EXPECT_EQ(log.count("Failed to trigger shutter: -5"), 1u);
    EXPECT_EQ(rec.events, (std::vector<std::string>{"temp 25.000000", "dcs 0", "dcs 1", "dcs 2"}));
}

TYPED_TEST(SensorSource, FailedTemperatureStopsTheFrameBeforeAnyRead) {
    auto script = std::make_shared<DeviceScript>();
    TypeParam source(std::make_unique<ScriptedVideoDevice>(script),
                     std::make_unique<FailingTempSensor>(-1), 4);
    ASSERT_EQ(source.setupStreaming(), 0);
    LogCapture log;
    EXPECT_EQ(source.captureNext(true), -1);
    EXPECT_EQ(log.count("Failed to capture temperature: -1"), 1u);
    EXPECT_EQ(script->count("frame"), 0u);
}

TYPED_TEST(SensorSource, PositiveTemperatureStatusSkipsOnlyTheTemperature) {
    auto script = std::make_shared<DeviceScript>();
    TypeParam source(std::make_unique<ScriptedVideoDevice>(script),
                     std::make_unique<FailingTempSensor>(1), 4);
    Recorder rec(source, 4);
    ASSERT_EQ(source.setupStreaming(), 0);
    LogCapture log;
    EXPECT_EQ(source.captureNext(false), 0);
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(rec.events, (std::vector<std::string>{"dcs 0", "dcs 1", "dcs 2", "dcs 3"}));
}

TYPED_TEST(SensorSource, WithoutTemperatureSensorEveryFrameFails) {
    auto script = std::make_shared<DeviceScript>();
    TypeParam source(std::make_unique<ScriptedVideoDevice>(script), nullptr, 4);
    LogCapture log;
    EXPECT_EQ(source.captureNext(false), -1);
    EXPECT_EQ(log.count("Failed to capture temperature: -1"), 1u);
}

TYPED_TEST(SensorSource, WithoutVideoDeviceEverythingIsRefused) {
    LogCapture log;
    TypeParam source(nullptr, std::make_unique<FakeTempSensor>(25.0f), 4);
    int v = 0;
    ozr::VideoFormat f{};
    EXPECT_EQ(source.setupStreaming(), -22);
    EXPECT_EQ(source.fetchNext(), -22);
    EXPECT_EQ(source.captureNext(true), -22);
    EXPECT_EQ(source.stopStreaming(), -22);
    EXPECT_EQ(source.setControl(ControlID::GAIN, 1), -22);
    EXPECT_EQ(source.getControl(ControlID::GAIN, v), -22);
    EXPECT_EQ(source.setFormat(f), -22);
    EXPECT_EQ(source.getFormat(f), -22);
    EXPECT_EQ(source.getControl(ControlID::ACQUISITION_MODE, v), 0);
    EXPECT_EQ(v, MODE_DIST_AMP);
    EXPECT_GE(log.count("No video device"), 8u);
}

TYPED_TEST(SensorSource, UnallocatableImageFailsTheFrame) {
    this->script->format.width = 0xFFFFFFFFu;
    this->script->format.height = 0xFFFFFFFFu;
    ASSERT_EQ(this->source->setupStreaming(), 0);
    LogCapture log;
    EXPECT_EQ(this->source->captureNext(true), -12);
    EXPECT_EQ(log.count("Failed to get next frame: -12"), 1u);
    EXPECT_EQ(this->script->count("frame"), 0u);
}

TYPED_TEST(SensorSource, OtherControlsAndTheFormatGoToTheDevice) {
    EXPECT_EQ(this->source->setControl(ControlID::GAIN, 3), 0);
    EXPECT_EQ(this->source->setControl(ControlID::MODULATION_FREQ_HZ, 20000000), 0);
    int v = 0;
    EXPECT_EQ(this->source->getControl(ControlID::GAIN, v), 0);
    EXPECT_EQ(v, 3);
    this->script->failures["get 15"] = -22;
    EXPECT_EQ(this->source->getControl(ControlID::LED_DELAY_STEP, v), -22);
    this->script->failures["set 16"] = -22;
    EXPECT_EQ(this->source->setControl(ControlID::MIN_AMPLITUDE, 5), -22);
    ozr::VideoFormat f{0, 0, 8, 6, 16};
    EXPECT_EQ(this->source->setFormat(f), 0);
    ozr::VideoFormat g{};
    EXPECT_EQ(this->source->getFormat(g), 0);
    EXPECT_EQ(g.width, 8u);
    EXPECT_EQ(g.height, 6u);
    EXPECT_EQ(this->script->count("setFormat 8x6"), 1u);
}

// --- OZR310: HDR from three ordinary frames ---

class Ozr310Hdr : public SensorSource<OZR310Source> {
protected:
    void SetUp() override {
        SensorSource<OZR310Source>::SetUp();
        ASSERT_EQ(source->setControl(ControlID::HDR_INTEGRATION_TIME1_US, 100), 0);
        ASSERT_EQ(source->setControl(ControlID::HDR_INTEGRATION_TIME2_US, 500), 0);
        ASSERT_EQ(source->setControl(ControlID::HDR_INTEGRATION_TIME3_US, 2000), 0);
        ASSERT_EQ(source->setControl(ControlID::ACQUISITION_MODE, MODE_HDR), 0);
        script->clearLog();
    }
    static std::string exposure(int us) { return setCall(ControlID::EXPOSURE_US, us); }
};

TEST_F(Ozr310Hdr, TimesAreKeptInTheSourceAndExposureIsIgnored) {
    EXPECT_EQ(script->count("set 5"), 0u);
    EXPECT_EQ(script->count("set 6"), 0u);
    EXPECT_EQ(script->count("set 7"), 0u);
    EXPECT_EQ(source->setControl(ControlID::EXPOSURE_US, 1234), 0);
    EXPECT_TRUE(script->log().empty());
    ASSERT_EQ(source->setControl(ControlID::ACQUISITION_MODE, MODE_DIST_AMP), 0);
    EXPECT_EQ(source->setControl(ControlID::EXPOSURE_US, 1234), 0);
    EXPECT_EQ(script->count(exposure(1234)), 1u);
}

TEST_F(Ozr310Hdr, ThreeTriggeredFramesWithTheExposureSwitched) {
    Recorder rec(*source, 12);
    ASSERT_EQ(source->setupStreaming(), 0);
    ASSERT_EQ(source->fetchNext(), 0);
    ASSERT_EQ(source->captureNext(true), 0);
    std::vector<std::string> expected{"getFormat", setCall(ControlID::ACQUISITION_MODE, 0),
                                      exposure(100), "stream on", TRIGGER};
    for (int k = 0; k < 3; ++k) {
        for (int j = 0; j < 4; ++j) {
            expected.push_back("frame " + std::to_string(4 * k + j));
        }
        expected.push_back(exposure(k == 0 ? 500 : k == 1 ? 2000 : 100));
        expected.push_back(TRIGGER);
    }
    EXPECT_EQ(script->log(), expected);
    ASSERT_EQ(rec.events.size(), 13u);
    for (size_t i = 0; i < 12; ++i) {
        ASSERT_TRUE(rec.images[i]);
        EXPECT_EQ(rec.events[i + 1], "dcs " + std::to_string(i));
        EXPECT_EQ(rec.images[i]->getWidth(), 2u);
        EXPECT_EQ(rec.images[i]->getHeight(), 4u);
    }
    EXPECT_EQ(device->lastTimeout, 200u);
}

TEST_F(Ozr310Hdr, LastFrameOfAStreamRestoresTheExposureWithoutTrigger) {
    ASSERT_EQ(source->setupStreaming(), 0);
    script->clearLog();
    ASSERT_EQ(source->captureNext(false), 0);
    EXPECT_EQ(script->count("set 3=1"), 2u);  // exposures 2 and 3 only
    const auto log = script->log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), exposure(100));
}

TEST_F(Ozr310Hdr, FailedExposureSwitchStopsTheFrame) {
    Recorder rec(*source, 12);
    ASSERT_EQ(source->setupStreaming(), 0);
    script->failures["set 4"] = -34;
    script->failAfter["set 4"] = 1;  // the switch to exposure 3 fails
    LogCapture log;
    EXPECT_EQ(source->captureNext(true), -34);
    EXPECT_EQ(log.count("Failed to set HDR integration time 3: -34"), 1u);
    EXPECT_EQ(rec.events.size(), 9u);  // temperature and exposures 1 and 2
    EXPECT_EQ(script->count("frame"), 8u);
}

TEST_F(Ozr310Hdr, FailedSetupExposureStopsTheStart) {
    script->failures["set 4"] = -34;
    LogCapture log;
    EXPECT_EQ(source->setupStreaming(), -34);
    EXPECT_EQ(log.count("Failed to set HDR integration time 1: -34"), 1u);
    EXPECT_EQ(script->count("stream on"), 0u);
}

TEST_F(Ozr310Hdr, FailedTriggerOrReadWithinTheFrameStopsIt) {
    ASSERT_EQ(source->setupStreaming(), 0);
    script->failures["set 3"] = -5;
    LogCapture log;
    EXPECT_EQ(source->captureNext(false), -5);
    EXPECT_EQ(log.count("Failed to trigger shutter: -5"), 1u);
    EXPECT_EQ(script->count("frame"), 4u);

    script->failures.erase("set 3");
    script->failures["nextFrame"] = -110;
    script->failAfter["nextFrame"] = 6;
    log.clear();
    EXPECT_EQ(source->captureNext(false), -110);
    EXPECT_EQ(log.count("Failed to get next frame: -110"), 1u);
}

// --- OZR320: HDR is the driver's ---

TEST(Ozr320Hdr, TimesExposureAndTwelveImagesGoThroughTheDevice) {
    auto script = std::make_shared<DeviceScript>();
    OZR320Source source(std::make_unique<ScriptedVideoDevice>(script),
                        std::make_unique<FakeTempSensor>(25.0f), 4);
    ASSERT_EQ(source.setControl(ControlID::ACQUISITION_MODE, MODE_HDR), 0);
    ASSERT_EQ(source.setControl(ControlID::HDR_INTEGRATION_TIME2_US, 700), 0);
    ASSERT_EQ(source.setControl(ControlID::EXPOSURE_US, 300), 0);
    EXPECT_EQ(script->count(setCall(ControlID::HDR_INTEGRATION_TIME2_US, 700)), 1u);
    EXPECT_EQ(script->count(setCall(ControlID::EXPOSURE_US, 300)), 1u);
    Recorder rec(source, 12);
    ASSERT_EQ(source.setupStreaming(), 0);
    script->clearLog();
    ASSERT_EQ(source.captureNext(true), 0);
    std::vector<std::string> expected;
    for (int i = 0; i < 12; ++i) {
        expected.push_back("frame " + std::to_string(i));
    }
    expected.push_back(TRIGGER);
    EXPECT_EQ(script->log(), expected);
    EXPECT_EQ(rec.events.size(), 13u);
}

}  // namespace
