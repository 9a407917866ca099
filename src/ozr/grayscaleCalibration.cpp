#include "grayscaleCalibration.h"

#include <cstddef>
#include <filesystem>
#include <limits>
#include <vector>

#include "calibrationFiles.h"
#include "calibrationProvider.h"
#include "kyr/platform.h"
#include "kyr/status.h"

namespace ozr::calibration {

namespace {

// True when the index holds a usable "grayscale" section: an object with the
// key whose value is neither null nor an empty object or array.
bool hasGrayscaleSection(const nlohmann::json& index) {
    if (!index.is_object()) {
        return false;
    }
    const auto it = index.find("grayscale");
    if (it == index.end() || it->is_null()) {
        return false;
    }
    return !((it->is_object() || it->is_array()) && it->empty());
}

// Reads the image of the grayscale section into `image`; on failure returns
// the reader's code with its message and leaves `image` untouched. May throw
// the JSON library's exceptions for a malformed section.
int readGrayscaleImage(const nlohmann::json& index, const std::string& dir, const char* fileKey,
                       bool preferDrnu, std::shared_ptr<Image<uint16_t>>& image) {
    const nlohmann::json& section = index.at("grayscale");
    const char* key =
        preferDrnu && section.is_object() && section.contains("drnu_file") ? "drnu_file" : fileKey;
    const auto name = section.at(key).get<std::string>();
    const std::filesystem::path path = std::filesystem::path(dir) / name;

    BinaryFile file;
    int rc = file.open(dir, name);
    if (rc != 0) {
        KYR_LOG_ERROR("Failed to read binary file %s", path.c_str());
        return rc;
    }
    const auto width = readUnsigned<size_t>(section.at("width"));
    const auto height = readUnsigned<size_t>(section.at("height"));
    size_t expected = 0;
    if (__builtin_mul_overflow(width, height, &expected)) {
        expected = std::numeric_limits<size_t>::max();  // no file can hold that many
    }
    if (file.elementCount() != expected) {
        KYR_LOG_ERROR("Binary file %s has wrong size. Size: %zu Expected: %zu", path.c_str(),
                      file.elementCount(), expected);
        return kyr::status::INVALID_ARGUMENT;
    }
    std::vector<uint16_t> values;
    rc = file.read(values);
    if (rc != 0) {
        KYR_LOG_ERROR("Failed to read binary file %s", path.c_str());
        return rc;
    }
    auto result = Image<uint16_t>::createNewBuffer(width, height);
    if (!result) {
        return kyr::status::NO_MEMORY;
    }
    (void)result->setData(values.data(), values.size());
    image = std::move(result);
    return 0;
}

}  // namespace

int requestGrayscaleImage(const std::string& dir, const char* fileKey, bool preferDrnu,
                          std::shared_ptr<Image<uint16_t>>& image,
                          const std::function<void(const nlohmann::json& section)>& readMore) {
    return requestCalibration(
        dir,
        [&](const nlohmann::json& index) {
            if (!hasGrayscaleSection(index)) {
                KYR_LOG_ERROR("Calibration info does not contain grayscale data");
                image.reset();
                return kyr::status::NO_DATA;
            }
            const int rc = readGrayscaleImage(index, dir, fileKey, preferDrnu, image);
            if (rc == 0 && readMore) {
                readMore(index.at("grayscale"));
            }
            return rc;
        },
        [&image] { image.reset(); });
}

}  // namespace ozr::calibration
