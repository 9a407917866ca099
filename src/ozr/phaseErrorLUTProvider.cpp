#include "ozr/phaseErrorLUTProvider.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "calibrationFiles.h"
#include "calibrationProvider.h"
#include "kyr/platform.h"
#include "kyr/status.h"
#include "phaseInterpolation.h"

namespace {

using Json = nlohmann::json;

// Phase error tables: one per modulation frequency, interpolated entry by
// entry as signed corrections.
struct ErrorTables {
    using Record = PhaseErrorLUTData;

    static constexpr const char* SECTION = "phaseErrorLUTData";
    static constexpr ozr::calibration::FrequencyMessages MESSAGES = {
        "Interpolating phase error LUT for modulation frequency %u Hz.",
        "Phase error LUT dimensions do not match",
        "Failed to load LUT calibration data from %s: %s",
    };

    struct Entry {
        size_t lutSize = 0;
        std::string file;

        static Entry read(const Json& json) {
            using ozr::calibration::readUnsigned;
            Entry e;
            e.lutSize = readUnsigned<size_t>(json.at("lut_size"));
            e.file = json.at("lut_file").get<std::string>();
            return e;
        }
        size_t count() const { return lutSize; }
        bool sameShape(const Entry& other) const { return lutSize == other.lutSize; }
    };

    static void clear(Record& lutData) { lutData.lut.reset(); }

    static int store(Record& lutData, const ozr::calibration::Bracket<Entry>& b,
                     uint32_t /*modFreq*/) {
        const size_t size = b.lowerValues.size();
        std::unique_ptr<PhaseType<uint16_t>[]> table(new (std::nothrow) PhaseType<uint16_t>[size]);
        if (!table) {
            KYR_LOG_ERROR("Out of memory allocating a phase error LUT of %zu entries", size);
            return kyr::status::NO_MEMORY;
        }
        for (size_t i = 0; i < size; ++i) {
            table[i] = PhaseType<uint16_t>(ozr::calibration::interpolatePhaseError(
                b.lowerValues[i], b.upperValues[i], b.weight));
        }
        lutData.lut = std::move(table);
        lutData.lutSize = size;
        return 0;
    }
};

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
    const int rc = ozr::calibration::loadCalibratedFrequencies(
        libraryPath, userPath, ErrorTables::SECTION,
        "PhaseErrorLUTProvider initialized with %zu calibrated frequencies", calibDataDir,
        calibratedFrequencies);
    if (rc == 0) {
        initialized = true;
    }
    return rc;
}

int PhaseErrorLUTProvider::getCalibrationData(uint32_t modFreq, PhaseErrorLUTData& lutData) {
    return ozr::calibration::requestFromNeighbours<ErrorTables>(calibDataDir, modFreq, lutData);
}

void PhaseErrorLUTProvider::getCalibratedFrequencies(FrequencyList& freqList) {
    ozr::calibration::frequencyListOf(calibratedFrequencies, freqList);
}
