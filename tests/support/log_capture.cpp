#include "support/log_capture.h"

#include <cstdio>

namespace testsupport {

namespace {
std::mutex g_mutex;
std::vector<LogLine> g_lines;
}  // namespace

LogCapture::LogCapture() {
    clear();
    kyr::platform::register_log_function(&LogCapture::record);
}

LogCapture::~LogCapture() {
    kyr::platform::register_log_function(nullptr);
}

void LogCapture::record(kyr::platform::LogLevel level, const char* format, va_list args) {
    char buf[1024];
    vsnprintf(buf, sizeof(buf), format, args);
    std::lock_guard<std::mutex> lock(g_mutex);
    g_lines.push_back({level, buf});
}

std::vector<LogLine> LogCapture::lines() const {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_lines;
}

size_t LogCapture::count(const std::string& text) const {
    std::lock_guard<std::mutex> lock(g_mutex);
    size_t n = 0;
    for (const auto& line : g_lines) {
        n += line.text == text ? 1 : 0;
    }
    return n;
}

size_t LogCapture::countLevel(kyr::platform::LogLevel level) const {
    std::lock_guard<std::mutex> lock(g_mutex);
    size_t n = 0;
    for (const auto& line : g_lines) {
        n += line.level == level ? 1 : 0;
    }
    return n;
}

void LogCapture::clear() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_lines.clear();
}

}  // namespace testsupport
