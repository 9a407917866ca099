// The plain files of the emulated driver (version, hwmon, calibration, node
// entries) as the standard library sees them, and the paths it leaves alone.
#include <dirent.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "sim_test_util.h"

namespace fs = std::filesystem;

namespace ozrsim::test {
namespace {

std::string firstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (!in.is_open() || !std::getline(in, line)) return "<none>";
    return line;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The hwmon devices as the camera library finds them: directories (links
// followed) holding a label file.
std::map<std::string, std::string> hwmonLabels() {
    std::map<std::string, std::string> labels;
    std::error_code ec;
    for (const auto& dev : fs::directory_iterator(HWMON_ROOT, ec)) {
        if (!dev.is_directory()) continue;
        for (const auto& file : fs::directory_iterator(dev.path())) {
            const std::string name = file.path().filename().string();
            if (file.is_regular_file() && name.size() > 10 && name.rfind("temp", 0) == 0 &&
                name.compare(name.size() - 5, 5, "label") == 0) {
                labels[firstLine(file.path().string())] = dev.path().string();
            }
        }
    }
    return labels;
}

class ServedFiles : public SimTest {};

TEST_F(ServedFiles, NodesExistForAutodetection) {
    start(testConfig());
    EXPECT_TRUE(fs::exists("/run/ozr320/video"));
    EXPECT_TRUE(fs::is_character_file("/run/ozr320/subdev"));
    EXPECT_FALSE(fs::exists("/run/ozr310/video"));
    std::ifstream probe("/run/ozr320/video");
    EXPECT_TRUE(probe.is_open()) << "opened as an ordinary file for detection";
    EXPECT_EQ(::access("/run/ozr320/video", R_OK | W_OK), 0);
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator("/run/ozr320")) {
        names.insert(e.path().filename().string());
    }
    EXPECT_EQ(names, (std::set<std::string>{"subdev", "video"}));
    EXPECT_EQ(counters().openVideo, 0) << "a stream on the node is no device handle";
}

TEST_F(ServedFiles, OtherModelsNodesOnRequest) {
    Config cfg = testConfig(Model::OZR310);
    cfg.otherModelNodes = true;
    start(cfg);
    EXPECT_TRUE(fs::is_character_file("/run/ozr310/video"));
    // Files for autodetection, no devices.
    EXPECT_TRUE(std::ifstream("/run/ozr320/video").is_open());
    EXPECT_TRUE(fs::is_regular_file("/run/ozr320/subdev"));
    const int fd = ::open("/run/ozr320/video", O_RDWR);
    ASSERT_GE(fd, 0);
    v4l2_capability cap{};
    EXPECT_NE(ioctlErr(fd, VIDIOC_QUERYCAP, &cap), 0);
    ::close(fd);
    reset();
    EXPECT_FALSE(fs::exists("/run/ozr320/video"));
}

TEST_F(ServedFiles, DriverVersionFile) {
    Config cfg = testConfig();
    start(cfg);
    EXPECT_EQ(slurp("/sys/module/cam_ozr320/version"), "1.0.0\n");
    EXPECT_FALSE(fs::exists("/sys/module/cam_ozr310/version"));
    reset();

    cfg.driverVersion = "2.3.4-rc1";
    start(cfg);
    EXPECT_EQ(firstLine("/sys/module/cam_ozr320/version"), "2.3.4-rc1");
    reset();

    cfg.driverVersion.reset();
    start(cfg);
    std::ifstream in("/sys/module/cam_ozr320/version");
    EXPECT_FALSE(in.is_open()) << "driver not loaded";
    EXPECT_FALSE(fs::exists("/sys/module/cam_ozr320"));
}

TEST_F(ServedFiles, HwmonChannelBesideAnUnrelatedDevice) {
    start(testConfig(Model::OZR310));
    const auto labels = hwmonLabels();
    ASSERT_TRUE(labels.count("ozr310_temp_sensor_tl"));
    EXPECT_TRUE(labels.count("Package id 0")) << "the unrelated device";
    EXPECT_FALSE(labels.count("ozr320_temp_sensor_1"));
    const std::string dir = labels.at("ozr310_temp_sensor_tl");
    EXPECT_TRUE(fs::is_symlink(dir)) << "numbered hwmon entries are links";
    EXPECT_EQ(fs::canonical(dir).string(), "/sys/devices/platform/cam_ozr310/hwmon/hwmon1");
    char buf[PATH_MAX];
    ASSERT_NE(::realpath((dir + "/temp1_input").c_str(), buf), nullptr);
    EXPECT_STREQ(buf, "/sys/devices/platform/cam_ozr310/hwmon/hwmon1/temp1_input");
    EXPECT_EQ(slurp(dir + "/temp1_input"), "30000\n");
}

TEST_F(ServedFiles, NoHwmonChannelWhenAbsent) {
    Config cfg = testConfig();
    cfg.hwmon = false;
    start(cfg);
    const auto labels = hwmonLabels();
    EXPECT_EQ(labels.size(), 2u);  // the CPU sensor's two channels
    EXPECT_FALSE(labels.count("ozr320_temp_sensor_1"));
}

TEST_F(ServedFiles, InputFileReadWithPreadFollowsTheTemperature) {
    start(testConfig());
    const std::string input = hwmonLabels().at("ozr320_temp_sensor_1") + "/temp1_input";
    const int fd = ::open(input.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(counters().openHwmon, 1);
    char buf[16] = {};
    ASSERT_EQ(::pread(fd, buf, 15, 0), 6);
    EXPECT_STREQ(buf, "30000\n");
    setTemperature(41.25f);
    std::memset(buf, 0, sizeof(buf));
    ASSERT_EQ(::pread(fd, buf, 15, 0), 6);
    EXPECT_STREQ(buf, "41250\n") << "every read samples the sensor";
    setTemperature(-5.0f);
    std::memset(buf, 0, sizeof(buf));
    ASSERT_EQ(::pread(fd, buf, 15, 0), 6);
    EXPECT_STREQ(buf, "-5000\n");
    // Sequential reads see one value, then the end.
    std::memset(buf, 0, sizeof(buf));
    EXPECT_EQ(::read(fd, buf, 3), 3);
    EXPECT_EQ(::read(fd, buf + 3, 10), 3);
    EXPECT_EQ(::read(fd, buf, 10), 0);
    EXPECT_EQ(::close(fd), 0);
    EXPECT_EQ(counters().openHwmon, 0);
    EXPECT_EQ(firstLine(input), "-5000") << "streams read the current value too";
}

TEST_F(ServedFiles, SensorWarmsWhileStreamingAndCoolsWhenIdle) {
    Config cfg = testConfig();
    cfg.temperature.startC = 30.0f;
    cfg.temperature.hotC = 50.0f;
    cfg.temperature.timeConstantS = 0.02f;
    start(cfg);
    EXPECT_NEAR(temperature(), 30.0f, 0.01f);
    {
        Capture c;
        ASSERT_EQ(c.startStreaming(4), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        EXPECT_NEAR(temperature(), 50.0f, 0.1f);
        const int fd = ::open("/sys/class/hwmon/hwmon1/temp1_input", O_RDONLY);
        char buf[16] = {};
        ASSERT_GT(::pread(fd, buf, 15, 0), 0);
        EXPECT_NEAR(std::atoi(buf), 50000, 100);
        ::close(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_NEAR(temperature(), 30.0f, 0.1f);
}

TEST_F(ServedFiles, SyntheticCalibrationDirectory) {
    Config cfg = testConfig();
    cfg.calibration = Calibration::Synthetic;
    start(cfg);
    const std::string index = std::string(CALIBRATION_DIR) + "/calibration_info.json";
    ASSERT_TRUE(fs::exists(index));
    const std::string json = slurp(index);
    EXPECT_NE(json.find("\"phaseOffsetData\""), std::string::npos);
    EXPECT_NE(json.find("\"grayscale\""), std::string::npos);
    // Binary files named by the index sit beside it.
    size_t files = 0;
    for (const auto& e : fs::directory_iterator(CALIBRATION_DIR)) {
        if (e.path().extension() == ".bin") {
            ++files;
            EXPECT_EQ(fs::file_size(e.path()) % 2, 0u);
        }
    }
    EXPECT_GT(files, 2u);
}

TEST_F(ServedFiles, CalibrationHiddenOrLeftToTheHost) {
    const bool hostHasOne = fs::exists(CALIBRATION_DIR);
    start(testConfig());
    EXPECT_FALSE(fs::exists(CALIBRATION_DIR)) << "hidden by default";
    reset();
    Config cfg = testConfig();
    cfg.calibration = Calibration::Host;
    start(cfg);
    EXPECT_EQ(fs::exists(CALIBRATION_DIR), hostHasOne);
}

TEST_F(ServedFiles, WritesUnderServedPrefixesStayPrivate) {
    start(testConfig());
    // (create_directories would make missing ancestors on the host.)
    ASSERT_EQ(::mkdir(CALIBRATION_DIR, 0755), 0);
    {
        std::ofstream out(std::string(CALIBRATION_DIR) + "/calibration_info.json");
        out << "{}\n";
    }
    EXPECT_EQ(slurp(std::string(CALIBRATION_DIR) + "/calibration_info.json"), "{}\n");
    const std::string root = rootDirectory();
    ASSERT_FALSE(root.empty());
    EXPECT_TRUE(fs::exists(root + CALIBRATION_DIR + "/calibration_info.json"));
    reset();
    EXPECT_FALSE(fs::exists(root)) << "the private directory is removed";
}

TEST_F(ServedFiles, UnconfiguredEverythingPassesThrough) {
    // Nothing is served before configure() and after reset().
    const bool hostHasNode = fs::exists("/run/ozr320/video");
    const bool hostHasHwmon = fs::exists(HWMON_ROOT);
    EXPECT_FALSE(isConfigured());
    EXPECT_EQ(fs::exists("/run/ozr320/video"), hostHasNode);
    start(testConfig());
    EXPECT_TRUE(fs::exists("/run/ozr320/video"));
    reset();
    EXPECT_EQ(fs::exists("/run/ozr320/video"), hostHasNode);
    EXPECT_EQ(fs::exists(HWMON_ROOT), hostHasHwmon);
}

TEST_F(ServedFiles, OtherPathsReachTheRealFileSystem) {
    start(testConfig());
    const fs::path dir = fs::temp_directory_path() / ("ozrsim-test-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string file = (dir / "data.txt").string();
    {
        std::ofstream out(file);
        out << "real\n";
    }
    EXPECT_EQ(slurp(file), "real\n");
    const int fd = ::open(file.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    char buf[8] = {};
    EXPECT_EQ(::pread(fd, buf, 4, 0), 4);
    EXPECT_STREQ(buf, "real");
    struct stat st {};
    EXPECT_EQ(::fstat(fd, &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    ::close(fd);
    EXPECT_EQ(counters().openHwmon, 0);
    // Paths that only start like a served one are not served.
    EXPECT_FALSE(fs::exists("/run/ozr3200/video"));
    // Leaving a served directory with ".." lands on the real file system.
    EXPECT_TRUE(fs::exists("/run/ozr320/../"));
    fs::remove_all(dir);
}

}  // namespace
}  // namespace ozrsim::test
