// Writes the calibration of a virtual sensor: the index
// "calibration_info.json" and header-less little-endian 16-bit files for the
// phase offset and phase error tables of each calibrated frequency and for
// the grayscale dark offset and gain, and the lens.
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <locale>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "lens.h"
#include "scene.h"
#include "scene_model.h"

namespace ozrsim {

namespace {

// Temperatures of the four probes during the recording; their mean is the
// calibration temperature.
constexpr float PROBE_OFFSETS_C[4] = {-0.5f, 0.5f, -0.25f, 0.25f};

int writeWords(const std::filesystem::path& path, const std::vector<uint16_t>& words) {
    std::vector<unsigned char> bytes(words.size() * 2);
    for (size_t i = 0; i < words.size(); ++i) {
        bytes[2 * i] = static_cast<unsigned char>(words[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<unsigned char>(words[i] >> 8);
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return errno ? -errno : -EIO;
    const size_t written = bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), f);
    int rc = written == bytes.size() ? 0 : (errno ? -errno : -EIO);
    if (std::fclose(f) != 0 && rc == 0) rc = errno ? -errno : -EIO;
    return rc;
}

std::string mhzName(uint32_t hz) {
    std::ostringstream s;
    s << hz / 1000000;
    if (hz % 1000000) s << "_" << hz % 1000000;
    s << "MHz";
    return s.str();
}

}  // namespace

int writeCalibration(const std::string& dir, Model model, uint32_t width, uint32_t height,
                     uint64_t seed) {
    uint32_t w = 0, h = 0;
    if (dir.empty() || !processedSize(model, width, height, w, h)) return -EINVAL;
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) return -ec.value();
    if (!std::filesystem::is_directory(dir, ec)) return -ENOTDIR;

    const std::filesystem::path root(dir);
    const SensorErrorModel errors(model, w, h, seed);
    const size_t n = static_cast<size_t>(w) * h;

    std::ostringstream json;
    json.imbue(std::locale::classic());
    json.setf(std::ios::fixed);
    json.precision(2);
    json << "{\n  \"phaseOffsetData\": [\n";
    bool first = true;
    for (uint32_t hz : kCalibratedFrequenciesHz) {
        std::vector<uint16_t> offsets(n);
        for (size_t i = 0; i < n; ++i) offsets[i] = errors.phaseOffsetRaw(i, hz);
        const std::string file = "phase_offset_" + mhzName(hz) + ".bin";
        if (int rc = writeWords(root / file, offsets); rc != 0) return rc;
        json << (first ? "" : ",\n") << "    {\"modulation_frequency_hz\": " << hz
             << ", \"width\": " << w << ", \"height\": " << h << ", \"offset_file\": \"" << file
             << "\"";
        for (int p = 0; p < 4; ++p) {
            json << ", \"ozr_temperature_sensor" << p
                 << "_c\": " << kCalibrationTempC + PROBE_OFFSETS_C[p];
        }
        json << "}";
        first = false;
    }
    json << "\n  ],\n  \"phaseErrorLUTData\": [\n";
    first = true;
    for (uint32_t hz : kCalibratedFrequenciesHz) {
        const std::string file = "phase_error_lut_" + mhzName(hz) + ".bin";
        if (int rc = writeWords(root / file, errors.phaseErrorLut(hz, kPhaseLutSize)); rc != 0) {
            return rc;
        }
        json << (first ? "" : ",\n") << "    {\"modulation_frequency_hz\": " << hz
             << ", \"lut_size\": " << kPhaseLutSize << ", \"lut_file\": \"" << file << "\"}";
        first = false;
    }
    json << "\n  ],\n";
    if (int rc = writeWords(root / "dsnu.bin", errors.dsnuImage()); rc != 0) return rc;
    if (int rc = writeWords(root / "prnu.bin", errors.prnuImage()); rc != 0) return rc;
    json << "  \"grayscale\": {\"dsnu_file\": \"dsnu.bin\", \"prnu_file\": \"prnu.bin\", "
            "\"prnu_scale_factor\": "
         << kPrnuScaleFactor << ", \"width\": " << w << ", \"height\": " << h << "},\n";
    // The lens the renderer images through, at the processed size.
    const Lens lens = trueLens(w, h);
    json.unsetf(std::ios::fixed);
    json.precision(12);
    json << "  \"lens\": {\"width\": " << w << ", \"height\": " << h << ", \"fx\": " << lens.fx
         << ", \"fy\": " << lens.fy << ", \"cx\": " << lens.cx << ", \"cy\": " << lens.cy
         << ", \"k1\": " << lens.k1 << ", \"k2\": " << lens.k2 << ", \"k3\": " << lens.k3
         << ", \"p1\": " << lens.p1 << ", \"p2\": " << lens.p2 << "}\n}\n";

    const std::string text = json.str();
    std::FILE* f = std::fopen((root / "calibration_info.json").c_str(), "w");
    if (!f) return errno ? -errno : -EIO;
    const size_t written = std::fwrite(text.data(), 1, text.size(), f);
    int rc = written == text.size() ? 0 : (errno ? -errno : -EIO);
    if (std::fclose(f) != 0 && rc == 0) rc = errno ? -errno : -EIO;
    return rc;
}

}  // namespace ozrsim
