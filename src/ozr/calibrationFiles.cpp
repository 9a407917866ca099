#include "calibrationFiles.h"

#include <bit>
#include <cfloat>
#include <limits>
#include <new>

#include "kyr/platform.h"
#include "kyr/status.h"

// The home directory below which the per-user calibration directory lies,
// fixed when the library is built.
#ifndef OZR_CALIBRATION_HOME
#define OZR_CALIBRATION_HOME ""
#endif

namespace ozr::calibration {

std::vector<std::string> calibrationSearchPath(const std::string& libraryPath,
                                               const std::string& userPath) {
    std::vector<std::string> candidates;
    if (!libraryPath.empty()) {
        candidates.push_back(libraryPath);
    }
    if (!userPath.empty()) {
        candidates.push_back(userPath);
    }
    candidates.emplace_back(SYSTEM_CALIBRATION_DIR);
    const std::string home = OZR_CALIBRATION_HOME;
    if (!home.empty()) {
        candidates.push_back((std::filesystem::path(home) / USER_CALIBRATION_SUBDIR).string());
    }
    return candidates;
}

std::string indexPath(const std::string& dir) {
    return dir + "/" + CALIBRATION_INFO_FILE;
}

int findCalibrationDir(const std::string& libraryPath, const std::string& userPath,
                       std::string& dir) {
    for (const std::string& candidate : calibrationSearchPath(libraryPath, userPath)) {
        std::ifstream file(indexPath(candidate));
        if (file.is_open()) {
            dir = candidate;
            return 0;
        }
    }
    KYR_LOG_ERROR("No calibration info file found");
    return kyr::status::NO_ENTRY;
}

int loadCalibrationInfoFile(nlohmann::json& jsonData, const std::string& filePath) {
    std::ifstream file(filePath);
    if (!file.is_open()) {
        return kyr::status::NO_ENTRY;
    }
    try {
        jsonData = nlohmann::json::parse(file);
    } catch (const std::exception& e) {
        KYR_LOG_ERROR("Failed to parse calibration info JSON file: %s", e.what());
        return kyr::status::INVALID_ARGUMENT;
    }
    return 0;
}

int BinaryFile::open(const std::filesystem::path& path) {
    count = 0;
    stream = std::ifstream(path, std::ios::binary);
    if (!stream.is_open()) {
        return kyr::status::NO_ENTRY;
    }
    stream.seekg(0, std::ios::end);
    const std::streamoff size = stream.tellg();
    stream.seekg(0, std::ios::beg);
    if (!stream || size < 0 || size % 2 != 0 ||
        static_cast<unsigned long long>(size / 2) > std::numeric_limits<size_t>::max()) {
        return kyr::status::INVALID_ARGUMENT;
    }
    count = static_cast<size_t>(size / 2);
    return 0;
}

int BinaryFile::read(std::vector<uint16_t>& out) {
    try {
        out.resize(count);
    } catch (const std::exception&) {
        return kyr::status::NO_MEMORY;
    }
    if (count == 0) {
        return 0;
    }
    const auto bytes = static_cast<std::streamsize>(count * sizeof(uint16_t));
    stream.read(reinterpret_cast<char*>(out.data()), bytes);
    if (stream.gcount() != bytes) {
        return kyr::status::INVALID_ARGUMENT;
    }
    if constexpr (std::endian::native == std::endian::big) {
        for (uint16_t& v : out) {
            v = static_cast<uint16_t>((v >> 8) | (v << 8));
        }
    }
    return 0;
}

float readFloat(const nlohmann::json& value) {
    if (value.is_number_float()) {
        const double d = value.get<double>();
        if (!(d >= -static_cast<double>(FLT_MAX) && d <= static_cast<double>(FLT_MAX))) {
            throw FormatError("number " + value.dump() + " is out of range");
        }
        return static_cast<float>(d);
    }
    return value.get<float>();
}

const nlohmann::json& sectionArray(const nlohmann::json& index, const char* section) {
    const nlohmann::json& entries = index.at(section);
    if (!entries.is_array()) {
        throw FormatError(std::string("'") + section + "' is not an array");
    }
    return entries;
}

int collectFrequencies(const nlohmann::json& index, const char* section,
                       std::vector<unsigned int>& frequencies) {
    frequencies.clear();
    const auto it = index.is_object() ? index.find(section) : index.end();
    if (it == index.end() || !it->is_array()) {
        KYR_LOG_ERROR("Invalid calibration file format: '%s' array not found", section);
        KYR_LOG_ERROR("Failed to parse available frequencies from calibration info");
        return kyr::status::INVALID_ARGUMENT;
    }
    for (const nlohmann::json& entry : *it) {
        try {
            frequencies.push_back(readUnsigned<uint32_t>(entry.at("modulation_frequency_hz")));
        } catch (const std::exception& e) {
            KYR_LOG_WARN("Failed to parse frequency from calibration entry: %s", e.what());
        }
    }
    if (frequencies.empty()) {
        KYR_LOG_ERROR("No valid calibration frequencies found");
        KYR_LOG_ERROR("Failed to parse available frequencies from calibration info");
        return kyr::status::NO_ENTRY;
    }
    return 0;
}

Neighbours selectNeighbours(const nlohmann::json& entries, uint32_t modFreq) {
    Neighbours n;
    for (const nlohmann::json& entry : entries) {
        uint32_t hz = 0;
        try {
            hz = readUnsigned<uint32_t>(entry.at("modulation_frequency_hz"));
        } catch (const std::exception&) {
            continue;  // not a calibrated frequency; the load reported it
        }
        if (hz == modFreq) {
            n.lower = n.upper = &entry;
            n.lowerHz = n.upperHz = hz;
            break;
        }
        if (hz < modFreq) {
            if (n.lower == nullptr || n.lowerHz < hz) {
                n.lower = &entry;
                n.lowerHz = hz;
            }
        } else if (n.upper == nullptr || hz < n.upperHz) {
            n.upper = &entry;
            n.upperHz = hz;
        }
    }
    return n;
}

float interpolationWeight(const Neighbours& n, uint32_t modFreq) {
    if (n.lower == n.upper) {
        return 0.0f;
    }
    return static_cast<float>(modFreq - n.lowerHz) / static_cast<float>(n.upperHz - n.lowerHz);
}

}  // namespace ozr::calibration
