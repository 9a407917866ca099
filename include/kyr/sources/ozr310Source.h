// Sensor source of the OZR310. The driver delivers the sensor's two readout
// halves side by side; each raw image is shifted into range and unfolded
// into one image of half the width and twice the height. HDR frames are
// built from three ordinary four-DCS frames with the exposure time switched
// between them.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "kyr/sources/ozrSensorSourceBase.h"
#include "kyr/stages/splitStack.h"

class OZR310Source : public OZRSensorSourceBase {
public:
    // Milliseconds to wait for each image.
    static constexpr size_t TIMEOUT_MS = 200;

    // Takes ownership of both devices; raw samples are shifted right by
    // `shiftBits`. Starts in DIST_AMP.
    OZR310Source(std::unique_ptr<VideoDeviceIF> videoDev, std::unique_ptr<TempSensorIF> tempDev,
                 uint8_t shiftBits);

    // The HDR exposure times are kept here; the exposure is ignored in HDR.
    int setControl(ozr::ControlID id, int32_t value) override;
    // The HDR exposure times read back as the source holds them.
    int getControl(ozr::ControlID id, int& value) override;

protected:
    Source<Image<uint16_t>>& publishedOutput(size_t index) override { return splitStack[index]; }
    size_t imageTimeoutMs() const override { return TIMEOUT_MS; }
    // HDR is made of ordinary four-DCS frames.
    ozr::AcquisitionMode deviceMode(ozr::AcquisitionMode mode) const override;
    // In HDR: the first exposure time.
    int prepareStream(ozr::AcquisitionMode mode) override;
    // In HDR: three triggered frames, one per exposure.
    int captureFrame(ozr::AcquisitionMode mode, bool triggerNext) override;

private:
    int captureHDRFrames(bool triggerNext);

    SplitStack splitStack[MAX_STREAMS];
    // Set from the application's thread while the streaming thread reads them.
    std::atomic<int> hdrIntTimes[3]{};
};
