// Collects the library's log messages for a test's lifetime.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "kyr/platform.h"

namespace testsupport {

struct LogLine {
    kyr::platform::LogLevel level;
    std::string text;
};

class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogLine> lines() const;
    // Number of messages equal to `text` (any level).
    size_t count(const std::string& text) const;
    // Number of messages at `level`.
    size_t countLevel(kyr::platform::LogLevel level) const;
    bool contains(const std::string& text) const { return count(text) > 0; }
    void clear();

private:
    static void record(kyr::platform::LogLevel level, const char* format, va_list args);
};

}  // namespace testsupport
