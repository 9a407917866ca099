// Raw DCS: the four correlation samples of each frame, unprocessed.
//
// For processing of one's own: the distance follows from the samples as
// atan2(DCS3 - DCS1, DCS2 - DCS0) scaled by the unambiguous range c / 2f
// (without the calibration that the distance mode applies). Prints the four
// samples at the centre and the distance computed from them.
// Usage: raw_dcs [FRAMES]   (default 5)
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <numbers>

#include "ozr/tofcam.h"

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::atoi(argv[1]) : 5;

    ozr::TOFCam cam(ozr::TOFSensor::autodetect);
    if (cam.open() != 0) {
        return 1;
    }
    if (cam.setControl(ozr::ControlID::ACQUISITION_MODE, ozr::AcquisitionMode::DCS4) != 0) {
        return 1;
    }
    int hz = 0;
    if (cam.getControl(ozr::ControlID::MODULATION_FREQ_HZ, hz) != 0 || hz <= 0) {
        return 1;
    }
    const double rangeMm = 299792458.0 * 1000.0 / (2.0 * hz);

    if (cam.startStream() != 0) {
        return 1;
    }
    std::unique_ptr<ozr::TOFFrame> frame;
    for (int n = 0; n < frames; ++n) {
        if (cam.captureFrame(frame) != 0) {
            return 1;
        }
        const size_t w = frame->getWidth(), h = frame->getHeight();
        const size_t centre = (h / 2) * w + w / 2;
        // 12-bit samples, DCS 0 to 3; the images stay valid while the frame lives.
        double s[4];
        for (size_t k = 0; k < 4; ++k) {
            s[k] = frame->getData<uint16_t>(ozr::FrameType::DCS, k)[centre];
        }
        double phase = std::atan2(s[3] - s[1], s[2] - s[0]);
        if (phase < 0) {
            phase += 2 * std::numbers::pi;
        }
        std::printf("frame %u: DCS %.0f %.0f %.0f %.0f, uncalibrated %.0f mm\n",
                    frame->getMetadata().frameNumber, s[0], s[1], s[2], s[3],
                    phase / (2 * std::numbers::pi) * rangeMm);
    }
    cam.stopStream();
    std::printf("Streamed %d raw DCS frames\n", frames);
    return 0;
}
