// Reference arithmetic for the virtual sensor tests: what the camera library
// does with the driver's images and the calibration files, written out from
// its definitions so that the renderer and the calibration writer can be
// checked against it independently of the library's own stages.
#pragma once

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace simref {

inline constexpr double PI = 3.14159265358979323846;

// Millimetres per radian of two-way phase at modulation frequency `hz`.
inline double mmPerRad(double hz) {
    return 299792458.0e3 / (4.0 * PI * hz);
}

// The library's unfolding of an OZR310 buffer: input W x H becomes
// W/2 x 2H; input row y's left half goes to output row H + y, its right half
// (from column W/2) to output row H - 1 - y.
inline std::vector<uint16_t> splitStack(const std::vector<uint16_t>& in, uint32_t w, uint32_t h) {
    const uint32_t half = w / 2;
    std::vector<uint16_t> out(static_cast<size_t>(half) * 2 * h);
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < half; ++x) {
            out[static_cast<size_t>(h + y) * half + x] = in[static_cast<size_t>(y) * w + x];
            out[static_cast<size_t>(h - 1 - y) * half + x] =
                in[static_cast<size_t>(y) * w + half + x];
        }
    }
    return out;
}

// Raw driver words to 12-bit samples (shift right by 4), unfolded for the
// OZR310.
inline std::vector<std::vector<uint16_t>> toSamples(const std::vector<std::vector<uint16_t>>& raw,
                                                    bool ozr310, uint32_t w, uint32_t h) {
    std::vector<std::vector<uint16_t>> out;
    for (const auto& img : raw) {
        std::vector<uint16_t> s(img.size());
        for (size_t i = 0; i < img.size(); ++i) s[i] = static_cast<uint16_t>(img[i] >> 4);
        out.push_back(ozr310 ? splitStack(s, w, h) : s);
    }
    return out;
}

// Fixed-point CORDIC arctangent of y / x, raw phase in 1/65536 turn.
inline uint16_t cordic(int16_t y16, int16_t x16) {
    static constexpr int32_t A[15] = {8192, 4836, 2555, 1297, 651, 326, 163, 81,
                                      41,   20,   10,   5,    3,   1,   1};
    if (x16 == 0 && y16 == 0) return 0;
    int32_t x = int32_t{x16} * 16384, y = int32_t{y16} * 16384, a = 0;
    if (x16 < 0) {
        x = -x;
        y = -y;
        a = 32768;
    }
    for (int i = 0; i < 15; ++i) {
        const int32_t xs = x >> i, ys = y >> i;
        if (y >= 0) {
            x += ys;
            y -= xs;
            a += A[i];
        } else {
            x -= ys;
            y += xs;
            a -= A[i];
        }
    }
    return static_cast<uint16_t>(a & 0xFFFF);
}

struct PhaseAmp {
    uint16_t phase;
    float amplitude;
};

// Phase = atan2(DCS3 - DCS1, DCS2 - DCS0); amplitude = half the magnitude.
inline PhaseAmp phaseAmp(uint16_t d0, uint16_t d1, uint16_t d2, uint16_t d3) {
    const int16_t a = static_cast<int16_t>(d2 - d0);
    const int16_t b = static_cast<int16_t>(d3 - d1);
    return {cordic(b, a), static_cast<float>(0.5 * std::hypot(double(a), double(b)))};
}

constexpr float TWO_PI_F = 6.2831855f;
constexpr float C_MM_S = 299792433152.0f;

inline float rawToRad(uint16_t raw) {
    return (static_cast<float>(raw) * TWO_PI_F) / 65535.0f;
}

inline uint16_t radToRaw(float r) {
    float x = std::fmod(r, TWO_PI_F);
    if (x < 0) x += TWO_PI_F;
    return static_cast<uint16_t>(static_cast<uint32_t>(std::lround(x * 65535.0f / TWO_PI_F)));
}

inline std::vector<uint16_t> readWords(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<uint16_t> w(bytes.size() / 2);
    for (size_t i = 0; i < w.size(); ++i) {
        w[i] = static_cast<uint16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                     (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    }
    return w;
}

inline nlohmann::json readIndex(const std::filesystem::path& dir) {
    std::ifstream in(dir / "calibration_info.json");
    return nlohmann::json::parse(in);
}

// Neighbour selection of the phase providers: exact match, else the largest
// frequency below and the smallest above. Returns false out of range.
inline bool selectEntries(const nlohmann::json& arr, uint32_t hz, size_t& lo, size_t& hi) {
    bool haveLo = false, haveHi = false;
    uint32_t fLo = 0, fHi = 0;
    for (size_t i = 0; i < arr.size(); ++i) {
        const uint32_t f = arr[i]["modulation_frequency_hz"].get<uint32_t>();
        if (f == hz) {
            lo = hi = i;
            return true;
        }
        if (f < hz && (!haveLo || fLo < f)) {
            lo = i;
            fLo = f;
            haveLo = true;
        }
        if (f > hz && (!haveHi || f < fHi)) {
            hi = i;
            fHi = f;
            haveHi = true;
        }
    }
    return haveLo && haveHi;
}

inline float weight(const nlohmann::json& arr, size_t lo, size_t hi, uint32_t hz) {
    if (lo == hi) return 0.0f;
    const uint32_t fLo = arr[lo]["modulation_frequency_hz"].get<uint32_t>();
    const uint32_t fHi = arr[hi]["modulation_frequency_hz"].get<uint32_t>();
    return static_cast<float>(hz - fLo) / static_cast<float>(fHi - fLo);
}

struct PhaseCalibration {
    std::vector<uint16_t> offset;
    std::vector<uint16_t> lut;
    float calibrationTempC = 25.0f;
    float slopeMmPerK = 0.0f;
};

// Phase offset image, phase error table and temperature record for hz, as
// the calibration providers build them. Returns false out of range.
inline bool loadPhaseCalibration(const std::filesystem::path& dir, uint32_t hz,
                                 PhaseCalibration& cal) {
    const nlohmann::json idx = readIndex(dir);
    const auto& off = idx.at("phaseOffsetData");
    size_t lo = 0, hi = 0;
    if (!selectEntries(off, hz, lo, hi)) return false;
    float w = weight(off, lo, hi, hz);
    auto vLo = readWords(dir / off[lo]["offset_file"].get<std::string>());
    auto vHi = readWords(dir / off[hi]["offset_file"].get<std::string>());
    cal.offset.resize(vLo.size());
    for (size_t i = 0; i < vLo.size(); ++i) {
        float l = rawToRad(vLo[i]), u = rawToRad(vHi[i]);
        if (l > u) u += TWO_PI_F;
        cal.offset[i] = radToRaw(std::fma(u - l, w, l));
    }
    float t = 0.0f;
    for (int p = 0; p < 4; ++p) {
        const std::string key = "ozr_temperature_sensor" + std::to_string(p) + "_c";
        t = t + off[lo][key].get<float>();
        t = t + off[hi][key].get<float>();
    }
    cal.calibrationTempC = t * 0.125f;
    cal.slopeMmPerK = 22.0f;

    const auto& lut = idx.at("phaseErrorLUTData");
    if (!selectEntries(lut, hz, lo, hi)) return false;
    w = weight(lut, lo, hi, hz);
    auto tLo = readWords(dir / lut[lo]["lut_file"].get<std::string>());
    auto tHi = readWords(dir / lut[hi]["lut_file"].get<std::string>());
    cal.lut.resize(tLo.size());
    for (size_t i = 0; i < tLo.size(); ++i) {
        float l = rawToRad(tLo[i]), u = rawToRad(tHi[i]);
        if (l > 3.1415927f) l -= TWO_PI_F;
        if (u > 3.1415927f) u -= TWO_PI_F;
        cal.lut[i] = radToRaw(std::fma(u - l, w, l));
    }
    return true;
}

// Phase error table, phase offset and temperature compensation in the
// library's order, then phase to millimetres (truncated).
inline uint16_t compensatedDistanceMm(uint16_t phase, size_t pixel, const PhaseCalibration& cal,
                                      float tempC, uint32_t hz) {
    uint16_t p = phase;
    if (!cal.lut.empty()) {
        const size_t n = cal.lut.size();
        size_t k = (static_cast<size_t>(p) * n) >> 16;
        if (k >= n) k = n - 1;
        p = static_cast<uint16_t>(p - cal.lut[k]);
    }
    if (!cal.offset.empty()) p = static_cast<uint16_t>(p - cal.offset[pixel]);
    const float phi = ((((tempC - cal.calibrationTempC) * cal.slopeMmPerK) * 4.0f) * 3.1415927f) *
                      static_cast<float>(hz) / C_MM_S;
    p = static_cast<uint16_t>(p - radToRaw(phi));
    const float scale = C_MM_S / (static_cast<float>(hz) * 12.566371f);
    return static_cast<uint16_t>(static_cast<int32_t>(rawToRad(p) * scale));
}

// Unambiguous range in millimetres and the signed difference of two
// distances modulo that range.
inline double rangeMm(uint32_t hz) {
    return 299792458.0 / (2.0 * hz) * 1000.0;
}
inline double wrappedError(double measured, double truth, uint32_t hz) {
    return std::remainder(measured - truth, rangeMm(hz));
}

}  // namespace simref
