// Control sequences against a camera on the virtual sensor driver, through
// the public API: any control identifier and value, mode switches, open,
// close, start, stop and captures in any order, on a driver of either model
// with a frame size, a bytesused error and failing requests chosen by the
// input; the device may vanish mid-sequence. After the camera is destroyed
// no descriptor of the device nodes and no buffer mapping may be left.
//
// Input: the driver's configuration, the camera's model, then at most
// MAX_OPERATIONS operations. Captures are limited to MAX_CAPTURES per input,
// since one that finds no frame waits for the one-second time-out.
#include <fuzzer/FuzzedDataProvider.h>
#include <linux/videodev2.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzzLog.h"
#include "ozr/controls.h"
#include "ozr/tofcam.h"
#include "ozrsim.h"

namespace {

constexpr int MAX_OPERATIONS = 32;
constexpr int MAX_CAPTURES = 4;

enum class Op : uint8_t {
    Open,
    Close,
    Start,
    Stop,
    SetControl,
    SetControlInRange,
    GetControl,
    SetMode,
    Capture,
    Disconnect,
    Faults,
    kMaxValue = Faults,
};

ozrsim::IoctlFault ioctlFault(FuzzedDataProvider& in) {
    static constexpr unsigned long requests[] = {
        VIDIOC_DQBUF,  VIDIOC_QBUF,   VIDIOC_STREAMON, VIDIOC_STREAMOFF,
        VIDIOC_S_CTRL, VIDIOC_G_CTRL, VIDIOC_REQBUFS,  VIDIOC_QUERYBUF,
        VIDIOC_G_FMT,  VIDIOC_S_FMT,  VIDIOC_QUERYCAP, VIDIOC_S_EXT_CTRLS};
    static constexpr int errors[] = {EIO, EINVAL, ENODEV, EBUSY, ERANGE, EAGAIN};
    ozrsim::IoctlFault f;
    f.request = in.PickValueInArray(requests);
    f.error = in.PickValueInArray(errors);
    f.after = in.ConsumeIntegralInRange<uint32_t>(0, 40);
    f.times = in.ConsumeIntegralInRange<uint32_t>(0, 3);
    return f;
}

ozrsim::FaultConfig faults(FuzzedDataProvider& in, uint32_t imageBytes) {
    ozrsim::FaultConfig f;
    // A stall makes every capture wait for its time-out: rare.
    f.stall = in.ConsumeIntegral<uint8_t>() == 0xff;
    switch (in.ConsumeIntegralInRange<int>(0, 7)) {
        case 1:
            f.bytesusedDelta = -2;
            break;
        case 2:
            f.bytesusedDelta = 2;
            break;
        case 3:
            f.bytesusedDelta = -1;
            break;
        case 4:
            f.bytesusedDelta = -static_cast<int32_t>(imageBytes);
            break;
        case 5:
            f.bytesusedDelta = in.ConsumeIntegral<int32_t>();
            break;
        default:
            break;
    }
    if (in.ConsumeIntegral<uint8_t>() >= 0xf0) {
        f.disconnectAfterImages = in.ConsumeIntegralInRange<int64_t>(0, 60);
    }
    const int n = in.ConsumeIntegralInRange<int>(0, 2);
    for (int i = 0; i < n; ++i) f.ioctls.push_back(ioctlFault(in));
    return f;
}

// A value in the control's useful range, or around it.
int32_t valueInRange(FuzzedDataProvider& in, ozr::ControlID id) {
    switch (id) {
        case ozr::ControlID::MODULATION_FREQ_HZ:
            return in.ConsumeIntegralInRange<int32_t>(4000000, 101000000);
        case ozr::ControlID::EXPOSURE_US:
        case ozr::ControlID::HDR_INTEGRATION_TIME1_US:
        case ozr::ControlID::HDR_INTEGRATION_TIME2_US:
        case ozr::ControlID::HDR_INTEGRATION_TIME3_US:
            return in.ConsumeIntegralInRange<int32_t>(-1, 10001);
        case ozr::ControlID::ACQUISITION_MODE:
            return in.ConsumeIntegralInRange<int32_t>(0, 5);
        default:
            return in.ConsumeIntegralInRange<int32_t>(-2, 1100);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    ozrsim::Config config;
    config.model = in.ConsumeBool() ? ozrsim::Model::OZR310 : ozrsim::Model::OZR320;
    // Small frames: a frame is rendered in microseconds.
    config.width = in.ConsumeIntegralInRange<uint32_t>(1, 16) *
                   (config.model == ozrsim::Model::OZR310 ? 2 : 1);
    config.height = in.ConsumeIntegralInRange<uint32_t>(1, 12);
    config.timing.exposureDelayUs = 100;
    config.timing.readoutUs = 20;
    config.temperature.timeConstantS = 0.0f;
    config.hwmon = in.ConsumeIntegral<uint8_t>() != 0;
    config.seed = in.ConsumeIntegral<uint8_t>();
    config.faults = faults(in, config.width * config.height * 2);
    if (ozrsim::configure(config) != 0) return 0;

    static constexpr ozr::TOFSensor sensors[] = {ozr::TOFSensor::autodetect, ozr::TOFSensor::ozr320,
                                                 ozr::TOFSensor::ozr310};
    {
        ozr::TOFCam cam(in.PickValueInArray(sensors));
        int captures = 0;
        for (int i = 0; i < MAX_OPERATIONS && in.remaining_bytes() > 0; ++i) {
            switch (in.ConsumeEnum<Op>()) {
                case Op::Open:
                    (void)cam.open();
                    break;
                case Op::Close:
                    (void)cam.close();
                    break;
                case Op::Start:
                    (void)cam.startStream();
                    break;
                case Op::Stop:
                    (void)cam.stopStream();
                    break;
                case Op::SetControl: {
                    const auto id = static_cast<ozr::ControlID>(in.ConsumeIntegral<uint8_t>());
                    (void)cam.setControl(id, in.ConsumeIntegral<int32_t>());
                    break;
                }
                case Op::SetControlInRange: {
                    const auto id = static_cast<ozr::ControlID>(
                        in.ConsumeIntegralInRange<uint8_t>(0, ozr::CONTROL_COUNT - 1));
                    (void)cam.setControl(id, valueInRange(in, id));
                    break;
                }
                case Op::GetControl: {
                    int value = 0;
                    (void)cam.getControl(static_cast<ozr::ControlID>(in.ConsumeIntegral<uint8_t>()),
                                         value);
                    break;
                }
                case Op::SetMode:
                    (void)cam.setControl(ozr::ControlID::ACQUISITION_MODE,
                                         static_cast<ozr::AcquisitionMode>(
                                             in.ConsumeIntegralInRange<uint8_t>(0, 5)));
                    break;
                case Op::Capture: {
                    if (captures++ >= MAX_CAPTURES) break;
                    std::unique_ptr<ozr::TOFFrame> frame;
                    if (cam.captureFrame(frame) == 0 && frame) {
                        // Every image of the frame is readable in full.
                        volatile uint32_t sum = 0;
                        const size_t n = size_t{frame->getWidth()} * frame->getHeight();
                        for (const auto type : {ozr::FrameType::DISTANCE, ozr::FrameType::AMPLITUDE,
                                                ozr::FrameType::GRAYSCALE, ozr::FrameType::DCS}) {
                            if (const uint16_t* p = frame->getData<uint16_t>(type)) {
                                for (size_t k = 0; k < n; ++k) sum = sum + p[k];
                            }
                        }
                        if (const float* p = frame->getData<float>(ozr::FrameType::PHASE)) {
                            for (size_t k = 0; k < n; ++k)
                                sum = sum + static_cast<uint32_t>(p[k] > 0);
                        }
                    }
                    break;
                }
                case Op::Disconnect:
                    ozrsim::disconnect();
                    break;
                case Op::Faults:
                    ozrsim::setFaults(faults(in, config.width * config.height * 2));
                    break;
            }
        }
    }
    const ozrsim::Counters left = ozrsim::counters();
    if (left.openVideo != 0 || left.openSubdev != 0 || left.mappings != 0 || left.streaming) {
        __builtin_trap();
    }
    ozrsim::reset();
    return 0;
}
