// Grayscale: the sensor as an infrared camera.
//
// One image per frame, corrected for dark signal (DSNU) and gain (PRNU)
// non-uniformity when the calibration has that data. Prints the mean and the
// spread of each image. Usage: grayscale [FRAMES [raw]]   (default 5)
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "ozr/tofcam.h"

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::atoi(argv[1]) : 5;

    ozr::TOFCam cam(ozr::TOFSensor::autodetect);
    if (cam.open() != 0) {
        return 1;
    }
    if (cam.setControl(ozr::ControlID::ACQUISITION_MODE, ozr::AcquisitionMode::GRAYSCALE) != 0) {
        return 1;
    }
    // Both compensations are on after the switch; "grayscale N raw" turns
    // them off to show the sensor's own non-uniformity.
    if (argc > 2 && std::strcmp(argv[2], "raw") == 0) {
        cam.setControl(ozr::ControlID::ENABLE_GRAYSCALE_DSNU_COMPENSATION, 0);
        cam.setControl(ozr::ControlID::ENABLE_GRAYSCALE_PRNU_COMPENSATION, 0);
    }
    int dsnu = 0, prnu = 0;
    cam.getControl(ozr::ControlID::ENABLE_GRAYSCALE_DSNU_COMPENSATION, dsnu);
    cam.getControl(ozr::ControlID::ENABLE_GRAYSCALE_PRNU_COMPENSATION, prnu);
    std::printf("DSNU compensation %s, PRNU compensation %s\n", dsnu ? "on" : "off",
                prnu ? "on" : "off");

    if (cam.startStream() != 0) {
        return 1;
    }
    std::unique_ptr<ozr::TOFFrame> frame;
    for (int n = 0; n < frames; ++n) {
        if (cam.captureFrame(frame) != 0) {
            return 1;
        }
        const size_t count = size_t{frame->getWidth()} * frame->getHeight();
        const uint16_t* gray = frame->getData<uint16_t>(ozr::FrameType::GRAYSCALE);
        double sum = 0, squares = 0;
        for (size_t i = 0; i < count; ++i) {
            sum += gray[i];
            squares += double(gray[i]) * gray[i];
        }
        const double mean = sum / count;
        std::printf("frame %u: mean %.1f, spread %.1f\n", frame->getMetadata().frameNumber, mean,
                    std::sqrt(std::fmax(0.0, squares / count - mean * mean)));
    }
    cam.stopStream();
    std::printf("Streamed %d grayscale frames\n", frames);
    return 0;
}
