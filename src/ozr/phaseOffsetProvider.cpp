#include "ozr/phaseOffsetProvider.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "calibrationFiles.h"
#include "calibrationProvider.h"
#include "kyr/status.h"
#include "phaseInterpolation.h"

namespace {

using Json = nlohmann::json;

// The distance drift per kelvin that every calibration uses; the index does
// not carry one.
constexpr float SENSOR_TEMP_SLOPE_MM_K = 22.0f;

// Offset images: one per modulation frequency, interpolated pixel by pixel,
// each phase rising from the lower calibration's value to the upper one's.
struct OffsetImages {
    using Record = PhaseOffsetData;

    static constexpr const char* SECTION = "phaseOffsetData";
    static constexpr ozr::calibration::FrequencyMessages MESSAGES = {
        "Interpolating phase offset for modulation frequency %u Hz.",
        "Phase offset image dimensions do not match",
        "Failed to load offset calibration data from %s: %s",
    };

    struct Entry {
        uint16_t width = 0;
        uint16_t height = 0;
        std::string file;
        float temps[4] = {};

        static Entry read(const Json& json) {
            using ozr::calibration::readFloat;
            using ozr::calibration::readUnsigned;
            Entry e;
            e.width = readUnsigned<uint16_t>(json.at("width"));
            e.height = readUnsigned<uint16_t>(json.at("height"));
            e.file = json.at("offset_file").get<std::string>();
            e.temps[0] = readFloat(json.at("ozr_temperature_sensor0_c"));
            e.temps[1] = readFloat(json.at("ozr_temperature_sensor1_c"));
            e.temps[2] = readFloat(json.at("ozr_temperature_sensor2_c"));
            e.temps[3] = readFloat(json.at("ozr_temperature_sensor3_c"));
            return e;
        }
        size_t count() const { return size_t{width} * height; }
        bool sameShape(const Entry& other) const {
            return width == other.width && height == other.height;
        }
    };

    static void clear(Record& offsetData) { offsetData.offsetImage.reset(); }

    static int store(Record& offsetData, const ozr::calibration::Bracket<Entry>& b,
                     uint32_t modFreq) {
        auto image = Image<PhaseType<uint16_t>>::createNewBuffer(b.lower.width, b.lower.height);
        if (!image) {
            return kyr::status::NO_MEMORY;
        }
        PhaseType<uint16_t>* out = image->getData();
        for (size_t i = 0; i < b.lowerValues.size(); ++i) {
            out[i] = PhaseType<uint16_t>(ozr::calibration::interpolateOffsetPhase(
                b.lowerValues[i], b.upperValues[i], b.weight));
        }
        const float* lo = b.lower.temps;
        const float* hi = b.upper.temps;
        offsetData.offsetImage = std::move(image);
        offsetData.calibratedFrequency_Hz = modFreq;
        offsetData.calibrationTemp_C =
            (((((((lo[0] + hi[0]) + lo[1]) + hi[1]) + lo[2]) + hi[2]) + lo[3]) + hi[3]) * 0.125f;
        offsetData.sensorTempSlope_mm_K = SENSOR_TEMP_SLOPE_MM_K;
        return 0;
    }
};

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
    const int rc = ozr::calibration::loadCalibratedFrequencies(
        libraryPath, userPath, OffsetImages::SECTION,
        "PhaseOffsetProvider initialized with %zu calibrated frequencies", calibDataDir,
        calibratedFrequencies);
    if (rc == 0) {
        initialized = true;
    }
    return rc;
}

int PhaseOffsetProvider::getCalibrationData(uint32_t modFreq, PhaseOffsetData& offsetData) {
    return ozr::calibration::requestFromNeighbours<OffsetImages>(calibDataDir, modFreq, offsetData);
}

void PhaseOffsetProvider::getCalibratedFrequencies(FrequencyList& freqList) {
    ozr::calibration::frequencyListOf(calibratedFrequencies, freqList);
}
