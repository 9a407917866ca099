#include "kyr/platform.h"

#include <gtest/gtest.h>

#include <string>

#include "support/log_capture.h"

using kyr::platform::LogLevel;

namespace {

class DefaultLogOutput : public ::testing::Test {
protected:
    void SetUp() override { kyr::platform::register_log_function(nullptr); }
    void TearDown() override { kyr::platform::setLogLevel(LogLevel::LOG_LEVEL_DEBUG); }
};

TEST_F(DefaultLogOutput, RoutesLevelsToStreamsWithLabels) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    kyr::platform::logging_impl(LogLevel::LOG_LEVEL_ERROR, "err %d", 1);
    kyr::platform::logging_impl(LogLevel::LOG_LEVEL_WARN,
                                "Current Mode: %d, Grayscale Source not available", 0);
    kyr::platform::logging_impl(LogLevel::LOG_LEVEL_INFO, "info %s", "x");
    kyr::platform::logging_impl(LogLevel::LOG_LEVEL_DEBUG, "debug");
    kyr::platform::logging_impl(static_cast<LogLevel>(-1), "odd level");
    fflush(stdout);
    fflush(stderr);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err,
              "[ERROR] err 1\n"
              "[WARNING] Current Mode: 0, Grayscale Source not available\n");
    EXPECT_EQ(out, "[INFO] info x\n[DEBUG] debug\n[] odd level\n");
}

TEST_F(DefaultLogOutput, LevelFilterDropsLessSevereMessages) {
    kyr::platform::setLogLevel(LogLevel::LOG_LEVEL_ERROR);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    kyr::platform::logging_impl(LogLevel::LOG_LEVEL_WARN, "warn");
    kyr::platform::logging_impl(LogLevel::LOG_LEVEL_INFO, "info");
    kyr::platform::logging_impl(LogLevel::LOG_LEVEL_ERROR, "kept");
    fflush(stdout);
    fflush(stderr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[ERROR] kept\n");
}

TEST_F(DefaultLogOutput, LongMessagesAreCutTo1023Characters) {
    const std::string longText(3000, 'x');
    testing::internal::CaptureStdout();
    kyr::platform::logging_impl(LogLevel::LOG_LEVEL_INFO, "%s", longText.c_str());
    fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "[INFO] " + std::string(1023, 'x') + "\n");
}

TEST_F(DefaultLogOutput, CustomFunctionSeesEverythingAndNullRestoresDefault) {
    kyr::platform::setLogLevel(LogLevel::LOG_LEVEL_ERROR);
    {
        testsupport::LogCapture capture;
        testing::internal::CaptureStdout();
        kyr::platform::logging_impl(LogLevel::LOG_LEVEL_DEBUG, "debug %d", 42);
        fflush(stdout);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        ASSERT_EQ(capture.lines().size(), 1u);
        EXPECT_EQ(capture.lines()[0].level, LogLevel::LOG_LEVEL_DEBUG);
        EXPECT_EQ(capture.lines()[0].text, "debug 42");
    }
    // The capture re-installed the default output when it ended.
    kyr::platform::setLogLevel(LogLevel::LOG_LEVEL_DEBUG);
    testing::internal::CaptureStdout();
    kyr::platform::logging_impl(LogLevel::LOG_LEVEL_DEBUG, "back");
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[DEBUG] back\n");
}

}  // namespace
