// Distance/amplitude streaming: the camera's default mode.
//
// Opens the first sensor found, switches a few of the filters on, streams and
// prints the distance at the centre of each frame with the share of valid
// pixels. Usage: stream_distance [FRAMES]   (default 10)
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "kyr/image.h"  // ImageBase::isPixelCode
#include "ozr/tofcam.h"

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::atoi(argv[1]) : 10;
    // The library logs to standard error (errors, warnings) and standard
    // output (info, debug); keep only warnings and errors here.
    kyr::platform::setLogLevel(kyr::platform::LogLevel::LOG_LEVEL_WARN);

    // Autodetection picks the sensor whose device nodes exist; the camera
    // loads the calibration from the default directories (or runs without).
    ozr::TOFCam cam(ozr::TOFSensor::autodetect);
    if (cam.open() != 0) {  // the reason has been logged
        return 1;
    }

    // Settings are plain integer controls; every call returns 0 or a
    // negated errno value. These belong to the filter graph of this mode and
    // are lost when the mode is switched.
    cam.setControl(ozr::ControlID::MEDIAN_FILTER_ENABLE, 1);
    cam.setControl(ozr::ControlID::TEMPORAL_FILTER_ENABLE, 1);
    cam.setControl(ozr::ControlID::TEMPORAL_FILTER_ALPHA, 30);  // percent
    cam.setControl(ozr::ControlID::MIN_AMPLITUDE, 50);          // weaker pixels: code 64001

    if (cam.startStream() != 0) {
        return 1;
    }
    std::unique_ptr<ozr::TOFFrame> frame;
    for (int n = 0; n < frames; ++n) {
        // Waits up to one second for the newest frame; frames the
        // application is too slow for are skipped.
        if (cam.captureFrame(frame) != 0) {
            return 1;
        }
        const size_t w = frame->getWidth(), h = frame->getHeight();
        const uint16_t* distance = frame->getData<uint16_t>(ozr::FrameType::DISTANCE);
        const uint16_t* amplitude = frame->getData<uint16_t>(ozr::FrameType::AMPLITUDE);

        // Millimetres; values of 64000 and more are codes that say why a
        // pixel has no distance (saturated, too weak, interference, ...).
        size_t valid = 0;
        for (size_t i = 0; i < w * h; ++i) {
            valid += ImageBase::isPixelCode(distance[i]) ? 0 : 1;
        }
        const size_t centre = (h / 2) * w + w / 2;
        std::printf("frame %u: centre %u mm (amplitude %u), %zu%% of %zux%zu pixels valid\n",
                    frame->getMetadata().frameNumber, distance[centre], amplitude[centre],
                    valid * 100 / (w * h), w, h);
    }
    cam.stopStream();
    std::printf("Streamed %d distance frames\n", frames);
    return 0;  // the camera closes itself when it goes out of scope
}
