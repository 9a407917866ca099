// The shared pieces of the calibration providers: directory search, index
// loading, binary files, number conversions and neighbour selection.
#include "calibrationFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "ozr/calibrationTestDir.h"
#include "support/log_capture.h"

namespace {

using nlohmann::json;
using namespace ozr::calibration;
using testsupport::CalibrationDir;
using testsupport::LogCapture;

bool defaultDirectoriesHoldAnIndex() {
    for (const std::string& dir : calibrationSearchPath("", "")) {
        if (std::filesystem::exists(indexPath(dir))) {
            return true;
        }
    }
    return false;
}

TEST(CalibrationSearch, CandidatesInOrderWithTheFixedDefaultsLast) {
    const auto candidates = calibrationSearchPath("/lib/path", "/user/path");
    ASSERT_GE(candidates.size(), 3u);
    EXPECT_EQ(candidates[0], "/lib/path");
    EXPECT_EQ(candidates[1], "/user/path");
    EXPECT_EQ(candidates[2], "/usr/local/share/ozrtofcam/calibration");
    if (candidates.size() == 4) {
        const std::string suffix = "/.config/ozrtofcam/calibration";
        EXPECT_EQ(candidates[3].substr(candidates[3].size() - suffix.size()), suffix);
    }
    // Empty paths are no candidates.
    EXPECT_EQ(calibrationSearchPath("", "").size(), candidates.size() - 2);
}

TEST(CalibrationSearch, LibraryPathBeatsUserPath) {
    CalibrationDir lib;
    CalibrationDir user;
    lib.writeIndex("{}");
    user.writeIndex("{}");
    std::string dir;
    ASSERT_EQ(findCalibrationDir(lib.str(), user.str(), dir), 0);
    EXPECT_EQ(dir, lib.str());
}

TEST(CalibrationSearch, PathWithoutIndexIsSkippedSilently) {
    CalibrationDir empty;
    CalibrationDir user;
    user.writeIndex("{}");
    LogCapture log;
    std::string dir;
    ASSERT_EQ(findCalibrationDir(empty.str(), user.str(), dir), 0);
    EXPECT_EQ(dir, user.str());
    EXPECT_TRUE(log.lines().empty());
}

TEST(CalibrationSearch, NothingFoundIsReported) {
    if (defaultDirectoriesHoldAnIndex()) {
        GTEST_SKIP() << "a default calibration directory holds an index on this machine";
    }
    CalibrationDir empty;
    LogCapture log;
    std::string dir = "unchanged";
    EXPECT_EQ(findCalibrationDir(empty.str(), "", dir), -2);
    EXPECT_EQ(dir, "unchanged");
    EXPECT_EQ(log.count("No calibration info file found"), 1u);
}

TEST(CalibrationIndex, MissingFileIsMinus2WithoutMessage) {
    CalibrationDir dir;
    LogCapture log;
    json j;
    EXPECT_EQ(loadCalibrationInfoFile(j, indexPath(dir.str())), -2);
    EXPECT_TRUE(log.lines().empty());
}

TEST(CalibrationIndex, SyntaxErrorsAndCommentsAreRejected) {
    CalibrationDir dir;
    for (const char* text : {"{\"a\": 1,}", "{\"a\": 1} // note", "", "{\"a\": nan}"}) {
        SCOPED_TRACE(text);
        dir.writeIndex(text);
        LogCapture log;
        json j;
        EXPECT_EQ(loadCalibrationInfoFile(j, indexPath(dir.str())), -22);
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_EQ(log.lines()[0].text.rfind("Failed to parse calibration info JSON file: ", 0), 0u);
    }
}

TEST(CalibrationIndex, ParsesAnyJsonValue) {
    CalibrationDir dir;
    dir.writeIndex("[1, 2]");
    json j;
    ASSERT_EQ(loadCalibrationInfoFile(j, indexPath(dir.str())), 0);
    EXPECT_TRUE(j.is_array());
}

// The parsed index is kept between requests: a file rewritten with another
// text of the same size, a broken one and a mended one must each be seen by
// the next load, and a broken one reported every time.
TEST(CalibrationIndex, EveryChangeOfTheFileIsSeenByTheNextLoad) {
    CalibrationDir dir;
    const std::string path = indexPath(dir.str());
    const struct {
        const char* text;
        int rc;
        int value;
    } steps[] = {{"{\"v\": 1}", 0, 1},   {"{\"v\": 1}", 0, 1},   {"{\"v\": 2}", 0, 2},
                 {"{\"v\": 2,", -22, 0}, {"{\"v\": 2,", -22, 0}, {"{\"v\": 3}", 0, 3}};
    std::shared_ptr<const json> first;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.text);
        dir.writeIndex(step.text);
        LogCapture log;
        std::shared_ptr<const json> index;
        ASSERT_EQ(loadCalibrationIndex(index, path), step.rc);
        EXPECT_EQ(log.countLevel(kyr::platform::LogLevel::LOG_LEVEL_ERROR), step.rc == 0 ? 0u : 1u);
        json copy;
        EXPECT_EQ(loadCalibrationInfoFile(copy, path), step.rc);
        if (step.rc == 0) {
            EXPECT_EQ(index->at("v"), step.value);
            EXPECT_EQ(copy, *index);
            if (first && step.value == 1) {
                EXPECT_EQ(index, first);  // not parsed again
            }
            if (!first) {
                first = index;
            }
        } else {
            EXPECT_EQ(index, nullptr);
        }
    }
    EXPECT_EQ(first->at("v"), 1);  // a handed-out index outlives its replacement
}

TEST(CalibrationBinaryFile, ReadsLittleEndianWords) {
    CalibrationDir dir;
    dir.writeText("a.bin", std::string("\x01\x02\xff\x00\x00\x80", 6));
    BinaryFile f;
    ASSERT_EQ(f.open(dir.str(), "a.bin"), 0);
    EXPECT_EQ(f.elementCount(), 3u);
    std::vector<uint16_t> v;
    ASSERT_EQ(f.read(v), 0);
    EXPECT_EQ(v, (std::vector<uint16_t>{0x0201, 0x00FF, 0x8000}));
}

TEST(CalibrationBinaryFile, OddSizeIsMinus22AndMissingFileMinus2) {
    CalibrationDir dir;
    dir.writeText("five.bin", "12345");
    BinaryFile f;
    EXPECT_EQ(f.open(dir.str(), "five.bin"), -22);
    EXPECT_EQ(f.open(dir.str(), "none.bin"), -2);
}

TEST(CalibrationBinaryFile, EmptyFileHasNoElements) {
    CalibrationDir dir;
    dir.writeText("empty.bin", "");
    BinaryFile f;
    ASSERT_EQ(f.open(dir.str(), "empty.bin"), 0);
    std::vector<uint16_t> v{1, 2};
    ASSERT_EQ(f.read(v), 0);
    EXPECT_TRUE(v.empty());
}

TEST(CalibrationBinaryFile, FileShrunkAfterOpenIsMinus22) {
    CalibrationDir dir;
    dir.writeWords("a.bin", {1, 2, 3, 4});
    BinaryFile f;
    ASSERT_EQ(f.open(dir.str(), "a.bin"), 0);
    std::filesystem::resize_file(dir.path() / "a.bin", 4);
    std::vector<uint16_t> v;
    EXPECT_EQ(f.read(v), -22);
}

// Only regular files inside the calibration directory are read; anything
// else is refused with a message naming it and reads as missing (-2).
TEST(CalibrationBinaryFile, OnlyRegularFilesInsideTheDirectoryAreRead) {
    CalibrationDir outer;
    outer.writeWords("outside.bin", {7, 8});
    const std::filesystem::path root = outer.path() / "calib";
    std::filesystem::create_directories(root / "sub");
    const std::string dir = root.string();
    outer.writeWords("calib/a.bin", {1, 2});
    ASSERT_EQ(::mkfifo((root / "fifo.bin").c_str(), 0600), 0);
    std::filesystem::create_symlink("a.bin", root / "in.bin");
    std::filesystem::create_symlink("../outside.bin", root / "out.bin");
    std::filesystem::create_symlink(outer.path() / "outside.bin", root / "abs_out.bin");
    std::filesystem::create_symlink("/dev/null", root / "null.bin");
    std::filesystem::create_symlink("sub", root / "dirlink");

    struct Case {
        std::string name;
        int rc;
        bool refused;  // a refusal naming the file is logged
    };
    const std::vector<Case> cases = {
        {"a.bin", 0, false},
        {"./sub/../a.bin", 0, false},  // ".." that stays inside
        {"in.bin", 0, false},          // a symbolic link inside
        {"none.bin", -2, false},       // missing: the caller reports it
        {(root / "a.bin").string(), -2, true},
        {"/dev/stdin", -2, true},
        {"/dev/null", -2, true},
        {"../outside.bin", -2, true},
        {"sub/../../outside.bin", -2, true},
        {"../../../../../../../../dev/null", -2, true},
        {"out.bin", -2, true},
        {"abs_out.bin", -2, true},
        {"null.bin", -2, true},
        {"fifo.bin", -2, true},
        {"sub", -2, true},
        {"dirlink", -2, true},
        {".", -2, true},
        {"", -2, true},
        {std::string("a.bin\0x", 7), -2, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("name '" + c.name + "'");
        LogCapture log;
        BinaryFile f;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(f.open(dir, c.name), c.rc);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        const auto lines = log.lines();
        if (c.refused) {
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_EQ(lines[0].level, kyr::platform::LogLevel::LOG_LEVEL_ERROR);
            const std::string shown = c.name.substr(0, c.name.find('\0'));
            EXPECT_NE(lines[0].text.find("Calibration file '" + shown + "'"), std::string::npos)
                << lines[0].text;
            EXPECT_NE(lines[0].text.find("refused"), std::string::npos) << lines[0].text;
        } else {
            EXPECT_TRUE(lines.empty());
        }
        std::vector<uint16_t> v;
        if (c.rc == 0) {
            ASSERT_EQ(f.read(v), 0);
            EXPECT_EQ(v, (std::vector<uint16_t>{1, 2}));
        } else {
            EXPECT_EQ(f.elementCount(), 0u);
            EXPECT_EQ(f.read(v), -22);
        }
    }
}

TEST(CalibrationNumbers, IntegersKeepTheirLowBits) {
    EXPECT_EQ(readUnsigned<uint16_t>(json(70000)), 70000u - 65536u);
    EXPECT_EQ(readUnsigned<uint16_t>(json(-1)), 65535u);
    EXPECT_EQ(readUnsigned<uint32_t>(json(5000000000ULL)), static_cast<uint32_t>(5000000000ULL));
    EXPECT_EQ(readUnsigned<size_t>(json(-2)), static_cast<size_t>(-2));
}

TEST(CalibrationNumbers, FloatsAreTruncatedTowardZero) {
    EXPECT_EQ(readUnsigned<uint32_t>(json(20000000.9)), 20000000u);
    EXPECT_EQ(readUnsigned<uint16_t>(json(-1.5)), 65535u);  // -1, low bits
    EXPECT_EQ(readUnsigned<uint16_t>(json(65536.7)), 0u);
    EXPECT_EQ(readUnsigned<uint16_t>(json(-0.9)), 0u);
}

TEST(CalibrationNumbers, FloatsBeyondSixtyFourBitsAreAFormatError) {
    EXPECT_THROW(readUnsigned<uint16_t>(json(1e19)), FormatError);
    EXPECT_THROW(readUnsigned<uint32_t>(json(-1e300)), FormatError);
    EXPECT_THROW(readFloat(json(1e39)), FormatError);
    EXPECT_THROW(readFloat(json(-1e300)), FormatError);
    EXPECT_FLOAT_EQ(readFloat(json(3.4e38)), 3.4e38f);
}

TEST(CalibrationNumbers, BooleansReadAsZeroOrOne) {
    EXPECT_EQ(readUnsigned<uint16_t>(json(true)), 1u);
    EXPECT_EQ(readUnsigned<uint16_t>(json(false)), 0u);
    EXPECT_EQ(readFloat(json(true)), 1.0f);
}

TEST(CalibrationNumbers, OtherTypesRaiseTheLibraryTypeError) {
    try {
        (void)readUnsigned<uint16_t>(json("12"));
        FAIL() << "no exception";
    } catch (const json::type_error& e) {
        EXPECT_NE(std::string(e.what()).find("type must be number, but is string"),
                  std::string::npos);
    }
    EXPECT_THROW((void)readFloat(json::array()), json::type_error);
    EXPECT_THROW((void)readUnsigned<uint32_t>(json(nullptr)), json::type_error);
}

json entries(std::initializer_list<json> list) {
    return json(list);
}

TEST(CalibrationNeighbours, ExactMatchStopsTheWalk) {
    const json e = entries({{{"modulation_frequency_hz", 10}, {"id", 0}},
                            {{"modulation_frequency_hz", 20}, {"id", 1}},
                            {{"modulation_frequency_hz", 20}, {"id", 2}}});
    const Neighbours n = selectNeighbours(e, 20);
    ASSERT_NE(n.lower, nullptr);
    EXPECT_EQ(n.lower, n.upper);
    EXPECT_EQ(n.lower->at("id"), 1);
    EXPECT_EQ(interpolationWeight(n, 20), 0.0f);
}

TEST(CalibrationNeighbours, UnorderedEntriesGiveTheNearestOnEachSide) {
    const json e = entries({{{"modulation_frequency_hz", 30}, {"id", 0}},
                            {{"modulation_frequency_hz", 10}, {"id", 1}},
                            {{"modulation_frequency_hz", 20}, {"id", 2}},
                            {{"modulation_frequency_hz", 20}, {"id", 3}},
                            {{"modulation_frequency_hz", 30}, {"id", 4}}});
    const Neighbours n = selectNeighbours(e, 25);
    ASSERT_NE(n.lower, nullptr);
    ASSERT_NE(n.upper, nullptr);
    EXPECT_EQ(n.lower->at("id"), 2);  // first of the two 20s
    EXPECT_EQ(n.upper->at("id"), 0);  // first of the two 30s
    EXPECT_EQ(interpolationWeight(n, 25), 0.5f);
}

TEST(CalibrationNeighbours, OutsideTheRangeOneSideIsMissing) {
    const json e = entries({{{"modulation_frequency_hz", 10}}, {{"modulation_frequency_hz", 20}}});
    EXPECT_EQ(selectNeighbours(e, 5).lower, nullptr);
    EXPECT_EQ(selectNeighbours(e, 35).upper, nullptr);
    const Neighbours none = selectNeighbours(json::array(), 10);
    EXPECT_EQ(none.lower, nullptr);
    EXPECT_EQ(none.upper, nullptr);
}

TEST(CalibrationNeighbours, EntriesWithoutAFrequencyArePassedOver) {
    const json e = entries({json(5),
                            {{"width", 3}},
                            {{"modulation_frequency_hz", "x"}},
                            {{"modulation_frequency_hz", 10}, {"id", 7}}});
    const Neighbours n = selectNeighbours(e, 10);
    ASSERT_NE(n.lower, nullptr);
    EXPECT_EQ(n.lower->at("id"), 7);
}

TEST(CalibrationNeighbours, WeightUsesUnsignedDifferencesInSinglePrecision) {
    Neighbours n;
    json lo;
    json hi;
    n.lower = &lo;
    n.upper = &hi;
    n.lowerHz = 10000000;
    n.upperHz = 14000000;
    EXPECT_EQ(interpolationWeight(n, 11000000), 0.25f);
    n.lowerHz = 0;
    n.upperHz = 4294967295u;
    EXPECT_EQ(interpolationWeight(n, 4294967294u),
              static_cast<float>(4294967294u) / static_cast<float>(4294967295u));
}

TEST(CalibrationFrequencies, CollectsInArrayOrderAndWarnsPerUnreadableEntry) {
    const json index = {{"phaseOffsetData", entries({{{"modulation_frequency_hz", 30}},
                                                     {{"width", 1}},
                                                     {{"modulation_frequency_hz", 10.7}}})}};
    LogCapture log;
    std::vector<unsigned int> f{99};
    ASSERT_EQ(collectFrequencies(index, "phaseOffsetData", f), 0);
    EXPECT_EQ(f, (std::vector<unsigned int>{30, 10}));
    EXPECT_EQ(log.countLevel(kyr::platform::LogLevel::LOG_LEVEL_WARN), 1u);
}

TEST(CalibrationFrequencies, MissingArrayIsMinus22) {
    for (const json& index :
         {json::object(), json({{"phaseOffsetData", json::object()}}), json::array({1}), json(3)}) {
        SCOPED_TRACE(index.dump());
        LogCapture log;
        std::vector<unsigned int> f{1};
        EXPECT_EQ(collectFrequencies(index, "phaseOffsetData", f), -22);
        EXPECT_TRUE(f.empty());
        EXPECT_EQ(log.count("Invalid calibration file format: 'phaseOffsetData' array not found"),
                  1u);
        EXPECT_EQ(log.count("Failed to parse available frequencies from calibration info"), 1u);
    }
}

TEST(CalibrationFrequencies, NoReadableFrequencyIsMinus2) {
    const json index = {{"phaseErrorLUTData", entries({{{"lut_size", 1}}, {{"lut_size", 2}}})}};
    LogCapture log;
    std::vector<unsigned int> f;
    EXPECT_EQ(collectFrequencies(index, "phaseErrorLUTData", f), -2);
    EXPECT_EQ(log.countLevel(kyr::platform::LogLevel::LOG_LEVEL_WARN), 2u);
    EXPECT_EQ(log.count("No valid calibration frequencies found"), 1u);
    EXPECT_EQ(log.count("Failed to parse available frequencies from calibration info"), 1u);
}

}  // namespace
