#include "ozr/phaseErrorLUTProvider.h"

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "calibrationFiles.h"
#include "kyr/platform.h"
#include "phaseInterpolation.h"

namespace {

using ozr::calibration::errorText;
using Json = nlohmann::json;

constexpr const char* SECTION = "phaseErrorLUTData";

struct Entry {
    uint32_t hz = 0;
    size_t lutSize = 0;
    std::string file;
};

Entry readEntry(const Json& json) {
    using ozr::calibration::readUnsigned;
    Entry e;
    e.hz = readUnsigned<uint32_t>(json.at("modulation_frequency_hz"));
    e.lutSize = readUnsigned<size_t>(json.at("lut_size"));
    e.file = json.at("lut_file").get<std::string>();
    return e;
}

// Reads a table file of exactly `expected` raw phases. Logs and returns the
// code on failure.
int readLutFile(const std::filesystem::path& path, size_t expected, std::vector<uint16_t>& out) {
    ozr::calibration::BinaryFile file;
    int rc = file.open(path);
    if (rc == 0 && file.elementCount() != expected) {
        rc = -22;
    }
    if (rc == 0) {
        rc = file.read(out);
    }
    if (rc != 0) {
        KYR_LOG_ERROR("Failed to load LUT calibration data from %s: %s", path.c_str(),
                      errorText(rc));
    }
    return rc;
}

// Everything after the index was loaded. May throw the JSON library's
// exceptions and FormatError for a malformed index.
int buildLutData(const Json& index, const std::string& dir, uint32_t modFreq,
                 PhaseErrorLUTData& lutData) {
    const Json& entries = ozr::calibration::sectionArray(index, SECTION);
    const ozr::calibration::Neighbours n = ozr::calibration::selectNeighbours(entries, modFreq);
    if (n.lower == nullptr || n.upper == nullptr) {
        KYR_LOG_WARN("Selected modulation frequency %u Hz is outside of calibrated range.",
                     modFreq);
        lutData.lut.reset();
        return -2;
    }
    if (n.lower != n.upper) {
        KYR_LOG_INFO("Interpolating phase error LUT for modulation frequency %u Hz.", modFreq);
    }
    const Entry lo = readEntry(*n.lower);
    const Entry hi = readEntry(*n.upper);
    if (lo.lutSize != hi.lutSize) {
        KYR_LOG_ERROR("Phase error LUT dimensions do not match");
        lutData.lut.reset();
        return -22;
    }

    std::vector<uint16_t> lower;
    std::vector<uint16_t> upper;
    int rc = readLutFile(std::filesystem::path(dir) / lo.file, lo.lutSize, lower);
    if (rc == 0) {
        rc = readLutFile(std::filesystem::path(dir) / hi.file, hi.lutSize, upper);
    }
    if (rc != 0) {
        lutData.lut.reset();
        return rc;
    }

    std::unique_ptr<PhaseType<uint16_t>[]> table(new (std::nothrow)
                                                     PhaseType<uint16_t>[lower.size()]);
    if (!table) {
        KYR_LOG_ERROR("Out of memory allocating a phase error LUT of %zu entries", lower.size());
        lutData.lut.reset();
        return -12;
    }
    const float w = ozr::calibration::interpolationWeight(n, modFreq);
    for (size_t i = 0; i < lower.size(); ++i) {
        table[i] =
            PhaseType<uint16_t>(ozr::calibration::interpolatePhaseError(lower[i], upper[i], w));
    }
    lutData.lut = std::move(table);
    lutData.lutSize = lower.size();
    return 0;
}

}  // namespace

bool PhaseErrorLUTProvider::initialized = false;

PhaseErrorLUTProvider& PhaseErrorLUTProvider::getInstance() {
    static PhaseErrorLUTProvider instance;
    return instance;
}

PhaseErrorLUTProvider::PhaseErrorLUTProvider() = default;
PhaseErrorLUTProvider::~PhaseErrorLUTProvider() = default;

bool PhaseErrorLUTProvider::isInitialized() {
    return initialized;
}

int PhaseErrorLUTProvider::loadCalibrationData(const std::string& libraryPath,
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
    KYR_LOG_DEBUG("PhaseErrorLUTProvider initialized with %zu calibrated frequencies",
                  calibratedFrequencies.size());
    initialized = true;
    return 0;
}

int PhaseErrorLUTProvider::getCalibrationData(uint32_t modFreq, PhaseErrorLUTData& lutData) {
    Json index;
    const int rc =
        ozr::calibration::loadCalibrationInfoFile(index, ozr::calibration::indexPath(calibDataDir));
    if (rc != 0) {
        KYR_LOG_ERROR("Failed to load calibration info: %s", errorText(rc));
        lutData.lut.reset();
        return rc;
    }
    try {
        return buildLutData(index, calibDataDir, modFreq, lutData);
    } catch (const std::exception& e) {
        KYR_LOG_ERROR("Failed to parse calibration info JSON file: %s", e.what());
        lutData.lut.reset();
        return -22;
    }
}

void PhaseErrorLUTProvider::getCalibratedFrequencies(FrequencyList& freqList) {
    freqList.frequencies = calibratedFrequencies.empty() ? nullptr : calibratedFrequencies.data();
    freqList.count = calibratedFrequencies.size();
}
