// The library's log lines on Python's logging, and the error messages of the
// call in progress on the calling thread.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <vector>

namespace ozrpy {

// Installs the bridge as the library's log function: every message goes to
// the logger "ozrtofcam" with its level mapped (ERROR, WARNING, INFO, DEBUG),
// from whichever thread logs it. Call with the GIL held.
void installLogBridge();

// Restores the library's own output. After it returns the bridge takes the
// GIL no more; messages already inside it finish on standard error.
void removeLogBridge();

// True on a thread that is delivering a library message to Python (in a
// logging handler, for instance): such a thread must not call the camera,
// which may be waiting for it or be locked by this very thread.
bool insideLogBridge();

// A message of the library as a Python string (invalid UTF-8 replaced).
pybind11::str messageText(const char* text);

// Collects the error-level messages that the library logs on this thread
// while the object lives (of nested collectors, the innermost).
class CallErrors {
public:
    CallErrors();
    ~CallErrors();
    CallErrors(const CallErrors&) = delete;
    CallErrors& operator=(const CallErrors&) = delete;

    void add(const char* line);
    // The messages joined by "; ", or an empty string.
    std::string message() const;

private:
    std::vector<std::string> messages;
    CallErrors* outer;
};

// Drops every message that the library logs on this thread while the object
// lives: for probing a frame's images, whose accessors log what is missing.
class MuteLog {
public:
    MuteLog();
    ~MuteLog();
    MuteLog(const MuteLog&) = delete;
    MuteLog& operator=(const MuteLog&) = delete;
};

}  // namespace ozrpy
