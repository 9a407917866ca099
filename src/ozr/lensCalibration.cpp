#include "lensCalibration.h"

#include <cmath>
#include <fstream>
#include <mutex>
#include <optional>

#include "calibrationFiles.h"
#include "kyr/platform.h"
#include "kyr/status.h"

namespace ozr::calibration {

namespace {

constexpr uint32_t MAX_LENS_SIDE = 65535;

struct LensStore {
    std::mutex mutex;
    std::optional<LensIntrinsics> lens;
};

LensStore& store() {
    static LensStore s;
    return s;
}

}  // namespace

bool usableLens(const LensIntrinsics& lens, std::string& why) {
    if (lens.width == 0 || lens.height == 0 || lens.width > MAX_LENS_SIDE ||
        lens.height > MAX_LENS_SIDE) {
        why = "image size " + std::to_string(lens.width) + "x" + std::to_string(lens.height) +
              " is not from 1x1 to 65535x65535";
        return false;
    }
    const double values[] = {lens.fx, lens.fy, lens.cx, lens.cy, lens.k1,
                             lens.k2, lens.k3, lens.p1, lens.p2};
    for (const double v : values) {
        if (!std::isfinite(v)) {
            why = "a value is not a finite number";
            return false;
        }
    }
    if (!(lens.fx > 0.0) || !(lens.fy > 0.0)) {
        why = "the focal lengths fx and fy must be positive";
        return false;
    }
    return true;
}

int parseLens(const nlohmann::json& index, LensIntrinsics& lens, std::string& why) {
    if (!index.is_object() || !index.contains("lens")) {
        return kyr::status::NO_ENTRY;
    }
    const nlohmann::json& entry = index["lens"];
    if (!entry.is_object()) {
        why = "\"lens\" is not an object";
        return kyr::status::INVALID_ARGUMENT;
    }
    LensIntrinsics parsed;
    // Sizes are whole numbers; a fraction or a negative number is refused
    // rather than truncated.
    for (auto [key, field] : {std::pair{"width", &parsed.width}, {"height", &parsed.height}}) {
        const auto it = entry.find(key);
        if (it == entry.end() || !it->is_number_integer() || it->get<int64_t>() < 0 ||
            it->get<int64_t>() > MAX_LENS_SIDE) {
            why = std::string("\"") + key + "\" must be a whole number from 1 to 65535";
            return kyr::status::INVALID_ARGUMENT;
        }
        *field = static_cast<uint32_t>(it->get<int64_t>());
    }
    const std::pair<const char*, double*> required[] = {
        {"fx", &parsed.fx}, {"fy", &parsed.fy}, {"cx", &parsed.cx}, {"cy", &parsed.cy}};
    const std::pair<const char*, double*> optional[] = {{"k1", &parsed.k1},
                                                        {"k2", &parsed.k2},
                                                        {"k3", &parsed.k3},
                                                        {"p1", &parsed.p1},
                                                        {"p2", &parsed.p2}};
    auto readNumber = [&](const char* key, double* field, bool needed) {
        const auto it = entry.find(key);
        if (it == entry.end()) {
            if (needed) why = std::string("\"") + key + "\" is missing";
            return !needed;
        }
        if (!it->is_number()) {
            why = std::string("\"") + key + "\" is not a number";
            return false;
        }
        *field = it->get<double>();
        return true;
    };
    for (auto [key, field] : required) {
        if (!readNumber(key, field, true)) return kyr::status::INVALID_ARGUMENT;
    }
    for (auto [key, field] : optional) {
        if (!readNumber(key, field, false)) return kyr::status::INVALID_ARGUMENT;
    }
    if (!usableLens(parsed, why)) {
        return kyr::status::INVALID_ARGUMENT;
    }
    lens = parsed;
    return 0;
}

void loadLensOnce(const std::string& libraryPath, const std::string& userPath) {
    LensStore& s = store();
    const std::lock_guard<std::mutex> lock(s.mutex);
    if (s.lens) {
        return;
    }
    for (const std::string& dir : calibrationSearchPath(libraryPath, userPath)) {
        const std::string path = indexPath(dir);
        if (!std::ifstream(path).is_open()) {
            continue;
        }
        std::shared_ptr<const nlohmann::json> index;
        if (loadCalibrationIndex(index, path) != 0) {
            return;  // logged by the loader
        }
        LensIntrinsics lens;
        std::string why;
        const int r = parseLens(*index, lens, why);
        if (r == 0) {
            s.lens = lens;
            KYR_LOG_INFO("Lens calibration loaded from %s", path.c_str());
        } else if (r == kyr::status::INVALID_ARGUMENT) {
            KYR_LOG_ERROR("Invalid lens calibration in %s: %s. The lens is treated as absent.",
                          path.c_str(), why.c_str());
        }
        return;
    }
}

}  // namespace ozr::calibration

namespace ozr {

int getLensIntrinsics(LensIntrinsics& lens) {
    calibration::LensStore& s = calibration::store();
    const std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.lens) {
        return kyr::status::NO_ENTRY;
    }
    lens = *s.lens;
    return 0;
}

LensIntrinsics scaleIntrinsics(const LensIntrinsics& lens, uint32_t width, uint32_t height) {
    if (lens.width == 0 || lens.height == 0 || (lens.width == width && lens.height == height)) {
        return lens;  // nothing to scale from, or nothing to scale
    }
    const double sx = static_cast<double>(width) / lens.width;
    const double sy = static_cast<double>(height) / lens.height;
    LensIntrinsics scaled = lens;
    scaled.width = width;
    scaled.height = height;
    scaled.fx = lens.fx * sx;
    scaled.fy = lens.fy * sy;
    scaled.cx = (lens.cx + 0.5) * sx - 0.5;
    scaled.cy = (lens.cy + 0.5) * sy - 0.5;
    return scaled;
}

}  // namespace ozr
