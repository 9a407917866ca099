// Recording files: what the writer writes reads back, a recording cut short
// (the writer killed) keeps its complete frames, and every kind of damaged
// or foreign file is refused with a message before any image is read, by the
// reader and by ozr-sim --replay.
#include <gtest/gtest.h>
#include <hdf5.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "recording_reader.h"
#include "recording_writer.h"

namespace {

namespace fs = std::filesystem;
using ozrrec::RecordedFrame;
using ozrrec::RecordingInfo;
using ozrrec::RecordingReader;
using ozrrec::RecordingWriter;

RecordingInfo smallInfo() {
    RecordingInfo info;
    info.model = ozrrec::Model::OZR310;
    info.mode = ozrrec::Mode::DCS4;
    info.width = 8;
    info.height = 6;
    info.modulationFrequencyHz = 20000000;
    info.exposureUs = 700;
    info.gain = 2;
    info.hdrIntegrationTimesUs = {100, 400, 1600};
    info.libraryVersion = ozrrec::builtLibraryVersion();
    return info;
}

// Frame `n`: every value distinct within the frame and between frames.
RecordedFrame pattern(const RecordingInfo& info, uint32_t n) {
    RecordedFrame f;
    f.frameNumber = n + 1;
    f.timestampMs = 1700000000000ull + 33 * n;
    f.temperatureC = 30.0f + 0.125f * static_cast<float>(n);
    f.dcs.resize(info.frameValues());
    for (size_t i = 0; i < f.dcs.size(); ++i) f.dcs[i] = static_cast<uint16_t>((i * 7 + n) % 4096);
    return f;
}

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

class RecordingFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("ozr-recording-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        path = (dir / "rec.h5").string();
    }
    void TearDown() override { fs::remove_all(dir); }

    void write(uint32_t frames) {
        std::string error;
        auto w = RecordingWriter::create(path, info, error);
        ASSERT_TRUE(w) << error;
        for (uint32_t n = 0; n < frames; ++n)
            ASSERT_TRUE(w->append(pattern(info, n), error)) << error;
        ASSERT_TRUE(w->close(error)) << error;
    }

    fs::path dir;
    std::string path;
    RecordingInfo info = smallInfo();
};

TEST_F(RecordingFile, ReadsBackWhatWasWritten) {
    write(3);
    std::string error;
    auto r = RecordingReader::open(path, error);
    ASSERT_TRUE(r) << error;
    const RecordingInfo& got = r->info();
    EXPECT_EQ(got.model, info.model);
    EXPECT_EQ(got.mode, info.mode);
    EXPECT_EQ(got.width, info.width);
    EXPECT_EQ(got.height, info.height);
    EXPECT_EQ(got.modulationFrequencyHz, info.modulationFrequencyHz);
    EXPECT_EQ(got.exposureUs, info.exposureUs);
    EXPECT_EQ(got.gain, info.gain);
    EXPECT_EQ(got.hdrIntegrationTimesUs, info.hdrIntegrationTimesUs);
    EXPECT_EQ(got.libraryVersion, info.libraryVersion);
    ASSERT_EQ(r->frameCount(), 3u);
    for (uint32_t n = 0; n < 3; ++n) {
        RecordedFrame f;
        ASSERT_TRUE(r->read(n, f, error)) << error;
        const RecordedFrame want = pattern(info, n);
        EXPECT_EQ(f.frameNumber, want.frameNumber);
        EXPECT_EQ(f.timestampMs, want.timestampMs);
        EXPECT_EQ(f.temperatureC, want.temperatureC);
        EXPECT_EQ(f.dcs, want.dcs);
    }
    RecordedFrame f;
    EXPECT_FALSE(r->read(3, f, error));
    // The file's bytes in memory read the same.
    const std::string bytes = contents(path);
    auto image = RecordingReader::openImage(bytes.data(), bytes.size(), "image", error);
    ASSERT_TRUE(image) << error;
    ASSERT_EQ(image->frameCount(), 3u);
    ASSERT_TRUE(image->read(2, f, error)) << error;
    EXPECT_EQ(f.dcs, pattern(info, 2).dcs);
}

// A writer killed at an arbitrary point leaves every frame it completed.
TEST_F(RecordingFile, AWriterKilledMidwayLeavesItsCompleteFrames) {
    info.width = 320;
    info.height = 240;
    int done[2];
    ASSERT_EQ(pipe(done), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::string error;
        auto w = RecordingWriter::create(path, info, error);
        for (uint32_t n = 0; w && w->append(pattern(info, n), error); ++n) {
            if (::write(done[1], "x", 1) != 1) break;
        }
        _exit(1);
    }
    char c;
    for (int n = 0; n < 5; ++n) ASSERT_EQ(::read(done[0], &c, 1), 1);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(done[0]);
    close(done[1]);
    std::string error;
    auto r = RecordingReader::open(path, error);
    ASSERT_TRUE(r) << error;
    EXPECT_GE(r->frameCount(), 5u);
    for (uint64_t n = 0; n < r->frameCount(); ++n) {
        RecordedFrame f;
        ASSERT_TRUE(r->read(n, f, error)) << error;
        EXPECT_EQ(f.dcs, pattern(info, static_cast<uint32_t>(n)).dcs) << "frame " << n;
    }
}

// Raw HDF5 edits of a good recording.
void withFile(const std::string& path, const std::function<void(hid_t)>& edit) {
    const hid_t f = H5Fopen(path.c_str(), H5F_ACC_RDWR, H5P_DEFAULT);
    ASSERT_GE(f, 0);
    edit(f);
    H5Fclose(f);
}

void setIntAttr(hid_t f, const char* name, int64_t value) {
    const hid_t a = H5Aopen(f, name, H5P_DEFAULT);
    H5Awrite(a, H5T_NATIVE_INT64, &value);
    H5Aclose(a);
}

// Replaces a dataset with one of the given type and shape.
void replaceDataset(hid_t f, const char* name, hid_t type, int rank, const hsize_t* dims,
                    bool deflate = false) {
    H5Ldelete(f, name, H5P_DEFAULT);
    const hid_t space = H5Screate_simple(rank, dims, nullptr);
    const hid_t props = H5Pcreate(H5P_DATASET_CREATE);
    if (deflate) {
        H5Pset_chunk(props, rank, dims);
        H5Pset_deflate(props, 1);
    }
    H5Dclose(H5Dcreate2(f, name, type, space, H5P_DEFAULT, props, H5P_DEFAULT));
    H5Pclose(props);
    H5Sclose(space);
}

struct Damage {
    const char* name;
    std::function<void(const std::string& path)> apply;
    const char* message;  // part of the refusal
};

const hsize_t DCS_DIMS[4] = {3, 4, 6, 8};

const Damage DAMAGES[] = {
    {"NotHdf5",
     [](const std::string& p) { std::ofstream(p, std::ios::trunc) << "frame,dcs\n1,2\n"; },
     "not an HDF5 file"},
    {"Missing", [](const std::string& p) { fs::remove(p); }, "No such file"},
    {"Truncated", [](const std::string& p) { fs::resize_file(p, fs::file_size(p) / 2); },
     "damaged HDF5 file"},
    {"Foreign",
     [](const std::string& p) {
         const hid_t f = H5Fcreate(p.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
         replaceDataset(f, "x", H5T_NATIVE_FLOAT, 1, DCS_DIMS);
         H5Fclose(f);
     },
     "missing attribute \"format_version\""},
    {"MissingDataset",
     [](const std::string& p) {
         withFile(p, [](hid_t f) { H5Ldelete(f, "temperature_c", H5P_DEFAULT); });
     },
     "missing dataset \"temperature_c\""},
    {"MissingAttribute",
     [](const std::string& p) { withFile(p, [](hid_t f) { H5Adelete(f, "mode"); }); },
     "missing attribute \"mode\""},
    {"WrongType",
     [](const std::string& p) {
         withFile(p, [](hid_t f) { replaceDataset(f, "dcs", H5T_IEEE_F32LE, 4, DCS_DIMS); });
     },
     "\"dcs\" is not of type uint16"},
    {"SignedType",
     [](const std::string& p) {
         withFile(p, [](hid_t f) { replaceDataset(f, "dcs", H5T_STD_I16LE, 4, DCS_DIMS); });
     },
     "\"dcs\" is not of type uint16"},
    {"WrongRank",
     [](const std::string& p) {
         withFile(p,
                  [](hid_t f) { replaceDataset(f, "frame_number", H5T_STD_U32LE, 2, DCS_DIMS); });
     },
     "\"frame_number\" must have 1 dimension"},
    {"WrongAttributeType",
     [](const std::string& p) {
         withFile(p, [](hid_t f) {
             H5Adelete(f, "gain");
             const hid_t s = H5Screate(H5S_SCALAR);
             H5Aclose(H5Acreate2(f, "gain", H5T_IEEE_F64LE, s, H5P_DEFAULT, H5P_DEFAULT));
             H5Sclose(s);
         });
     },
     "attribute \"gain\" is not an integer"},
    {"InconsistentSize",
     [](const std::string& p) { withFile(p, [](hid_t f) { setIntAttr(f, "width", 9); }); },
     "the attributes say"},
    {"InconsistentDcsCount",
     [](const std::string& p) { withFile(p, [](hid_t f) { setIntAttr(f, "dcs_per_frame", 12); }); },
     "DCS images per frame"},
    {"OversizedImage",
     [](const std::string& p) { withFile(p, [](hid_t f) { setIntAttr(f, "height", 5000); }); },
     "out of range"},
    {"FutureFormat",
     [](const std::string& p) { withFile(p, [](hid_t f) { setIntAttr(f, "format_version", 2); }); },
     "format version 2"},
    {"Compressed",
     [](const std::string& p) {
         withFile(p, [](hid_t f) { replaceDataset(f, "dcs", H5T_STD_U16LE, 4, DCS_DIMS, true); });
     },
     "stored in a way"},
};

class DamagedRecording : public RecordingFile, public ::testing::WithParamInterface<Damage> {};

TEST_P(DamagedRecording, IsRefusedWithAMessage) {
    write(3);
    GetParam().apply(path);
    std::string error;
    EXPECT_FALSE(RecordingReader::open(path, error));
    EXPECT_NE(error.find(GetParam().message), std::string::npos) << error;
    EXPECT_NE(error.find(path), std::string::npos) << error;
    if (fs::exists(path)) {
        // Refused alike from memory.
        const std::string bytes = contents(path);
        EXPECT_FALSE(RecordingReader::openImage(bytes.data(), bytes.size(), path, error));
        EXPECT_NE(error.find(GetParam().message), std::string::npos) << error;
    }
}

INSTANTIATE_TEST_SUITE_P(Each, DamagedRecording, ::testing::ValuesIn(DAMAGES),
                         [](const auto& info) { return std::string(info.param.name); });

// Damage inside the data only shows when a frame is read.
TEST_F(RecordingFile, ValuesBeyondTwelveBitsOrShortSeriesAreCaughtAtReading) {
    write(3);
    withFile(path, [](hid_t f) {
        const hid_t set = H5Dopen2(f, "dcs", H5P_DEFAULT);
        const hid_t space = H5Dget_space(set);
        const hsize_t at[4] = {1, 2, 3, 4};
        H5Sselect_elements(space, H5S_SELECT_SET, 1, at);
        const hsize_t one = 1;
        const hid_t mem = H5Screate_simple(1, &one, nullptr);
        const uint16_t big = 0xfff0;
        H5Dwrite(set, H5T_NATIVE_UINT16, mem, space, H5P_DEFAULT, &big);
        H5Sclose(mem);
        H5Sclose(space);
        H5Dclose(set);
        // The temperatures end one frame early, as after a cut.
        const hid_t t = H5Dopen2(f, "temperature_c", H5P_DEFAULT);
        const hsize_t two = 2;
        H5Dset_extent(t, &two);
        H5Dclose(t);
    });
    std::string error;
    auto r = RecordingReader::open(path, error);
    ASSERT_TRUE(r) << error;
    EXPECT_EQ(r->frameCount(), 2u);
    RecordedFrame f;
    EXPECT_TRUE(r->read(0, f, error)) << error;
    EXPECT_FALSE(r->read(1, f, error));
    EXPECT_NE(error.find("65520 is not a 12-bit sample"), std::string::npos) << error;
}

// Frames the file has no room for are not recorded, however many the
// datasets claim: the reader neither counts nor allocates for them.
TEST_F(RecordingFile, FramesBeyondTheFileSizeAreNotCounted) {
    write(3);
    const struct {
        const char* name;
        int rank;
    } sets[] = {{"dcs", 4}, {"frame_number", 1}, {"timestamp_ms", 1}, {"temperature_c", 1}};
    withFile(path, [&sets](hid_t f) {
        for (const auto& s : sets) {
            const hid_t set = H5Dopen2(f, s.name, H5P_DEFAULT);
            ASSERT_GE(set, 0) << s.name;
            hsize_t dims[4] = {};
            const hid_t space = H5Dget_space(set);
            H5Sget_simple_extent_dims(space, dims, nullptr);
            H5Sclose(space);
            dims[0] = hsize_t{1} << 30;  // chunks never written
            EXPECT_GE(H5Dset_extent(set, dims), 0) << s.name;
            H5Dclose(set);
        }
    });
    ASSERT_LT(fs::file_size(path), 1u << 20);
    std::string error;
    auto r = RecordingReader::open(path, error);
    ASSERT_TRUE(r) << error;
    EXPECT_GE(r->frameCount(), 3u);
    EXPECT_LT(r->frameCount(), fs::file_size(path));
    std::vector<float> celsius;
    EXPECT_TRUE(r->readTemperatures(celsius, error)) << error;
    EXPECT_EQ(celsius.size(), r->frameCount());
}

// A file the HDF5 library itself does not survive: the layout message
// (version 3, chunked) of a 1-D dataset chunked by 256 claims 0 dimensions,
// and opening the dataset divides by zero.
const Damage FATAL_TO_HDF5 = {"FatalToHdf5",
                              [](const std::string& p) {
                                  std::string bytes = contents(p);
                                  const std::string layout = {3, 2, 2};
                                  const std::string chunk = {0, 1, 0, 0};
                                  for (size_t at = bytes.find(layout); at != std::string::npos;
                                       at = bytes.find(layout, at + 1)) {
                                      if (bytes.compare(at + 11, chunk.size(), chunk) == 0) {
                                          bytes[at + 2] = 0;
                                          std::ofstream(p, std::ios::binary | std::ios::trunc)
                                              << bytes;
                                          return;
                                      }
                                  }
                                  FAIL() << "no chunked 1-D layout found";
                              },
                              "damaged beyond what the HDF5 library survives"};

TEST_F(RecordingFile, FatalDamageIsRefusedFromAChildProcess) {
    write(3);
    std::string error;
    EXPECT_TRUE(RecordingReader::checkInChild(path, error)) << error;
    FATAL_TO_HDF5.apply(path);
    EXPECT_FALSE(RecordingReader::checkInChild(path, error));
    EXPECT_NE(error.find(FATAL_TO_HDF5.message), std::string::npos) << error;
}

// A damaged file (found by fuzzing) on which the HDF5 library allocates
// without end while looking up a dataset: the check's memory is bounded, so
// it is refused instead of taking the machine's memory.
TEST_F(RecordingFile, ACheckThatAllocatesWithoutEndIsRefused) {
    std::string error;
    EXPECT_FALSE(RecordingReader::checkInChild(
        std::string(OZR_RECORDING_TEST_DATA) + "/allocates_without_end.h5", error));
    EXPECT_NE(error.find("allocates_without_end.h5"), std::string::npos) << error;
}

// The launcher refuses such files before it runs the program.
TEST_F(RecordingFile, OzrSimRefusesADamagedRecording) {
    for (const Damage& d : {DAMAGES[0], DAMAGES[4], FATAL_TO_HDF5}) {
        write(3);
        d.apply(path);
        const std::string err = (dir / "stderr").string();
        const std::string command = std::string(OZR_SIM_LAUNCHER) + " --replay " + path +
                                    " -- /bin/echo ran > /dev/null 2> " + err;
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 2) << d.name;
        const std::string text = contents(err);
        EXPECT_NE(text.find(std::string("ozr-sim: recording ") + path), std::string::npos) << text;
        EXPECT_NE(text.find(d.message), std::string::npos) << text;
    }
}

}  // namespace
