// A video device double for the sensor source tests: records what the
// source asks of it, serves frames whose pixels tell their order, and fails
// a chosen operation on request.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kyr/videoDeviceIF.h"

namespace testsupport {

struct DeviceScript {
    ozr::VideoFormat format{0, 0, 4, 2, 8};
    // Operation ("getFormat", "setFormat", "setStreaming", "nextFrame",
    // "set <id>", "get <id>") -> status returned instead of success, once
    // `failAfter` successful calls of it have been made.
    std::map<std::string, int> failures;
    std::map<std::string, int> failAfter;

    // What happened, in order: "getFormat", "stream on", "stream off",
    // "frame <n>", "set <id>=<value>", "get <id>", "setFormat <w>x<h>".
    std::vector<std::string> calls;
    std::map<int, int32_t> controls;  // last value written per control
    int framesServed = 0;

    mutable std::mutex mutex;

    // Calls made so far that start with `prefix`.
    size_t count(const std::string& prefix) const {
        std::lock_guard<std::mutex> lock(mutex);
        size_t n = 0;
        for (const auto& c : calls) {
            n += c.rfind(prefix, 0) == 0 ? 1 : 0;
        }
        return n;
    }
    std::vector<std::string> log() const {
        std::lock_guard<std::mutex> lock(mutex);
        return calls;
    }
    void clearLog() {
        std::lock_guard<std::mutex> lock(mutex);
        calls.clear();
    }
};

inline std::string setCall(ozr::ControlID id, int32_t value) {
    return "set " + std::to_string(static_cast<int>(id)) + "=" + std::to_string(value);
}

class ScriptedVideoDevice : public VideoDeviceIF {
public:
    explicit ScriptedVideoDevice(std::shared_ptr<DeviceScript> script) : s(std::move(script)) {}

    int setControl(ozr::ControlID id, int32_t value) override {
        const std::string op = "set " + std::to_string(static_cast<int>(id));
        std::lock_guard<std::mutex> lock(s->mutex);
        if (int r = fails(op); r != 0) {
            return r;
        }
        s->calls.push_back(op + "=" + std::to_string(value));
        s->controls[static_cast<int>(id)] = value;
        return 0;
    }
    int getControl(ozr::ControlID id, int& value) override {
        const std::string op = "get " + std::to_string(static_cast<int>(id));
        std::lock_guard<std::mutex> lock(s->mutex);
        if (int r = fails(op); r != 0) {
            return r;
        }
        s->calls.push_back(op);
        value = s->controls.count(static_cast<int>(id)) ? s->controls[static_cast<int>(id)] : -7;
        return 0;
    }
    int setFormat(const ozr::VideoFormat& f) override {
        std::lock_guard<std::mutex> lock(s->mutex);
        if (int r = fails("setFormat"); r != 0) {
            return r;
        }
        s->calls.push_back("setFormat " + std::to_string(f.width) + "x" + std::to_string(f.height));
        s->format.width = f.width;
        s->format.height = f.height;
        return 0;
    }
    int getFormat(ozr::VideoFormat& f) override {
        std::lock_guard<std::mutex> lock(s->mutex);
        if (int r = fails("getFormat"); r != 0) {
            return r;
        }
        s->calls.push_back("getFormat");
        f = s->format;
        return 0;
    }
    // Frame n (counted from 0) holds raw words ((n * 100 + pixel) << 4).
    int nextFrame(std::shared_ptr<Image<uint16_t>>& image, size_t timeout_ms) override {
        std::lock_guard<std::mutex> lock(s->mutex);
        lastTimeout = timeout_ms;
        if (!image) {
            return -22;
        }
        if (int r = fails("nextFrame"); r != 0) {
            return r;
        }
        const int n = s->framesServed++;
        s->calls.push_back("frame " + std::to_string(n));
        for (size_t i = 0; i < image->pixelCount(); ++i) {
            image->getData()[i] = static_cast<uint16_t>((n * 100 + static_cast<int>(i)) << 4);
        }
        return 0;
    }
    int setStreaming(bool on) override {
        std::lock_guard<std::mutex> lock(s->mutex);
        if (int r = fails("setStreaming"); r != 0) {
            return r;
        }
        s->calls.push_back(on ? "stream on" : "stream off");
        return 0;
    }

    size_t lastTimeout = 0;

private:
    // Status of the operation's failure when it is due, else 0 (counted).
    int fails(const std::string& op) {
        auto f = s->failures.find(op);
        if (f == s->failures.end()) {
            return 0;
        }
        int& remaining = s->failAfter[op];
        if (remaining > 0) {
            --remaining;
            return 0;
        }
        return f->second;
    }

    std::shared_ptr<DeviceScript> s;
};

}  // namespace testsupport
