// SplitStack: unfolds the OZR310's two readout halves.
#include "kyr/stages/splitStack.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <numeric>
#include <vector>

#include "kyr/image.h"
#include "kyr/sink.h"
#include "kyr/source.h"
#include "support/log_capture.h"

namespace {

using Img = Image<uint16_t>;

std::shared_ptr<Img> runSplit(std::shared_ptr<Img> in) {
    Source<Img> src;
    SplitStack split;
    Sink<Img> result;
    split.input << src;
    result << split;
    EXPECT_EQ(src.fire(std::move(in)), 0);
    return result.value();
}

// Input of w x h where pixel (x, y) holds y * 1000 + x.
std::shared_ptr<Img> coordinates(size_t w, size_t h) {
    auto img = Img::createNewBuffer(w, h);
    for (size_t y = 0; y < h; ++y) {
        for (size_t x = 0; x < w; ++x) {
            img->getData()[y * w + x] = static_cast<uint16_t>(y * 1000 + x);
        }
    }
    return img;
}

TEST(SplitStack, FourByOneGivesRightHalfOnTopLeftHalfBelow) {
    auto in = Img::createNewBuffer(4, 1);
    const uint16_t abcd[] = {0xA, 0xB, 0xC, 0xD};
    ASSERT_EQ(in->setData(abcd, 4), 0);
    auto out = runSplit(in);
    ASSERT_TRUE(out);
    ASSERT_EQ(out->getWidth(), 2u);
    ASSERT_EQ(out->getHeight(), 2u);
    EXPECT_EQ(out->getData()[0], 0xC);
    EXPECT_EQ(out->getData()[1], 0xD);
    EXPECT_EQ(out->getData()[2], 0xA);
    EXPECT_EQ(out->getData()[3], 0xB);
}

TEST(SplitStack, LeftHalvesTopDownBelowRightHalvesBottomUpAbove) {
    const size_t w = 8, h = 3;
    auto out = runSplit(coordinates(w, h));
    ASSERT_TRUE(out);
    ASSERT_EQ(out->getWidth(), 4u);
    ASSERT_EQ(out->getHeight(), 6u);
    for (size_t y = 0; y < h; ++y) {
        for (size_t x = 0; x < 4; ++x) {
            // Input row y, left half -> output row h + y.
            EXPECT_EQ(out->getData()[(h + y) * 4 + x], y * 1000 + x);
            // Input row y, right half -> output row h - 1 - y.
            EXPECT_EQ(out->getData()[(h - 1 - y) * 4 + x], y * 1000 + 4 + x);
        }
    }
}

TEST(SplitStack, OddWidthDropsTheLastColumn) {
    auto out = runSplit(coordinates(5, 2));
    ASSERT_TRUE(out);
    ASSERT_EQ(out->getWidth(), 2u);
    ASSERT_EQ(out->getHeight(), 4u);
    // Right half starts at column 2: (2, 3); column 4 is nowhere.
    const std::vector<uint16_t> expected{1002, 1003, 2, 3, 0, 1, 1000, 1001};
    EXPECT_EQ(std::vector<uint16_t>(out->getData(), out->getData() + 8), expected);
}

TEST(SplitStack, DegenerateSizesGiveEmptyImages) {
    auto narrow = runSplit(coordinates(1, 3));
    ASSERT_TRUE(narrow);
    EXPECT_EQ(narrow->getWidth(), 0u);
    EXPECT_EQ(narrow->getHeight(), 6u);
    auto flat = runSplit(coordinates(6, 0));
    ASSERT_TRUE(flat);
    EXPECT_EQ(flat->getWidth(), 3u);
    EXPECT_EQ(flat->getHeight(), 0u);
}

TEST(SplitStack, KeepsTheInputAndNamesItself) {
    auto in = coordinates(4, 2);
    std::vector<uint16_t> before(in->getData(), in->getData() + 8);
    auto out = runSplit(in);
    ASSERT_TRUE(out);
    EXPECT_EQ(std::vector<uint16_t>(in->getData(), in->getData() + 8), before);
    SplitStack s;
    EXPECT_STREQ(s.getName(), "SplitStack");
}

TEST(SplitStack, ActionWithoutInputIsRefused) {
    testsupport::LogCapture log;
    SplitStack split;
    EXPECT_EQ(split.action(), -22);
    EXPECT_EQ(log.count("Input image is null"), 1u);
}

}  // namespace
