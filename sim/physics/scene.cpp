// Renderer of the virtual sensor: scene geometry, the four-phase correlation
// samples, grayscale and HDR frames, noise and the sensor's systematic
// errors, and the OZR310's folded buffer layout.
//
// Scenes (SceneLoader below):
//   "wall"    a flat wall facing the camera at SceneConfig::wallDistanceMm;
//   "tilted"  a plane through the optical axis at wallDistanceMm, turned by
//             35 degrees about the vertical axis (right side nearer);
//   "uniform" a flat field: every pixel sees reflectivity at wallDistanceMm
//             under normal incidence (a sphere about the camera), so the
//             signal is the same everywhere;
//   "boxes"   a back wall at 3 m with three boxes at 0.9, 1.6 and 2.4 m, a
//             very reflective patch at 0.5 m that saturates at 500 us, and a
//             dark patch on the back wall whose amplitude is tiny;
//   "file:PATH" a depth map: a PGM image, binary "P5" (16-bit big-endian
//             samples when maxval > 255, else 8-bit) or text "P2", whose
//             values are radial distances in millimetres (0 = no return).
//             It is resampled by nearest neighbour to the sensor size.
// The camera is a pinhole with a 60 degree horizontal field of view.
//
// No illumination (SceneConfig::dark): A = 0 and no interference.
// LED_DELAY_STEP s delays the illumination by s x kLedDelayStepSeconds.
// Signal: amplitude A = 2500 counts x reflectivity x cos(incidence) / d^2
// (d in metres) x exposure / 500 us x gain x pixel gain. Samples:
// DCS_k = B - A cos(p - k pi/2) + noise, noise sigma = noiseScale x
// sqrt(1 + A/64) counts, rounded and clipped to 0..4095, stored << 4.
// Grayscale: B + pixel gain x I + noise with I the same signal as A.
#include "scene.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <numbers>

#include "lens.h"
#include "scene_model.h"

namespace ozrsim {

namespace {

constexpr uint64_t MAX_PIXELS = uint64_t{1} << 22;  // 2048 x 2048
constexpr uint32_t MAX_FILE_SIDE = 8192;
constexpr double AMP_AT_ONE_METRE = 2500.0;  // reflectivity 1, 500 us, gain 1
constexpr float REF_EXPOSURE_US = 500.0f;
constexpr float READ_NOISE_SQ = kReadNoiseVariance;
constexpr float SHOT_NOISE_PER_COUNT = kShotNoisePerCount;
constexpr float INTERFERENCE_COUNTS = 800.0f;
constexpr float TILT_RAD = 35.0f * static_cast<float>(std::numbers::pi) / 180.0f;

// Amplitude per reflectivity, incidence and inverse square distance.
float signalOf(float distanceMm, float reflectivity, float cosIncidence) {
    if (!(distanceMm > 0.0f) || !(reflectivity > 0.0f)) return 0.0f;
    const double dm = std::max(0.01, distanceMm * 1e-3);
    const double s = AMP_AT_ONE_METRE * reflectivity * std::max(0.0f, cosIncidence) / (dm * dm);
    return static_cast<float>(std::min(s, 1e7));
}

// Table of cos over one turn in 65536 steps, with one extra entry so that a
// linear interpolation can read index + 1. Never destroyed: the driver's
// worker may still be rendering while the process exits.
const std::vector<float>& cosTable() {
    static const std::vector<float>& table = *[] {
        auto* t = new std::vector<float>(65537);
        for (size_t i = 0; i < t->size(); ++i) {
            (*t)[i] = static_cast<float>(std::cos(2.0 * std::numbers::pi * i / 65536.0));
        }
        return t;
    }();
    return table;
}

// Gaussian-like variate of unit variance from one 64-bit hash: the sum of
// four 16-bit uniforms (bounded at +-3.46 sigma, which keeps outliers away).
inline float gaussFromHash(uint64_t h) {
    const uint32_t s = static_cast<uint32_t>(h & 0xFFFF) +
                       static_cast<uint32_t>((h >> 16) & 0xFFFF) +
                       static_cast<uint32_t>((h >> 32) & 0xFFFF) + static_cast<uint32_t>(h >> 48);
    return (static_cast<float>(s) - 131070.0f) * (1.0f / 37837.23f);
}

inline uint16_t quantize(float v) {
    if (!(v > 0.0f)) return 0;
    if (v >= 4095.0f) return 4095 << 4;
    // Round half up, as the dark offset calibration rounds the dark level.
    return static_cast<uint16_t>(static_cast<uint16_t>(v + 0.5f) << 4);
}

// Expected sample as the renderer would quantize it, without noise.
inline bool clipsAt(float v) {
    return !(v > 0.5f) || v >= 4094.5f;
}

struct Surface {
    float distanceMm = 0.0f;
    float reflectivity = 0.0f;
    float cosIncidence = 1.0f;
};

bool readPgmToken(std::istream& in, std::string& token) {
    token.clear();
    int c;
    while ((c = in.get()) != EOF) {
        if (c == '#') {
            while ((c = in.get()) != EOF && c != '\n') {
            }
            continue;
        }
        if (std::isspace(c)) {
            if (!token.empty()) return true;
            continue;
        }
        token.push_back(static_cast<char>(c));
        if (token.size() > 16) return false;
    }
    return !token.empty();
}

bool parseUnsigned(const std::string& s, uint32_t& value) {
    if (s.empty() || s.size() > 9) return false;
    uint32_t v = 0;
    for (char ch : s) {
        if (ch < '0' || ch > '9') return false;
        v = v * 10 + static_cast<uint32_t>(ch - '0');
    }
    value = v;
    return true;
}

}  // namespace

bool processedSize(Model model, uint32_t width, uint32_t height, uint32_t& outWidth,
                   uint32_t& outHeight) {
    if (width == 0 || height == 0) return false;
    if (static_cast<uint64_t>(width) * height > MAX_PIXELS) return false;
    if (model == Model::OZR310) {
        if (width < 2) return false;
        outWidth = width / 2;
        outHeight = 2 * height;
    } else {
        outWidth = width;
        outHeight = height;
    }
    return true;
}

// A depth map loaded from a file, at its own size.
struct Renderer::Geometry {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<float> distanceMm;
};

// Per-pixel terms that do not change from frame to frame.
struct Renderer::Static {
    Static(Model m, uint32_t w, uint32_t h, uint64_t seed) : model(m), errors(m, w, h, seed) {}
    Model model;
    SensorErrorModel errors;
    std::vector<double> pathSeconds;  // round trip plus signal delay
    std::vector<float> signal;        // amplitude at 500 us, gain 1, without pixel gain
    std::vector<float> interference;  // weight of the foreign light, 0 outside
    std::vector<float> distanceMm;    // true radial distance
    std::shared_ptr<const std::vector<float>> rays;  // unit ray of each pixel
    uint32_t width() const { return errors.width(); }
    uint32_t height() const { return errors.height(); }
};

namespace {

// What the camera looks at: the built-in scenes and depth map files.
class SceneLoader {
public:
    // Loads "file:PATH" depth maps; returns an empty string or an error text.
    static std::string loadDepthFile(const std::string& path, uint32_t& width, uint32_t& height,
                                     std::vector<float>& distanceMm) {
        std::ifstream in(path, std::ios::binary);
        if (!in) return "cannot open depth file " + path + ": " + std::strerror(errno);
        std::string magic, sw, sh, smax;
        if (!readPgmToken(in, magic) || (magic != "P5" && magic != "P2")) {
            return "depth file " + path + " is not a PGM (P5 or P2) image";
        }
        uint32_t w = 0, h = 0, maxval = 0;
        if (!readPgmToken(in, sw) || !readPgmToken(in, sh) || !readPgmToken(in, smax) ||
            !parseUnsigned(sw, w) || !parseUnsigned(sh, h) || !parseUnsigned(smax, maxval)) {
            return "depth file " + path + " has a malformed header";
        }
        if (w == 0 || h == 0 || w > MAX_FILE_SIDE || h > MAX_FILE_SIDE || maxval == 0 ||
            maxval > 65535) {
            return "depth file " + path + " has an unsupported size or maximum value";
        }
        const size_t n = static_cast<size_t>(w) * h;
        distanceMm.assign(n, 0.0f);
        if (magic == "P5") {
            // The header ends with a single whitespace character, already consumed.
            const size_t bytesPer = maxval > 255 ? 2 : 1;
            std::vector<unsigned char> raw(n * bytesPer);
            in.read(reinterpret_cast<char*>(raw.data()), static_cast<std::streamsize>(raw.size()));
            if (static_cast<size_t>(in.gcount()) != raw.size()) {
                return "depth file " + path + " is shorter than its header says";
            }
            for (size_t i = 0; i < n; ++i) {
                distanceMm[i] = bytesPer == 2
                                    ? static_cast<float>((raw[2 * i] << 8) | raw[2 * i + 1])
                                    : static_cast<float>(raw[i]);
            }
        } else {
            std::string tok;
            for (size_t i = 0; i < n; ++i) {
                uint32_t v = 0;
                if (!readPgmToken(in, tok) || !parseUnsigned(tok, v) || v > maxval) {
                    return "depth file " + path + " has a bad or missing sample";
                }
                distanceMm[i] = static_cast<float>(v);
            }
        }
        width = w;
        height = h;
        return {};
    }

    // The built-in scenes, as surfaces seen through pixel (ax, ay) in [0, 1]
    // image coordinates and ray (u, v, 1).
    static Surface builtinSurface(const SceneConfig& sc, double ax, double ay, double u, double v) {
        const float norm = static_cast<float>(std::sqrt(1.0 + u * u + v * v));
        const float refl = std::clamp(sc.reflectivity, 0.0f, 1.0f);
        Surface s;
        if (sc.name == "uniform") {
            s.distanceMm = sc.wallDistanceMm;
            s.reflectivity = refl;
            return s;
        }
        if (sc.name == "tilted") {
            // Plane through (0, 0, D) with normal (sin t, 0, cos t).
            const float ct = std::cos(TILT_RAD), st = std::sin(TILT_RAD);
            const float den = static_cast<float>(u) * st + ct;
            const float t = sc.wallDistanceMm * ct / std::max(den, 0.05f);
            s.distanceMm = t * norm;
            s.reflectivity = refl;
            s.cosIncidence = den / norm;
            return s;
        }
        float z = sc.wallDistanceMm;
        s.reflectivity = refl;
        if (sc.name == "boxes") {
            struct Box {
                double x0, x1, y0, y1;
                float z, refl;
            };
            static constexpr Box boxes[] = {
                {0.46, 0.54, 0.08, 0.20, 500.0f, 1.0f},  // retro-reflective patch
                {0.08, 0.33, 0.25, 0.75, 900.0f, 0.5f},
                {0.40, 0.62, 0.35, 0.85, 1600.0f, 0.7f},
                {0.70, 0.92, 0.15, 0.55, 2400.0f, 0.8f},
                {0.72, 0.90, 0.70, 0.90, 3000.0f, 0.03f},  // dark patch on the wall
            };
            z = 3000.0f;
            for (const Box& b : boxes) {
                if (ax >= b.x0 && ax < b.x1 && ay >= b.y0 && ay < b.y1) {
                    z = b.z;
                    s.reflectivity = b.refl;
                    break;
                }
            }
        }
        s.distanceMm = z * norm;
        s.cosIncidence = 1.0f / norm;
        return s;
    }
};

}  // namespace

Renderer::Renderer(const SceneConfig& scene, uint64_t seed) : scene_(scene), seed_(seed) {
    const std::string& name = scene_.name;
    if (name.rfind("file:", 0) == 0) {
        auto g = std::make_shared<Geometry>();
        error_ = SceneLoader::loadDepthFile(name.substr(5), g->width, g->height, g->distanceMm);
        if (error_.empty()) geometry_ = std::move(g);
    } else if (name != "wall" && name != "boxes" && name != "tilted" && name != "uniform") {
        error_ = "unknown scene \"" + name + "\"";
    }
    if (error_.empty() && !(scene_.wallDistanceMm > 0.0f && scene_.wallDistanceMm < 1e6f)) {
        error_ = "wall distance out of range";
    }
    if (!std::isfinite(scene_.reflectivity)) error_ = "reflectivity is not a number";
    if (!std::isfinite(scene_.noiseScale)) error_ = "noise scale is not a number";
}

void Renderer::prepareStatic(Model model, uint32_t w, uint32_t h) {
    if (static_ && static_->model == model && static_->width() == w && static_->height() == h) {
        return;
    }
    const size_t n = static_cast<size_t>(w) * h;
    auto st = std::make_shared<Static>(model, w, h, seed_);
    st->pathSeconds.resize(n);
    st->signal.resize(n);
    st->interference.assign(n, 0.0f);
    st->distanceMm.resize(n);
    // Each pixel looks along its ray through the lens, (u, v, 1) in
    // undistorted normalised coordinates.
    const std::shared_ptr<const LensRays> rays = trueLensRays(w, h);
    st->rays = rays->unit;
    for (uint32_t y = 0; y < h; ++y) {
        const double ay = (y + 0.5) / h;
        for (uint32_t x = 0; x < w; ++x) {
            const double ax = (x + 0.5) / w;
            const size_t i = static_cast<size_t>(y) * w + x;
            const double u = rays->u[i];
            const double v = rays->v[i];
            Surface s;
            if (geometry_) {
                const uint32_t gx = std::min<uint32_t>(static_cast<uint32_t>(ax * geometry_->width),
                                                       geometry_->width - 1);
                const uint32_t gy = std::min<uint32_t>(
                    static_cast<uint32_t>(ay * geometry_->height), geometry_->height - 1);
                s.distanceMm =
                    geometry_->distanceMm[static_cast<size_t>(gy) * geometry_->width + gx];
                s.reflectivity = std::clamp(scene_.reflectivity, 0.0f, 1.0f);
                s.cosIncidence = 1.0f;
            } else {
                s = SceneLoader::builtinSurface(scene_, ax, ay, u, v);
            }
            st->distanceMm[i] = s.distanceMm;
            st->signal[i] =
                scene_.dark ? 0.0f : signalOf(s.distanceMm, s.reflectivity, s.cosIncidence);
            const double delay = scene_.systematicErrors ? st->errors.delaySeconds()[i] : 0.0;
            st->pathSeconds[i] = 2.0 * s.distanceMm * 1e-3 / kSpeedOfLightMps + delay;
            if (scene_.interference && !scene_.dark && ax >= 0.55 && ax < 0.85 && ay >= 0.15 &&
                ay < 0.45) {
                const double dx = (ax - 0.70) / 0.15, dy = (ay - 0.30) / 0.15;
                st->interference[i] =
                    static_cast<float>(1.0 - 0.2 * std::min(1.0, (dx * dx + dy * dy) / 2.0));
            }
        }
    }
    static_ = std::move(st);
}

bool Renderer::prepare(Model model, uint32_t width, uint32_t height) {
    uint32_t w = 0, h = 0;
    if (!valid() || !processedSize(model, width, height, w, h)) return false;
    prepareStatic(model, w, h);
    return true;
}

std::vector<std::vector<uint16_t>> Renderer::renderFrame(const SensorState& state) {
    std::vector<std::vector<uint16_t>> images;
    if (!valid()) return images;
    uint32_t w = 0, h = 0;
    if (!processedSize(state.model, state.width, state.height, w, h)) return images;
    const size_t nImages = imagesPerFrame(state.acq);
    if (nImages == 0) return images;
    const size_t n = static_cast<size_t>(w) * h;
    prepareStatic(state.model, w, h);
    const Static& st = *static_;

    // Cyclic error table over the ideal phase, in raw units, for this frequency.
    if (scene_.systematicErrors && (!cyclic_ || cyclicHz_ != state.modulationHz)) {
        auto tab = std::make_shared<std::vector<float>>(65537);
        for (size_t k = 0; k < tab->size(); ++k) {
            (*tab)[k] = static_cast<float>(
                st.errors.cyclicErrorTurns(k / 65536.0, state.modulationHz) * 65536.0);
        }
        cyclic_ = std::move(tab);
        cyclicHz_ = state.modulationHz;
    }

    truth_.width = w;
    truth_.height = h;
    truth_.distanceMm = st.distanceMm;
    truth_.rays = st.rays;
    truth_.amplitude.assign(n, 0.0f);
    truth_.flags.assign(n, 0);
    const bool disturbed = state.frameIndex >= scene_.interferenceFromFrame;
    for (size_t i = 0; i < n && disturbed; ++i) {
        if (st.interference[i] > 0.0f) truth_.flags[i] |= GroundTruth::kTruthInterference;
    }

    const float noise = std::max(0.0f, scene_.noiseScale);
    const float gainFactor = static_cast<float>(std::max(state.gain, 1));
    float tempC = state.temperatureC;
    if (!std::isfinite(tempC)) tempC = kCalibrationTempC;
    tempC = std::clamp(tempC, -1000.0f, 1000.0f);
    const double driftSeconds =
        scene_.systematicErrors
            ? 2.0 * kTempDriftMmPerK * (tempC - kCalibrationTempC) * 1e-3 / kSpeedOfLightMps
            : 0.0;
    const double hz = state.modulationHz;
    // The delayed illumination lengthens every path alike.
    const double ledDelaySeconds = std::clamp(state.ledDelayStep, 0, 255) * kLedDelayStepSeconds;
    const uint64_t frameKey = mix64(mix64(seed_) ^ mix64(state.frameIndex + 0x5eedull));
    const std::vector<float>& cosTab = cosTable();
    const float* cyc = scene_.systematicErrors ? cyclic_->data() : nullptr;
    const float* dark = st.errors.darkLevel().data();
    const float* pgain = st.errors.pixelGain().data();

    std::vector<std::vector<uint16_t>> unfolded(nImages, std::vector<uint16_t>(n));
    const bool hdr = nImages == 12;

    if (nImages == 1) {
        const float scale = std::max(0, state.exposureUs) / REF_EXPOSURE_US * gainFactor;
        const uint64_t key = mix64(frameKey + 0x9E3779B97F4A7C15ull);
        uint16_t* out = unfolded[0].data();
        for (size_t i = 0; i < n; ++i) {
            const float intensity = st.signal[i] * scale;
            const float expected = dark[i] + pgain[i] * intensity;
            const float sigma =
                noise * std::sqrt(READ_NOISE_SQ + SHOT_NOISE_PER_COUNT * pgain[i] * intensity);
            out[i] = quantize(expected + sigma * gaussFromHash(mix64(key + i)));
            truth_.amplitude[i] = intensity;
            if (clipsAt(expected)) truth_.flags[i] |= GroundTruth::kTruthClipped;
        }
    } else {
        const int exposures = hdr ? 3 : 1;
        std::vector<float> bestAmp;
        std::vector<uint8_t> anyValid;
        if (hdr) {
            bestAmp.assign(n, -1.0f);
            anyValid.assign(n, 0);
        }
        for (int e = 0; e < exposures; ++e) {
            const int tUs = hdr ? state.hdrTimesUs[e] : state.exposureUs;
            const float scale = std::max(0, tUs) / REF_EXPOSURE_US * gainFactor;
            uint64_t key[4];
            float interf[4];
            for (int k = 0; k < 4; ++k) {
                key[k] =
                    mix64(frameKey + static_cast<uint64_t>(4 * e + k + 1) * 0x9E3779B97F4A7C15ull);
                interf[k] = INTERFERENCE_COUNTS *
                            static_cast<float>(0.5 + 0.5 * unitFromHash(mix64(key[k] ^ 0x1f)));
            }
            uint16_t* o0 = unfolded[4 * e + 0].data();
            uint16_t* o1 = unfolded[4 * e + 1].data();
            uint16_t* o2 = unfolded[4 * e + 2].data();
            uint16_t* o3 = unfolded[4 * e + 3].data();
            for (size_t i = 0; i < n; ++i) {
                double turns = hz * (st.pathSeconds[i] + driftSeconds + ledDelaySeconds);
                turns -= std::floor(turns);
                float p = static_cast<float>(turns * 65536.0);
                if (cyc) {
                    const uint32_t qi = std::min<uint32_t>(static_cast<uint32_t>(p), 65535);
                    const float qf = p - static_cast<float>(qi);
                    p += cyc[qi] + qf * (cyc[qi + 1] - cyc[qi]);
                }
                const float pfloor = std::floor(p);
                const float pf = p - pfloor;
                const uint32_t pc = static_cast<uint32_t>(static_cast<int32_t>(pfloor)) & 0xFFFF;
                const uint32_t ps = (pc - 16384u) & 0xFFFF;  // sin(p) = cos(p - quarter turn)
                const float c = cosTab[pc] + pf * (cosTab[pc + 1] - cosTab[pc]);
                const float s = cosTab[ps] + pf * (cosTab[ps + 1] - cosTab[ps]);
                const float a = st.signal[i] * scale * pgain[i];
                const float b = dark[i];
                const float sigma = noise * std::sqrt(READ_NOISE_SQ + SHOT_NOISE_PER_COUNT * a);
                const float wI = disturbed ? st.interference[i] : 0.0f;
                const float e0 = b - a * c + wI * interf[0];
                const float e1 = b - a * s + wI * interf[1];
                const float e2 = b + a * c + wI * interf[2];
                const float e3 = b + a * s + wI * interf[3];
                o0[i] = quantize(e0 + sigma * gaussFromHash(mix64(key[0] + i)));
                o1[i] = quantize(e1 + sigma * gaussFromHash(mix64(key[1] + i)));
                o2[i] = quantize(e2 + sigma * gaussFromHash(mix64(key[2] + i)));
                o3[i] = quantize(e3 + sigma * gaussFromHash(mix64(key[3] + i)));
                const bool clipped = clipsAt(e0) || clipsAt(e1) || clipsAt(e2) || clipsAt(e3);
                if (!hdr) {
                    truth_.amplitude[i] = a;
                    if (clipped) truth_.flags[i] |= GroundTruth::kTruthClipped;
                } else if (e == 0 || (!clipped && (!anyValid[i] || a > bestAmp[i]))) {
                    // The library picks the largest amplitude among the
                    // exposures that do not clip, else the first exposure.
                    bestAmp[i] = a;
                    truth_.amplitude[i] = a;
                    anyValid[i] = clipped ? 0 : 1;
                }
            }
        }
        if (hdr) {
            for (size_t i = 0; i < n; ++i) {
                if (!anyValid[i]) truth_.flags[i] |= GroundTruth::kTruthClipped;
            }
        }
    }

    if (state.model == Model::OZR320) return unfolded;

    // The OZR310 delivers its two halves side by side: device row y holds
    // processed row H + y on the left and processed row H - 1 - y on the right.
    const uint32_t devW = state.width, devH = state.height, half = devW / 2;
    images.assign(nImages, std::vector<uint16_t>(static_cast<size_t>(devW) * devH, 0));
    for (size_t k = 0; k < nImages; ++k) {
        const uint16_t* src = unfolded[k].data();
        uint16_t* dst = images[k].data();
        for (uint32_t y = 0; y < devH; ++y) {
            uint16_t* row = dst + static_cast<size_t>(y) * devW;
            std::copy_n(src + static_cast<size_t>(devH + y) * half, half, row);
            std::copy_n(src + static_cast<size_t>(devH - 1 - y) * half, half, row + half);
        }
    }
    return images;
}

}  // namespace ozrsim
