#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ozr/controls.h"
#include "support/log_capture.h"
#include "tofFrameImpl.h"

namespace {

using ozr::FrameType;
using ozr::TOFFrame;

std::shared_ptr<Image<uint16_t>> img16(size_t w, size_t h) {
    return Image<uint16_t>::createNewBuffer(w, h);
}

// A frame as the distance/amplitude capture builds it: DCS 0-3, distance,
// amplitude and phase.
TOFFrame distAmpFrame() {
    auto impl = std::make_unique<TOFFrame::Impl>();
    for (size_t i = 0; i < 4; ++i) {
        impl->dcsImages[i] = img16(4, 2);
    }
    impl->distanceImage = img16(4, 2);
    impl->amplitudeImage = img16(4, 2);
    impl->phaseImage = Image<float>::createNewBuffer(4, 2);
    impl->metadata = {7, 1234567890123ull};
    return TOFFrame(std::move(impl), 4, 2);
}

TEST(TOFFrame, DistAmpFrameHandsOutItsImages) {
    testsupport::LogCapture log;
    TOFFrame frame = distAmpFrame();
    EXPECT_EQ(frame.getWidth(), 4);
    EXPECT_EQ(frame.getHeight(), 2);
    EXPECT_EQ(frame.getMetadata().frameNumber, 7u);
    EXPECT_EQ(frame.getMetadata().timestamp, 1234567890123ull);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_NE(frame.getData<uint16_t>(FrameType::DCS, i), nullptr);
    }
    EXPECT_NE(frame.getData<uint16_t>(FrameType::DISTANCE, 0), nullptr);
    EXPECT_EQ(frame.getData<uint16_t>(FrameType::DISTANCE, 99),
              frame.getData<uint16_t>(FrameType::DISTANCE, 0));  // index ignored
    EXPECT_NE(frame.getData<uint16_t>(FrameType::AMPLITUDE, 0), nullptr);
    EXPECT_NE(frame.getData<float>(FrameType::PHASE, 7), nullptr);  // index ignored
    EXPECT_TRUE(log.lines().empty());
}

TEST(TOFFrame, MissingImagesGiveNullWithTheirMessages) {
    testsupport::LogCapture log;
    TOFFrame frame = distAmpFrame();
    EXPECT_EQ(frame.getData<uint16_t>(FrameType::DCS, 4), nullptr);
    EXPECT_EQ(log.count("DCS image 4 not available in this acquisition mode"), 1u);
    EXPECT_EQ(frame.getData<uint16_t>(FrameType::GRAYSCALE, 0), nullptr);
    EXPECT_EQ(log.count("Grayscale image not available in this acquisition mode"), 1u);
    for (const auto& line : log.lines()) {
        EXPECT_EQ(line.level, kyr::platform::LogLevel::LOG_LEVEL_ERROR);
    }
}

TEST(TOFFrame, SilentNullsForOutOfRangeAndMismatchedTypes) {
    testsupport::LogCapture log;
    TOFFrame frame = distAmpFrame();
    EXPECT_EQ(frame.getData<uint16_t>(FrameType::DCS, 12), nullptr);
    EXPECT_EQ(frame.getData<uint16_t>(FrameType::PHASE, 0), nullptr);
    EXPECT_EQ(frame.getData<uint16_t>(static_cast<FrameType>(200), 0), nullptr);
    EXPECT_EQ(frame.getData<float>(FrameType::DISTANCE, 0), nullptr);
    EXPECT_EQ(frame.getData<float>(FrameType::DCS, 0), nullptr);
    EXPECT_TRUE(log.lines().empty());
}

TEST(TOFFrame, GrayscaleFrameRefusesDistanceAndPhase) {
    testsupport::LogCapture log;
    auto impl = std::make_unique<TOFFrame::Impl>();
    impl->grayscaleImage = img16(2, 2);
    TOFFrame frame(std::move(impl), 2, 2);
    EXPECT_NE(frame.getData<uint16_t>(FrameType::GRAYSCALE, 0), nullptr);
    EXPECT_EQ(frame.getData<uint16_t>(FrameType::DISTANCE, 0), nullptr);
    EXPECT_EQ(frame.getData<uint16_t>(FrameType::AMPLITUDE, 0), nullptr);
    EXPECT_EQ(frame.getData<float>(FrameType::PHASE, 0), nullptr);
    EXPECT_EQ(frame.getData<uint16_t>(FrameType::DCS, 0), nullptr);
    EXPECT_EQ(log.count("Distance image not available in this acquisition mode"), 1u);
    EXPECT_EQ(log.count("Amplitude image not available in this acquisition mode"), 1u);
    EXPECT_EQ(log.count("Phase image not available in this acquisition mode"), 1u);
    EXPECT_EQ(log.count("DCS image 0 not available in this acquisition mode"), 1u);
}

TEST(TOFFrame, ImagesOutliveTheProducerAndMoveWithTheFrame) {
    auto dist = img16(4, 2);
    dist->getData()[3] = 1234;
    auto impl = std::make_unique<TOFFrame::Impl>();
    impl->distanceImage = dist;
    TOFFrame frame(std::move(impl), 4, 2);
    dist.reset();  // the producer lets go
    TOFFrame moved(std::move(frame));
    const uint16_t* d = moved.getData<uint16_t>(FrameType::DISTANCE, 0);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d[3], 1234);
    TOFFrame target = distAmpFrame();
    target = std::move(moved);
    EXPECT_EQ(target.getData<uint16_t>(FrameType::DISTANCE, 0), d);
    EXPECT_EQ(target.getMetadata().frameNumber, 0u);
}

TEST(Controls, NamesTableHasOneEntryPerControlInOrder) {
    for (size_t i = 0; i < ozr::CONTROL_COUNT; ++i) {
        EXPECT_EQ(static_cast<size_t>(ozr::controlNames[i].id), i);
        ASSERT_NE(ozr::controlNames[i].name, nullptr);
    }
    EXPECT_STREQ(ozr::controlNames[0].name, "GAIN");
    EXPECT_STREQ(ozr::controlNames[1].name, "ACQUISITION_MODE");
    EXPECT_STREQ(ozr::controlNames[29].name, "EDGE_FILTER_THRESHOLD");
}

}  // namespace
