// Captures one frame through the C++ API and writes its images and the
// virtual sensor's ground truth as raw little-endian files, for the Python
// module's tests to compare with. Run under ozr-sim:
//
//   capture_reference MODE OUTDIR
//
// writes OUTDIR/distance.u16, amplitude.u16, grayscale.u16, phase.f32,
// dcs.u16 (the DCS images one after the other) for the images the mode has,
// and truth_distance.f32, truth_amplitude.f32, truth_flags.u8, and
// noise.f32: the driver's read noise variance and shot noise per count.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "ozr/tofcam.h"
#include "ozrsim.h"

namespace {

void quiet(kyr::platform::LogLevel, const char*, va_list) {}

template <typename T>
bool write(const std::string& path, const T* data, size_t count) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(data, sizeof(T), count, f) == count;
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: capture_reference MODE OUTDIR\n");
        return 2;
    }
    const int mode = std::atoi(argv[1]);
    const std::string out = argv[2];
    ozr::TOFCam cam(ozr::TOFSensor::autodetect);
    if (cam.open() != 0) {
        std::fprintf(stderr, "capture_reference: open failed\n");
        return 1;
    }
    if (mode != 0 && cam.setControl(ozr::ControlID::ACQUISITION_MODE, mode) != 0) {
        std::fprintf(stderr, "capture_reference: mode %d refused\n", mode);
        return 1;
    }
    std::unique_ptr<ozr::TOFFrame> frame;
    if (const int r = cam.captureFrame(frame); r != 0) {
        std::fprintf(stderr, "capture_reference: capture failed: %d\n", r);
        return 1;
    }
    const size_t n = size_t{frame->getWidth()} * frame->getHeight();
    // The accessors log each image the mode lacks; those are skipped here.
    kyr::platform::register_log_function(&quiet);
    bool ok = true;
    const struct {
        ozr::FrameType type;
        const char* name;
    } images[] = {{ozr::FrameType::DISTANCE, "distance"},
                  {ozr::FrameType::AMPLITUDE, "amplitude"},
                  {ozr::FrameType::GRAYSCALE, "grayscale"}};
    for (const auto& image : images) {
        if (const uint16_t* d = frame->getData<uint16_t>(image.type)) {
            ok = write(out + "/" + image.name + ".u16", d, n) && ok;
        }
    }
    if (const float* p = frame->getData<float>(ozr::FrameType::PHASE)) {
        ok = write(out + "/phase.f32", p, n) && ok;
    }
    std::vector<uint16_t> dcs;
    for (size_t i = 0;; ++i) {
        const uint16_t* d = frame->getData<uint16_t>(ozr::FrameType::DCS, i);
        if (d == nullptr) {
            break;
        }
        dcs.insert(dcs.end(), d, d + n);
    }
    if (!dcs.empty()) {
        ok = write(out + "/dcs.u16", dcs.data(), dcs.size()) && ok;
    }
    const ozrsim::GroundTruth truth = ozrsim::lastTruth();
    ok = write(out + "/truth_distance.f32", truth.distanceMm.data(), truth.distanceMm.size()) && ok;
    ok = write(out + "/truth_amplitude.f32", truth.amplitude.data(), truth.amplitude.size()) && ok;
    ok = write(out + "/truth_flags.u8", truth.flags.data(), truth.flags.size()) && ok;
    const float noise[] = {ozrsim::kReadNoiseVariance, ozrsim::kShotNoisePerCount};
    ok = write(out + "/noise.f32", noise, 2) && ok;
    kyr::platform::register_log_function(nullptr);
    if (!ok) {
        std::fprintf(stderr, "capture_reference: cannot write to %s\n", out.c_str());
        return 1;
    }
    return 0;
}
