// The harnesses' log function: every message is formatted, so that the
// sanitizers check each format against its arguments, and then dropped.
#pragma once

#include <cstdarg>
#include <cstdio>

#include "kyr/platform.h"

namespace fuzz {

inline void formatAndDrop(kyr::platform::LogLevel, const char* format, va_list args) {
    char line[1024];
    std::vsnprintf(line, sizeof line, format, args);
}

inline void silenceLogging() {
    kyr::platform::register_log_function(formatAndDrop);
}

}  // namespace fuzz
