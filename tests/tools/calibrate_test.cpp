// ozr-calibrate run as a user runs it, on a virtual unit of its own seed:
// the whole procedure from simulated captures only (the tool reads no
// truth), then the derived calibration against the truth-written one of the
// same unit: the records themselves, and the camera's accuracy with either
// on the "boxes" and "tilted" scenes and the flatness of a grayscale field.
// Also the refusals of data that cannot give a sound result.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <numeric>
#include <string>
#include <vector>

#include "ozr/calibration.h"
#include "ozr/camera/cameraTestUtil.h"
#include "ozr/pointCloud.h"
#include "scene_model.h"

namespace {

namespace fs = std::filesystem;
using camtest::Spread;
using camtest::spreadOf;
using nlohmann::json;
using ozr::ControlID;
using ozr::FrameType;

constexpr uint64_t SEED = 23;  // the unit
constexpr double WALL_MM = 1500;

struct Result {
    int status = -1;
    std::string out, err;
};

std::string slurp(const fs::path& p) {
    std::ifstream f(p);
    return {std::istreambuf_iterator<char>(f), {}};
}

// `ozr-sim SIM -- ozr-calibrate ARGS`, output in files under `scratch`.
Result run(const fs::path& scratch, const std::vector<std::string>& sim,
           const std::vector<std::string>& args) {
    std::vector<std::string> argv = {OZR_SIM_LAUNCHER, "--seed", std::to_string(SEED)};
    argv.insert(argv.end(), sim.begin(), sim.end());
    argv.push_back("--");
    argv.push_back(OZR_CALIBRATE);
    argv.insert(argv.end(), args.begin(), args.end());
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = fork();
    if (pid == 0) {
        std::freopen((scratch / "stdout").c_str(), "w", stdout);
        std::freopen((scratch / "stderr").c_str(), "w", stderr);
        std::vector<char*> c;
        for (auto& a : argv) c.push_back(a.data());
        c.push_back(nullptr);
        execv(c[0], c.data());
        _exit(127);
    }
    Result r;
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = slurp(scratch / "stdout");
    r.err = slurp(scratch / "stderr");
    return r;
}

std::vector<uint16_t> words(const fs::path& p) {
    const std::string b = [&] {
        std::ifstream f(p, std::ios::binary);
        return std::string{std::istreambuf_iterator<char>(f), {}};
    }();
    std::vector<uint16_t> w(b.size() / 2);
    for (size_t i = 0; i < w.size(); ++i) {
        w[i] = static_cast<uint16_t>(static_cast<unsigned char>(b[2 * i]) |
                                     static_cast<unsigned char>(b[2 * i + 1]) << 8);
    }
    return w;
}

// Signed difference of two raw phases around the circle.
int rawDifference(uint16_t a, uint16_t b) {
    const int d = (static_cast<int>(a) - static_cast<int>(b)) & 0xFFFF;
    return d >= 32768 ? d - 65536 : d;
}

class OzrCalibrate : public camtest::CameraOnSim {
protected:
    void SetUp() override {
        scratch = fs::temp_directory_path() /
                  ("ozr_calibrate_test_" + std::to_string(getpid()) + "_" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(scratch);
        fs::create_directories(scratch);
        uint32_t w = 0, h = 0;
        ozrsim::defaultFormat(GetParam(), w, h);
        ASSERT_EQ(ozrsim::writeCalibration((scratch / "truth").string(), GetParam(), w, h, SEED),
                  0);
        // The lens comes from the lens calibration, a procedure of its own.
        const json truth = json::parse(slurp(scratch / "truth" / "calibration_info.json"));
        std::ofstream(scratch / "lens.json") << json{{"lens", truth.at("lens")}}.dump();
    }
    void TearDown() override {
        camtest::CameraOnSim::TearDown();
        fs::remove_all(scratch);
    }
    std::string model() const { return GetParam() == ozrsim::Model::OZR310 ? "ozr310" : "ozr320"; }
    std::vector<std::string> sim(std::vector<std::string> more) const {
        more.insert(more.begin(), {"--model", model()});
        return more;
    }
    fs::path scratch;
};

TEST_P(OzrCalibrate, RefusesDataThatCannotGiveASoundResult) {
    const std::string out = (scratch / "out").string();
    const std::string lens = (scratch / "lens.json").string();
    const struct {
        const char* what;
        std::vector<std::string> sim, args;
        const char* message;
    } cases[] = {
        {"wall in the dark",
         {"--dark"},
         {"phase-offset", "--distance-mm", "1500", "--lens", lens, "--out", out},
         "see enough light"},
        {"wall that saturates",
         {"--wall-mm", "250", "--reflectivity", "1"},
         {"phase-offset", "--distance-mm", "250", "--lens", lens, "--out", out},
         "saturate"},
        {"no lens", {}, {"phase-offset", "--distance-mm", "1500", "--out", out}, "no lens"},
        {"delay line too short", {}, {"lut", "--frequencies", "10", "--out", out}, "covers only"},
        {"too few frames per step", {}, {"lut", "--steps", "10", "--out", out}, "--steps"},
        {"flat field without dark offsets",
         {"--scene", "uniform"},
         {"grayscale", "--flat", "--out", out},
         "needs the dark offsets first"},
        {"dark frames that are lit",
         {"--scene", "uniform"},
         {"grayscale", "--dark", "--out", out},
         "not dark"},
        // Images that come too late end the stream: the warm-up starts it
        // again and goes on.
        {"temperature that does not change, some images late",
         {"--temp-tau", "0", "--fail-ioctl", "DQBUF:ETIMEDOUT:20:2"},
         {"temperature", "--seconds", "5", "--out", out},
         "changed by only"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(out);
        const Result r = run(scratch, sim(c.sim), c.args);
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(fs::path(out) / "calibration_info.json"));
    }
    // A directory with other files, and a step done before, are kept
    // unless --force.
    fs::remove_all(out);
    fs::create_directories(out);
    std::ofstream(fs::path(out) / "notes.txt") << "mine";
    Result r = run(scratch, sim({"--dark"}), {"grayscale", "--dark", "--out", out});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--force"), std::string::npos) << r.err;
    fs::remove(fs::path(out) / "notes.txt");
    ASSERT_EQ(run(scratch, sim({"--dark"}), {"grayscale", "--dark", "--out", out}).status, 0);
    const std::string written = slurp(fs::path(out) / "dsnu.bin");
    r = run(scratch, sim({"--dark"}), {"grayscale", "--dark", "--out", out});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--force"), std::string::npos) << r.err;
    EXPECT_EQ(slurp(fs::path(out) / "dsnu.bin"), written);
    EXPECT_EQ(
        run(scratch, sim({"--dark"}), {"grayscale", "--dark", "--force", "--out", out}).status, 0);
    // Captures that time out twice in a row are taken again; a camera that
    // stays silent is refused with the library's reason.
    for (const auto& [fault, status] :
         {std::pair{"DQBUF:ETIMEDOUT:50:2", 0}, std::pair{"DQBUF:ETIMEDOUT:50:1000", 1}}) {
        r = run(scratch, sim({"--dark", "--fail-ioctl", fault}),
                {"grayscale", "--dark", "--force", "--out", out});
        EXPECT_EQ(r.status, status) << fault << "\n" << r.err;
        if (status != 0) {
            EXPECT_NE(r.err.find("Timeout"), std::string::npos) << r.err;
        }
    }
}

// Per region: mean error and spread of the calibrated distance against the
// truth, over FRAMES frames.
struct Region {
    std::string name;
    // `column`: the pixel's horizontal position in the image, 0 to 1.
    std::function<bool(double column, double distanceMm)> contains;
};

TEST_P(OzrCalibrate, DerivedCalibrationMatchesTheTruthWritten) {
    const fs::path derived = scratch / "derived", truthDir = scratch / "truth";
    const std::string out = derived.string(), lens = (scratch / "lens.json").string();
    const std::string wall = std::to_string(static_cast<int>(WALL_MM));

    // The procedure as the README gives it, timed.
    const auto start = std::chrono::steady_clock::now();
    const struct {
        std::vector<std::string> sim, args;
    } steps[] = {
        {{"--wall-mm", wall, "--temp-tau", "0"}, {"lut", "--frequencies", "20,40", "--out", out}},
        {{"--wall-mm", wall, "--temp-tau", "0"},
         {"phase-offset", "--distance-mm", wall, "--lens", lens, "--frequencies", "20,40", "--out",
          out}},
        {{"--scene", "uniform", "--dark", "--temp-tau", "0"},
         {"grayscale", "--dark", "--out", out}},
        {{"--scene", "uniform", "--temp-tau", "0"}, {"grayscale", "--flat", "--out", out}},
        // A frame reaches the tool some tens of milliseconds after its
        // exposure (more on a loaded machine), while the die temperature is
        // read when the frame arrives: the warm-up must be slow against that
        // latency, or the slope comes out too steep by exp(latency / tau).
        {{"--wall-mm", wall, "--temp-tau", "20"},
         {"temperature", "--seconds", "10", "--frequencies", "20", "--out", out}},
        {{"--wall-mm", wall, "--temp-tau", "0"},
         {"verify", "--distance-mm", wall, "--frequencies", "20,30,40", "--out", out}},
    };
    for (const auto& s : steps) {
        const Result r = run(scratch, sim(s.sim), s.args);
        ASSERT_EQ(r.status, 0) << s.args[0] << "\n" << r.out << r.err;
        std::printf("%s", r.out.c_str());
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("[ procedure ] the whole calibration took %.1f s on the virtual sensor\n", seconds);

    // The records against the truth.
    const json index = json::parse(slurp(derived / "calibration_info.json"));
    for (uint32_t hz : {20000000u, 40000000u}) {
        const std::string mhz = std::to_string(hz / 1000000) + "MHz";
        const double mmPerRaw = ozrsim::kSpeedOfLightMps * 1e3 / (2.0 * hz) / 65536.0;
        for (const char* kind : {"phase_offset_", "phase_error_lut_"}) {
            const auto d = words(derived / (kind + mhz + ".bin"));
            const auto t = words(truthDir / (kind + mhz + ".bin"));
            ASSERT_EQ(d.size(), t.size()) << kind << mhz;
            std::vector<double> diff;
            for (size_t i = 0; i < d.size(); ++i)
                diff.push_back(rawDifference(d[i], t[i]) * mmPerRaw);
            const Spread s = spreadOf(diff);
            std::printf(
                "[ records ] %s%s derived - truth: mean %+.3f mm, rms %.3f mm, worst %.2f mm\n",
                kind, mhz.c_str(), s.mean, std::hypot(s.mean, s.std), s.worst);
            EXPECT_LT(std::abs(s.mean), 0.3) << kind << mhz;
            EXPECT_LT(s.worst, std::string(kind) == "phase_offset_" ? 6.0 : 1.0) << kind << mhz;
        }
        for (const auto& e : index.at("phaseErrorLUTData")) {
            if (e.at("modulation_frequency_hz") != hz) continue;
            const double ps = e.at("led_delay_step_ps").get<double>();
            std::printf("[ records ] delay step at %s: %.2f ps (true %.2f ps)\n", mhz.c_str(), ps,
                        ozrsim::kLedDelayStepSeconds * 1e12);
            EXPECT_NEAR(ps, ozrsim::kLedDelayStepSeconds * 1e12, 1.0);
        }
    }
    const double slope = index.at("temperature").at("slope_mm_per_k").get<double>();
    std::printf("[ records ] temperature slope %.3f mm/K (true %.1f mm/K)\n", slope,
                ozrsim::kTempDriftMmPerK);
    EXPECT_NEAR(slope, ozrsim::kTempDriftMmPerK, 0.5);
    EXPECT_NEAR(index.at("phaseOffsetData").at(0).at("ozr_temperature_sensor0_c").get<double>(),
                30.0, 0.01);
    for (const char* file : {"dsnu.bin", "prnu.bin"}) {
        const auto d = words(derived / file), t = words(truthDir / file);
        ASSERT_EQ(d.size(), t.size());
        std::vector<double> diff;
        for (size_t i = 0; i < d.size(); ++i) diff.push_back(double(d[i]) - t[i]);
        const Spread s = spreadOf(diff);
        std::printf(
            "[ records ] %s derived - truth: mean %+.3f, spread %.3f, worst %.0f (file units)\n",
            file, s.mean, s.std, s.worst);
    }

    // A wall that is not square to the camera: its plane is fitted through
    // the lens, and the offsets come out as from the square wall.
    {
        const fs::path tilted = scratch / "tilted";
        fs::create_directories(tilted);
        fs::copy(derived / "calibration_info.json", tilted);
        fs::copy(derived / "phase_error_lut_20MHz.bin", tilted);
        const Result r =
            run(scratch, sim({"--scene", "tilted", "--wall-mm", wall, "--temp-tau", "0"}),
                {"phase-offset", "--distance-mm", wall, "--fit-plane", "--frequencies", "20",
                 "--force", "--out", tilted.string()});
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        const size_t at = r.out.find("wall turned by ");
        ASSERT_NE(at, std::string::npos) << r.out;
        EXPECT_NEAR(std::stod(r.out.substr(at + 15)), -35.0, 0.3) << r.out;
        const auto d = words(tilted / "phase_offset_20MHz.bin");
        const auto t = words(truthDir / "phase_offset_20MHz.bin");
        ASSERT_EQ(d.size(), t.size());
        std::vector<double> diff;
        const double mmPerRaw = ozrsim::kSpeedOfLightMps * 1e3 / (2.0 * 20e6) / 65536.0;
        for (size_t i = 0; i < d.size(); ++i) diff.push_back(rawDifference(d[i], t[i]) * mmPerRaw);
        const Spread s = spreadOf(diff);
        std::printf(
            "[ records ] phase_offset_20MHz from a wall turned by 35 deg, derived - truth: "
            "mean %+.3f mm, rms %.3f mm\n",
            s.mean, std::hypot(s.mean, s.std));
        // The tilt takes up the linear part of the pixel offsets (and on the
        // OZR310 part of the step between its two halves).
        EXPECT_LT(std::abs(s.mean), 2.0);
        EXPECT_LT(s.std, 5.0);
    }

    // Objects in front of the wall: a depth map of the square wall through
    // the lens with a box 400 mm and a post 800 mm in front of it. The
    // offsets of their pixels come from the wall's surface around them.
    {
        const json l = json::parse(slurp(scratch / "lens.json")).at("lens");
        ozr::LensIntrinsics lensIn;
        lensIn.width = l.at("width");
        lensIn.height = l.at("height");
        lensIn.fx = l.at("fx");
        lensIn.fy = l.at("fy");
        lensIn.cx = l.at("cx");
        lensIn.cy = l.at("cy");
        lensIn.k1 = l.value("k1", 0.0);
        lensIn.k2 = l.value("k2", 0.0);
        lensIn.k3 = l.value("k3", 0.0);
        lensIn.p1 = l.value("p1", 0.0);
        lensIn.p2 = l.value("p2", 0.0);
        ozr::RayTable rays;
        ASSERT_EQ(rays.build(lensIn, lensIn.width, lensIn.height), 0);
        const uint32_t w = rays.width(), h = rays.height();
        auto inBox = [](uint32_t x, uint32_t y) {
            return x >= 40 && x < 100 && y >= 60 && y < 140;
        };
        auto inPost = [](uint32_t x, uint32_t y) { return x >= 220 && x < 250 && y >= 100; };
        std::string pgm = "P5\n" + std::to_string(w) + " " + std::to_string(h) + "\n65535\n";
        for (uint32_t y = 0; y < h; ++y) {
            for (uint32_t x = 0; x < w; ++x) {
                const double z = inBox(x, y)    ? WALL_MM - 400
                                 : inPost(x, y) ? WALL_MM - 800
                                                : WALL_MM;
                const auto mm = static_cast<uint16_t>(std::lround(z / rays.z()[y * w + x]));
                pgm += static_cast<char>(mm >> 8);
                pgm += static_cast<char>(mm & 0xFF);
            }
        }
        std::ofstream(scratch / "objects.pgm", std::ios::binary) << pgm;
        const fs::path objects = scratch / "objects";
        fs::create_directories(objects);
        fs::copy(derived / "calibration_info.json", objects);
        fs::copy(derived / "phase_error_lut_20MHz.bin", objects);
        const Result r =
            run(scratch,
                sim({"--scene", "file:" + (scratch / "objects.pgm").string(), "--temp-tau", "0"}),
                {"phase-offset", "--distance-mm", wall, "--frequencies", "20", "--force", "--out",
                 objects.string()});
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        const auto d = words(objects / "phase_offset_20MHz.bin");
        const auto t = words(truthDir / "phase_offset_20MHz.bin");
        ASSERT_EQ(d.size(), static_cast<size_t>(w) * h);
        ASSERT_EQ(t.size(), d.size());
        const double mmPerRaw = ozrsim::kSpeedOfLightMps * 1e3 / (2.0 * 20e6) / 65536.0;
        std::vector<double> onWall, onObjects;
        for (uint32_t y = 0; y < h; ++y) {
            for (uint32_t x = 0; x < w; ++x) {
                const double e = rawDifference(d[y * w + x], t[y * w + x]) * mmPerRaw;
                (inBox(x, y) || inPost(x, y) ? onObjects : onWall).push_back(e);
            }
        }
        const Spread wallPixels = spreadOf(onWall), objectPixels = spreadOf(onObjects);
        std::printf(
            "[ records ] phase_offset_20MHz with objects in front of the wall, derived - "
            "truth: wall pixels mean %+.3f mm, rms %.3f mm; object pixels mean %+.3f mm, "
            "rms %.3f mm, worst %.2f mm\n",
            wallPixels.mean, std::hypot(wallPixels.mean, wallPixels.std), objectPixels.mean,
            std::hypot(objectPixels.mean, objectPixels.std), objectPixels.worst);
        EXPECT_LT(std::abs(wallPixels.mean), 0.3);
        EXPECT_LT(wallPixels.std, 1.5);
        EXPECT_LT(std::abs(objectPixels.mean), 1.0);
        EXPECT_LT(objectPixels.worst, 5.0);
    }

    // The camera with either calibration, from one directory whose contents
    // change: the providers re-read it at every change of frequency and
    // every new pipeline. They are loaded from it explicitly, as providers
    // loaded by an earlier test of this process keep their directory.
    const fs::path active = scratch / "active";
    auto use = [&](const fs::path& from) {
        fs::remove_all(active);
        fs::copy(from, active);
    };
    use(truthDir);
    ASSERT_EQ(PhaseOffsetProvider::getInstance().loadCalibrationData(active.string(), ""), 0);
    ASSERT_EQ(PhaseErrorLUTProvider::getInstance().loadCalibrationData(active.string(), ""), 0);
    ASSERT_EQ(DsnuOffsetProvider::getInstance().loadCalibrationData(active.string(), ""), 0);
    ASSERT_EQ(PrnuGainProvider::getInstance().loadCalibrationData(active.string(), ""), 0);
    ASSERT_EQ(ozr::registerCalibrationProviders(active.string(), ""), 4);
    constexpr size_t FRAMES = 4;
    struct SceneCase {
        const char* scene;
        std::vector<Region> regions;
    };
    const SceneCase scenes[] = {
        {"boxes",
         {{"box at 0.9 m", [](double, double d) { return d >= 800 && d < 1300; }},
          {"box at 1.6 m", [](double, double d) { return d >= 1300 && d < 2200; }},
          {"box at 2.4 m", [](double, double d) { return d >= 2200 && d < 2990; }},
          {"back wall at 3 m", [](double, double d) { return d >= 2990 && d < 4000; }}}},
        {"tilted",
         {{"left third", [](double x, double) { return x < 1.0 / 3; }},
          {"middle third", [](double x, double) { return x >= 1.0 / 3 && x < 2.0 / 3; }},
          {"right third", [](double x, double) { return x >= 2.0 / 3; }}}},
    };
    std::printf("[ accuracy ] %-7s %-17s %-8s  %-22s  %-22s\n", "scene", "region", "MHz",
                "truth calibration", "derived calibration");
    for (const SceneCase& sc : scenes) {
        for (const uint32_t hz : {20000000u, 40000000u, 30000000u}) {
            std::vector<Spread> perRegion[2];
            for (int which = 0; which < 2; ++which) {
                use(which == 0 ? truthDir : derived);
                ozrsim::Config c = config();
                c.seed = SEED;
                c.scene.name = sc.scene;
                c.scene.systematicErrors = true;
                // A die 6 K above the calibration: the drift is compensated.
                c.temperature.startC = 36.0f;
                openCamera(c);
                ASSERT_EQ(cam->setControl(ControlID::MODULATION_FREQ_HZ, static_cast<int>(hz)), 0);
                std::vector<std::unique_ptr<ozr::TOFFrame>> frames(FRAMES);
                for (auto& f : frames) ASSERT_EQ(cam->captureFrame(f), 0);
                const ozrsim::GroundTruth t = ozrsim::lastTruth();
                for (const Region& r : sc.regions) {
                    std::vector<double> errs;
                    for (size_t i = 0; i < t.distanceMm.size(); ++i) {
                        if (!r.contains(static_cast<double>(i % t.width) / t.width,
                                        t.distanceMm[i]) ||
                            (t.flags[i] & ozrsim::GroundTruth::kTruthClipped) ||
                            t.amplitude[i] < 150) {
                            continue;
                        }
                        for (const auto& f : frames) {
                            const uint16_t mm = f->getData<uint16_t>(FrameType::DISTANCE)[i];
                            if (mm < 64000)
                                errs.push_back(camtest::wrappedErrorMm(mm, t.distanceMm[i], hz));
                        }
                    }
                    perRegion[which].push_back(spreadOf(errs));
                }
                cam.reset();
                ozrsim::reset();
            }
            for (size_t k = 0; k < sc.regions.size(); ++k) {
                const Spread& tr = perRegion[0][k];
                const Spread& de = perRegion[1][k];
                std::printf(
                    "[ accuracy ] %-7s %-17s %2u%s  %+6.2f mm, spread %5.2f  %+6.2f mm, spread "
                    "%5.2f\n",
                    sc.scene, sc.regions[k].name.c_str(), hz / 1000000,
                    hz == 30000000 ? " (int)" : "      ", tr.mean, tr.std, de.mean, de.std);
                ASSERT_GT(tr.n, 100u);
                ASSERT_GT(de.n, 100u);
                // Uncalibrated, the error is hundreds of millimetres.
                EXPECT_LT(std::abs(tr.mean), 3.0)
                    << sc.scene << " " << sc.regions[k].name << " " << hz;
                // The truth's spread is the noise limit the calibration leaves.
                EXPECT_NEAR(de.mean, tr.mean, 1.0)
                    << sc.scene << " " << sc.regions[k].name << " " << hz;
                EXPECT_LE(de.std, 1.1 * tr.std)
                    << sc.scene << " " << sc.regions[k].name << " " << hz;
            }
        }
    }

    // Grayscale: the fixed pattern left on a uniform field, the spatial
    // variance of the per-pixel mean less the noise's share.
    double patterns[2] = {0, 0};
    for (int which = 0; which < 2; ++which) {
        use(which == 0 ? truthDir : derived);
        ozrsim::Config c = config();
        c.seed = SEED;
        c.scene.name = "uniform";
        openCamera(c);
        ASSERT_EQ(cam->setControl(ControlID::ACQUISITION_MODE, ozr::AcquisitionMode::GRAYSCALE), 0);
        constexpr size_t K = 16;
        std::vector<std::unique_ptr<ozr::TOFFrame>> frames(K);
        for (auto& f : frames) ASSERT_EQ(cam->captureFrame(f), 0);
        const size_t n = static_cast<size_t>(frames[0]->getWidth()) * frames[0]->getHeight();
        std::vector<double> means(n);
        double noise = 0;
        for (size_t i = 0; i < n; ++i) {
            double s = 0, ss = 0;
            for (const auto& f : frames) {
                const double v = f->getData<uint16_t>(FrameType::GRAYSCALE)[i];
                s += v;
                ss += v * v;
            }
            means[i] = s / K;
            noise += (ss - s * s / K) / (K - 1);
        }
        noise /= n;
        const Spread level = spreadOf(means);
        patterns[which] = std::sqrt(std::max(0.0, level.std * level.std - noise / K));
        std::printf(
            "[ grayscale ] %s calibration: level %.1f, fixed pattern %.3f counts (noise %.2f)\n",
            which == 0 ? "truth  " : "derived", level.mean, patterns[which], std::sqrt(noise));
        // Uncorrected, the pattern is several times the temporal noise.
        if (which == 0) {
            EXPECT_LT(patterns[0], 0.5 * std::sqrt(noise));
        }
        cam.reset();
        ozrsim::reset();
    }
    EXPECT_LE(patterns[1], 1.1 * patterns[0]);
}

INSTANTIATE_TEST_SUITE_P(Models, OzrCalibrate,
                         testing::Values(ozrsim::Model::OZR320, ozrsim::Model::OZR310),
                         camtest::modelName);

}  // namespace
