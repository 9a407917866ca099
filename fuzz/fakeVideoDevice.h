// A video device and a temperature sensor for the harnesses, answering from
// the fuzzer's input: the format is fixed at construction, every image gets
// the next pixel bytes of the input (zeros once it is used up), and each
// request fails when the input says so.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>

#include "kyr/image.h"
#include "kyr/sensorDeviceIF.h"
#include "kyr/videoDeviceIF.h"

namespace fuzz {

// A status for one request: mostly 0, sometimes a failure a real device
// gives (time-out, I/O error, device gone, refused value).
inline int requestStatus(FuzzedDataProvider& in) {
    if (in.remaining_bytes() == 0) return 0;
    switch (in.ConsumeIntegral<uint8_t>()) {
        case 250:
            return -ETIMEDOUT;
        case 251:
            return -EIO;
        case 252:
            return -ENODEV;
        case 253:
            return -EINVAL;
        case 254:
            return -ERANGE;
        case 255:
            return -EBUSY;
        default:
            return 0;
    }
}

class FakeVideoDevice : public VideoDeviceIF {
public:
    FakeVideoDevice(FuzzedDataProvider& input, uint32_t width, uint32_t height)
        : in(input), format{0, 0, width, height, width * 2} {}

    int setControl(ozr::ControlID id, int32_t value) override {
        const int r = requestStatus(in);
        if (r == 0) controls[id] = value;
        return r;
    }
    int getControl(ozr::ControlID id, int& value) override {
        const int r = requestStatus(in);
        if (r == 0) value = controls.count(id) != 0 ? controls[id] : 0;
        return r;
    }
    int setFormat(const ozr::VideoFormat& f) override {
        const int r = requestStatus(in);
        if (r == 0) format = f;
        return r;
    }
    int getFormat(ozr::VideoFormat& f) override {
        const int r = requestStatus(in);
        if (r == 0) f = format;
        return r;
    }
    // Fills the image the caller sized, as the device contract says.
    int nextFrame(std::shared_ptr<Image<uint16_t>>& image, size_t) override {
        const int r = requestStatus(in);
        if (r != 0 || !image) return r;
        const size_t bytes = image->size();
        if (bytes == 0) return 0;
        const size_t n = std::min(bytes, in.remaining_bytes());
        const auto data = in.ConsumeBytes<uint8_t>(n);
        auto* dst = reinterpret_cast<uint8_t*>(image->getData());
        if (!data.empty()) std::memcpy(dst, data.data(), data.size());
        std::memset(dst + data.size(), 0, bytes - data.size());
        return 0;
    }
    int setStreaming(bool) override { return requestStatus(in); }

private:
    FuzzedDataProvider& in;
    ozr::VideoFormat format;
    std::map<ozr::ControlID, int32_t> controls;
};

// A temperature sensor that reads what the input says, or fails.
class FakeTempSensor final : public TempSensorIF {
public:
    explicit FakeTempSensor(FuzzedDataProvider& input) : in(input) {}
    int getTemperature(float& celsius) const override {
        if (in.remaining_bytes() == 0) {
            celsius = 25.0f;
            return 0;
        }
        const int16_t raw = in.ConsumeIntegral<int16_t>();
        if (raw == INT16_MIN) return -EIO;
        celsius = static_cast<float>(raw) / 100.0f;
        return 0;
    }

private:
    FuzzedDataProvider& in;
};

}  // namespace fuzz
