// The DCS-to-distance graph on synthetic DCS images of known phase: wiring
// and stage names, exact amplitude, phase and distance with and without
// calibration, controls, per-frequency compensation and rolling mode.
#include "kyr/graphs/dcs2DistAmpGraph.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "kyr/calibration/calibrationDataRegistry.h"
#include "kyr/core/stages/compensation/compensationTestUtil.h"
#include "support/log_capture.h"

namespace {

using ozr::ControlID;
using testsupport::Catcher;
using testsupport::LogCapture;
using testsupport::ScopedProvider;
using PhaseImage = Image<PhaseType<uint16_t>>;

constexpr uint32_t MHZ20 = 20000000;
constexpr uint32_t MHZ10 = 10000000;

// Millimetres for a raw phase: the phase-to-distance rule in single
// precision, written out.
uint16_t distanceOf(uint16_t raw, uint32_t hz) {
    const float scale = 299792433152.0f / (static_cast<float>(hz) * 12.566371f);
    const float radians = (static_cast<float>(raw) * 6.2831855f) / 65535.0f;
    return static_cast<uint16_t>(static_cast<int32_t>(radians * scale));
}

// The one live stage called `name`.
const StageBase* findStage(const char* name) {
    const StageBase* found = nullptr;
    int n = 0;
    StageBase::forEachStage([&](const StageBase& s) {
        if (std::strcmp(s.getName(), name) == 0) {
            found = &s;
            ++n;
        }
    });
    EXPECT_EQ(n, 1) << name;
    return found;
}

// A graph fed by four DCS sources and a temperature source, with catchers
// on its three outputs.
struct GraphRig {
    explicit GraphRig(uint32_t hz = MHZ20) : graph(hz) {
        Source<Image<uint16_t>>* dcs[4] = {&dcsOut[0], &dcsOut[1], &dcsOut[2], &dcsOut[3]};
        graph.connect(dcs, &temperature);
    }

    // Publishes the temperature, then DCS0..DCS3 (as a sensor source does).
    void frame(const std::vector<std::shared_ptr<Image<uint16_t>>>& dcs, float celsius = 25.0f) {
        temperature.fire(std::make_shared<float>(celsius));
        for (size_t k = 0; k < 4; ++k) dcsOut[k].fire(std::shared_ptr<Image<uint16_t>>(dcs[k]));
    }

    DCS2DistAmpGraph graph;
    Source<Image<uint16_t>> dcsOut[4];
    Source<float> temperature;
    Catcher<Image<uint16_t>> amplitude{*graph.getAmplitudeSource()};
    Catcher<Image<uint16_t>> distance{*graph.getDistanceSource()};
    Catcher<PhaseImage> phase{*graph.getPhaseSource()};
};

// Four DCS images of width n x 1 whose differences are DCS2 - DCS0 = x[i]
// and DCS3 - DCS1 = y[i] around a mid-level of 2048.
std::vector<std::shared_ptr<Image<uint16_t>>> dcsFor(const std::vector<int>& x,
                                                     const std::vector<int>& y) {
    std::vector<std::shared_ptr<Image<uint16_t>>> d;
    for (int k = 0; k < 4; ++k) d.push_back(Image<uint16_t>::createNewBuffer(x.size(), 1));
    for (size_t i = 0; i < x.size(); ++i) {
        d[0]->getData()[i] = static_cast<uint16_t>(2048 - x[i] / 2);
        d[2]->getData()[i] = static_cast<uint16_t>(d[0]->getData()[i] + x[i]);
        d[1]->getData()[i] = static_cast<uint16_t>(2048 - y[i] / 2);
        d[3]->getData()[i] = static_cast<uint16_t>(d[1]->getData()[i] + y[i]);
    }
    return d;
}

// Phase offset calibration per frequency: a constant offset image of the
// frame's size, and the temperature model.
class PerFrequencyOffsets : public CalibrationProviderIF<PhaseOffsetData> {
public:
    int getCalibrationData(uint32_t hz, PhaseOffsetData& data) override {
        requests.push_back(hz);
        const auto it = offsets.find(hz);
        if (it == offsets.end()) {
            data = PhaseOffsetData{};
            return -2;
        }
        data.offsetImage = PhaseImage::createNewBuffer(width, 1);
        for (size_t i = 0; i < width; ++i) data.offsetImage->getData()[i] = it->second;
        data.calibrationTemp_C = 25.0f;
        data.sensorTempSlope_mm_K = 22.0f;
        data.calibratedFrequency_Hz = hz;
        return 0;
    }
    void getCalibratedFrequencies(FrequencyList& list) override { list = FrequencyList{}; }

    std::map<uint32_t, uint16_t> offsets;
    size_t width = 0;
    std::vector<uint32_t> requests;
};

// A four-entry phase error table per frequency.
class PerFrequencyTables : public CalibrationProviderIF<PhaseErrorLUTData> {
public:
    int getCalibrationData(uint32_t hz, PhaseErrorLUTData& data) override {
        const auto it = tables.find(hz);
        if (it == tables.end()) {
            data.lut.reset();
            data.lutSize = 0;
            return -2;
        }
        data.lut = std::make_unique<PhaseType<uint16_t>[]>(it->second.size());
        for (size_t k = 0; k < it->second.size(); ++k) data.lut[k] = it->second[k];
        data.lutSize = it->second.size();
        return 0;
    }
    void getCalibratedFrequencies(FrequencyList& list) override { list = FrequencyList{}; }

    std::map<uint32_t, std::vector<uint16_t>> tables;
};

class DCS2DistAmpGraphTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::useDefaultProviders(); }
    void TearDown() override { testsupport::useDefaultProviders(); }
};

TEST_F(DCS2DistAmpGraphTest, StagesAreNamedAndWired) {
    DCS2DistAmpGraph graph(MHZ10);
    for (const char* name :
         {"Subtract (DCS3 - DCS1)", "Subtract (DCS2 - DCS0)", "Amplitude", "Atan2 CORDIC",
          "Phase Error LUT", "Phase Offset Comp.", "Linear Temp. Comp.", "Phase to Dist."}) {
        EXPECT_NE(findStage(name), nullptr) << name;
    }
    // The outputs: amplitude, distance and the phase before the temperature.
    EXPECT_STREQ(graph.getAmplitudeSource()->getOwner()->getName(), "Amplitude");
    EXPECT_STREQ(graph.getDistanceSource()->getOwner()->getName(), "Phase to Dist.");
    EXPECT_STREQ(graph.getPhaseSource()->getOwner()->getName(), "Phase Offset Comp.");
    // Each difference feeds the amplitude and the phase; the phase chain is
    // one line.
    EXPECT_EQ(graph.getAmplitudeSource()->getListenerCount(), 0u);
    const StageBase* d31 = findStage("Subtract (DCS3 - DCS1)");
    const StageBase* d20 = findStage("Subtract (DCS2 - DCS0)");
    ASSERT_TRUE(d31 && d20);
    EXPECT_EQ(dynamic_cast<const SourceBase*>(d31)->getListenerCount(), 2u);
    EXPECT_EQ(dynamic_cast<const SourceBase*>(d20)->getListenerCount(), 2u);
}

// Without calibration: the phase is the CORDIC phase of
// (DCS3 - DCS1, DCS2 - DCS0), the distance its conversion.
TEST_F(DCS2DistAmpGraphTest, KnownPhasesWithoutCalibration) {
    GraphRig rig(MHZ20);
    const std::vector<int> x = {1000, 0, -1000, 0, 4, 0, 700, -700, 2000, -2047};
    const std::vector<int> y = {0, 1000, 0, -1000, 3, 0, 700, -700, -2000, 2047};
    rig.frame(dcsFor(x, y));
    const auto amp = rig.amplitude.take();
    const auto phase = rig.phase.take();
    const auto dist = rig.distance.take();
    ASSERT_TRUE(amp && phase && dist);
    ASSERT_EQ(dist->getWidth(), x.size());
    const uint16_t expectPhase[] = {0, 16384, 32768, 49152, 0 /*below*/,
                                    0, 8190,  40958, 57342, 24574};
    const uint16_t expectAmp[] = {500, 500, 500, 500, 2, 0, 494, 494, 1414, 1447};
    for (size_t i = 0; i < x.size(); ++i) {
        SCOPED_TRACE(i);
        if (i != 4) {
            EXPECT_EQ(phase->getData()[i].getRaw(), expectPhase[i]);
        }
        EXPECT_EQ(amp->getData()[i], expectAmp[i]);
        EXPECT_EQ(dist->getData()[i], distanceOf(phase->getData()[i].getRaw(), MHZ20));
    }
    // atan2(3, 4) = 0.6435 rad = 6711.4 counts.
    EXPECT_NEAR(phase->getData()[4].getRaw(), 6711, 3);
    // The worked values of the distance conversion at 20 MHz.
    EXPECT_EQ(dist->getData()[0], 0);
    EXPECT_EQ(dist->getData()[1], 1873);
    EXPECT_EQ(dist->getData()[2], 3747);
}

// The phase is atan2 of DCS3 - DCS1 over DCS2 - DCS0, with DCS3 and DCS2 as
// minuends: exchanging DCS1 and DCS2 (or DCS0 and DCS2) changes it.
TEST_F(DCS2DistAmpGraphTest, DcsOrderMatters) {
    const std::vector<int> x = {1000};
    const std::vector<int> y = {0};
    auto dcs = dcsFor(x, y);
    GraphRig a;
    a.frame(dcs);
    EXPECT_EQ(a.phase.take()->getData()[0].getRaw(), 0);

    GraphRig b;
    b.frame({dcs[0], dcs[2], dcs[1], dcs[3]});  // x = DCS1 - DCS0 = 0, y = DCS3 - DCS2
    EXPECT_NE(b.phase.take()->getData()[0].getRaw(), 0);

    GraphRig c;
    c.frame({dcs[2], dcs[1], dcs[0], dcs[3]});  // x = -1000: half a turn
    EXPECT_EQ(c.phase.take()->getData()[0].getRaw(), 32768);
}

// Table, offset and temperature with exact expectations, per frequency.
TEST_F(DCS2DistAmpGraphTest, CompensationPerFrequency) {
    const std::vector<int> x = {1000, 0, -1000, 0};
    const std::vector<int> y = {0, 1000, 0, -1000};
    const uint16_t cordic[] = {0, 16384, 32768, 49152};
    PerFrequencyOffsets offsets;
    offsets.width = x.size();
    offsets.offsets = {{MHZ20, 50}, {MHZ10, 7000}};
    PerFrequencyTables tables;
    tables.tables = {{MHZ20, {100, 200, 300, 400}}, {MHZ10, {1, 2, 3, 4}}};
    ScopedProvider<PhaseOffsetData> p1(offsets);
    ScopedProvider<PhaseErrorLUTData> p2(tables);

    GraphRig rig(MHZ20);
    // 45 C against a calibration at 25 C with 22 mm/K at 20 MHz: 3847 counts.
    rig.frame(dcsFor(x, y), 45.0f);
    auto phase = rig.phase.take();
    auto dist = rig.distance.take();
    ASSERT_TRUE(phase && dist);
    for (size_t i = 0; i < x.size(); ++i) {
        const auto corrected = static_cast<uint16_t>(cordic[i] - (100 + 100 * i) - 50);
        EXPECT_EQ(phase->getData()[i].getRaw(), corrected) << i;
        EXPECT_EQ(dist->getData()[i], distanceOf(static_cast<uint16_t>(corrected - 3847), MHZ20))
            << i;
    }

    // At 10 MHz: other table, other offset, other scale; the temperature
    // record is the 10 MHz one (shift 1924 for 20 K at 22 mm/K).
    ASSERT_EQ(rig.graph.setControl(ControlID::MODULATION_FREQ_HZ, MHZ10), 0);
    int hz = 0;
    ASSERT_EQ(rig.graph.getControl(ControlID::MODULATION_FREQ_HZ, hz), 0);
    EXPECT_EQ(hz, static_cast<int>(MHZ10));
    rig.frame(dcsFor(x, y), 45.0f);
    phase = rig.phase.take();
    dist = rig.distance.take();
    ASSERT_TRUE(phase && dist);
    for (size_t i = 0; i < x.size(); ++i) {
        const auto corrected = static_cast<uint16_t>(cordic[i] - (1 + i) - 7000);
        EXPECT_EQ(phase->getData()[i].getRaw(), corrected) << i;
        EXPECT_EQ(dist->getData()[i], distanceOf(static_cast<uint16_t>(corrected - 1924), MHZ10))
            << i;
    }
}

TEST_F(DCS2DistAmpGraphTest, CompensationsCanBeSwitchedOff) {
    const std::vector<int> x = {0};
    const std::vector<int> y = {1000};
    PerFrequencyOffsets offsets;
    offsets.width = 1;
    offsets.offsets = {{MHZ20, 50}};
    PerFrequencyTables tables;
    tables.tables = {{MHZ20, {100}}};
    ScopedProvider<PhaseOffsetData> p1(offsets);
    ScopedProvider<PhaseErrorLUTData> p2(tables);
    GraphRig rig(MHZ20);

    struct Case {
        ControlID id;
        uint16_t phase;
        uint16_t beforeDistance;
    };
    // Each flag alone switched off, the others on.
    const Case cases[] = {
        {ControlID::ENABLE_PHASE_ERROR_COMPENSATION, 16384 - 50, 16384 - 50 - 3847},
        {ControlID::ENABLE_PHASE_OFFSET_COMPENSATION, 16384 - 100, 16384 - 100 - 3847},
        {ControlID::ENABLE_TEMPERATURE_COMPENSATION, 16384 - 150, 16384 - 150},
    };
    for (const Case& c : cases) {
        int v = -1;
        ASSERT_EQ(rig.graph.getControl(c.id, v), 0);
        EXPECT_EQ(v, 1);
        ASSERT_EQ(rig.graph.setControl(c.id, 0), 0);
        ASSERT_EQ(rig.graph.getControl(c.id, v), 0);
        EXPECT_EQ(v, 0);
        rig.frame(dcsFor(x, y), 45.0f);
        EXPECT_EQ(rig.phase.take()->getData()[0].getRaw(), c.phase);
        EXPECT_EQ(rig.distance.take()->getData()[0], distanceOf(c.beforeDistance, MHZ20));
        ASSERT_EQ(rig.graph.setControl(c.id, 7), 0);  // any non-zero value is on
        ASSERT_EQ(rig.graph.getControl(c.id, v), 0);
        EXPECT_EQ(v, 1);
    }
}

TEST_F(DCS2DistAmpGraphTest, Controls) {
    DCS2DistAmpGraph graph(MHZ10);
    int v = -1;
    ASSERT_EQ(graph.getControl(ControlID::MODULATION_FREQ_HZ, v), 0);
    EXPECT_EQ(v, static_cast<int>(MHZ10));
    ASSERT_EQ(graph.getControl(ControlID::ENABLE_DCS_ROLLING_MODE, v), 0);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(graph.setControl(ControlID::ENABLE_DCS_ROLLING_MODE, -3), 0);
    ASSERT_EQ(graph.getControl(ControlID::ENABLE_DCS_ROLLING_MODE, v), 0);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(graph.setControl(ControlID::ENABLE_PHASE_ERROR_COMPENSATION, 7), 0);
    ASSERT_EQ(graph.getControl(ControlID::ENABLE_PHASE_ERROR_COMPENSATION, v), 0);
    EXPECT_EQ(v, 1);

    // Controls of other layers are not the graph's.
    v = 1234;
    for (ControlID id : {ControlID::GAIN, ControlID::ACQUISITION_MODE, ControlID::EXPOSURE_US,
                         ControlID::MIN_AMPLITUDE, ControlID::EDGE_FILTER_THRESHOLD}) {
        EXPECT_EQ(graph.setControl(id, 5), -1);
        EXPECT_EQ(graph.getControl(id, v), -1);
        EXPECT_EQ(v, 1234);
    }
}

// Changing the frequency asks the calibration again for the new frequency,
// in the order distance, offset, table, temperature; with no calibration the
// offset stage and the table stage say so.
TEST_F(DCS2DistAmpGraphTest, FrequencyChangeLooksUpCalibration) {
    PerFrequencyOffsets offsets;
    ScopedProvider<PhaseOffsetData> p1(offsets);
    DCS2DistAmpGraph graph(MHZ10);
    EXPECT_EQ(offsets.requests, (std::vector<uint32_t>{MHZ10, MHZ10}));
    LogCapture log;
    ASSERT_EQ(graph.setControl(ControlID::MODULATION_FREQ_HZ, 40000000), 0);
    EXPECT_EQ(offsets.requests, (std::vector<uint32_t>{MHZ10, MHZ10, 40000000, 40000000}));
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text,
              "No phase offset image available for modulation frequency 40000000 Hz. Phase "
              "offset compensation will be set to 0.");
    EXPECT_EQ(lines[1].text, "No phase error LUT available for modulation frequency 40000000 Hz.");
}

// In rolling mode a new DCS0 alone recomputes the DCS2 - DCS0 difference
// with the DCS2 held from before, and then amplitude and phase with the held
// DCS3 - DCS1; that difference is not recomputed.
TEST_F(DCS2DistAmpGraphTest, RollingModeRecomputesFromOneNewImage) {
    GraphRig rig(MHZ20);
    ASSERT_EQ(rig.graph.setControl(ControlID::ENABLE_DCS_ROLLING_MODE, 1), 0);
    rig.frame(dcsFor({1000}, {0}));
    EXPECT_EQ(rig.phase.take()->getData()[0].getRaw(), 0);
    EXPECT_EQ(rig.amplitude.take()->getData()[0], 500);

    const StageBase* d31 = findStage("Subtract (DCS3 - DCS1)");
    const StageBase* d20 = findStage("Subtract (DCS2 - DCS0)");
    const StageBase* amp = findStage("Amplitude");
    const StageBase* cordic = findStage("Atan2 CORDIC");
    const uint32_t runs31 = d31->getCallCount(), runs20 = d20->getCallCount();
    const uint32_t runsAmp = amp->getCallCount(), runsCordic = cordic->getCallCount();

    // New DCS0 = DCS2 + 1000: DCS2 - DCS0 = -1000, so half a turn.
    auto dcs0 = Image<uint16_t>::createNewBuffer(1, 1);
    dcs0->getData()[0] = static_cast<uint16_t>(2048 - 500 + 1000 + 1000);
    rig.dcsOut[0].fire(std::move(dcs0));
    EXPECT_EQ(d20->getCallCount(), runs20 + 1);
    EXPECT_EQ(d31->getCallCount(), runs31);
    EXPECT_EQ(amp->getCallCount(), runsAmp + 1);
    EXPECT_EQ(cordic->getCallCount(), runsCordic + 1);
    EXPECT_EQ(rig.phase.take()->getData()[0].getRaw(), 32768);
    EXPECT_EQ(rig.amplitude.take()->getData()[0], 500);
    EXPECT_NE(rig.distance.take(), nullptr);

    // A new DCS3 alone: y = 1000 against the held DCS1 and DCS2 - DCS0.
    auto dcs3 = Image<uint16_t>::createNewBuffer(1, 1);
    dcs3->getData()[0] = 2048 + 1000;
    rig.dcsOut[3].fire(std::move(dcs3));
    EXPECT_EQ(d31->getCallCount(), runs31 + 1);
    // atan2(1000, -1000): three eighths of a turn, two counts short.
    EXPECT_EQ(rig.phase.take()->getData()[0].getRaw(), 24574);

    // Rolling mode off drops the held images: one new image computes nothing.
    ASSERT_EQ(rig.graph.setControl(ControlID::ENABLE_DCS_ROLLING_MODE, 0), 0);
    auto again = Image<uint16_t>::createNewBuffer(1, 1);
    again->getData()[0] = 2048;
    rig.dcsOut[0].fire(std::move(again));
    EXPECT_EQ(rig.phase.take(), nullptr);
    EXPECT_EQ(d20->getCallCount(), runs20 + 1);
    // A complete frame computes again.
    rig.frame(dcsFor({0}, {1000}));
    EXPECT_EQ(rig.phase.take()->getData()[0].getRaw(), 16384);
}

// Without rolling mode, every frame needs all four images.
TEST_F(DCS2DistAmpGraphTest, NormalModeWaitsForAFullSet) {
    GraphRig rig(MHZ20);
    const auto dcs = dcsFor({1000}, {0});
    rig.temperature.fire(std::make_shared<float>(25.0f));
    for (size_t k = 0; k < 3; ++k) rig.dcsOut[k].fire(std::shared_ptr<Image<uint16_t>>(dcs[k]));
    EXPECT_EQ(rig.phase.take(), nullptr);
    EXPECT_EQ(rig.amplitude.take(), nullptr);
    rig.dcsOut[3].fire(std::shared_ptr<Image<uint16_t>>(dcs[3]));
    EXPECT_NE(rig.phase.take(), nullptr);
    EXPECT_NE(rig.amplitude.take(), nullptr);
    EXPECT_NE(rig.distance.take(), nullptr);
}

// DCS images of different sizes are refused by the difference stages; the
// graph publishes nothing for that frame and carries on with the next.
TEST_F(DCS2DistAmpGraphTest, MismatchedFrameIsDropped) {
    GraphRig rig(MHZ20);
    auto dcs = dcsFor({1000, 1000}, {0, 0});
    auto odd = Image<uint16_t>::createNewBuffer(1, 1);
    odd->getData()[0] = 0;
    LogCapture log;
    rig.frame({dcs[0], dcs[1], odd, dcs[3]});
    EXPECT_EQ(rig.phase.take(), nullptr);
    EXPECT_EQ(rig.distance.take(), nullptr);
    EXPECT_TRUE(
        log.contains("Subtract (DCS2 - DCS0): input images differ in size (1 x 1 and 2 x 1)"));
    rig.frame(dcs);
    EXPECT_NE(rig.distance.take(), nullptr);
}

TEST_F(DCS2DistAmpGraphTest, MissingSourcesAreReported) {
    LogCapture log;
    DCS2DistAmpGraph a(MHZ20);
    a.connect(nullptr, nullptr);
    EXPECT_TRUE(log.contains("DCS2DistAmpGraph: no DCS sources to connect"));
    EXPECT_TRUE(log.contains("DCS2DistAmpGraph: temperature source is missing"));

    Source<Image<uint16_t>> s0, s2, s3;
    Source<float> t;
    Source<Image<uint16_t>>* dcs[4] = {&s0, nullptr, &s2, &s3};
    DCS2DistAmpGraph b(MHZ20);
    b.connect(dcs, &t);
    EXPECT_TRUE(log.contains("DCS2DistAmpGraph: DCS source 1 is missing"));
    EXPECT_EQ(s0.getListenerCount(), 1u);
    EXPECT_EQ(s3.getListenerCount(), 1u);
    EXPECT_EQ(t.getListenerCount(), 1u);
}

}  // namespace
