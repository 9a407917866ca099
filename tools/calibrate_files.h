// ozr-calibrate: the calibration directory as the library reads it. The
// index "calibration_info.json" is merged step by step: each step replaces
// only its own entries and keeps everything else (other frequencies, other
// sections, the lens).
#pragma once

#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace calib {

inline constexpr const char* INDEX_FILE = "calibration_info.json";
// Marks an index this tool wrote; other keys of the library's are ignored.
inline constexpr const char* CREATOR_KEY = "created_by";
inline constexpr const char* CREATOR = "ozr-calibrate";

class CalibrationDir {
public:
    explicit CalibrationDir(std::filesystem::path dir) : dir_(std::move(dir)) {}

    const std::filesystem::path& path() const { return dir_; }

    // Reads the index when there is one. Refuses (returns why) a directory
    // that holds files but no index of this tool, unless `force`.
    std::string open(bool force);
    // Writes the index; an empty string or what failed.
    std::string save() const;

    nlohmann::json& index() { return index_; }
    const nlohmann::json& index() const { return index_; }

    // The entry of a per-frequency array ("phaseOffsetData",
    // "phaseErrorLUTData") for `hz`, or null.
    const nlohmann::json* entry(const char* section, uint32_t hz) const;
    // Replaces (or adds) the entry for `hz`, keeping the array ascending.
    void putEntry(const char* section, uint32_t hz, nlohmann::json entry);

    // Little-endian 16-bit files, as the library reads them.
    std::string writeWords(const std::string& name, const std::vector<uint16_t>& words) const;
    std::string readWords(const std::string& name, std::vector<uint16_t>& words) const;

private:
    std::filesystem::path dir_;
    nlohmann::json index_ = nlohmann::json::object();
};

// "20MHz", "30_500000MHz": file name part for a frequency.
std::string frequencyName(uint32_t hz);

}  // namespace calib
