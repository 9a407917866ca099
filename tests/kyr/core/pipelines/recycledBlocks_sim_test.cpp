// Recycled pixel blocks never reach a result: whole-camera runs on the
// virtual sensor in every mode, both models, every filter and mask on, with
// the block pool filled before each frame with blocks of every size the chain
// uses, all set to a marker byte. Two runs with different markers must give
// bit-identical outputs at every stage and in the frame; a pixel that some
// stage publishes without writing it would carry the marker of its run.
// Every stage output is held until the frame has been captured, so no stage
// result is recycled within the frame and each comes from a marked block.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "kyr/image.h"
#include "kyr/platform.h"
#include "kyr/sink.h"
#include "kyr/stage.h"
#include "ozr/tofcam.h"
#include "ozrsim.h"
#include "platforms/linux/video_buffer_pool.h"
#include "support/sim_config.h"

namespace {

using kyr::platform::VideoBufferPool;
using ozr::AcquisitionMode;
using ozr::ControlID;

constexpr int FRAMES = 3;

uint64_t fnv1a(const void* data, size_t bytes) {
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < bytes; ++i) {
        h = (h ^ static_cast<const unsigned char*>(data)[i]) * 1099511628211ull;
    }
    return h;
}

// A sink on the output of one stage, holding what the stage published.
class Observer {
public:
    virtual ~Observer() = default;
    virtual const ImageBase* take() = 0;  // the frame's image, kept until release()
    virtual uint64_t hash() const = 0;
    virtual size_t bytes() const = 0;
    virtual void release() = 0;
    std::string stage;
};

template <typename T>
class ObserverOf : public Observer {
public:
    explicit ObserverOf(Source<Image<T>>& output) { sink << output; }
    const ImageBase* take() override {
        image = sink.value();
        return image.get();
    }
    uint64_t hash() const override { return image ? fnv1a(image->getData(), image->size()) : 0; }
    size_t bytes() const override { return image ? image->size() : 0; }
    void release() override { image.reset(); }

private:
    Sink<Image<T>> sink;
    std::shared_ptr<Image<T>> image;
};

template <typename T>
bool tryObserve(const StageBase& stage, std::vector<std::unique_ptr<Observer>>& out) {
    auto* source = dynamic_cast<const Source<Image<T>>*>(&stage);
    if (source == nullptr) {
        return false;
    }
    out.push_back(std::make_unique<ObserverOf<T>>(const_cast<Source<Image<T>>&>(*source)));
    out.back()->stage = stage.getName();
    return true;
}

std::vector<std::unique_ptr<Observer>> observeEveryStage() {
    std::vector<std::unique_ptr<Observer>> observers;
    StageBase::forEachStage([&](const StageBase& stage) {
        tryObserve<uint16_t>(stage, observers) || tryObserve<int16_t>(stage, observers) ||
            tryObserve<float>(stage, observers) ||
            tryObserve<PhaseType<uint16_t>>(stage, observers);
    });
    return observers;
}

// After trim(), MAX_BLOCKS_PER_SIZE blocks of each size, set to `marker`,
// wait on the free lists.
void fillPool(const std::set<size_t>& sizes, unsigned char marker) {
    VideoBufferPool::trim();
    std::vector<void*> blocks;
    for (size_t size : sizes) {
        for (size_t i = 0; i < VideoBufferPool::MAX_BLOCKS_PER_SIZE; ++i) {
            blocks.push_back(VideoBuffer::alloc(size));
            std::memset(blocks.back(), marker, size);
        }
    }
    for (void* b : blocks) VideoBuffer::release(b);
}

// The camera's info messages are left out of the test's output.
void errorsOnly(kyr::platform::LogLevel level, const char* format, va_list args) {
    if (level <= kyr::platform::LogLevel::LOG_LEVEL_WARN) {
        std::vfprintf(stderr, format, args);
        std::fputc('\n', stderr);
    }
}

struct RunResult {
    std::vector<std::string> outputs;  // "stage: hash" per stage and frame, then the frame's
    uint64_t pooledReuses = 0;
};

class RecycledBlocks : public ::testing::TestWithParam<std::tuple<ozrsim::Model, AcquisitionMode>> {
protected:
    void TearDown() override { ozrsim::reset(); }

    RunResult run(unsigned char marker) {
        const auto [model, mode] = GetParam();
        ozrsim::Config c = testsupport::fastSimConfig(model);
        c.calibration = ozrsim::Calibration::Synthetic;
        c.scene.name = "boxes";
        c.scene.interference = true;
        RunResult result;
        if (ozrsim::configure(c) != 0) {
            ADD_FAILURE() << "virtual driver not configured";
            return result;
        }
        ozr::TOFCam cam(model == ozrsim::Model::OZR310 ? ozr::TOFSensor::ozr310
                                                       : ozr::TOFSensor::ozr320);
        EXPECT_EQ(cam.open(), 0);
        EXPECT_EQ(cam.setControl(ControlID::ACQUISITION_MODE, mode), 0);
        if (mode == AcquisitionMode::DIST_AMP || mode == AcquisitionMode::DIST_AMP_HDR) {
            for (ControlID on :
                 {ControlID::MEDIAN_FILTER_ENABLE, ControlID::AVERAGE_FILTER_ENABLE,
                  ControlID::TEMPORAL_FILTER_ENABLE, ControlID::KALMAN_FILTER_ENABLE,
                  ControlID::EDGE_FILTER_ENABLE, ControlID::INTERFERENCE_DETECTION_ENABLE,
                  ControlID::INTERFERENCE_ENABLE_LATCHING}) {
                EXPECT_EQ(cam.setControl(on, 1), 0);
            }
        }
        auto observers = observeEveryStage();
        std::unique_ptr<ozr::TOFFrame> frame;
        std::set<size_t> sizes;
        // The first frame, unmarked, shows the sizes the chain uses.
        for (int n = 0; n <= FRAMES; ++n) {
            for (auto& o : observers) o->release();
            frame.reset();
            if (n > 0) {
                fillPool(sizes, marker);
            }
            const uint64_t reuses = VideoBufferPool::statistics().reuses;
            if (cam.captureFrame(frame) != 0) {
                ADD_FAILURE() << "no frame";
                return result;
            }
            if (n > 0) {
                result.pooledReuses += VideoBufferPool::statistics().reuses - reuses;
            }
            for (auto& o : observers) {
                const ImageBase* image = o->take();
                if (image != nullptr && o->bytes() >= VideoBufferPool::POOL_MIN_BYTES) {
                    sizes.insert(o->bytes());
                }
                if (n > 0) {
                    result.outputs.push_back(o->stage + ": " + std::to_string(o->hash()));
                }
            }
            const size_t count = size_t{frame->getWidth()} * frame->getHeight();
            sizes.insert(count * sizeof(float));  // the frame's phase in radians
            if (n > 0) {
                frameOutputs(*frame, mode, count, result.outputs);
            }
        }
        return result;
    }

    // The frame's own images of the mode. None can hold 0xffff (distance and
    // amplitude end at the pixel codes, DCS and grayscale values at 12 bits
    // times the largest gain) nor a NaN phase, which the marker 0xff gives.
    static void frameOutputs(const ozr::TOFFrame& f, AcquisitionMode mode, size_t count,
                             std::vector<std::string>& out) {
        const bool distance =
            mode == AcquisitionMode::DIST_AMP || mode == AcquisitionMode::DIST_AMP_HDR;
        std::vector<const uint16_t*> images;
        if (distance) {
            images = {f.getData<uint16_t>(ozr::FrameType::DISTANCE),
                      f.getData<uint16_t>(ozr::FrameType::AMPLITUDE)};
        }
        if (mode == AcquisitionMode::GRAYSCALE) {
            images = {f.getData<uint16_t>(ozr::FrameType::GRAYSCALE)};
        }
        const size_t dcsCount = mode == AcquisitionMode::DIST_AMP_HDR ? 12
                                : mode == AcquisitionMode::GRAYSCALE  ? 0
                                                                      : 4;
        for (size_t k = 0; k < dcsCount; ++k) {
            images.push_back(f.getData<uint16_t>(ozr::FrameType::DCS, k));
        }
        for (size_t j = 0; j < images.size(); ++j) {
            ASSERT_NE(images[j], nullptr) << "frame image " << j;
            out.push_back("frame image " + std::to_string(j) + ": " +
                          std::to_string(fnv1a(images[j], count * 2)));
            for (size_t i = 0; i < count; ++i) {
                ASSERT_NE(images[j][i], 0xffff) << "frame image " << j << " pixel " << i;
            }
        }
        if (distance) {
            const float* p = f.getData<float>(ozr::FrameType::PHASE);
            ASSERT_NE(p, nullptr);
            out.push_back("frame phase: " + std::to_string(fnv1a(p, count * 4)));
            for (size_t i = 0; i < count; ++i) {
                ASSERT_FALSE(std::isnan(p[i])) << "phase pixel " << i;
            }
        }
    }
};

TEST_P(RecycledBlocks, OutputsDoNotDependOnTheContentsOfRecycledBlocks) {
    kyr::platform::register_log_function(&errorsOnly);
    const RunResult a = run(0xff);
    const RunResult b = run(0x5a);
    kyr::platform::register_log_function(nullptr);
    // The frames were built from the marked blocks.
    EXPECT_GT(a.pooledReuses, 0u);
    EXPECT_EQ(a.pooledReuses, b.pooledReuses);
    ASSERT_EQ(a.outputs.size(), b.outputs.size());
    EXPECT_GT(a.outputs.size(), size_t{FRAMES});
    for (size_t i = 0; i < a.outputs.size(); ++i) {
        EXPECT_EQ(a.outputs[i], b.outputs[i]) << "output " << i;
    }
}

std::string caseName(
    const ::testing::TestParamInfo<std::tuple<ozrsim::Model, AcquisitionMode>>& info) {
    static const char* const modes[] = {"DistAmp", "Grayscale", "HDR", "", "DCS4"};
    return std::string(std::get<0>(info.param) == ozrsim::Model::OZR310 ? "OZR310_" : "OZR320_") +
           modes[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(
    AllModes, RecycledBlocks,
    ::testing::Combine(::testing::Values(ozrsim::Model::OZR310, ozrsim::Model::OZR320),
                       ::testing::Values(AcquisitionMode::DIST_AMP, AcquisitionMode::DIST_AMP_HDR,
                                         AcquisitionMode::GRAYSCALE, AcquisitionMode::DCS4)),
    caseName);

}  // namespace
