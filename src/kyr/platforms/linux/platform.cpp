#include "kyr/platform.h"

#include <atomic>
#include <cstdio>

namespace kyr::platform {

namespace {

constexpr size_t LOG_BUFFER_SIZE = 1024;

std::atomic<LogLevel> logLevelFilter{LogLevel::LOG_LEVEL_DEBUG};

void defaultLogFunction(LogLevel level, const char* format, va_list args) {
    if (static_cast<int>(level) >
        static_cast<int>(logLevelFilter.load(std::memory_order_relaxed))) {
        return;
    }
    const char* label = "";
    FILE* stream = stdout;
    switch (level) {
        case LogLevel::LOG_LEVEL_ERROR:
            label = "ERROR";
            stream = stderr;
            break;
        case LogLevel::LOG_LEVEL_WARN:
            label = "WARNING";
            stream = stderr;
            break;
        case LogLevel::LOG_LEVEL_INFO:
            label = "INFO";
            break;
        case LogLevel::LOG_LEVEL_DEBUG:
            label = "DEBUG";
            break;
    }
    char message[LOG_BUFFER_SIZE];
    if (format == nullptr) {
        message[0] = '\0';
    } else if (vsnprintf(message, sizeof(message), format, args) < 0) {
        message[0] = '\0';
    }
    // One call per line, so that lines of different threads do not mix.
    fprintf(stream, "[%s] %s\n", label, message);
}

std::atomic<LogFunction> current_log_function{&defaultLogFunction};

}  // namespace

void logging_impl(LogLevel level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    current_log_function.load(std::memory_order_acquire)(level, format, args);
    va_end(args);
}

void register_log_function(LogFunction fn) {
    current_log_function.store(fn != nullptr ? fn : &defaultLogFunction, std::memory_order_release);
}

void setLogLevel(LogLevel level) {
    logLevelFilter.store(level, std::memory_order_relaxed);
}

}  // namespace kyr::platform
