// ozr-capture run under ozr-sim as a user runs it: exit status and messages
// of bad options and refused controls, the statistics lines, the PNG files
// read back with libpng, the preview's legend, and Ctrl-C.
#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct Result {
    int status = -1;
    std::string out, err;
};

class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("ozr_capture_test_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Starts `ozr-sim SIM -- ozr-capture ARGS` in a process group of its own
    // with stdout and stderr in files.
    pid_t start(const std::vector<std::string>& sim, const std::vector<std::string>& args) {
        std::vector<std::string> argv = {OZR_SIM_LAUNCHER};
        argv.insert(argv.end(), sim.begin(), sim.end());
        argv.push_back("--");
        argv.push_back(OZR_CAPTURE);
        argv.insert(argv.end(), args.begin(), args.end());
        const pid_t pid = fork();
        if (pid == 0) {
            setpgid(0, 0);
            std::freopen((dir_ / "stdout").c_str(), "w", stdout);
            std::freopen((dir_ / "stderr").c_str(), "w", stderr);
            std::vector<char*> c;
            for (auto& a : argv) c.push_back(a.data());
            c.push_back(nullptr);
            execv(c[0], c.data());
            _exit(127);
        }
        return pid;
    }
    Result finish(pid_t pid) {
        Result r;
        int status = 0;
        waitpid(pid, &status, 0);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        r.out = read(dir_ / "stdout");
        r.err = read(dir_ / "stderr");
        return r;
    }
    Result run(const std::vector<std::string>& sim, const std::vector<std::string>& args) {
        return finish(start(sim, args));
    }
    static std::string read(const fs::path& p) {
        std::ifstream f(p);
        return {std::istreambuf_iterator<char>(f), {}};
    }
    fs::path dir_;
};

std::vector<json> jsonLines(const std::string& text) {
    std::vector<json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(json::parse(line));
    return lines;
}

struct Png {
    uint32_t width = 0, height = 0;
    int channels = 0;
    std::vector<uint16_t> samples;  // row-major, channels per pixel
    std::map<std::string, std::string> text;
};

// Reads a PNG as it is stored (no conversion); fails the test on an error.
Png readPng(const fs::path& path) {
    Png p;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    EXPECT_NE(f, nullptr) << path;
    if (!f) return p;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        ADD_FAILURE() << "libpng cannot read " << path;
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(f);
        return Png{};
    }
    png_init_io(png, f);
    png_read_info(png, info);
    p.width = png_get_image_width(png, info);
    p.height = png_get_image_height(png, info);
    p.channels = png_get_channels(png, info);
    const int depth = png_get_bit_depth(png, info);
    std::vector<uint8_t> bytes(png_get_rowbytes(png, info) * p.height);
    std::vector<png_bytep> rows(p.height);
    for (uint32_t y = 0; y < p.height; ++y)
        rows[y] = bytes.data() + y * png_get_rowbytes(png, info);
    png_read_image(png, rows.data());
    png_textp text = nullptr;
    int n = 0;
    png_get_text(png, info, &text, &n);
    for (int i = 0; i < n; ++i) p.text[text[i].key] = text[i].text;
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    for (size_t i = 0; i < bytes.size(); i += depth / 8) {
        p.samples.push_back(depth == 16 ? uint16_t(bytes[i] << 8 | bytes[i + 1]) : bytes[i]);
    }
    return p;
}

uint16_t median(std::vector<uint16_t> v) {
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

const std::vector<std::string> SIM = {"--scene", "boxes", "--calibration"};

TEST_F(CaptureTest, UsageErrorsExitWithTwoAndSayWhy) {
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--model", "ozr999"}, "--model"},
        {{"--mode", "fast"}, "--mode"},
        {{"--frames", "-3"}, "--frames: expected a whole number, 0 or more, not \"-3\""},
        {{"--frames", "1.5"}, "--frames: expected a whole number, 0 or more"},
        {{"--frames", "99999999999999999999999"}, "expected a whole number, 0 or more"},
        {{"--frames", "ten"}, "expected a whole number, 0 or more"},
        {{"--bogus"}, "--bogus"},
        {{"--set", "GAIN"}, "NAME=VALUE"},
        {{"--set", "gain=loud"}, "not an integer"},
        {{"--set", "ACQUISITION_MODE=1"}, "--mode"},
        {{"--set", "NO_SUCH_CONTROL=1"},
         "unknown control \"NO_SUCH_CONTROL\"; valid names: GAIN, "},
        {{"--set", "NO_SUCH_CONTROL=1"}, "EDGE_FILTER_THRESHOLD"},
        {{"--preview"}, "--out"},
        {{"--out", "x", "--every", "0"}, "--every: expected a whole number, 1 or more"},
        {{"--out", "x", "--every", "-1"}, "--every: expected a whole number, 1 or more"},
        {{"--mode", "dcs4", "--out", "x", "--preview"}, "dist-amp and hdr"},
        {{"--ply"}, "--out"},
        {{"--mode", "grayscale", "--out", "x", "--ply"}, "dist-amp and hdr"},
    };
    for (const auto& c : cases) {
        const Result r = run(SIM, c.args);
        EXPECT_EQ(r.status, 2) << c.args[0] << " " << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        // Words, not the limits of a floating-point type.
        EXPECT_FALSE(std::regex_search(r.err, std::regex("[0-9]{30}|e\\+[0-9]{2}"))) << r.err;
        EXPECT_EQ(r.out, "");
    }
    const Result help = run(SIM, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("radians = value * 2 pi / 65535"), std::string::npos);
}

// The launcher refuses a device format it cannot serve instead of falling
// back to the model's, for a run and for "calibrate" alike.
TEST_F(CaptureTest, LauncherRefusesBadSizesWithTwo) {
    const std::string calibrate = (dir_ / "cal").string();
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--width", "0", "--", "true"},
         "--width \"0\": expected an even whole number from 2 to 2048"},
        {{"--width", "99999", "--", "true"}, "--width \"99999\": expected an even"},
        {{"--height", "33", "--", "true"}, "--height \"33\": expected an even"},
        {{"--height=4096", "--", "true"}, "--height \"4096\""},
        {{"--height", "1", "--", "true"}, "--height \"1\""},
        {{"--width", "-32", "--", "true"}, "--width \"-32\""},
        {{"--width", "32px", "--", "true"}, "--width \"32px\""},
        {{"--width", "99999999999999999999", "--", "true"}, "expected an even whole number"},
        {{"--width=", "--", "true"}, "--width \"\""},
        {{"calibrate", calibrate, "--width", "641"}, "--width \"641\""},
        {{"calibrate", calibrate, "--height", "0"}, "--height \"0\""},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv = {OZR_SIM_LAUNCHER};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        std::string command;
        for (const std::string& a : argv) command += "'" + a + "' ";
        const std::string err = (dir_ / "stderr").string();
        const int status = std::system((command + ">/dev/null 2>'" + err + "'").c_str());
        ASSERT_TRUE(WIFEXITED(status)) << command;
        EXPECT_EQ(WEXITSTATUS(status), 2) << command;
        EXPECT_NE(read(err).find(c.message), std::string::npos) << command << ": " << read(err);
    }
    EXPECT_FALSE(fs::exists(calibrate));
    // Sizes within the limits are served; one side alone keeps the other's
    // default.
    Result r =
        run({"--width", "32", "--height", "24", "--calibration"}, {"--frames", "1", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(jsonLines(r.out).at(0).at("width"), 32);
    EXPECT_EQ(jsonLines(r.out).at(0).at("height"), 24);
    r = run({"--width", "64", "--calibration"}, {"--frames", "1", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(jsonLines(r.out).at(0).at("width"), 64);
    EXPECT_EQ(jsonLines(r.out).at(0).at("height"), 240);
}

TEST_F(CaptureTest, CameraFailuresExitWithOneAndTheLibrarysMessage) {
    Result r = run(SIM, {"--set", "gain=99"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("refused GAIN=99: Failed to set control 0"), std::string::npos) << r.err;
    r = run({"--model", "ozr310"}, {"--model", "ozr320"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("ozr-capture: cannot open the camera: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Failed to acquire V4L2 sensor (-22)"), std::string::npos) << r.err;
}

TEST_F(CaptureTest, ListControlsShowsTheValuesOfTheChosenMode) {
    const struct {
        std::vector<std::string> args;
        std::string control;
        json value;  // null: not available
    } cases[] = {
        {{"--set", "min_amplitude=40"}, "MIN_AMPLITUDE", 40},
        {{"--mode", "hdr", "--set", "HDR_INTEGRATION_TIME2_US=700"},
         "HDR_INTEGRATION_TIME2_US",
         700},
        {{"--mode", "grayscale"}, "MIN_AMPLITUDE", nullptr},
        {{"--mode", "grayscale", "--set", "ENABLE_GRAYSCALE_PRNU_COMPENSATION=off"},
         "ENABLE_GRAYSCALE_PRNU_COMPENSATION",
         0},
        {{}, "ENABLE_GRAYSCALE_DSNU_COMPENSATION", nullptr},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back("--list-controls");
        Result r = run(SIM, args);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string expected =
            c.value.is_null() ? "not available in this mode" : std::to_string(c.value.get<int>());
        const size_t at = r.out.find(c.control + " ");
        ASSERT_NE(at, std::string::npos) << r.out;
        const std::string line = r.out.substr(at, r.out.find('\n', at) - at);
        EXPECT_EQ(line.substr(line.find_last_of(' ', line.size() - expected.size() - 1) + 1),
                  expected)
            << line;
        args.push_back("--json");
        r = run(SIM, args);
        EXPECT_EQ(json::parse(r.out).at(c.control), c.value);
    }
}

// Every image of every written frame, read back, gives the statistics that
// the tool printed for that frame.
TEST_F(CaptureTest, PngFilesHoldTheFramesThatTheStatisticsDescribe) {
    const struct {
        std::string mode;
        std::vector<std::string> images;
        bool single;
    } cases[] = {
        {"dist-amp", {"distance", "amplitude", "phase", "dcs0", "dcs1", "dcs2", "dcs3"}, false},
        {"hdr", {"distance", "amplitude", "phase", "dcs0", "dcs11"}, true},
        {"grayscale", {"grayscale"}, true},
        {"dcs4", {"dcs0", "dcs1", "dcs2", "dcs3"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        const fs::path out = dir_ / c.mode;
        std::vector<std::string> args = {"--mode", c.mode,  "--frames",   "4",     "--every",
                                         "2",      "--out", out.string(), "--json"};
        if (c.single) args.push_back("--single");
        const Result r = run(SIM, args);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<json> lines = jsonLines(r.out);
        ASSERT_EQ(lines.size(), 4u);
        EXPECT_EQ(lines[0].at("mode"), c.mode);
        size_t files = 0;
        for (const json& frame : lines) {
            char stem[32];
            std::snprintf(stem, sizeof stem, "frame-%06u-", frame.at("frame").get<unsigned>());
            const bool written = frame.at("frame").get<unsigned>() % 2 == 0;
            std::map<std::string, Png> png;
            for (const std::string& image : c.images) {
                const fs::path path = out / (stem + image + ".png");
                ASSERT_EQ(fs::exists(path), written) << path;
                if (!written) continue;
                png[image] = readPng(path);
                EXPECT_EQ(png[image].width, frame.at("width"));
                EXPECT_EQ(png[image].height, frame.at("height"));
                EXPECT_EQ(png[image].channels, 1);
            }
            if (!written) continue;
            ++files;
            const size_t n = png.begin()->second.samples.size();
            if (png.count("distance")) {
                std::vector<uint16_t> valid, amplitude;
                const auto& d = png["distance"].samples;
                const auto& a = png["amplitude"].samples;
                for (size_t i = 0; i < n; ++i) {
                    if (d[i] < 64000) valid.push_back(d[i]);
                    if (d[i] < 64000 && a[i] < 64000) amplitude.push_back(a[i]);
                }
                EXPECT_DOUBLE_EQ(frame.at("valid_percent"), 100.0 * valid.size() / n);
                EXPECT_EQ(frame.at("median_distance_mm"), median(valid));
                EXPECT_EQ(frame.at("median_amplitude"), median(amplitude));
                const size_t centre = frame.at("height").get<size_t>() / 2 * png["distance"].width +
                                      png["distance"].width / 2;
                EXPECT_EQ(frame.at("centre_distance_mm"), d[centre]);
                const auto [lo, hi] =
                    std::minmax_element(png["phase"].samples.begin(), png["phase"].samples.end());
                EXPECT_LT(*lo, *hi / 2) << "the phase spreads over the scene's depths";
            } else if (png.count("grayscale")) {
                EXPECT_EQ(frame.at("median_grayscale"), median(png["grayscale"].samples));
            } else {
                for (size_t k = 0; k < 4; ++k) {
                    EXPECT_EQ(frame.at("dcs_median")[k],
                              median(png["dcs" + std::to_string(k)].samples));
                }
            }
        }
        EXPECT_EQ(files, 2u);
    }
}

// Each coded pixel of the distance image appears in the preview in the
// colour the legend names for its code, and the legend shows each colour.
TEST_F(CaptureTest, PreviewShowsCodesInTheLegendsColours) {
    const Result r = run(SIM, {"--frames", "1", "--out", dir_.string(), "--preview", "--set",
                               "EDGE_FILTER_ENABLE=on", "--quiet"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Png distance = readPng(dir_ / "frame-000001-distance.png");
    const Png preview = readPng(dir_ / "frame-000001-distance-preview.png");
    ASSERT_EQ(preview.channels, 3);
    ASSERT_EQ(preview.width % distance.width, 0u);
    const uint32_t scale = preview.width / distance.width;
    ASSERT_GT(preview.height, distance.height * scale) << "room for the legend";
    std::map<uint16_t, uint32_t> colours;  // code -> 0xRRGGBB
    std::istringstream legend(preview.text.at("Legend"));
    for (std::string entry; std::getline(legend, entry, ';');) {
        unsigned code = 0, rgb = 0;
        const size_t hash = entry.find('#');
        if (std::sscanf(entry.c_str(), "%u", &code) == 1 && hash != std::string::npos) {
            std::sscanf(entry.c_str() + hash + 1, "%x", &rgb);
            colours[static_cast<uint16_t>(code)] = rgb;
        }
    }
    ASSERT_EQ(colours.size(), 6u) << preview.text.at("Legend");
    auto colourAt = [&](uint32_t x, uint32_t y) {
        const size_t i = (size_t{y} * preview.width + x) * 3;
        return uint32_t(preview.samples[i] << 16 | preview.samples[i + 1] << 8 |
                        preview.samples[i + 2]);
    };
    std::map<uint16_t, size_t> seen;
    for (uint32_t y = 0; y < distance.height; ++y) {
        for (uint32_t x = 0; x < distance.width; ++x) {
            const uint16_t d = distance.samples[size_t{y} * distance.width + x];
            const uint32_t shown = colourAt(x * scale + scale / 2, y * scale + scale / 2);
            if (d >= 64000) {
                ASSERT_EQ(shown, colours.at(d)) << "code " << d << " at " << x << "," << y;
                ++seen[d];
            } else {
                for (const auto& [code, rgb] : colours) ASSERT_NE(shown, rgb) << x << "," << y;
            }
        }
    }
    // The boxes scene has dark (64001) and saturating (64003) patches and,
    // with the edge filter, box borders (64006).
    for (uint16_t code : {64001, 64003, 64006}) EXPECT_GT(seen[code], 0u) << code;
    for (const auto& [code, rgb] : colours) {
        bool inLegend = false;
        for (uint32_t y = distance.height * scale; y < preview.height && !inLegend; ++y) {
            for (uint32_t x = 0; x < preview.width && !inLegend; ++x)
                inLegend = colourAt(x, y) == rgb;
        }
        EXPECT_TRUE(inLegend) << "legend swatch of " << code;
    }
}

TEST_F(CaptureTest, ReportedTruthMatchesTheCalibratedCentre) {
    std::vector<std::string> sim = SIM;
    sim.push_back("--report-truth");
    const Result r = run(sim, {"--frames", "5", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    float centre = 0, med = 0;
    const size_t at = r.err.find("ozr-sim: true distance of the last frame: ");
    ASSERT_NE(at, std::string::npos) << r.err;
    ASSERT_EQ(std::sscanf(r.err.c_str() + at,
                          "ozr-sim: true distance of the last frame: centre "
                          "%f mm, median %f mm",
                          &centre, &med),
              2);
    const json last = jsonLines(r.out).back();
    EXPECT_NEAR(last.at("centre_distance_mm").get<double>(), centre, 20.0);
    EXPECT_NEAR(last.at("median_distance_mm").get<double>(), med, 0.05 * med);
}

// --ply: binary little-endian PLY with one vertex per measured pixel, in
// pixel order, each at the true point of its pixel within the noise and with
// the pixel's amplitude; without a lens in the calibration, a camera failure.
TEST_F(CaptureTest, PlyFilesHoldThePointsOfTheMeasuredPixels) {
    const Result none = run({"--scene", "tilted"}, {"--frames", "1", "--out", dir_, "--ply"});
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("--ply needs a lens in the calibration"), std::string::npos)
        << none.err;
    const Result r =
        run({"--scene", "tilted", "--calibration", "--report-truth", "--truth-pixel", "40,30"},
            {"--frames", "2", "--every", "2", "--out", dir_, "--ply"});
    ASSERT_EQ(r.status, 0) << r.err;
    float truth[4] = {};
    const size_t at = r.err.find("ozr-sim: true point of pixel 40,30: ");
    ASSERT_NE(at, std::string::npos) << r.err;
    ASSERT_EQ(std::sscanf(r.err.c_str() + at,
                          "ozr-sim: true point of pixel 40,30: distance %f mm, x %f y %f z %f mm",
                          &truth[0], &truth[1], &truth[2], &truth[3]),
              4);
    EXPECT_FALSE(fs::exists(dir_ / "frame-000001-points.ply"));
    const Png distance = readPng(dir_ / "frame-000002-distance.png");
    const Png amplitude = readPng(dir_ / "frame-000002-amplitude.png");
    std::ifstream ply(dir_ / "frame-000002-points.ply", std::ios::binary);
    std::string line, header;
    size_t vertices = 0;
    while (std::getline(ply, line) && line != "end_header") {
        header += line + "\n";
        std::sscanf(line.c_str(), "element vertex %zu", &vertices);
    }
    EXPECT_EQ(header.rfind("ply\nformat binary_little_endian 1.0\n", 0), 0u) << header;
    EXPECT_NE(header.find("property float x\nproperty float y\nproperty float z\n"
                          "property ushort amplitude\n"),
              std::string::npos);
    const std::vector<char> body{std::istreambuf_iterator<char>(ply), {}};
    ASSERT_EQ(body.size(), vertices * 14);
    size_t point = 0;
    for (size_t i = 0; i < distance.samples.size(); ++i) {
        if (distance.samples[i] >= 64000) continue;
        if (i == 30 * distance.width + 40) {
            float xyz[3];
            uint16_t a = 0;
            std::memcpy(xyz, &body[point * 14], sizeof xyz);
            std::memcpy(&a, &body[point * 14 + 12], sizeof a);
            for (int c = 0; c < 3; ++c) EXPECT_NEAR(xyz[c], truth[1 + c], 30.0) << c;
            EXPECT_NEAR(std::sqrt(xyz[0] * xyz[0] + xyz[1] * xyz[1] + xyz[2] * xyz[2]),
                        distance.samples[i], 0.5);
            EXPECT_EQ(a, amplitude.samples[i]);
        }
        ++point;
    }
    EXPECT_EQ(point, vertices);
    EXPECT_GT(vertices, distance.samples.size() / 2);
}

// Ctrl-C reaches the whole process group, as from a terminal: the stream
// stops, the files of the frames reported are complete, the status is 0.
TEST_F(CaptureTest, InterruptStopsCleanlyWithCompleteFiles) {
    const pid_t pid = start(SIM, {"--frames", "0", "--out", dir_.string()});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (std::string out; std::count(out.begin(), out.end(), '\n') < 4 &&
                          std::chrono::steady_clock::now() < deadline;
         out = read(dir_ / "stdout")) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(-pid, SIGINT);
    const Result r = finish(pid);
    EXPECT_EQ(r.status, 0) << r.err;
    const size_t at = r.out.rfind("interrupted after ");
    ASSERT_NE(at, std::string::npos) << r.out;
    const int frames = std::atoi(r.out.c_str() + at + 18);
    EXPECT_GE(frames, 3);
    for (int f = 1; f <= frames; ++f) {
        char name[48];
        std::snprintf(name, sizeof name, "frame-%06d-distance.png", f);
        EXPECT_EQ(readPng(dir_ / name).width, 320u) << name;
    }
}

}  // namespace
