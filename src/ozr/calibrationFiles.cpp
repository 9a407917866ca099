#include "calibrationFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cfloat>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <map>
#include <mutex>
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

namespace {

// The text of an index last read from a path and what parsing it gave: the
// parsed index, or the parser's message.
struct ParsedIndex {
    std::string text;
    std::shared_ptr<const nlohmann::json> index;
    std::string error;
};

// The indexes last parsed, by path. A process reads one or a few calibration
// directories; a path beyond the bound empties the cache first.
struct IndexCache {
    static constexpr size_t MAX_PATHS = 8;
    std::mutex mutex;
    std::map<std::string, ParsedIndex> entries;
};

// Never destroyed: a camera may still stream while the process exits.
IndexCache& indexCache() {
    static IndexCache* cache = new IndexCache;
    return *cache;
}

}  // namespace

int loadCalibrationIndex(std::shared_ptr<const nlohmann::json>& index,
                         const std::string& filePath) {
    index.reset();
    std::string text;
    {
        std::ifstream file(filePath, std::ios::binary);
        if (!file.is_open()) {
            return kyr::status::NO_ENTRY;
        }
        try {
            // Read whole, then parsed from memory: the parser's stream input
            // takes a character at a time through the stream buffer, several
            // times slower.
            text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        } catch (const std::exception& e) {
            KYR_LOG_ERROR("Failed to read calibration info file %s: %s", filePath.c_str(),
                          e.what());
            return kyr::status::NO_MEMORY;
        }
    }
    IndexCache& cache = indexCache();
    const std::lock_guard<std::mutex> lock(cache.mutex);
    try {
        auto found = cache.entries.find(filePath);
        if (found == cache.entries.end() || found->second.text != text) {
            if (found == cache.entries.end() && cache.entries.size() >= IndexCache::MAX_PATHS) {
                cache.entries.clear();
            }
            ParsedIndex parsed;
            try {
                parsed.index = std::make_shared<const nlohmann::json>(nlohmann::json::parse(text));
            } catch (const nlohmann::json::exception& e) {
                parsed.error = e.what();
            }
            parsed.text = std::move(text);
            found = cache.entries.insert_or_assign(filePath, std::move(parsed)).first;
        }
        if (!found->second.index) {
            KYR_LOG_ERROR("Failed to parse calibration info JSON file: %s",
                          found->second.error.c_str());
            return kyr::status::INVALID_ARGUMENT;
        }
        index = found->second.index;
    } catch (const std::bad_alloc&) {
        KYR_LOG_ERROR("Failed to parse calibration info JSON file: %s", "out of memory");
        return kyr::status::NO_MEMORY;
    }
    return 0;
}

int loadCalibrationInfoFile(nlohmann::json& jsonData, const std::string& filePath) {
    std::shared_ptr<const nlohmann::json> index;
    const int rc = loadCalibrationIndex(index, filePath);
    if (rc == 0) {
        try {
            jsonData = *index;
        } catch (const std::bad_alloc&) {
            KYR_LOG_ERROR("Failed to parse calibration info JSON file: %s", "out of memory");
            return kyr::status::NO_MEMORY;
        }
    }
    return rc;
}

namespace {

// Logs the refusal of a file named by the index and returns NO_ENTRY: the
// record it belongs to is treated as missing.
int refuse(const std::string& dir, const std::string& name, const char* why) {
    KYR_LOG_ERROR(
        "Calibration file '%s' named in %s refused: %s (only regular files inside %s "
        "are read)",
        name.c_str(), CALIBRATION_INFO_FILE, why, dir.c_str());
    return kyr::status::NO_ENTRY;
}

// The canonical form of `path` (symbolic links, "." and ".." resolved), or
// an empty string with errno set when it cannot be had.
std::string canonical(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return {};
    }
    std::string result(resolved);
    std::free(resolved);
    return result;
}

bool isInside(const std::string& root, const std::string& path) {
    const std::string prefix = root == "/" ? root : root + "/";
    return path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

BinaryFile::~BinaryFile() {
    close();
}

void BinaryFile::close() {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
    count = 0;
}

int BinaryFile::open(const std::string& dir, const std::string& name) {
    close();
    if (name.empty() || name.find('\0') != std::string::npos) {
        return refuse(dir, name, "the name is empty or not text");
    }
    if (name.front() == '/') {
        return refuse(dir, name, "an absolute path");
    }
    const std::string root = canonical(dir);
    if (root.empty()) {
        return kyr::status::NO_ENTRY;
    }
    // Resolving does not open anything, so a FIFO or a device is only named.
    const std::string target = canonical(root + "/" + name);
    if (target.empty()) {
        return kyr::status::NO_ENTRY;  // missing; the caller reports it
    }
    if (!isInside(root, target)) {
        return refuse(dir, name, "it leads out of the calibration directory");
    }
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0) {
        return kyr::status::NO_ENTRY;
    }
    if (!S_ISREG(st.st_mode)) {
        return refuse(dir, name, "not a regular file");
    }
    // The target is checked again on the open descriptor: it may have been
    // replaced since. O_NONBLOCK keeps a FIFO put there meanwhile from
    // blocking, O_NOFOLLOW a symbolic link from being followed.
    const int descriptor =
        ::open(target.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) {
        return errno == ELOOP ? refuse(dir, name, "a symbolic link replaced the file")
                              : kyr::status::NO_ENTRY;
    }
    if (::fstat(descriptor, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(descriptor);
        return refuse(dir, name, "not a regular file");
    }
    fd = descriptor;
    if (st.st_size < 0 || st.st_size % 2 != 0 ||
        static_cast<unsigned long long>(st.st_size / 2) > std::numeric_limits<size_t>::max()) {
        close();
        return kyr::status::INVALID_ARGUMENT;
    }
    count = static_cast<size_t>(st.st_size / 2);
    return 0;
}

int BinaryFile::read(std::vector<uint16_t>& out) {
    if (fd < 0) {
        return kyr::status::INVALID_ARGUMENT;
    }
    try {
        out.resize(count);
    } catch (const std::exception&) {
        return kyr::status::NO_MEMORY;
    }
    if (count == 0) {
        return 0;
    }
    auto* bytes = reinterpret_cast<unsigned char*>(out.data());
    const size_t total = count * sizeof(uint16_t);
    size_t done = 0;
    while (done < total) {
        const ssize_t n = ::read(fd, bytes + done, total - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return kyr::status::INVALID_ARGUMENT;
        }
        done += static_cast<size_t>(n);
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
