// What the sources of both models do alike on the virtual driver. Each
// model's own behaviour there is tested in ozr310Source_test.cpp and
// ozr320Source_test.cpp; both models against a scripted device in
// ozrSensorSource_test.cpp.
#include "kyr/sources/ozrSensorSourceBase.h"

#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "simSensorSource.h"
#include "support/log_capture.h"

namespace {

using testsupport::Collector;
using testsupport::LogCapture;

template <typename S>
using SimSource = testsupport::SimSensorSource<S>;

using Models = ::testing::Types<OZR310Source, OZR320Source>;
TYPED_TEST_SUITE(SimSource, Models);

TYPED_TEST(SimSource, FailedTriggerStopsTheFrameBeforeItsLastImage) {
    this->start(this->config());
    Collector got(*this->source, 4);
    ASSERT_NO_FATAL_FAILURE(this->failAfterFirstTrigger({VIDIOC_S_CTRL, EIO, 0, 0}));
    LogCapture log;
    EXPECT_EQ(this->source->captureNext(true), -EIO);
    EXPECT_EQ(log.count("Failed to set control 3: " + std::string(std::strerror(EIO))), 1u);
    EXPECT_EQ(log.count("Failed to trigger shutter: -5"), 1u);
    EXPECT_EQ(got.arrivals, (std::vector<size_t>{0, 1, 2}));
}

}  // namespace
