// The steps that the calibration providers share: loading the index when a
// provider is loaded, re-reading it for every request, and, for the providers
// that hold one calibration per modulation frequency, choosing and reading the
// two calibrations around a requested frequency. What differs between the
// providers (the section, the entry keys, the texts, the record built, the way
// two phases are interpolated) is passed in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "calibrationFiles.h"
#include "kyr/platform.h"
#include "kyr/status.h"
#include "ozr/calibrationData.h"

namespace ozr::calibration {

// First steps of every loadCalibrationData: finds the calibration directory,
// stores it in `calibDataDir` and parses its index into `index`. Logs "Failed
// to load calibration info file" when the index does not load. Returns 0 or
// the failing code.
int openCalibrationIndex(const std::string& libraryPath, const std::string& userPath,
                         std::string& calibDataDir, std::shared_ptr<const nlohmann::json>& index);

// loadCalibrationData of a provider with one calibration per modulation
// frequency: opens the index and fills `frequencies`, sorted ascending, from
// the array `section`; then logs `loadedFormat` (DEBUG) with their count
// ("%zu"). Returns 0 or the failing code, with its messages.
int loadCalibratedFrequencies(const std::string& libraryPath, const std::string& userPath,
                              const char* section, const char* loadedFormat,
                              std::string& calibDataDir, std::vector<unsigned int>& frequencies);

// loadCalibrationData of a provider without frequencies: opens the index and
// makes the trial request `trial`; then logs `loadedMessage` (DEBUG) when it
// returned 0, `failedMessage` (ERROR) otherwise. Returns 0 or the failing code.
int loadByTrialRequest(const std::string& libraryPath, const std::string& userPath,
                       std::string& calibDataDir, const std::function<int()>& trial,
                       const char* loadedMessage, const char* failedMessage);

// getCalibrationData of every provider: re-reads the index of `dir` and hands
// it to `build` (int(const nlohmann::json&)), which returns the request's
// code. When the index does not load ("Failed to load calibration info: %s")
// or `build` throws ("Failed to parse calibration info JSON file: %s",
// kyr::status::INVALID_ARGUMENT), calls `clear` to empty the record's image or
// table and returns the code.
template <class Build, class Clear>
int requestCalibration(const std::string& dir, const Build& build, const Clear& clear) {
    std::shared_ptr<const nlohmann::json> index;
    const int rc = loadCalibrationIndex(index, indexPath(dir));
    if (rc != 0) {
        KYR_LOG_ERROR("Failed to load calibration info: %s", kyr::status::text(rc));
        clear();
        return rc;
    }
    try {
        return build(*index);
    } catch (const std::exception& e) {
        KYR_LOG_ERROR("Failed to parse calibration info JSON file: %s", e.what());
        clear();
        return kyr::status::INVALID_ARGUMENT;
    }
}

// The frequency list view of a provider's calibrated frequencies (null and 0
// when there are none).
void frequencyListOf(const std::vector<unsigned int>& frequencies, FrequencyList& freqList);

// Reads the file `name` of the calibration directory `dir`, of exactly
// `expected` raw phases, into `out`. On failure logs `failedFormat` (ERROR)
// with the path and the text of the code, both "%s", and returns the code
// (kyr::status::INVALID_ARGUMENT for a file of another size,
// kyr::status::NO_ENTRY for a missing or refused one).
int readPhaseFile(const std::string& dir, const std::string& name, size_t expected,
                  std::vector<uint16_t>& out, const char* failedFormat);

// The texts a provider per modulation frequency reports in its own words.
struct FrequencyMessages {
    const char* interpolating;  // INFO, with the requested frequency ("%u")
    const char* sizeMismatch;   // ERROR, no arguments
    const char* fileFailed;     // ERROR, with the path and the code's text ("%s", "%s")
};

// The two calibrations around a requested frequency with their files read.
template <class Entry>
struct Bracket {
    Entry lower;
    Entry upper;
    std::vector<uint16_t> lowerValues;
    std::vector<uint16_t> upperValues;
    float weight = 0.0f;  // of the upper calibration
};

// The index part of a request to a provider per modulation frequency. `Kind`
// supplies SECTION, MESSAGES, Entry (with a static read(json), count(),
// sameShape(other) and file), Record, clear(Record&) and
// store(Record&, const Bracket<Entry>&, modFreq), which builds the record
// from the two calibrations and returns 0 or a code.
//
// Selects the neighbours of `modFreq` in the array SECTION of `index`, reads
// both entries and their files and hands them to Kind::store. A frequency
// outside the calibrated range is kyr::status::NO_ENTRY, neighbours of
// different shape are kyr::status::INVALID_ARGUMENT, a file that cannot be
// read is the reader's code, each with its message; on every failure the
// record's image or table is emptied and nothing else of the record changes.
// Throws the JSON library's exceptions and FormatError for a malformed index.
template <class Kind>
int buildFromNeighbours(const nlohmann::json& index, const std::string& dir, uint32_t modFreq,
                        typename Kind::Record& record) {
    using Entry = typename Kind::Entry;
    const Neighbours n = selectNeighbours(sectionArray(index, Kind::SECTION), modFreq);
    if (n.lower == nullptr || n.upper == nullptr) {
        KYR_LOG_WARN("Selected modulation frequency %u Hz is outside of calibrated range.",
                     modFreq);
        Kind::clear(record);
        return kyr::status::NO_ENTRY;
    }
    if (n.lower != n.upper) {
        KYR_LOG_INFO(Kind::MESSAGES.interpolating, modFreq);
    }
    Bracket<Entry> b;
    b.lower = Entry::read(*n.lower);
    b.upper = Entry::read(*n.upper);
    if (!b.lower.sameShape(b.upper)) {
        KYR_LOG_ERROR("%s", Kind::MESSAGES.sizeMismatch);
        Kind::clear(record);
        return kyr::status::INVALID_ARGUMENT;
    }
    int rc =
        readPhaseFile(dir, b.lower.file, b.lower.count(), b.lowerValues, Kind::MESSAGES.fileFailed);
    if (rc == 0) {
        rc = readPhaseFile(dir, b.upper.file, b.upper.count(), b.upperValues,
                           Kind::MESSAGES.fileFailed);
    }
    if (rc == 0) {
        b.weight = interpolationWeight(n, modFreq);
        rc = Kind::store(record, b, modFreq);
    }
    if (rc != 0) {
        Kind::clear(record);
    }
    return rc;
}

// getCalibrationData of a provider per modulation frequency (see
// buildFromNeighbours and requestCalibration).
template <class Kind>
int requestFromNeighbours(const std::string& dir, uint32_t modFreq, typename Kind::Record& record) {
    return requestCalibration(
        dir,
        [&](const nlohmann::json& index) {
            return buildFromNeighbours<Kind>(index, dir, modFreq, record);
        },
        [&record] { Kind::clear(record); });
}

}  // namespace ozr::calibration
