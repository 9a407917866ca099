// Pieces shared by the calibration providers: the search for the calibration
// directory, loading the index "calibration_info.json", reading the binary
// files it names, reading numbers from it, and choosing the index entries
// around a modulation frequency.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace ozr::calibration {

inline constexpr const char* CALIBRATION_INFO_FILE = "calibration_info.json";
inline constexpr const char* SYSTEM_CALIBRATION_DIR = "/usr/local/share/ozrtofcam/calibration";
inline constexpr const char* USER_CALIBRATION_SUBDIR = ".config/ozrtofcam/calibration";

// The candidate calibration directories in search order: libraryPath and
// userPath when not empty, the system directory, and the per-user directory
// below the home directory fixed when the library was built.
std::vector<std::string> calibrationSearchPath(const std::string& libraryPath,
                                               const std::string& userPath);

// Sets `dir` to the first candidate whose index file opens for reading and
// returns 0; logs "No calibration info file found" and returns
// kyr::status::NO_ENTRY when none does.
int findCalibrationDir(const std::string& libraryPath, const std::string& userPath,
                       std::string& dir);

// The index file of a calibration directory.
std::string indexPath(const std::string& dir);

// Parses the index at `filePath` as strict JSON into `jsonData`. Returns 0,
// kyr::status::NO_ENTRY when the file cannot be opened (not logged) or
// kyr::status::INVALID_ARGUMENT when it does not parse (logged), or
// kyr::status::NO_MEMORY when memory runs out (logged).
int loadCalibrationInfoFile(nlohmann::json& jsonData, const std::string& filePath);

// The index at `filePath`, parsed, without a copy. The file is read on every
// call and parsed again only when its text differs from the text last parsed
// for that path: the providers read the index for every request, so a changed
// file is always seen, an unchanged one is not parsed each time. Returns as
// loadCalibrationInfoFile (a parse error is logged on every call); `index` is
// null unless 0 is returned.
int loadCalibrationIndex(std::shared_ptr<const nlohmann::json>& index, const std::string& filePath);

// A header-less file of unsigned 16-bit little-endian values named by the
// index. Only a regular file inside the calibration directory is read: a name
// that is absolute, leads out of the directory (through ".." or a symbolic
// link) or names anything but a regular file (a directory, a device node, a
// FIFO, a socket) is refused with a logged error naming it, and the record is
// treated as missing. Nothing is opened in a way that could block. The size is
// known after open(), so a caller can check it before anything is allocated.
class BinaryFile {
public:
    BinaryFile() = default;
    ~BinaryFile();
    BinaryFile(const BinaryFile&) = delete;
    BinaryFile& operator=(const BinaryFile&) = delete;

    // Opens `name` relative to the directory `dir`. Returns 0,
    // kyr::status::NO_ENTRY when the file does not exist, cannot be opened or
    // is refused, or kyr::status::INVALID_ARGUMENT when its size is odd.
    int open(const std::string& dir, const std::string& name);

    // Number of 16-bit values: the file size divided by 2.
    size_t elementCount() const { return count; }

    // Reads every value into `out`, resized to elementCount(). Returns 0,
    // kyr::status::NO_MEMORY when the memory cannot be had, or
    // kyr::status::INVALID_ARGUMENT when the file no longer holds
    // elementCount() values (or was not opened).
    int read(std::vector<uint16_t>& out);

private:
    void close();

    int fd = -1;
    size_t count = 0;
};

// A value of the index that the library cannot use although the JSON library
// would convert it (a number out of the range of its field). Handled like the
// JSON library's own exceptions.
class FormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads an unsigned integer field. Integers keep their low bits,
// floating-point numbers are truncated toward zero first (FormatError beyond
// the 64-bit range), booleans read as 0 or 1; any other type raises the JSON
// library's type error.
template <class T>
T readUnsigned(const nlohmann::json& value) {
    static_assert(std::is_unsigned_v<T>);
    if (value.is_number_float()) {
        const double truncated = std::trunc(value.get<double>());
        if (!(truncated > -9223372036854775808.0 && truncated < 9223372036854775808.0)) {
            throw FormatError("number " + value.dump() + " is out of range");
        }
        return static_cast<T>(static_cast<uint64_t>(static_cast<int64_t>(truncated)));
    }
    if (value.is_number_unsigned()) {
        return static_cast<T>(value.get<uint64_t>());
    }
    if (value.is_number_integer()) {
        return static_cast<T>(static_cast<uint64_t>(value.get<int64_t>()));
    }
    return value.get<T>();
}

// Reads a float field: numbers beyond the float range raise FormatError,
// non-numbers other than booleans the JSON library's type error.
float readFloat(const nlohmann::json& value);

// The array `section` of the index, or a FormatError (for a root that is not
// an object, the JSON library's exception) when there is none.
const nlohmann::json& sectionArray(const nlohmann::json& index, const char* section);

// Fills `frequencies` with the "modulation_frequency_hz" of every entry of the
// array `section`, in array order, skipping entries whose frequency cannot be
// read with a warning. Returns 0, or kyr::status::INVALID_ARGUMENT when there
// is no such array, or kyr::status::NO_ENTRY when no frequency was found, with
// the messages of a failed load.
int collectFrequencies(const nlohmann::json& index, const char* section,
                       std::vector<unsigned int>& frequencies);

// The entries of a section around a modulation frequency.
struct Neighbours {
    const nlohmann::json* lower = nullptr;
    const nlohmann::json* upper = nullptr;
    uint32_t lowerHz = 0;
    uint32_t upperHz = 0;
};

// Walks `entries` in array order. An entry of exactly `modFreq` becomes both
// neighbours and ends the walk; otherwise the largest frequency below and the
// smallest above win, the first in array order among equal ones. Entries
// whose frequency cannot be read are passed over.
Neighbours selectNeighbours(const nlohmann::json& entries, uint32_t modFreq);

// Weight of the upper entry: 0 for a single entry, otherwise
// float(modFreq - lowerHz) / float(upperHz - lowerHz).
float interpolationWeight(const Neighbours& n, uint32_t modFreq);

}  // namespace ozr::calibration
