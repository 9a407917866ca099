#include "calibrationProvider.h"

#include <algorithm>

#include "kyr/status.h"

namespace ozr::calibration {

int openCalibrationIndex(const std::string& libraryPath, const std::string& userPath,
                         std::string& calibDataDir, std::shared_ptr<const nlohmann::json>& index) {
    std::string dir;
    int rc = findCalibrationDir(libraryPath, userPath, dir);
    if (rc != 0) {
        return rc;
    }
    calibDataDir = dir;
    rc = loadCalibrationIndex(index, indexPath(dir));
    if (rc != 0) {
        KYR_LOG_ERROR("Failed to load calibration info file");
    }
    return rc;
}

int loadCalibratedFrequencies(const std::string& libraryPath, const std::string& userPath,
                              const char* section, const char* loadedFormat,
                              std::string& calibDataDir, std::vector<unsigned int>& frequencies) {
    std::shared_ptr<const nlohmann::json> index;
    int rc = openCalibrationIndex(libraryPath, userPath, calibDataDir, index);
    if (rc != 0) {
        return rc;
    }
    rc = collectFrequencies(*index, section, frequencies);
    if (rc != 0) {
        return rc;
    }
    std::sort(frequencies.begin(), frequencies.end());
    KYR_LOG_DEBUG(loadedFormat, frequencies.size());
    return 0;
}

int loadByTrialRequest(const std::string& libraryPath, const std::string& userPath,
                       std::string& calibDataDir, const std::function<int()>& trial,
                       const char* loadedMessage, const char* failedMessage) {
    std::shared_ptr<const nlohmann::json> index;
    int rc = openCalibrationIndex(libraryPath, userPath, calibDataDir, index);
    if (rc != 0) {
        return rc;
    }
    rc = trial();
    if (rc == 0) {
        KYR_LOG_DEBUG("%s", loadedMessage);
    } else {
        KYR_LOG_ERROR("%s", failedMessage);
    }
    return rc;
}

void frequencyListOf(const std::vector<unsigned int>& frequencies, FrequencyList& freqList) {
    static_assert(sizeof(unsigned int) == sizeof(uint32_t));
    freqList.frequencies = frequencies.empty() ? nullptr : frequencies.data();
    freqList.count = frequencies.size();
}

int readPhaseFile(const std::string& dir, const std::string& name, size_t expected,
                  std::vector<uint16_t>& out, const char* failedFormat) {
    const std::filesystem::path path = std::filesystem::path(dir) / name;
    BinaryFile file;
    int rc = file.open(dir, name);
    if (rc == 0 && file.elementCount() != expected) {
        rc = kyr::status::INVALID_ARGUMENT;
    }
    if (rc == 0) {
        rc = file.read(out);
    }
    if (rc != 0) {
        KYR_LOG_ERROR(failedFormat, path.c_str(), kyr::status::text(rc));
    }
    return rc;
}

}  // namespace ozr::calibration
