#include "logBridge.h"

#include <cxxabi.h>
#include <pybind11/pybind11.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "kyr/platform.h"

namespace py = pybind11;
using kyr::platform::LogLevel;

namespace ozrpy {

namespace {

constexpr size_t LINE_SIZE = 1024;

// Python's logging levels.
constexpr int PY_ERROR = 40;
constexpr int PY_WARNING = 30;
constexpr int PY_INFO = 20;
constexpr int PY_DEBUG = 10;

std::atomic<bool> bridgeActive{false};
// The logger, created once and never destroyed: the interpreter may be gone
// when static destructors run.
py::object* logger = nullptr;

thread_local CallErrors* collector = nullptr;
thread_local int muted = 0;
thread_local int delivering = 0;

int pythonLevel(LogLevel level) {
    switch (level) {
        case LogLevel::LOG_LEVEL_ERROR:
            return PY_ERROR;
        case LogLevel::LOG_LEVEL_WARN:
            return PY_WARNING;
        case LogLevel::LOG_LEVEL_INFO:
            return PY_INFO;
        case LogLevel::LOG_LEVEL_DEBUG:
            break;
    }
    return PY_DEBUG;
}

const char* label(LogLevel level) {
    switch (level) {
        case LogLevel::LOG_LEVEL_ERROR:
            return "ERROR";
        case LogLevel::LOG_LEVEL_WARN:
            return "WARNING";
        case LogLevel::LOG_LEVEL_INFO:
            return "INFO";
        case LogLevel::LOG_LEVEL_DEBUG:
            break;
    }
    return "DEBUG";
}

void deliver(LogLevel level, const char* line) {
    if (level == LogLevel::LOG_LEVEL_ERROR && collector != nullptr) {
        collector->add(line);
    }
    if (!bridgeActive.load(std::memory_order_acquire) || Py_IsInitialized() == 0) {
        std::fprintf(level <= LogLevel::LOG_LEVEL_WARN ? stderr : stdout, "[%s] %s\n", label(level),
                     line);
        return;
    }
    // The threads that hold the GIL never wait for a thread that logs: every
    // call into the library that can wait releases it first.
    py::gil_scoped_acquire gil;
    ++delivering;
    try {
        logger->attr("log")(pythonLevel(level), messageText(line));
    } catch (py::error_already_set& e) {
        e.discard_as_unraisable("ozrtofcam log bridge");
    } catch (const std::exception&) {
        // A message that cannot be delivered is dropped.
    }
    --delivering;
}

// The library's log function: no exception escapes into the library, except
// the unwinding of a thread that the interpreter ends (one that asks for the
// GIL during finalisation), which must go on.
void bridge(LogLevel level, const char* format, va_list args) {
    if (muted > 0) {
        return;
    }
    char line[LINE_SIZE];
    if (format == nullptr || std::vsnprintf(line, sizeof(line), format, args) < 0) {
        line[0] = '\0';
    }
    try {
        deliver(level, line);
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (...) {
        // Out of memory for the message: it is lost.
    }
}

}  // namespace

bool insideLogBridge() {
    return delivering > 0;
}

py::str messageText(const char* text) {
    PyObject* s = PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(std::strlen(text)), "replace");
    if (s == nullptr) {
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::str>(s);
}

void installLogBridge() {
    if (logger == nullptr) {
        logger = new py::object(py::module_::import("logging").attr("getLogger")("ozrtofcam"));
    }
    bridgeActive.store(true, std::memory_order_release);
    kyr::platform::register_log_function(&bridge);
}

void removeLogBridge() {
    bridgeActive.store(false, std::memory_order_release);
    kyr::platform::register_log_function(nullptr);
}

CallErrors::CallErrors() : outer(collector) {
    collector = this;
}

CallErrors::~CallErrors() {
    collector = outer;
}

void CallErrors::add(const char* line) {
    messages.emplace_back(line);
}

std::string CallErrors::message() const {
    std::string joined;
    for (const std::string& m : messages) {
        if (!joined.empty()) {
            joined += "; ";
        }
        joined += m;
    }
    return joined;
}

MuteLog::MuteLog() {
    ++muted;
}

MuteLog::~MuteLog() {
    --muted;
}

}  // namespace ozrpy
