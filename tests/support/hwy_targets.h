// Runs a test body once per instruction set that the kernels' dispatcher can
// choose on this CPU, so that every compiled vector path is checked, not
// only the best one.
#pragma once

#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// Calls `body` once per supported and compiled target, then restores the
// normal choice. The body must call at least one dispatched kernel: the test
// checks that each run used a different target's table entry.
template <typename Body>
void forEachTarget(Body&& body) {
    const std::vector<int64_t> targets = hwy::SupportedAndGeneratedTargets();
    ASSERT_FALSE(targets.empty());
    std::vector<size_t> tablesUsed;
    for (const int64_t target : targets) {
        hwy::SetSupportedTargetsForTest(target);
        SCOPED_TRACE(std::string("target ") + hwy::TargetName(target));
        body();
        // The body's first kernel call chose this target's table entry.
        tablesUsed.push_back(hwy::GetChosenTarget().GetIndex());
    }
    hwy::SetSupportedTargetsForTest(0);
    std::sort(tablesUsed.begin(), tablesUsed.end());
    EXPECT_EQ(std::unique(tablesUsed.begin(), tablesUsed.end()), tablesUsed.end());
}

}  // namespace testsupport
