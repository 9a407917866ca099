// A fixture and checks shared by the tests of the calibration providers per
// modulation frequency: loading the frequency list, and refusing an index
// that was broken after the load.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "ozr/calibrationData.h"
#include "ozr/calibrationTestDir.h"
#include "support/log_capture.h"

namespace testsupport {

// A fixture for the tests of one provider: the provider and a calibration
// directory.
template <class Provider>
class ProviderTest : public ::testing::Test {
protected:
    Provider& provider = Provider::getInstance();
    CalibrationDir dir;

    void load() { ASSERT_EQ(provider.loadCalibrationData(dir.str(), ""), 0); }
};

// The calibrated frequencies a provider reports, in its order.
template <class Provider>
std::vector<uint32_t> calibratedFrequencies(Provider& provider) {
    FrequencyList list;
    provider.getCalibratedFrequencies(list);
    if (list.frequencies == nullptr) {
        EXPECT_EQ(list.count, 0u) << "a count without frequencies";
        return {};
    }
    return {list.frequencies, list.frequencies + list.count};
}

// Loads `provider` from `dir` and expects it initialised, reporting
// `expected` and logging `loadedMessage` once.
template <class Provider>
void expectLoadsFrequencies(Provider& provider, const CalibrationDir& dir,
                            const std::vector<uint32_t>& expected,
                            const std::string& loadedMessage) {
    LogCapture log;
    ASSERT_EQ(provider.loadCalibrationData(dir.str(), ""), 0);
    EXPECT_TRUE(provider.isInitialized());
    EXPECT_EQ(calibratedFrequencies(provider), expected);
    EXPECT_EQ(log.count(loadedMessage), 1u);
}

// For each index of `broken`: a request for `hz` first succeeds on the index
// `good`; after `broken` has replaced it, the same request returns -22 with
// one message, "Failed to parse calibration info JSON file: " and the
// library's text, and `isEmpty` holds for the record.
template <class Record, class Provider, class IsEmpty>
void expectBrokenIndexesRefused(Provider& provider, const CalibrationDir& dir, uint32_t hz,
                                const nlohmann::json& good,
                                const std::vector<nlohmann::json>& broken, IsEmpty isEmpty) {
    for (const nlohmann::json& index : broken) {
        SCOPED_TRACE(index.dump());
        dir.writeIndex(good.dump());
        Record d;
        ASSERT_EQ(provider.getCalibrationData(hz, d), 0);
        dir.writeIndex(index.dump());
        LogCapture log;
        EXPECT_EQ(provider.getCalibrationData(hz, d), -22);
        EXPECT_TRUE(isEmpty(d));
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_EQ(log.lines()[0].text.rfind("Failed to parse calibration info JSON file: ", 0), 0u);
    }
}

}  // namespace testsupport
