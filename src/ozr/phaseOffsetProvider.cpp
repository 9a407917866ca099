#include "ozr/phaseOffsetProvider.h"

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "calibrationFiles.h"
#include "kyr/platform.h"
#include "phaseInterpolation.h"

namespace {

using ozr::calibration::errorText;
using Json = nlohmann::json;

constexpr const char* SECTION = "phaseOffsetData";

// The distance drift per kelvin that every calibration uses; the index does
// not carry one.
constexpr float SENSOR_TEMP_SLOPE_MM_K = 22.0f;

struct Entry {
    uint32_t hz = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    std::string file;
    float temps[4] = {};
};

Entry readEntry(const Json& json) {
    using ozr::calibration::readFloat;
    using ozr::calibration::readUnsigned;
    Entry e;
    e.hz = readUnsigned<uint32_t>(json.at("modulation_frequency_hz"));
    e.width = readUnsigned<uint16_t>(json.at("width"));
    e.height = readUnsigned<uint16_t>(json.at("height"));
    e.file = json.at("offset_file").get<std::string>();
    e.temps[0] = readFloat(json.at("ozr_temperature_sensor0_c"));
    e.temps[1] = readFloat(json.at("ozr_temperature_sensor1_c"));
    e.temps[2] = readFloat(json.at("ozr_temperature_sensor2_c"));
    e.temps[3] = readFloat(json.at("ozr_temperature_sensor3_c"));
    return e;
}

// Reads an offset file of exactly `expected` raw phases. Logs and returns the
// code on failure.
int readOffsetFile(const std::filesystem::path& path, size_t expected, std::vector<uint16_t>& out) {
    ozr::calibration::BinaryFile file;
    int rc = file.open(path);
    if (rc == 0 && file.elementCount() != expected) {
        rc = -22;
    }
    if (rc == 0) {
        rc = file.read(out);
    }
    if (rc != 0) {
        KYR_LOG_ERROR("Failed to load offset calibration data from %s: %s", path.c_str(),
                      errorText(rc));
    }
    return rc;
}

// Everything after the index was loaded. May throw the JSON library's
// exceptions and FormatError for a malformed index.
int buildOffsetData(const Json& index, const std::string& dir, uint32_t modFreq,
                    PhaseOffsetData& offsetData) {
    const Json& entries = ozr::calibration::sectionArray(index, SECTION);
    const ozr::calibration::Neighbours n = ozr::calibration::selectNeighbours(entries, modFreq);
    if (n.lower == nullptr || n.upper == nullptr) {
        KYR_LOG_WARN("Selected modulation frequency %u Hz is outside of calibrated range.",
                     modFreq);
        offsetData.offsetImage.reset();
        return -2;
    }
    if (n.lower != n.upper) {
        KYR_LOG_INFO("Interpolating phase offset for modulation frequency %u Hz.", modFreq);
    }
    const Entry lo = readEntry(*n.lower);
    const Entry hi = readEntry(*n.upper);
    if (lo.width != hi.width || lo.height != hi.height) {
        KYR_LOG_ERROR("Phase offset image dimensions do not match");
        offsetData.offsetImage.reset();
        return -22;
    }
    const size_t pixels = size_t{lo.width} * lo.height;

    std::vector<uint16_t> lower;
    std::vector<uint16_t> upper;
    int rc = readOffsetFile(std::filesystem::path(dir) / lo.file, pixels, lower);
    if (rc == 0) {
        rc = readOffsetFile(std::filesystem::path(dir) / hi.file, pixels, upper);
    }
    if (rc != 0) {
        offsetData.offsetImage.reset();
        return rc;
    }

    auto image = Image<PhaseType<uint16_t>>::createNewBuffer(lo.width, lo.height);
    if (!image) {
        offsetData.offsetImage.reset();
        return -12;
    }
    const float w = ozr::calibration::interpolationWeight(n, modFreq);
    PhaseType<uint16_t>* out = image->getData();
    for (size_t i = 0; i < pixels; ++i) {
        out[i] =
            PhaseType<uint16_t>(ozr::calibration::interpolateOffsetPhase(lower[i], upper[i], w));
    }
    offsetData.offsetImage = std::move(image);
    offsetData.calibratedFrequency_Hz = modFreq;
    offsetData.calibrationTemp_C =
        (((((((lo.temps[0] + hi.temps[0]) + lo.temps[1]) + hi.temps[1]) + lo.temps[2]) +
           hi.temps[2]) +
          lo.temps[3]) +
         hi.temps[3]) *
        0.125f;
    offsetData.sensorTempSlope_mm_K = SENSOR_TEMP_SLOPE_MM_K;
    return 0;
}

}  // namespace

bool PhaseOffsetProvider::initialized = false;

PhaseOffsetProvider& PhaseOffsetProvider::getInstance() {
    static PhaseOffsetProvider instance;
    return instance;
}

PhaseOffsetProvider::PhaseOffsetProvider() = default;
PhaseOffsetProvider::~PhaseOffsetProvider() = default;

bool PhaseOffsetProvider::isInitialized() {
    return initialized;
}

int PhaseOffsetProvider::loadCalibrationData(const std::string& libraryPath,
                                             const std::string& userPath) {
    std::string dir;
    int rc = ozr::calibration::findCalibrationDir(libraryPath, userPath, dir);
    if (rc != 0) {
        return rc;
    }
    calibDataDir = dir;
    Json index;
    rc = ozr::calibration::loadCalibrationInfoFile(index, ozr::calibration::indexPath(dir));
    if (rc != 0) {
        KYR_LOG_ERROR("Failed to load calibration info file");
        return rc;
    }
    rc = ozr::calibration::collectFrequencies(index, SECTION, calibratedFrequencies);
    if (rc != 0) {
        return rc;
    }
    std::sort(calibratedFrequencies.begin(), calibratedFrequencies.end());
    KYR_LOG_DEBUG("PhaseOffsetProvider initialized with %zu calibrated frequencies",
                  calibratedFrequencies.size());
    initialized = true;
    return 0;
}

int PhaseOffsetProvider::getCalibrationData(uint32_t modFreq, PhaseOffsetData& offsetData) {
    Json index;
    const int rc =
        ozr::calibration::loadCalibrationInfoFile(index, ozr::calibration::indexPath(calibDataDir));
    if (rc != 0) {
        KYR_LOG_ERROR("Failed to load calibration info: %s", errorText(rc));
        offsetData.offsetImage.reset();
        return rc;
    }
    try {
        return buildOffsetData(index, calibDataDir, modFreq, offsetData);
    } catch (const std::exception& e) {
        KYR_LOG_ERROR("Failed to parse calibration info JSON file: %s", e.what());
        offsetData.offsetImage.reset();
        return -22;
    }
}

void PhaseOffsetProvider::getCalibratedFrequencies(FrequencyList& freqList) {
    static_assert(sizeof(unsigned int) == sizeof(uint32_t));
    freqList.frequencies = calibratedFrequencies.empty() ? nullptr : calibratedFrequencies.data();
    freqList.count = calibratedFrequencies.size();
}
