// The filter graph on synthetic images: where the error codes land, the
// filters in the distance path only, and the control conversions.
#include "kyr/graphs/filterGraph.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "kyr/core/stages/compensation/compensationTestUtil.h"

namespace {

using ozr::ControlID;
using testsupport::Catcher;

std::shared_ptr<Image<uint16_t>> row(const std::vector<uint16_t>& v) {
    auto img = Image<uint16_t>::createNewBuffer(v.size(), 1);
    std::copy(v.begin(), v.end(), img->getData());
    return img;
}

struct FilterRig {
    FilterRig() {
        Source<Image<uint16_t>>* d[4] = {&dcs[0], &dcs[1], &dcs[2], &dcs[3]};
        graph.connect(&distance, &amplitude, d);
    }
    // One frame as the pipelines publish it: DCS first, then amplitude and
    // distance. DCS0 of pixel i is dcs0[i], the others 2048.
    void frame(const std::vector<uint16_t>& dist, const std::vector<uint16_t>& amp,
               const std::vector<uint16_t>& dcs0) {
        dcs[0].fire(row(dcs0));
        for (size_t k = 1; k < 4; ++k) dcs[k].fire(row(std::vector<uint16_t>(dcs0.size(), 2048)));
        amplitude.fire(row(amp));
        distance.fire(row(dist));
    }
    FilterGraph graph;
    Source<Image<uint16_t>> distance, amplitude, dcs[4];
    Catcher<Image<uint16_t>> outDist{*graph.getDistanceSource()};
    Catcher<Image<uint16_t>> outAmp{*graph.getAmplitudeSource()};
};

TEST(FilterGraph, CodesInTheDistanceAndSaturationAlsoInTheAmplitude) {
    FilterRig rig;
    // Pixels: valid, weak (below 100), saturated (a DCS sample 0), overflow.
    rig.frame({1000, 1000, 1000, 1000}, {500, 99, 500, 500}, {2048, 2048, 0, 4095});
    const auto dist = rig.outDist.take();
    const auto amp = rig.outAmp.take();
    ASSERT_TRUE(dist && amp);
    const uint16_t wantDist[] = {1000, 64001, 64003, 64002};
    const uint16_t wantAmp[] = {500, 99, 64003, 64002};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(dist->getData()[i], wantDist[i]) << i;
        EXPECT_EQ(amp->getData()[i], wantAmp[i]) << i;
    }
    // The edge filter sits in the distance path: a jump of more than its
    // threshold marks both sides there, never in the amplitude.
    ASSERT_EQ(rig.graph.setControl(ControlID::EDGE_FILTER_ENABLE, 1), 0);
    rig.frame({1000, 1000, 1500, 1500}, {500, 500, 500, 500}, {2048, 2048, 2048, 2048});
    const auto edged = rig.outDist.take();
    ASSERT_TRUE(edged);
    const uint16_t wantEdge[] = {1000, 64006, 64006, 1500};
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(edged->getData()[i], wantEdge[i]) << i;
    EXPECT_EQ(rig.outAmp.take()->getData()[1], 500);
}

TEST(FilterGraph, ControlConversions) {
    FilterGraph graph;
    struct Case {
        ControlID id;
        int set;
        int readBack;
    };
    const Case cases[] = {
        {ControlID::TEMPORAL_FILTER_ALPHA, 53, 52}, {ControlID::TEMPORAL_FILTER_ALPHA, 59, 58},
        {ControlID::TEMPORAL_FILTER_ALPHA, 50, 50}, {ControlID::TEMPORAL_FILTER_ALPHA, 150, 100},
        {ControlID::TEMPORAL_FILTER_ALPHA, -5, 0},  {ControlID::MIN_AMPLITUDE, 70000, 4464},
        {ControlID::KALMAN_FILTER_ENABLE, -3, 1}};
    for (const Case& c : cases) {
        EXPECT_EQ(graph.setControl(c.id, c.set), 0);
        int value = -1;
        EXPECT_EQ(graph.getControl(c.id, value), 0);
        EXPECT_EQ(value, c.readBack) << static_cast<int>(c.id) << " " << c.set;
    }
    int value = 0;
    EXPECT_EQ(graph.setControl(ControlID::ENABLE_DCS_ROLLING_MODE, 1), 0);
    EXPECT_EQ(graph.getControl(ControlID::ENABLE_DCS_ROLLING_MODE, value), -1);
    EXPECT_EQ(graph.setControl(ControlID::GAIN, 1), -1);
    EXPECT_EQ(graph.getControl(ControlID::GAIN, value), -1);
}

}  // namespace
