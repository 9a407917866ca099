#include "kyr/image.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

#include "kyr/phaseType.h"
#include "support/log_capture.h"

namespace {

using Phase = PhaseType<uint16_t>;

TEST(PhaseType, ConvertsWithFullScale65535) {
    EXPECT_EQ(Phase::to_float(0), 0.0f);
    EXPECT_EQ(Phase::to_float(65535), 6.2831855f);
    EXPECT_FLOAT_EQ(Phase::to_float(32768), 3.1416407f);
    EXPECT_EQ(static_cast<float>(Phase(uint16_t{16384})), Phase::to_float(16384));
    EXPECT_EQ(Phase(uint16_t{1234}).getRaw(), 1234);
    EXPECT_EQ(Phase().getRaw(), 0);
}

TEST(PhaseType, FromFloatWrapsIntoOneTurn) {
    EXPECT_EQ(Phase(0.0f).getRaw(), 0);
    EXPECT_EQ(Phase(6.2831855f).getRaw(), 0);  // a full turn wraps to 0
    EXPECT_EQ(Phase(-0.5f).getRaw(), Phase(6.2831855f - 0.5f).getRaw());
    EXPECT_EQ(Phase(3.0f * 6.2831855f + 1.0f).getRaw(), Phase(1.0f).getRaw());
    EXPECT_EQ(Phase(std::numeric_limits<float>::quiet_NaN()).getRaw(), 0);
    EXPECT_EQ(Phase(std::numeric_limits<float>::infinity()).getRaw(), 0);
    // Just below a full turn rounds to the top of the scale, never past it.
    EXPECT_EQ(Phase(std::nextafter(6.2831855f, 0.0f)).getRaw(), 65535);
}

TEST(PhaseType, FromFloatRoundsHalvesAwayFromZero) {
    // Find the radian value of raw 100.5 as the conversion computes it and
    // check that values at and just above the half round up.
    for (uint16_t raw : {uint16_t{0}, uint16_t{100}, uint16_t{40000}}) {
        const float half = (static_cast<float>(raw) + 0.5f) * 6.2831855f / 65535.0f;
        const uint16_t got = Phase(half).getRaw();
        const float scaled = half * 65535.0f / 6.2831855f;
        EXPECT_EQ(got, static_cast<uint16_t>(std::round(scaled))) << raw;
        EXPECT_TRUE(got == raw || got == raw + 1) << raw;
    }
    EXPECT_EQ(Phase::from_float(1.0f * 6.2831855f / 65535.0f), 1);
}

TEST(PhaseType, SubtractionWrapsModulo65536) {
    EXPECT_EQ((Phase(uint16_t{100}) - Phase(uint16_t{200})).getRaw(), 65436);
    EXPECT_EQ((Phase(uint16_t{0}) - Phase(uint16_t{65535})).getRaw(), 1);
    EXPECT_EQ((Phase(uint16_t{300}) - Phase(uint16_t{200})).getRaw(), 100);
}

TEST(Image, CreateNewBufferGivesIndependentImages) {
    auto a = Image<uint16_t>::createNewBuffer(640, 480);
    auto b = Image<uint16_t>::createNewBuffer(640, 480);
    ASSERT_TRUE(a && b);
    EXPECT_NE(a->getData(), b->getData());
    EXPECT_EQ(a->getWidth(), 640u);
    EXPECT_EQ(a->getHeight(), 480u);
    EXPECT_EQ(a->pixelCount(), 640u * 480u);
    EXPECT_EQ(a->size(), 640u * 480u * 2u);
    EXPECT_EQ(Image<float>::createNewBuffer(3, 5)->size(), 60u);
    EXPECT_EQ(Image<Phase>::createNewBuffer(3, 5)->size(), 30u);
}

TEST(Image, EmptyImageIsValid) {
    auto img = Image<uint16_t>::createNewBuffer(0, 0);
    ASSERT_TRUE(img);
    EXPECT_EQ(img->size(), 0u);
    EXPECT_EQ(img->setData(nullptr, 0), 0);
}

TEST(Image, UnrepresentableSizeIsRefusedWithMessage) {
    testsupport::LogCapture log;
    const size_t huge = std::numeric_limits<size_t>::max() / 2;
    EXPECT_EQ(Image<uint16_t>::createNewBuffer(huge, 3), nullptr);
    EXPECT_EQ(log.countLevel(kyr::platform::LogLevel::LOG_LEVEL_ERROR), 1u);
}

TEST(Image, SetDataCopiesUpToPixelCountAndRefusesMore) {
    auto img = Image<uint16_t>::createNewBuffer(4, 2);
    std::vector<uint16_t> src(9);
    std::iota(src.begin(), src.end(), 1);
    ASSERT_EQ(img->setData(src.data(), 8), 0);
    EXPECT_EQ(std::vector<uint16_t>(img->getData(), img->getData() + 8),
              std::vector<uint16_t>(src.begin(), src.begin() + 8));

    std::vector<uint16_t> other(9, 7);
    EXPECT_EQ(img->setData(other.data(), 9), -22);
    EXPECT_EQ(img->getData()[0], 1);  // nothing copied
    ASSERT_EQ(img->setData(other.data(), 3), 0);
    EXPECT_EQ(img->getData()[2], 7);
    EXPECT_EQ(img->getData()[3], 4);
}

TEST(Image, PixelCodesMarkInvalidValues) {
    EXPECT_TRUE(ImageBase::isPixelCode(64000));
    EXPECT_FALSE(ImageBase::isPixelCode(63999));
    EXPECT_EQ(ImageBase::EDGE_FILTERED, 64006u);
    EXPECT_LT(ImageBase::LOW_AMPLITUDE, ImageBase::INTERFERENCE);
}

}  // namespace
