#include "camera_log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

#include "kyr/platform.h"

namespace capture::log {

namespace {

using kyr::platform::LogLevel;

std::mutex mutex;
std::vector<std::string> held;
bool showInfo = false;
bool muted = false;

void onMessage(LogLevel level, const char* format, va_list args) {
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    std::lock_guard<std::mutex> lock(mutex);
    if (muted) return;
    switch (level) {
        case LogLevel::LOG_LEVEL_ERROR:
            held.emplace_back(text);
            break;
        case LogLevel::LOG_LEVEL_WARN:
            // Errors held so far come first, to keep the order.
            for (const std::string& e : held) std::fprintf(stderr, "[ERROR] %s\n", e.c_str());
            held.clear();
            std::fprintf(stderr, "[WARNING] %s\n", text);
            break;
        default:
            if (showInfo)
                std::fprintf(stderr, "[%s] %s\n",
                             level == LogLevel::LOG_LEVEL_INFO ? "INFO" : "DEBUG", text);
            break;
    }
}

}  // namespace

void install(bool verbose) {
    showInfo = verbose;
    kyr::platform::register_log_function(&onMessage);
}

void flush() {
    std::lock_guard<std::mutex> lock(mutex);
    for (const std::string& e : held) std::fprintf(stderr, "[ERROR] %s\n", e.c_str());
    held.clear();
}

std::string takeErrors() {
    std::lock_guard<std::mutex> lock(mutex);
    std::string joined;
    for (const std::string& e : held) joined += (joined.empty() ? "" : "; ") + e;
    held.clear();
    return joined;
}

void setMuted(bool m) {
    std::lock_guard<std::mutex> lock(mutex);
    muted = m;
}

}  // namespace capture::log
