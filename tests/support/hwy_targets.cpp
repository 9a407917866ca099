// Before the first test, every test binary prints the instruction sets its
// kernels were compiled for and those testsupport::forEachTarget runs on this
// CPU, so that a run's log shows which vector paths it checked.
#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace testsupport {
namespace {

std::string names(int64_t targets) {
    std::string text;
    for (; targets != 0; targets &= targets - 1) {
        if (!text.empty()) text += ' ';
        text += hwy::TargetName(targets & -targets);
    }
    return text;
}

class TargetReport : public ::testing::Environment {
public:
    void SetUp() override {
        std::printf("Instruction sets compiled: %s\n", names(HWY_TARGETS).c_str());
        int64_t tested = 0;
        for (const int64_t target : hwy::SupportedAndGeneratedTargets()) tested |= target;
        std::printf("Instruction sets tested on this CPU: %s\n", names(tested).c_str());
        std::fflush(stdout);
    }
};

[[maybe_unused]] ::testing::Environment* const g_report =
    ::testing::AddGlobalTestEnvironment(new TargetReport);

}  // namespace
}  // namespace testsupport
