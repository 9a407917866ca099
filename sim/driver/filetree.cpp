#include "filetree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <utility>

namespace ozrsim {

namespace {

std::atomic<const PathMap*> g_map{nullptr};

// Maps replaced while other threads may still read them.
std::mutex g_retiredMutex;
std::vector<const PathMap*>& retiredMaps() {
    static auto* maps = new std::vector<const PathMap*>();
    return *maps;
}

int writeFile(const std::string& path, const std::string& text, mode_t mode = 0644) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) return -errno;
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            return -err;
        }
        done += static_cast<size_t>(n);
    }
    return ::close(fd) == 0 ? 0 : -errno;
}

int makeDirs(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    return ec ? -ec.value() : 0;
}

int makeLink(const std::string& target, const std::string& link) {
    return ::symlink(target.c_str(), link.c_str()) == 0 ? 0 : -errno;
}

std::string tempBase() {
    for (const char* name : {"OZRSIM_TMPDIR", "TMPDIR"}) {
        const char* v = std::getenv(name);
        if (v && *v == '/') return v;
    }
    // Memory-backed when available: the tree is made and removed often.
    if (::access("/dev/shm", W_OK | X_OK) == 0) return "/dev/shm";
    return "/tmp";
}

}  // namespace

const PathMap* activePathMap() {
    return g_map.load(std::memory_order_acquire);
}

void publishPathMap(PathMap* map) {
    const PathMap* old = g_map.exchange(map, std::memory_order_acq_rel);
    if (old) {
        std::lock_guard<std::mutex> lock(g_retiredMutex);
        retiredMaps().push_back(old);
    }
}

std::string normalizePath(const char* path) {
    if (!path || path[0] != '/') return {};
    std::vector<std::string_view> parts;
    const std::string_view s(path);
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && s[i] == '/') ++i;
        size_t j = i;
        while (j < s.size() && s[j] != '/') ++j;
        const std::string_view part = s.substr(i, j - i);
        if (part.empty() || part == ".") {
            // nothing
        } else if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else {
            parts.push_back(part);
        }
        i = j;
    }
    std::string out;
    for (std::string_view p : parts) {
        out += '/';
        out += p;
    }
    return out.empty() ? std::string("/") : out;
}

namespace {

bool underPrefix(const PathMap& map, const std::string& path, const std::string*& match) {
    for (const std::string& prefix : map.prefixes) {
        if (path.compare(0, prefix.size(), prefix) != 0) continue;
        if (path.size() != prefix.size() && path[prefix.size()] != '/') continue;
        match = &prefix;
        return true;
    }
    return false;
}

}  // namespace

bool resolvePath(const char* path, Resolved& out) {
    const PathMap* map = activePathMap();
    if (!map || !path || path[0] != '/') return false;
    const std::string norm = normalizePath(path);
    const std::string* prefix = nullptr;
    if (!underPrefix(*map, norm, prefix)) {
        // "/run/ozr320/.." leaves the served tree, but the C library would
        // walk through the served directory first: hand it the plain path.
        if (std::strstr(path, "/..") == nullptr) return false;
        std::string walked;
        for (const char* p = path; *p;) {
            const char* e = std::strchr(p, '/');
            const std::string part(p, e ? e - p : std::strlen(p));
            if (part == "..") break;
            if (!part.empty() && part != ".") walked += "/" + part;
            if (!e) break;
            p = e + 1;
        }
        if (!underPrefix(*map, walked, prefix)) return false;
        out.path = norm;
        out.node = NodeKind::None;
        return true;
    }
    out.path = map->root + norm;
    const size_t len = std::strlen(path);
    if (len > 1 && path[len - 1] == '/') out.path += '/';
    if (norm == map->videoPath) {
        out.node = NodeKind::Video;
    } else if (norm == map->subdevPath) {
        out.node = NodeKind::Subdev;
    } else {
        out.node = NodeKind::None;
    }
    return true;
}

std::string unredirectPath(const std::string& realPath) {
    const PathMap* map = activePathMap();
    if (!map) return realPath;
    const std::string& root = map->root;
    if (realPath == root) return "/";
    if (realPath.size() > root.size() && realPath.compare(0, root.size(), root) == 0 &&
        realPath[root.size()] == '/') {
        return realPath.substr(root.size());
    }
    return realPath;
}

int FileTree::create(const Config& config, uint32_t width, uint32_t height, PathMap& map) {
    destroy();
    std::string tmpl = tempBase() + "/ozrsim.XXXXXX";
    if (!::mkdtemp(tmpl.data())) return -errno;
    // Resolve the base (it may be a link, as /tmp sometimes is) so that
    // resolved paths of served files can be mapped back.
    char resolved[PATH_MAX];
    if (!::realpath(tmpl.c_str(), resolved)) {
        const int err = errno;
        ::rmdir(tmpl.c_str());
        return -err;
    }
    root_ = resolved;
    ownerPid_ = ::getpid();

    const kyr::platform::OzrDeviceFiles& device = deviceFiles(config.model);
    const kyr::platform::OzrDeviceFiles& otherDevice =
        deviceFiles(config.model == Model::OZR310 ? Model::OZR320 : Model::OZR310);
    const std::string model = device.name;
    const std::string moduleDir =
        std::filesystem::path(device.driverVersionPath).parent_path().string();
    const std::string sensorDev = "/sys/devices/platform/cam_" + model;
    const std::string cpuDev = "/sys/devices/platform/coretemp.0";
    nodeDir_ = device.nodeDir;

    map = PathMap{};
    map.root = root_;
    map.videoPath = device.videoPath;
    map.subdevPath = device.subdevPath;
    map.prefixes = {nodeDir_,
                    moduleDir,
                    HWMON_ROOT,
                    cpuDev,
                    sensorDev,
                    "/sys/dev/char/81:0",
                    "/sys/dev/char/81:1"};
    if (config.calibration != Calibration::Host) map.prefixes.push_back(CALIBRATION_DIR);
    const std::string otherNodeDir = otherDevice.nodeDir;
    if (config.otherModelNodes) map.prefixes.push_back(otherNodeDir);

    int rc = 0;
    auto step = [&rc](int r) {
        if (rc == 0 && r != 0) rc = r;
    };
    const std::string R = root_;
    step(makeDirs(R + "/.scratch"));
    scratchPath_ = R + "/.scratch/temp1_input";

    // Device nodes: placeholders, reported as character devices.
    step(makeDirs(R + nodeDir_));
    step(writeFile(R + map.videoPath, "", 0660));
    step(writeFile(R + map.subdevPath, "", 0660));
    if (config.otherModelNodes) {
        step(makeDirs(R + otherNodeDir));
        step(writeFile(R + otherDevice.videoPath, "", 0660));
        step(writeFile(R + otherDevice.subdevPath, "", 0660));
    }

    // The nodes' sysfs entries, through which V4L2 tools tell a video node
    // from a sub-device.
    step(makeDirs(R + "/sys/dev/char"));
    const std::pair<const char*, const char*> sysNodes[] = {{"video4linux/video0", "81:0"},
                                                            {"v4l-subdev/v4l-subdev0", "81:1"}};
    for (const auto& [dir, number] : sysNodes) {
        const std::string devDir = sensorDev + "/" + dir;
        const std::string devName = std::filesystem::path(dir).filename().string();
        const std::string minor = std::string(number).substr(3);
        step(makeDirs(R + devDir));
        step(writeFile(R + devDir + "/uevent",
                       "MAJOR=81\nMINOR=" + minor + "\nDEVNAME=" + devName + "\n", 0444));
        step(writeFile(R + devDir + "/dev", std::string(number) + "\n", 0444));
        step(writeFile(R + devDir + "/name", "cam_" + model + "\n", 0444));
        step(makeLink("../../devices/platform/cam_" + model + "/" + dir,
                      R + "/sys/dev/char/" + number));
    }

    if (config.driverVersion) {
        step(makeDirs(R + moduleDir));
        step(writeFile(R + device.driverVersionPath, *config.driverVersion + "\n", 0444));
    }

    // hwmon: an unrelated CPU sensor first, then the camera's channel, both
    // reached through numbered links as on a real board.
    step(makeDirs(R + HWMON_ROOT));
    const std::string cpuHwmon = cpuDev + "/hwmon/hwmon0";
    step(makeDirs(R + cpuHwmon));
    step(writeFile(R + cpuHwmon + "/name", "coretemp\n", 0444));
    step(writeFile(R + cpuHwmon + "/temp1_label", "Package id 0\n", 0444));
    step(writeFile(R + cpuHwmon + "/temp1_input", "47000\n", 0444));
    step(writeFile(R + cpuHwmon + "/temp2_label", "Core 0\n", 0444));
    step(writeFile(R + cpuHwmon + "/temp2_input", "45000\n", 0444));
    step(makeLink("../../devices/platform/coretemp.0/hwmon/hwmon0",
                  R + std::string(HWMON_ROOT) + "/hwmon0"));
    if (config.hwmon) {
        const std::string sensorHwmon = sensorDev + "/hwmon/hwmon1";
        step(makeDirs(R + sensorHwmon));
        step(writeFile(R + sensorHwmon + "/name", model + "\n", 0444));
        step(writeFile(R + sensorHwmon + "/temp1_label", std::string(device.hwmonLabel) + "\n",
                       0444));
        inputPath_ = R + sensorHwmon + "/temp1_input";
        map.hwmonInputReal = inputPath_;
        writeTemperature(static_cast<int32_t>(config.temperature.startC * 1000.0f));
        step(makeLink("../../devices/platform/cam_" + model + "/hwmon/hwmon1",
                      R + std::string(HWMON_ROOT) + "/hwmon1"));
    }

    // The parent of the calibration directory exists, so that the directory
    // can be made in private.
    if (config.calibration != Calibration::Host) {
        step(makeDirs(R + std::filesystem::path(CALIBRATION_DIR).parent_path().string()));
    }
    if (rc == 0 && config.calibration == Calibration::Synthetic) {
        rc = writeCalibration(R + CALIBRATION_DIR, config.model, width, height, config.seed);
    }
    if (rc != 0) destroy();
    return rc;
}

void FileTree::writeTemperature(int32_t milliCelsius) {
    if (inputPath_.empty()) return;
    if (writeFile(scratchPath_, std::to_string(milliCelsius) + "\n", 0444) == 0) {
        ::rename(scratchPath_.c_str(), inputPath_.c_str());
    }
}

void FileTree::removeNodes() {
    if (root_.empty()) return;
    ::unlink((root_ + nodeDir_ + "/video").c_str());
    ::unlink((root_ + nodeDir_ + "/subdev").c_str());
}

void FileTree::restoreNodes() {
    if (root_.empty()) return;
    (void)writeFile(root_ + nodeDir_ + "/video", "", 0660);
    (void)writeFile(root_ + nodeDir_ + "/subdev", "", 0660);
}

void FileTree::destroy() {
    if (!root_.empty() && ownerPid_ == ::getpid()) {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    root_.clear();
    nodeDir_.clear();
    inputPath_.clear();
    scratchPath_.clear();
    ownerPid_ = 0;
}

}  // namespace ozrsim
