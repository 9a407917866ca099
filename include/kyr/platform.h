// Process-wide logging of the library.
//
// Every message goes through logging_impl. By default messages are written
// to the standard streams as "[LEVEL] message"; an application may install
// its own log function and set a level filter for the default output.
#pragma once

#include <cstdarg>

#include "ozr/export.h"

namespace kyr::platform {

enum class LogLevel : int {
    LOG_LEVEL_ERROR = 0,
    LOG_LEVEL_WARN = 1,
    LOG_LEVEL_INFO = 2,
    LOG_LEVEL_DEBUG = 3,
};

using LogFunction = void (*)(LogLevel level, const char* format, va_list args);

// Formats and delivers one message to the installed log function. No filter
// is applied here: an installed function sees every message.
OZR_API void logging_impl(LogLevel level, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// Installs fn as the log function; nullptr restores the default output.
OZR_API void register_log_function(LogFunction fn);

// Sets the level filter of the default output (messages less severe than
// `level` are dropped). Installed log functions are not affected.
OZR_API void setLogLevel(LogLevel level);

}  // namespace kyr::platform

#define KYR_LOG_ERROR(...) \
    ::kyr::platform::logging_impl(::kyr::platform::LogLevel::LOG_LEVEL_ERROR, __VA_ARGS__)
#define KYR_LOG_WARN(...) \
    ::kyr::platform::logging_impl(::kyr::platform::LogLevel::LOG_LEVEL_WARN, __VA_ARGS__)
#define KYR_LOG_INFO(...) \
    ::kyr::platform::logging_impl(::kyr::platform::LogLevel::LOG_LEVEL_INFO, __VA_ARGS__)
#define KYR_LOG_DEBUG(...) \
    ::kyr::platform::logging_impl(::kyr::platform::LogLevel::LOG_LEVEL_DEBUG, __VA_ARGS__)
