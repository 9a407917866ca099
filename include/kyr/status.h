// Status values of the library.
//
// Operations report 0 for success and a negated errno value for failure;
// graphs and pipelines answer -1 for a control they do not handle, and the
// sensor devices -1 for a failure whose reason is logged. The names below
// are the only spelling of these values in the library.
#pragma once

#include <cerrno>
#include <cstring>

namespace kyr::status {

inline constexpr int OK = 0;
// A control that a graph or pipeline does not handle; also a stage refusing
// inputs of different sizes.
inline constexpr int NOT_HANDLED = -1;
inline constexpr int SIZE_MISMATCH = -1;
// A sensor device or channel that is missing, unreadable or gives no
// valid value, or a device request that failed.
inline constexpr int DEVICE_ERROR = -1;
inline constexpr int NO_ENTRY = -ENOENT;          // -2: no such calibration data
inline constexpr int IO_ERROR = -EIO;             // -5
inline constexpr int FAILED = -EAGAIN;            // -11: operation failed, no pipeline
inline constexpr int NO_MEMORY = -ENOMEM;         // -12
inline constexpr int BUSY = -EBUSY;               // -16: already streaming
inline constexpr int INVALID_ARGUMENT = -EINVAL;  // -22: invalid argument or missing object
inline constexpr int NO_SPACE = -ENOSPC;          // -28: a fixed table is full
inline constexpr int NO_DATA = -ENODATA;          // -61: no calibration data in the index
inline constexpr int TIMED_OUT = -ETIMEDOUT;      // -110
inline constexpr int ALREADY_CLOSED = -EALREADY;  // -114: a device closed twice

// The system's text for a status (or a positive errno value): strerror of
// its magnitude.
inline const char* text(int status) {
    return std::strerror(status < 0 ? -status : status);
}

}  // namespace kyr::status
