// The calibration index and binary files through the four calibrated
// providers and the default ones: every input is written out as a
// calibration directory, the providers are loaded from it and registered as
// the camera does, and then asked for their records the way the camera and
// the stages ask: each provider at requested frequencies and at and beyond
// the ends of the calibrated ones (or at 0); the distance/amplitude pipeline
// at a modulation frequency from the input, and the grayscale pipeline, each
// run for one frame of a size from the input, so that the compensation
// stages apply records of any size to frames of any size (when no calibrated
// provider loaded, only if flag 4 says so).
//
// Input: a 16-byte header (flags, frame width, frame height, three
// frequencies as little-endian 32-bit values), then files, each
// introduced by "\n@@" NAME "\n" and running up to the next "\n@@":
// "calibration_info.json" is the index, "frame" the pixel bytes of the
// frames, any other name a binary calibration file.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fakeVideoDevice.h"
#include "fuzzLog.h"
#include "imageReader.h"
#include "kyr/pipelines/distAmplitudePipeline.h"
#include "kyr/pipelines/grayscalePipeline.h"
#include "kyr/sources/ozr310Source.h"
#include "kyr/sources/ozr320Source.h"
#include "ozr/calibration.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t HEADER_SIZE = 16;
constexpr std::string_view SEPARATOR = "\n@@";
constexpr size_t MAX_NAME = 40;
constexpr uint32_t MAX_SIDE = 64;

fs::path directory;

struct Header {
    uint8_t flags = 0;
    uint32_t width = 0, height = 0;
    uint32_t frequencies[3] = {};
};

uint32_t le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

bool validName(std::string_view name) {
    if (name.empty() || name.size() > MAX_NAME || name == "." || name == "..") return false;
    for (const char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
        if (!ok) return false;
    }
    return true;
}

// Writes the files of the input into `directory` (emptied first) and
// returns the header and the frame bytes.
Header unpack(std::string_view input, std::string& frame) {
    for (const auto& entry : fs::directory_iterator(directory)) fs::remove_all(entry.path());
    std::string head(input.substr(0, input.find(SEPARATOR)));
    head.resize(HEADER_SIZE, '\0');
    const auto* h = reinterpret_cast<const uint8_t*>(head.data());
    Header header;
    header.flags = h[0];
    header.width = h[1] % (MAX_SIDE + 1);
    header.height = h[2] % (MAX_SIDE + 1);
    for (int i = 0; i < 3; ++i) header.frequencies[i] = le32(h + 4 + 4 * i);

    for (size_t at = input.find(SEPARATOR); at != std::string_view::npos;) {
        const size_t nameStart = at + SEPARATOR.size();
        const size_t next = input.find(SEPARATOR, nameStart);
        const std::string_view record = input.substr(
            nameStart, next == std::string_view::npos ? std::string_view::npos : next - nameStart);
        at = next;
        const size_t newline = record.find('\n');
        if (newline == std::string_view::npos) continue;
        const std::string_view name = record.substr(0, newline);
        const std::string_view content = record.substr(newline + 1);
        if (name == "frame") {
            frame.assign(content);
        } else if (validName(name)) {
            std::ofstream(directory / std::string(name), std::ios::binary)
                .write(content.data(), static_cast<std::streamsize>(content.size()));
        }
    }
    return header;
}

template <class DataT>
void request(uint32_t hz) {
    DataT record;
    (void)ozr::getCalibrationData(hz, record);
}

// One frame through `P` on a source of `header`'s model and size.
template <class P>
void runPipeline(const Header& header, const std::string& frame, uint32_t hz) {
    FuzzedDataProvider pixels(reinterpret_cast<const uint8_t*>(frame.data()), frame.size());
    auto device = std::make_unique<fuzz::FakeVideoDevice>(pixels, header.width, header.height);
    auto temp = std::make_unique<fuzz::FakeTempSensor>(pixels);
    std::unique_ptr<OZRSensorSourceIF> source;
    if (header.flags & 1) {
        source = std::make_unique<OZR310Source>(std::move(device), std::move(temp), 4);
    } else {
        source = std::make_unique<OZR320Source>(std::move(device), std::move(temp), 4);
    }
    P pipeline(*source);
    (void)pipeline.setControl(ozr::ControlID::MODULATION_FREQ_HZ, static_cast<int32_t>(hz));
    for (const auto id : {ozr::ControlID::ENABLE_GRAYSCALE_DSNU_COMPENSATION,
                          ozr::ControlID::ENABLE_GRAYSCALE_PRNU_COMPENSATION,
                          ozr::ControlID::INTERFERENCE_DETECTION_ENABLE}) {
        (void)pipeline.setControl(id, 1);
    }
    if (source->setupStreaming() == 0 && source->fetchNext() == 0) {
        (void)source->captureNext(false);
    }
    (void)source->stopStreaming();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceLogging();
    // The directory is written anew for every input: in memory where there
    // is a tmpfs, since creating and deleting files on a disk file system
    // took a fifth of the time.
    std::error_code ec;
    const fs::path base = fs::is_directory("/dev/shm", ec) && access("/dev/shm", W_OK) == 0
                              ? fs::path("/dev/shm")
                              : fs::temp_directory_path();
    std::string pattern = (base / "ozr-fuzz-calibration-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    directory = pattern;
    std::atexit([] {
        std::error_code ignored;
        fs::remove_all(directory, ignored);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string frame;
    const Header header =
        unpack(std::string_view(reinterpret_cast<const char*>(data), size), frame);
    const std::string dir = directory.string();

    // Each provider searched and loaded again (the camera loads once per
    // process, then registers the provider already loaded).
    (void)PhaseOffsetProvider::getInstance().loadCalibrationData(dir, "");
    (void)PhaseErrorLUTProvider::getInstance().loadCalibrationData(dir, "");
    (void)DsnuOffsetProvider::getInstance().loadCalibrationData(dir, "");
    (void)PrnuGainProvider::getInstance().loadCalibrationData(dir, "");
    const int calibrated = ozr::registerCalibrationProviders(dir, "");

    // Every request re-reads the index and its files, so each case of the
    // neighbour search is asked once: the per-frequency records at two
    // requested frequencies, and for each calibrated list exactly at its
    // lowest frequency (an exact entry), just below it and just above its
    // highest (one neighbour; the seeds' requested frequencies lie between
    // two), or at 0 when there is no list; the grayscale records, which do
    // not depend on the frequency, once.
    std::set<uint32_t> frequencies{header.frequencies[0], header.frequencies[1]};
    const auto addCases = [&frequencies](const FrequencyList& list) {
        if (list.count == 0) {
            frequencies.insert(0);
            return;
        }
        const uint32_t lowest = list.frequencies[0];
        frequencies.insert({lowest, lowest - 1, list.frequencies[list.count - 1] + 1});
    };
    FrequencyList list{};
    PhaseOffsetProvider::getInstance().getCalibratedFrequencies(list);
    addCases(list);
    PhaseErrorLUTProvider::getInstance().getCalibratedFrequencies(list);
    addCases(list);
    for (const uint32_t hz : frequencies) {
        request<PhaseOffsetData>(hz);
        request<PhaseErrorLUTData>(hz);
    }
    request<DsnuOffsetData>(header.frequencies[0]);
    request<PrnuGainData>(header.frequencies[0]);

    // Most inputs are indexes that no longer parse: the pipelines then run on
    // the default providers only, which they need not do for each of them;
    // flag 4 asks for it.
    if (calibrated == 0 && (header.flags & 4) == 0) return 0;
    runPipeline<DistAmplitudePipeline>(header, frame, header.frequencies[0]);
    if (header.flags & 2) runPipeline<GrayscalePipeline>(header, frame, 0);
    return 0;
}
