#include "png_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <utility>
#include <vector>

#include "frame_stats.h"
#include "png_file.h"
#include "preview.h"

namespace capture {

namespace {

std::string describe(const std::string& image) {
    if (image == "distance") {
        return "distance in millimetres; 64000 and above are pixel codes (64001 low amplitude, "
               "64002 ADC overflow, 64003 saturation, 64004 bad pixel, 64005 interference, "
               "64006 edge)";
    }
    if (image == "amplitude") return "amplitude in counts; 64000 and above are pixel codes";
    if (image == "phase") return "phase: radians = value * 2 pi / 65535";
    if (image == "grayscale") return "grayscale, 12-bit";
    return "DCS image, 12-bit samples";
}

// The phase in radians as 0..65535 over 0..2 pi, the scale in which the
// camera computes it.
std::vector<uint16_t> phaseToWords(const float* phase, size_t n) {
    std::vector<uint16_t> words(n);
    const double scale = 65535.0 / (2.0 * std::numbers::pi);
    for (size_t i = 0; i < n; ++i) {
        const double v = std::isfinite(phase[i]) ? phase[i] * scale : 0.0;
        words[i] = static_cast<uint16_t>(std::lround(std::clamp(v, 0.0, 65535.0)));
    }
    return words;
}

}  // namespace

PngFrameWriter::PngFrameWriter(std::string dir, ozr::AcquisitionMode mode, long every, bool preview)
    : dir_(std::move(dir)), mode_(mode), every_(every < 1 ? 1 : every), preview_(preview) {}

std::string PngFrameWriter::fileName(const std::string& dir, uint32_t frameNumber,
                                     const std::string& image) {
    char name[64];
    std::snprintf(name, sizeof name, "frame-%06u-%s.png", frameNumber, image.c_str());
    return dir + "/" + name;
}

std::string PngFrameWriter::write(const ozr::TOFFrame& frame) {
    if (++seen_ % every_ != 0) return {};
    const uint32_t w = frame.getWidth();
    const uint32_t h = frame.getHeight();
    const uint32_t number = frame.getMetadata().frameNumber;
    const uint16_t* distance = nullptr;
    const uint16_t* amplitude = nullptr;
    for (const FrameImage& image : frameImages(frame, mode_)) {
        const std::string path = fileName(dir_, number, image.name);
        const PngText text = {{"Title", image.name}, {"Description", describe(image.name)}};
        std::string error;
        if (image.phase) {
            const std::vector<uint16_t> words = phaseToWords(image.phase, size_t{w} * h);
            error = writeGray16Png(path, w, h, words.data(), text);
        } else if (image.data16) {
            error = writeGray16Png(path, w, h, image.data16, text);
        } else {
            continue;  // the frame lacks it; the library said so
        }
        if (!error.empty()) return error;
        ++files_;
        if (image.name == "distance") distance = image.data16;
        if (image.name == "amplitude") amplitude = image.data16;
    }
    if (!preview_) return {};
    const std::string number6 = std::to_string(number);
    const std::pair<const char*, const uint16_t*> previews[] = {{"distance", distance},
                                                                {"amplitude", amplitude}};
    for (const auto& [name, data] : previews) {
        if (!data) continue;
        const std::string label = std::string(name) + "  FRAME " + number6;
        const Canvas c = std::string(name) == "distance" ? distancePreview(w, h, data, label)
                                                         : amplitudePreview(w, h, data, label);
        const std::string path = fileName(dir_, number, std::string(name) + "-preview");
        const PngText text = {{"Title", std::string(name) + " preview"},
                              {"Legend", legendDescription()}};
        const std::string error = writeRgb8Png(path, static_cast<uint32_t>(c.width()),
                                               static_cast<uint32_t>(c.height()), c.data(), text);
        if (!error.empty()) return error;
        ++files_;
    }
    return {};
}

}  // namespace capture
