// The streaming loop and thread handling of sensor pipelines, driven by a
// scripted sensor source that records every call.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kyr/pipelines/dcs4Pipeline.h"
#include "kyr/sources/ozrSensorSourceIF.h"
#include "support/log_capture.h"

namespace {

class ScriptedSource : public OZRSensorSourceIF {
public:
    int setupStreaming() override { return record("setup", setupResult); }
    int fetchNext() override { return record("trigger", fetchResult); }
    int captureNext(bool triggerNext) override {
        if (frameDelay.count() > 0) {
            std::this_thread::sleep_for(frameDelay);
        }
        const int r = record(triggerNext ? "capture+trigger" : "capture", captureResult);
        ++captures;
        if (failCaptureAfter >= 0 && captures > failCaptureAfter) {
            return -5;
        }
        return r;
    }
    int stopStreaming() override { return record("stop", stopResult); }
    int setControl(ozr::ControlID id, int32_t value) override {
        return record("set " + std::to_string(static_cast<int>(id)) + "=" + std::to_string(value),
                      0);
    }
    int getControl(ozr::ControlID id, int& value) override {
        value = 42;
        return record("get " + std::to_string(static_cast<int>(id)), 0);
    }
    int setFormat(const ozr::VideoFormat&) override { return record("setFormat", 0); }
    int getFormat(ozr::VideoFormat&) override { return record("getFormat", 0); }
    Source<Image<uint16_t>>* getDCSSource(size_t index) override {
        return index < 4 ? &dcs[index] : nullptr;
    }
    Source<Image<uint16_t>>* getGrayscaleSource() override { return nullptr; }
    Source<float>* getTemperatureSource() override { return nullptr; }

    std::vector<std::string> calls() {
        std::lock_guard<std::mutex> lock(mutex);
        return log;
    }
    size_t count(const std::string& what) {
        std::lock_guard<std::mutex> lock(mutex);
        return static_cast<size_t>(std::count(log.begin(), log.end(), what));
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex);
        log.clear();
    }

    std::atomic<int> setupResult{0}, fetchResult{0}, captureResult{0}, stopResult{0};
    std::atomic<int> failCaptureAfter{-1};
    std::atomic<int> captures{0};
    std::chrono::milliseconds frameDelay{0};
    std::array<Source<Image<uint16_t>>, 4> dcs;

private:
    int record(const std::string& what, int result) {
        std::lock_guard<std::mutex> lock(mutex);
        log.push_back(what);
        return result;
    }
    std::mutex mutex;
    std::vector<std::string> log;
};

using Calls = std::vector<std::string>;

TEST(PipelineThreads, SingleCaptureReadsOneFrameAndTriggersNoOther) {
    ScriptedSource source;
    DCS4Pipeline pipeline(source);
    source.clear();
    ASSERT_EQ(pipeline.singleCapture(), 0);
    EXPECT_EQ(source.calls(), (Calls{"setup", "trigger", "capture", "stop"}));
    EXPECT_FALSE(pipeline.streaming());
    EXPECT_EQ(pipeline.stopStream(false), 0);  // idle, already joined
}

TEST(PipelineThreads, FiniteStreamTriggersExactlyItsFrames) {
    ScriptedSource source;
    DCS4Pipeline pipeline(source);
    source.clear();
    ASSERT_EQ(pipeline.startStream(3), 0);
    ASSERT_EQ(pipeline.stopStream(false), 0);
    EXPECT_EQ(source.calls(),
              (Calls{"setup", "trigger", "capture+trigger", "capture+trigger", "capture", "stop"}));
}

TEST(PipelineThreads, SecondStartWhileStreamingIsBusy) {
    ScriptedSource source;
    source.frameDelay = std::chrono::milliseconds(1);
    DCS4Pipeline pipeline(source);
    ASSERT_EQ(pipeline.startStream(0), 0);
    EXPECT_EQ(pipeline.startStream(0), -16);
    EXPECT_EQ(pipeline.stopStream(true), 0);
}

TEST(PipelineThreads, StopDuringEndlessStreamDrainsExactlyOneFrame) {
    ScriptedSource source;
    source.frameDelay = std::chrono::milliseconds(1);
    DCS4Pipeline pipeline(source);
    source.clear();
    ASSERT_EQ(pipeline.startStream(0), 0);
    while (source.captures < 5) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(pipeline.stopStream(true), 0);
    const Calls calls = source.calls();
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(calls[0], "setup");
    EXPECT_EQ(calls[1], "trigger");
    // Every capture in the loop triggered the next frame; after the stop the
    // one frame still triggered is read without a trigger, then the device stops.
    EXPECT_EQ(source.count("capture"), 1u);
    EXPECT_EQ(calls[calls.size() - 2], "capture");
    EXPECT_EQ(calls.back(), "stop");
    for (size_t i = 2; i + 2 < calls.size(); ++i) {
        EXPECT_EQ(calls[i], "capture+trigger");
    }
}

TEST(PipelineThreads, FailedSetupKeepsTheFlagUntilStopped) {
    testsupport::LogCapture log;
    ScriptedSource source;
    source.setupResult = -5;
    DCS4Pipeline pipeline(source);
    source.clear();
    EXPECT_EQ(pipeline.singleCapture(), 0);  // the thread ends without a frame
    EXPECT_EQ(log.count("Error setting up streaming: 5"), 1u);
    EXPECT_EQ(source.calls(), Calls{"setup"});
    EXPECT_TRUE(pipeline.streaming());
    EXPECT_EQ(pipeline.startStream(0), -16);
    EXPECT_EQ(pipeline.singleCapture(), -11);
    EXPECT_EQ(log.count("Failed to start stream for single frame capture: -16"), 1u);

    // The thread was joined by the single capture: the stop clears the flag
    // and reports the thread it could not join.
    EXPECT_EQ(pipeline.stopStream(true), -11);
    EXPECT_EQ(log.count("Streaming thread not joinable while streaming was active"), 1u);
    EXPECT_FALSE(pipeline.streaming());
    source.setupResult = 0;
    source.clear();
    EXPECT_EQ(pipeline.singleCapture(), 0);
    EXPECT_EQ(source.count("capture"), 1u);
}

TEST(PipelineThreads, FailedFirstTriggerLeavesTheDeviceStopped) {
    testsupport::LogCapture log;
    ScriptedSource source;
    source.fetchResult = -110;
    DCS4Pipeline pipeline(source);
    source.clear();
    EXPECT_EQ(pipeline.singleCapture(), 0);
    EXPECT_EQ(log.count("Error fetching next frame: 110"), 1u);
    EXPECT_EQ(source.calls(), (Calls{"setup", "trigger", "stop"}));
    EXPECT_TRUE(pipeline.streaming());
    EXPECT_EQ(pipeline.stopStream(true), -11);
    EXPECT_FALSE(pipeline.streaming());
}

TEST(PipelineThreads, CaptureErrorEndsTheStream) {
    testsupport::LogCapture log;
    ScriptedSource source;
    source.failCaptureAfter = 2;
    DCS4Pipeline pipeline(source);
    source.clear();
    ASSERT_EQ(pipeline.startStream(0), 0);
    // The stream ends by itself; a later start joins the finished thread.
    for (int i = 0; i < 1000 && pipeline.streaming(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_FALSE(pipeline.streaming());
    EXPECT_EQ(log.count("Error capturing frame: 5"), 1u);
    EXPECT_EQ(source.calls().back(), "stop");
    source.failCaptureAfter = -1;
    EXPECT_EQ(pipeline.startStream(1), 0);
    EXPECT_EQ(pipeline.stopStream(false), 0);
}

TEST(PipelineThreads, StopFailureIsLogged) {
    testsupport::LogCapture log;
    ScriptedSource source;
    source.stopResult = -19;
    DCS4Pipeline pipeline(source);
    EXPECT_EQ(pipeline.singleCapture(), 0);
    EXPECT_EQ(log.count("Error stopping streaming: 19"), 1u);
    EXPECT_FALSE(pipeline.streaming());
}

TEST(PipelineThreads, ManyStartStopCyclesLeaveNoThread) {
    auto threadCount = [] {
        size_t n = 0;
        for ([[maybe_unused]] const auto& e :
             std::filesystem::directory_iterator("/proc/self/task")) {
            ++n;
        }
        return n;
    };
    ScriptedSource source;
    // A sanitizer runtime starts a helper thread of its own with the first
    // thread of the process; let it do so before counting.
    std::thread([] {}).join();
    const size_t before = threadCount();
    {
        DCS4Pipeline pipeline(source);
        for (int i = 0; i < 300; ++i) {
            if (i % 3 == 0) {
                ASSERT_EQ(pipeline.singleCapture(), 0);
            } else {
                ASSERT_EQ(pipeline.startStream(i % 3 == 1 ? 0 : 2), 0);
                ASSERT_EQ(pipeline.stopStream(true), 0);
            }
        }
        EXPECT_EQ(pipeline.startStream(0), 0);
        // destroyed while streaming: the destructor stops and joins
    }
    EXPECT_EQ(threadCount(), before);
    EXPECT_EQ(source.calls().back(), "stop");
}

TEST(DCS4Pipeline, SelectsTheModeAndForwardsControls) {
    ScriptedSource source;
    DCS4Pipeline pipeline(source);
    EXPECT_EQ(source.calls().front(), "set 1=4");  // ACQUISITION_MODE = DCS4
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(pipeline.getOutputs().dcs[i], &source.dcs[i]);
    }
    source.clear();
    EXPECT_EQ(pipeline.setControl(ozr::ControlID::ACQUISITION_MODE,
                                  static_cast<int32_t>(ozr::AcquisitionMode::DIST_AMP)),
              -1);
    EXPECT_TRUE(source.calls().empty());
    EXPECT_EQ(pipeline.setControl(ozr::ControlID::ACQUISITION_MODE, 4), 0);
    EXPECT_EQ(pipeline.setControl(ozr::ControlID::EXPOSURE_US, 250), 0);
    int value = 0;
    EXPECT_EQ(pipeline.getControl(ozr::ControlID::GAIN, value), 0);
    EXPECT_EQ(value, 42);
    EXPECT_EQ(source.calls(), (Calls{"set 1=4", "set 4=250", "get 0"}));
    ozr::VideoFormat format{};
    EXPECT_EQ(pipeline.getFormat(format), 0);
}

}  // namespace
