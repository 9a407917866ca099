// The calibration directory of ozr-calibrate: steps merge into one index
// (entries ascending by frequency, other sections kept), directories of
// others are left alone without --force, and the 16-bit files are
// little-endian and read back as written.
#include "calibrate_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using calib::CalibrationDir;
using nlohmann::json;

class CalibrateFiles : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() /
               ("ozr_calibrate_files_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
    }
    void TearDown() override { fs::remove_all(root); }
    fs::path root;
};

TEST_F(CalibrateFiles, StepsMergeIntoOneIndex) {
    {
        CalibrationDir dir(root);
        ASSERT_EQ(dir.open(false), "");
        dir.putEntry("phaseOffsetData", 40000000,
                     json::object({{"modulation_frequency_hz", 40000000}}));
        dir.putEntry("phaseOffsetData", 20000000,
                     json::object({{"modulation_frequency_hz", 20000000}}));
        dir.index()["lens"] = {{"fx", 1.0}};
        ASSERT_EQ(dir.save(), "");
    }
    CalibrationDir dir(root);
    ASSERT_EQ(dir.open(false), "");
    // A later step replaces its own entry and keeps the others in order.
    dir.putEntry("phaseOffsetData", 30000000,
                 json::object({{"modulation_frequency_hz", 30000000}}));
    dir.putEntry("phaseOffsetData", 20000000,
                 {{"modulation_frequency_hz", 20000000}, {"offset_file", "new.bin"}});
    ASSERT_EQ(dir.save(), "");
    const json index = json::parse(std::ifstream(root / calib::INDEX_FILE));
    std::vector<uint32_t> order;
    for (const auto& e : index.at("phaseOffsetData"))
        order.push_back(e.at("modulation_frequency_hz"));
    EXPECT_EQ(order, (std::vector<uint32_t>{20000000, 30000000, 40000000}));
    EXPECT_EQ(index.at("phaseOffsetData").at(0).at("offset_file"), "new.bin");
    EXPECT_EQ(index.at("lens").at("fx"), 1.0);
    EXPECT_EQ(index.at(calib::CREATOR_KEY), calib::CREATOR);
    ASSERT_NE(dir.entry("phaseOffsetData", 30000000), nullptr);
    EXPECT_EQ(dir.entry("phaseOffsetData", 25000000), nullptr);
    EXPECT_EQ(dir.entry("phaseErrorLUTData", 30000000), nullptr);
    EXPECT_FALSE(fs::exists(root / (std::string(calib::INDEX_FILE) + ".new")));
}

TEST_F(CalibrateFiles, DirectoriesOfOthersNeedForce) {
    const struct {
        const char* what;
        const char* file;
        const char* contents;
    } cases[] = {
        {"other files", "notes.txt", "mine"},
        {"a calibration of someone else", calib::INDEX_FILE, "{\"phaseOffsetData\": []}"},
        {"a broken index", calib::INDEX_FILE, "{"},
        {"an index that is no object", calib::INDEX_FILE, "[1, 2]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(root);
        fs::create_directories(root);
        std::ofstream(root / c.file) << c.contents;
        EXPECT_NE(CalibrationDir(root).open(false), "");
        CalibrationDir forced(root);
        EXPECT_EQ(forced.open(true), "");
        EXPECT_EQ(forced.index().at(calib::CREATOR_KEY), calib::CREATOR);
    }
    fs::remove_all(root);
    std::ofstream(root) << "a file";
    EXPECT_NE(CalibrationDir(root).open(true).find("not a directory"), std::string::npos);
}

TEST_F(CalibrateFiles, WordsAreLittleEndianAndReadBack) {
    CalibrationDir dir(root);
    ASSERT_EQ(dir.open(false), "");
    const std::vector<uint16_t> words = {0x0102, 0xFFFF, 0, 0x8000};
    ASSERT_EQ(dir.writeWords("a.bin", words), "");
    std::ifstream in(root / "a.bin", std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(bytes, std::string("\x02\x01\xFF\xFF\x00\x00\x00\x80", 8));
    std::vector<uint16_t> back;
    ASSERT_EQ(dir.readWords("a.bin", back), "");
    EXPECT_EQ(back, words);
    std::ofstream(root / "odd.bin") << "abc";
    EXPECT_NE(dir.readWords("odd.bin", back).find("odd"), std::string::npos);
    EXPECT_NE(dir.readWords("missing.bin", back), "");
    EXPECT_EQ(calib::frequencyName(20000000), "20MHz");
    EXPECT_EQ(calib::frequencyName(30500000), "30_500000MHz");
}

}  // namespace
