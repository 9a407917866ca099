// Shift stage: brings the driver's upper-bit samples into range.
#include "kyr/stages/shift.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "kyr/image.h"
#include "kyr/sink.h"
#include "kyr/source.h"
#include "support/log_capture.h"

namespace {

template <typename T>
std::shared_ptr<Image<T>> makeImage(size_t w, size_t h, const std::vector<T>& pixels) {
    auto img = Image<T>::createNewBuffer(w, h);
    EXPECT_EQ(img->setData(pixels.data(), pixels.size()), 0);
    return img;
}

// Feeds `in` through a Shift of `bits` and returns what it published.
template <typename T>
std::shared_ptr<Image<T>> runShift(uint8_t bits, std::shared_ptr<Image<T>> in) {
    Source<Image<T>> src;
    Shift<T> shift(bits);
    Sink<Image<T>> result;
    shift.input << src;
    result << shift;
    EXPECT_EQ(src.fire(std::move(in)), 0);
    return result.value();
}

TEST(Shift, UnsignedSamplesShiftLogically) {
    auto in = makeImage<uint16_t>(3, 2, {0xFFF0, 0x0010, 0x000F, 0x8000, 0x1230, 0});
    const uint16_t* before = in->getData();
    auto out = runShift<uint16_t>(4, in);
    ASSERT_TRUE(out);
    EXPECT_NE(out->getData(), before);  // a new image; the input stays as it was
    EXPECT_EQ(in->getData()[0], 0xFFF0);
    ASSERT_EQ(out->getWidth(), 3u);
    ASSERT_EQ(out->getHeight(), 2u);
    const std::vector<uint16_t> expected{4095, 1, 0, 0x0800, 0x0123, 0};
    EXPECT_EQ(std::vector<uint16_t>(out->getData(), out->getData() + 6), expected);
}

TEST(Shift, SignedSamplesKeepTheirSign) {
    auto out = runShift<int16_t>(4, makeImage<int16_t>(4, 1, {-32, 32, -1, INT16_MIN}));
    ASSERT_TRUE(out);
    EXPECT_EQ(out->getData()[0], -2);
    EXPECT_EQ(out->getData()[1], 2);
    EXPECT_EQ(out->getData()[2], -1);
    EXPECT_EQ(out->getData()[3], INT16_MIN / 16);
}

TEST(Shift, ZeroBitsCopiesAndDefaultIsZero) {
    Shift<uint16_t> byDefault;
    EXPECT_EQ(byDefault.getShiftBits(), 0);
    EXPECT_STREQ(byDefault.getName(), "Shift");
    auto out = runShift<uint16_t>(0, makeImage<uint16_t>(2, 1, {0xABCD, 1}));
    ASSERT_TRUE(out);
    EXPECT_EQ(out->getData()[0], 0xABCD);
    EXPECT_EQ(out->getData()[1], 1);
}

TEST(Shift, ShiftsOfSixteenBitsOrMoreLeaveOnlyTheSign) {
    // Defined for every uint8_t count (no shift past the width of int).
    for (uint8_t bits : {uint8_t{15}, uint8_t{16}, uint8_t{31}, uint8_t{32}, uint8_t{255}}) {
        auto u = runShift<uint16_t>(bits, makeImage<uint16_t>(2, 1, {0xFFFF, 0x8000}));
        ASSERT_TRUE(u);
        EXPECT_EQ(u->getData()[0], bits == 15 ? 1 : 0) << int(bits);
        EXPECT_EQ(u->getData()[1], bits == 15 ? 1 : 0) << int(bits);
        auto s = runShift<int16_t>(bits, makeImage<int16_t>(2, 1, {-300, 300}));
        ASSERT_TRUE(s);
        EXPECT_EQ(s->getData()[0], -1) << int(bits);
        EXPECT_EQ(s->getData()[1], 0) << int(bits);
    }
}

TEST(Shift, SetShiftBitsTakesEffectOnTheNextImage) {
    Source<Image<uint16_t>> src;
    Shift<uint16_t> shift(4);
    Sink<Image<uint16_t>> result;
    shift.input << src;
    result << shift;
    ASSERT_EQ(src.fire(makeImage<uint16_t>(1, 1, {0x0100})), 0);
    EXPECT_EQ(result.value()->getData()[0], 0x0010);
    shift.setShiftBits(8);
    EXPECT_EQ(shift.getShiftBits(), 8);
    ASSERT_EQ(src.fire(makeImage<uint16_t>(1, 1, {0x0100})), 0);
    EXPECT_EQ(result.value()->getData()[0], 0x0001);
}

TEST(Shift, EmptyImageGivesEmptyImage) {
    auto out = runShift<uint16_t>(4, Image<uint16_t>::createNewBuffer(0, 7));
    ASSERT_TRUE(out);
    EXPECT_EQ(out->getWidth(), 0u);
    EXPECT_EQ(out->getHeight(), 7u);
}

TEST(Shift, ActionWithoutInputIsRefused) {
    testsupport::LogCapture log;
    Shift<int16_t> shift(4);
    EXPECT_EQ(shift.action(), -22);
    EXPECT_EQ(log.count("Input image is null"), 1u);
}

}  // namespace
