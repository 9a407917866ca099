// HDR distance/amplitude: three exposures per frame merged per pixel.
//
// Each pixel takes its DCS samples from the exposure with the strongest
// signal that is not saturated, so near bright objects and far dark ones are
// both measured. The frame carries the twelve raw DCS images (four per
// exposure) beside the distance computed from the merged ones.
// Usage: hdr [FRAMES]   (default 5)
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "kyr/image.h"  // ImageBase::isPixelCode
#include "ozr/tofcam.h"

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::atoi(argv[1]) : 5;

    ozr::TOFCam cam(ozr::TOFSensor::autodetect);
    if (cam.open() != 0) {
        return 1;
    }
    // The mode switch builds the HDR pipeline; it starts no stream.
    if (cam.setControl(ozr::ControlID::ACQUISITION_MODE, ozr::AcquisitionMode::DIST_AMP_HDR) != 0) {
        return 1;
    }
    // The three integration times in microseconds, short to long.
    cam.setControl(ozr::ControlID::HDR_INTEGRATION_TIME1_US, 100);
    cam.setControl(ozr::ControlID::HDR_INTEGRATION_TIME2_US, 500);
    cam.setControl(ozr::ControlID::HDR_INTEGRATION_TIME3_US, 2000);

    if (cam.startStream() != 0) {
        return 1;
    }
    std::unique_ptr<ozr::TOFFrame> frame;
    for (int n = 0; n < frames; ++n) {
        if (cam.captureFrame(frame) != 0) {
            return 1;
        }
        const size_t w = frame->getWidth(), h = frame->getHeight();
        const uint16_t* distance = frame->getData<uint16_t>(ozr::FrameType::DISTANCE);
        size_t valid = 0;
        for (size_t i = 0; i < w * h; ++i) {
            valid += ImageBase::isPixelCode(distance[i]) ? 0 : 1;
        }
        // DCS image 4e + k is sample k of exposure e (0 short, 1 middle, 2 long).
        const size_t centre = (h / 2) * w + w / 2;
        std::printf("frame %u: centre %u mm, %zu%% valid; DCS0 of the exposures %u %u %u\n",
                    frame->getMetadata().frameNumber, distance[centre], valid * 100 / (w * h),
                    frame->getData<uint16_t>(ozr::FrameType::DCS, 0)[centre],
                    frame->getData<uint16_t>(ozr::FrameType::DCS, 4)[centre],
                    frame->getData<uint16_t>(ozr::FrameType::DCS, 8)[centre]);
    }
    cam.stopStream();
    std::printf("Streamed %d HDR frames\n", frames);
    return 0;
}
