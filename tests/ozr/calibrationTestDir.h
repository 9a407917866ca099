// A temporary calibration directory for tests: an index and binary files
// written on demand, removed with the object.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace testsupport {

class CalibrationDir {
public:
    CalibrationDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "ozr_calib_XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        path_ = pattern;
    }
    ~CalibrationDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    CalibrationDir(const CalibrationDir&) = delete;
    CalibrationDir& operator=(const CalibrationDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }

    void writeText(const std::string& name, const std::string& text) const {
        std::ofstream(path_ / name, std::ios::binary) << text;
    }
    void writeIndex(const std::string& json) const { writeText("calibration_info.json", json); }

    // Little-endian 16-bit values.
    void writeWords(const std::string& name, const std::vector<uint16_t>& words) const {
        std::string bytes;
        for (uint16_t w : words) {
            bytes.push_back(static_cast<char>(w & 0xFF));
            bytes.push_back(static_cast<char>(w >> 8));
        }
        writeText(name, bytes);
    }

    void remove(const std::string& name) const { std::filesystem::remove(path_ / name); }

private:
    std::filesystem::path path_;
};

}  // namespace testsupport
