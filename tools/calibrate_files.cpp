#include "calibrate_files.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

namespace calib {

namespace fs = std::filesystem;

namespace {

// An entry's "modulation_frequency_hz", or -1 when it has none.
int64_t frequencyOf(const nlohmann::json& entry) {
    if (!entry.is_object()) return -1;
    const auto f = entry.find("modulation_frequency_hz");
    if (f == entry.end() || !f->is_number_integer()) return -1;
    return f->get<int64_t>();
}

}  // namespace

std::string CalibrationDir::open(bool force) {
    std::error_code ec;
    if (!fs::exists(dir_, ec)) {
        fs::create_directories(dir_, ec);
        if (ec) return "cannot create " + dir_.string() + ": " + ec.message();
        index_ = nlohmann::json::object();
        index_[CREATOR_KEY] = CREATOR;
        return {};
    }
    if (!fs::is_directory(dir_, ec)) return dir_.string() + " exists and is not a directory";
    const fs::path file = dir_ / INDEX_FILE;
    if (!fs::exists(file, ec)) {
        if (!fs::is_empty(dir_, ec) && !force) {
            return dir_.string() +
                   " already holds files and no calibration of this tool; give --force to write "
                   "into it anyway";
        }
        index_ = nlohmann::json::object();
        index_[CREATOR_KEY] = CREATOR;
        return {};
    }
    std::ifstream in(file);
    try {
        index_ = nlohmann::json::parse(in);
    } catch (const nlohmann::json::exception& e) {
        if (!force) return "cannot read " + file.string() + ": " + e.what();
        index_ = nlohmann::json::object();
    }
    if (!index_.is_object()) {
        if (!force) return file.string() + " is not a calibration index";
        index_ = nlohmann::json::object();
    }
    const auto creator = index_.find(CREATOR_KEY);
    if ((creator == index_.end() || *creator != CREATOR) && !force) {
        return dir_.string() +
               " holds a calibration this tool did not write; give --force to change it";
    }
    index_[CREATOR_KEY] = CREATOR;
    return {};
}

std::string CalibrationDir::save() const {
    const fs::path file = dir_ / INDEX_FILE;
    const fs::path temporary = dir_ / (std::string(INDEX_FILE) + ".new");
    {
        std::ofstream out(temporary);
        out << index_.dump(2) << "\n";
        out.close();
        if (!out) return "cannot write " + temporary.string();
    }
    std::error_code ec;
    fs::rename(temporary, file, ec);
    if (ec) return "cannot write " + file.string() + ": " + ec.message();
    return {};
}

const nlohmann::json* CalibrationDir::entry(const char* section, uint32_t hz) const {
    const auto s = index_.find(section);
    if (s == index_.end() || !s->is_array()) return nullptr;
    for (const auto& e : *s) {
        if (frequencyOf(e) == static_cast<int64_t>(hz)) return &e;
    }
    return nullptr;
}

void CalibrationDir::putEntry(const char* section, uint32_t hz, nlohmann::json entry) {
    nlohmann::json& s = index_[section];
    if (!s.is_array()) s = nlohmann::json::array();
    nlohmann::json out = nlohmann::json::array();
    bool placed = false;
    for (auto& e : s) {
        const int64_t ehz = frequencyOf(e);
        if (ehz == static_cast<int64_t>(hz)) continue;
        if (!placed && ehz > static_cast<int64_t>(hz)) {
            out.push_back(entry);
            placed = true;
        }
        out.push_back(e);
    }
    if (!placed) out.push_back(std::move(entry));
    s = std::move(out);
}

std::string CalibrationDir::writeWords(const std::string& name,
                                       const std::vector<uint16_t>& words) const {
    std::string bytes(words.size() * 2, '\0');
    for (size_t i = 0; i < words.size(); ++i) {
        bytes[2 * i] = static_cast<char>(words[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<char>(words[i] >> 8);
    }
    const fs::path file = dir_ / name;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) return "cannot write " + file.string();
    return {};
}

std::string CalibrationDir::readWords(const std::string& name, std::vector<uint16_t>& words) const {
    const fs::path file = dir_ / name;
    std::ifstream in(file, std::ios::binary);
    if (!in) return "cannot read " + file.string();
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    if (bytes.size() % 2) return file.string() + " has an odd number of bytes";
    words.resize(bytes.size() / 2);
    for (size_t i = 0; i < words.size(); ++i) {
        words[i] = static_cast<uint16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                         static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    }
    return {};
}

std::string frequencyName(uint32_t hz) {
    std::ostringstream s;
    s << hz / 1000000;
    if (hz % 1000000) s << "_" << hz % 1000000;
    s << "MHz";
    return s.str();
}

}  // namespace calib
