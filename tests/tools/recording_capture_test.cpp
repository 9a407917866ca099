// ozr-capture --record and ozr-sim --replay as a user runs them: a recording
// made on the live virtual sensor, replayed to the same capture, gives the
// same DCS images file for file; the end of the recording and options that
// cannot record are reported with their exit statuses.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "recording_reader.h"

namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class RecordingCapture : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("ozr_recording_capture_" + std::to_string(getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    // Exit status of `ozr-sim SIM -- ozr-capture ARGS`; standard error in `err`.
    int run(const std::string& sim, const std::string& args) {
        const std::string command = std::string(OZR_SIM_LAUNCHER) + " " + sim + " -- " +
                                    OZR_CAPTURE + " " + args + " > /dev/null 2> " +
                                    (dir / "stderr").string();
        const int status = std::system(command.c_str());
        err = contents(dir / "stderr");
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    }
    fs::path dir;
    std::string err;
};

TEST_F(RecordingCapture, AReplayGivesTheRecordedImages) {
    const std::string rec = (dir / "rec.h5").string();
    const std::string capture = " --frames 10 --single --quiet";
    for (const char* model : {"ozr310", "ozr320"}) {
        SCOPED_TRACE(model);
        ASSERT_EQ(
            run(std::string("--scene boxes --model ") + model,
                "--mode dcs4 --record " + rec + " --out " + (dir / "live").string() + capture),
            0)
            << err;
        std::string error;
        auto reader = ozrrec::RecordingReader::open(rec, error);
        ASSERT_TRUE(reader) << error;
        EXPECT_EQ(reader->frameCount(), 10u);
        EXPECT_STREQ(ozrrec::modelName(reader->info().model), model);
        ASSERT_EQ(
            run("--replay " + rec, "--mode dcs4 --out " + (dir / "replay").string() + capture), 0)
            << err;
        size_t files = 0;
        for (const auto& f : fs::directory_iterator(dir / "live")) {
            EXPECT_EQ(contents(f.path()), contents(dir / "replay" / f.path().filename()))
                << f.path().filename();
            ++files;
        }
        EXPECT_EQ(files, 40u);
        // An eleventh frame does not come: a camera failure.
        EXPECT_EQ(run("--replay " + rec, "--mode dcs4 --frames 11 --single --quiet"), 1);
        EXPECT_NE(err.find("end of the recording " + rec), std::string::npos) << err;
        fs::remove_all(dir / "live");
        fs::remove_all(dir / "replay");
    }
}

TEST_F(RecordingCapture, OnlyDcsModesRecord) {
    for (const char* mode : {"dist-amp", "grayscale"}) {
        EXPECT_EQ(run("", std::string("--mode ") + mode + " --record x.h5"), 2) << mode;
        EXPECT_NE(err.find("--record keeps DCS images"), std::string::npos) << err;
    }
    EXPECT_EQ(run("", "--mode dcs4 --frames 1 --record " + (dir / "no/such/dir.h5").string()), 1);
    EXPECT_NE(err.find("cannot create the recording"), std::string::npos) << err;
}

}  // namespace
