// The mask, merge, error-code, HDR selection and stitch stages in the
// dataflow: names and input order of every instantiation, worked values on
// every image shape, refused inputs.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "kyr/stages/applyErrorMask.h"
#include "kyr/stages/errorToZero.h"
#include "kyr/stages/hdrSelectionMask.h"
#include "kyr/stages/mergeErrorMasks.h"
#include "kyr/stages/minAmplitude.h"
#include "kyr/stages/minAmplitudeMask.h"
#include "kyr/stages/saturationMask.h"
#include "kyr/stages/stitch.h"
#include "kyr/status.h"
#include "support/log_capture.h"

namespace {

using U16 = Image<uint16_t>;
using I16 = Image<int16_t>;

// Feeds a stage's inputs, in the order added, from sources of its own and
// catches what the stage publishes.
template <typename Out>
class Probe {
public:
    explicit Probe(Stage<Out>& stage) : stage(stage) { result << stage; }

    template <typename T>
    Probe& add(Input<T>& input) {
        auto source = std::make_unique<Source<T>>();
        input << *source;
        fires.push_back([s = source.get()](size_t w, size_t h, const std::vector<int>& pattern) {
            auto img = T::createNewBuffer(w, h);
            using Pixel = std::remove_reference_t<decltype(*img->getData())>;
            for (size_t i = 0; i < img->pixelCount(); ++i) {
                img->getData()[i] = static_cast<Pixel>(pattern[i % pattern.size()]);
            }
            s->fire(std::move(img));
        });
        sources.push_back(std::move(source));
        return *this;
    }
    template <typename T, size_t N>
    Probe& add(Input<T> (&inputs)[N]) {
        for (auto& input : inputs) add(input);
        return *this;
    }

    static constexpr size_t NONE = SIZE_MAX;

    // Publishes to input k a w x h image holding patterns[k] repeated (the
    // size of input `odd` swapped); returns what the stage published.
    std::shared_ptr<Out> run(size_t w, size_t h, const std::vector<std::vector<int>>& patterns,
                             size_t odd = NONE) {
        for (size_t k = 0; k < fires.size(); ++k) {
            fires[k](k == odd ? h : w, k == odd ? w : h, patterns.at(k % patterns.size()));
        }
        return result.hasNewData() ? result.value() : nullptr;
    }

    // On every shape pixel i of the output is expect[i % expect.size()].
    void expectOnEveryShape(const std::vector<std::vector<int>>& patterns,
                            const std::vector<int>& expect) {
        // Empty, 1 x 1, a row, a column, 2 x 2, an odd frame wider than
        // every vector.
        const size_t shapes[][2] = {{0, 0}, {1, 1}, {1, 9}, {9, 1}, {2, 2}, {67, 5}};
        for (const auto& s : shapes) {
            const auto out = run(s[0], s[1], patterns);
            ASSERT_TRUE(out) << s[0] << " x " << s[1];
            ASSERT_EQ(out->getWidth(), s[0]);
            ASSERT_EQ(out->getHeight(), s[1]);
            for (size_t i = 0; i < out->pixelCount(); ++i) {
                ASSERT_EQ(out->getData()[i], expect[i % expect.size()])
                    << "pixel " << i << " of " << s[0] << " x " << s[1];
            }
        }
    }

    // An image of another size than the first, at any input, is refused and
    // logged with both sizes; so is a run without images.
    void expectRefusals() {
        for (size_t odd = 1; odd < fires.size(); ++odd) {
            testsupport::LogCapture log;
            EXPECT_EQ(run(3, 4, {{1}}, odd), nullptr) << "input " << odd;
            EXPECT_TRUE(log.contains(std::string(stage.getName()) +
                                     ": input images differ in size (3 x 4 and 4 x 3)"))
                << stage.getName() << ", input " << odd;
        }
        testsupport::LogCapture log;
        EXPECT_EQ(stage.action(), kyr::status::INVALID_ARGUMENT);
        EXPECT_TRUE(log.contains(std::string(stage.getName()) + ": Input image is null"));
    }

private:
    Stage<Out>& stage;
    std::vector<std::unique_ptr<SourceBase>> sources;
    std::vector<std::function<void(size_t, size_t, const std::vector<int>&)>> fires;
    Sink<Out> result;
};

void expectInputs(const StageBase& stage, const char* name,
                  const std::vector<const SinkBase*>& inputs) {
    EXPECT_STREQ(stage.getName(), name);
    const auto& deps = stage.getDependencies();
    ASSERT_EQ(deps.count, inputs.size()) << name;
    for (size_t k = 0; k < inputs.size(); ++k) EXPECT_EQ(deps.entity[k], inputs[k]) << name;
}

template <class S>
void expectArrayInputs(const char* name) {
    S stage;
    std::vector<const SinkBase*> inputs;
    if constexpr (requires { stage.inMask; }) inputs.push_back(&stage.inMask);
    if constexpr (requires { stage.input; }) {
        for (const auto& in : stage.input) inputs.push_back(&in);
    } else {
        for (const auto& in : stage.amplitude) inputs.push_back(&in);
    }
    expectInputs(stage, name, inputs);
}

TEST(MaskStages, NamesAndInputOrder) {
    expectArrayInputs<SaturationMask<1>>("Saturation Mask");
    expectArrayInputs<SaturationMask<4>>("Saturation Mask");
    expectArrayInputs<MergeErrorMasks<2>>("Merge Error Masks");
    expectArrayInputs<MergeErrorMasks<3>>("Merge Error Masks");
    expectArrayInputs<MergeErrorMasks<4>>("Merge Error Masks");
    expectArrayInputs<HDRSelectionMask<2>>("HDRSelectionMask");
    expectArrayInputs<HDRSelectionMask<3>>("HDRSelectionMask");
    expectArrayInputs<HDRSelectionMask<4>>("HDRSelectionMask");
    expectArrayInputs<Stitch<2, uint16_t>>("Stitch");
    expectArrayInputs<Stitch<3, uint16_t>>("Stitch");
    expectArrayInputs<Stitch<4, uint16_t>>("Stitch");
    expectArrayInputs<Stitch<3, int16_t>>("Stitch");
    MinAmplitudeMask minMask(100);
    expectInputs(minMask, "Min Amplitude Mask", {&minMask.amplitude});
    MinAmplitude minAmp(7);
    expectInputs(minAmp, "MinAmplitude", {&minAmp.amplitude, &minAmp.distance});
    ApplyErrorMask apply;
    expectInputs(apply, "Apply Error Mask", {&apply.image, &apply.mask});
    ErrorToZero toZero;
    expectInputs(toZero, "Insert Errors", {&toZero.input});
}

TEST(MaskStages, SaturationMask) {
    SaturationMask<4> four;
    Probe<U16>(four)
        .add(four.input)
        .expectOnEveryShape({{0, 4095, 1, 2, 4096},
                             {4095, 1, 4094, 2, 65535},
                             {100, 1, 2000, 2, 4095},
                             {100, 1, 3000, 0, 5}},
                            {64003, 64002, 0, 64003, 64002});
    SaturationMask<1> one;
    Probe<U16>(one).add(one.input).expectOnEveryShape({{0, 4095, 4096, 4094}},
                                                      {64003, 64002, 0, 0});
}

// The threshold is strict, a code is a large amplitude, and a new threshold
// holds from the next run.
TEST(MaskStages, MinAmplitudeMask) {
    MinAmplitudeMask stage(100);
    EXPECT_EQ(stage.getMinAmplitude(), 100);
    Probe<U16> probe(stage);
    probe.add(stage.amplitude);
    probe.expectOnEveryShape({{99, 100, 0, 64003, 101}}, {64001, 0, 64001, 0, 0});
    stage.setMinAmplitude(0);
    probe.expectOnEveryShape({{99, 100, 0, 64003, 101}}, {0});
    stage.setMinAmplitude(64004);
    EXPECT_EQ(stage.getMinAmplitude(), 64004);
    probe.expectOnEveryShape({{99, 100, 0, 64003, 101}}, {64001});
}

TEST(MaskStages, MinAmplitude) {
    MinAmplitude stage(100);
    Probe<U16>(stage)
        .add(stage.amplitude)
        .add(stage.distance)
        .expectOnEveryShape({{99, 100, 0, 64003, 5000}, {1234, 1234, 64005, 64005, 0}},
                            {64001, 1234, 64001, 64005, 0});
    stage.setMinAmplitude(5);
    EXPECT_EQ(stage.getMinAmplitude(), 5);
}

TEST(MaskStages, MergeErrorMasks) {
    MergeErrorMasks<3> stage;
    Probe<U16>(stage)
        .add(stage.input)
        .expectOnEveryShape(
            {{64001, 0, 0, 64006, 0}, {0, 0, 64005, 64003, 0}, {64003, 0, 64001, 64005, 64002}},
            {64003, 0, 64005, 64006, 64002});
}

TEST(MaskStages, ApplyErrorMaskAndErrorToZero) {
    ApplyErrorMask apply;
    Probe<U16>(apply)
        .add(apply.image)
        .add(apply.mask)
        .expectOnEveryShape({{1234, 1234, 64005, 63999, 0}, {0, 64002, 64001, 0, 64000}},
                            {1234, 64002, 64005, 63999, 64000});
    ErrorToZero toZero;
    Probe<U16>(toZero)
        .add(toZero.input)
        .expectOnEveryShape({{63999, 64000, 65535, 0, 64006}}, {63999, 0, 0, 0, 0});
}

// Per pixel the exposures (100, 300, 200), (300, 300, 200), (64003, 50, 60),
// (64003, 64003, 64001), (0, 0, 5), (0, 0, 0), (5, 63999, 7), (5, 64000, 7).
TEST(MaskStages, HDRSelectionMask) {
    HDRSelectionMask<3> stage;
    Probe<U16>(stage)
        .add(stage.amplitude)
        .expectOnEveryShape({{100, 300, 64003, 64003, 0, 0, 5, 5},
                             {300, 300, 50, 64003, 0, 0, 63999, 64000},
                             {200, 200, 60, 64001, 5, 0, 7, 7}},
                            {1, 0, 2, 0, 2, 0, 1, 2});
}

// Codes are copied like values, signed values keep their bits, and a mask
// value that names no exposure takes exposure 0.
TEST(MaskStages, Stitch) {
    Stitch<3, uint16_t> stage;
    Probe<U16>(stage)
        .add(stage.inMask)
        .add(stage.amplitude)
        .expectOnEveryShape({{0, 1, 2, 2, 3, 65535},
                             {10, 11, 12, 13, 14, 15},
                             {20, 21, 22, 23, 24, 25},
                             {30, 31, 64003, 33, 34, 35}},
                            {10, 21, 64003, 33, 14, 15});
    Stitch<3, int16_t> signedStage;
    Probe<I16>(signedStage)
        .add(signedStage.inMask)
        .add(signedStage.amplitude)
        .expectOnEveryShape(
            {{0, 1, 2, 7, 1}, {-4095, -1, 0, -32768, 5}, {1, -2, 3, 4, 32767}, {6, 7, -3, 9, 10}},
            {-4095, -2, -3, -32768, 32767});
}

TEST(MaskStages, RefuseMissingImagesAndOtherSizes) {
    SaturationMask<4> saturation;
    Probe<U16>(saturation).add(saturation.input).expectRefusals();
    MinAmplitudeMask minMask(1);
    Probe<U16>(minMask).add(minMask.amplitude).expectRefusals();
    MinAmplitude minAmp(1);
    Probe<U16>(minAmp).add(minAmp.amplitude).add(minAmp.distance).expectRefusals();
    MergeErrorMasks<4> merge;
    Probe<U16>(merge).add(merge.input).expectRefusals();
    ApplyErrorMask apply;
    Probe<U16>(apply).add(apply.image).add(apply.mask).expectRefusals();
    ErrorToZero toZero;
    Probe<U16>(toZero).add(toZero.input).expectRefusals();
    HDRSelectionMask<3> hdr;
    Probe<U16>(hdr).add(hdr.amplitude).expectRefusals();
    Stitch<3, int16_t> stitch;
    Probe<I16>(stitch).add(stitch.inMask).add(stitch.amplitude).expectRefusals();
}

}  // namespace
