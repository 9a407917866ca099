#include "envconfig.h"

#include <linux/v4l2-subdev.h>
#include <linux/videodev2.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale>
#include <sstream>
#include <utility>
#include <vector>

namespace ozrsim::env {

namespace {

const std::pair<const char*, unsigned long> REQUESTS[] = {
    {"QUERYCAP", VIDIOC_QUERYCAP},
    {"ENUM_FMT", VIDIOC_ENUM_FMT},
    {"G_FMT", VIDIOC_G_FMT},
    {"S_FMT", VIDIOC_S_FMT},
    {"TRY_FMT", VIDIOC_TRY_FMT},
    {"REQBUFS", VIDIOC_REQBUFS},
    {"CREATE_BUFS", VIDIOC_CREATE_BUFS},
    {"QUERYBUF", VIDIOC_QUERYBUF},
    {"QBUF", VIDIOC_QBUF},
    {"DQBUF", VIDIOC_DQBUF},
    {"STREAMON", VIDIOC_STREAMON},
    {"STREAMOFF", VIDIOC_STREAMOFF},
    {"G_PARM", VIDIOC_G_PARM},
    {"S_PARM", VIDIOC_S_PARM},
    {"G_CTRL", VIDIOC_G_CTRL},
    {"S_CTRL", VIDIOC_S_CTRL},
    {"QUERYCTRL", VIDIOC_QUERYCTRL},
    {"G_EXT_CTRLS", VIDIOC_G_EXT_CTRLS},
    {"S_EXT_CTRLS", VIDIOC_S_EXT_CTRLS},
    {"TRY_EXT_CTRLS", VIDIOC_TRY_EXT_CTRLS},
    {"QUERY_EXT_CTRL", VIDIOC_QUERY_EXT_CTRL},
    {"QUERYMENU", VIDIOC_QUERYMENU},
    {"ENUMINPUT", VIDIOC_ENUMINPUT},
    {"G_INPUT", VIDIOC_G_INPUT},
    {"S_INPUT", VIDIOC_S_INPUT},
    {"ENUM_FRAMESIZES", VIDIOC_ENUM_FRAMESIZES},
    {"ENUM_FRAMEINTERVALS", VIDIOC_ENUM_FRAMEINTERVALS},
    {"G_PRIORITY", VIDIOC_G_PRIORITY},
    {"S_PRIORITY", VIDIOC_S_PRIORITY},
    {"SUBDEV_QUERYCAP", VIDIOC_SUBDEV_QUERYCAP},
    {"SUBSCRIBE_EVENT", VIDIOC_SUBSCRIBE_EVENT},
    {"UNSUBSCRIBE_EVENT", VIDIOC_UNSUBSCRIBE_EVENT},
    {"DQEVENT", VIDIOC_DQEVENT},
    {"LOG_STATUS", VIDIOC_LOG_STATUS},
};

const std::pair<const char*, int> ERRNOS[] = {
    {"EIO", EIO},       {"EINVAL", EINVAL}, {"EBUSY", EBUSY},         {"ENODEV", ENODEV},
    {"EAGAIN", EAGAIN}, {"ENOMEM", ENOMEM}, {"ETIMEDOUT", ETIMEDOUT}, {"EPIPE", EPIPE},
    {"EPERM", EPERM},   {"EACCES", EACCES}, {"ERANGE", ERANGE},       {"ENOSPC", ENOSPC},
    {"EINTR", EINTR},   {"ENOTTY", ENOTTY}, {"EFAULT", EFAULT},       {"ENXIO", ENXIO},
};

bool parseUnsigned(const std::string& text, uint64_t max, uint64_t& out) {
    if (text.empty() || text[0] == '-' || text[0] == '+') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v > max) return false;
    out = v;
    return true;
}

bool parseSigned(const std::string& text, int64_t lo, int64_t hi, int64_t& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
    out = v;
    return true;
}

bool parseFloat(const std::string& text, float& out) {
    if (text.empty()) return false;
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    double v = 0;
    in >> v;
    if (in.fail() || !in.eof() || !std::isfinite(v)) return false;
    out = static_cast<float>(v);
    return true;
}

bool parseBool(const std::string& text, bool& out) {
    if (text == "1" || text == "yes" || text == "true" || text == "on") {
        out = true;
        return true;
    }
    if (text == "0" || text == "no" || text == "false" || text == "off") {
        out = false;
        return true;
    }
    return false;
}

std::vector<std::string> split(const std::string& text, char sep) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : text) {
        if (c == sep) {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    parts.push_back(cur);
    return parts;
}

}  // namespace

bool parseModel(const std::string& text, Model& model) {
    if (text == "ozr310" || text == "OZR310") {
        model = Model::OZR310;
        return true;
    }
    if (text == "ozr320" || text == "OZR320") {
        model = Model::OZR320;
        return true;
    }
    return false;
}

bool parseCalibration(const std::string& text, Calibration& calibration) {
    if (text == "hidden" || text == "none") {
        calibration = Calibration::Hidden;
    } else if (text == "synthetic") {
        calibration = Calibration::Synthetic;
    } else if (text == "host") {
        calibration = Calibration::Host;
    } else {
        return false;
    }
    return true;
}

bool parseIoctlFault(const std::string& text, IoctlFault& fault) {
    const std::vector<std::string> parts = split(text, ':');
    if (parts.size() < 2 || parts.size() > 4) return false;
    IoctlFault f;
    std::string req = parts[0];
    if (req.rfind("VIDIOC_", 0) == 0) req = req.substr(7);
    bool found = false;
    for (const auto& [name, code] : REQUESTS) {
        if (req == name) {
            f.request = code;
            found = true;
        }
    }
    uint64_t v = 0;
    if (!found) {
        if (!parseUnsigned(parts[0], std::numeric_limits<unsigned long>::max(), v)) return false;
        f.request = static_cast<unsigned long>(v);
    }
    found = false;
    for (const auto& [name, code] : ERRNOS) {
        if (parts[1] == name) {
            f.error = code;
            found = true;
        }
    }
    if (!found) {
        if (!parseUnsigned(parts[1], 4095, v) || v == 0) return false;
        f.error = static_cast<int>(v);
    }
    if (parts.size() > 2) {
        if (!parseUnsigned(parts[2], UINT32_MAX, v)) return false;
        f.after = static_cast<uint32_t>(v);
    }
    if (parts.size() > 3) {
        if (!parseUnsigned(parts[3], UINT32_MAX, v)) return false;
        f.times = static_cast<uint32_t>(v);
    }
    fault = f;
    return true;
}

const char* requestName(unsigned long request) {
    for (const auto& [name, code] : REQUESTS) {
        if (code == request) return name;
    }
    return nullptr;
}

int readConfig(Config& config, std::string& error) {
    const char* model = std::getenv("OZRSIM_MODEL");
    if (!model) return 1;
    Config c = config;
    auto bad = [&error](const char* name, const char* value) {
        error = std::string("invalid ") + name + "=\"" + value + "\"";
        return -EINVAL;
    };
    if (!parseModel(model, c.model)) return bad("OZRSIM_MODEL", model);

    uint64_t u = 0;
    int64_t i = 0;
    bool b = false;
    float f = 0;
    struct Var {
        const char* name;
        const char* value;
    };
    auto get = [](const char* name) { return Var{name, std::getenv(name)}; };

    if (Var v = get("OZRSIM_DRIVER_VERSION"); v.value) {
        if (std::strcmp(v.value, "none") == 0) {
            c.driverVersion.reset();
        } else {
            c.driverVersion = std::string(v.value);
        }
    }
    if (Var v = get("OZRSIM_HWMON"); v.value) {
        if (!parseBool(v.value, c.hwmon)) return bad(v.name, v.value);
    }
    if (Var v = get("OZRSIM_CALIBRATION"); v.value) {
        if (!parseCalibration(v.value, c.calibration)) return bad(v.name, v.value);
    }
    for (auto [name, field] :
         {std::pair{"OZRSIM_WIDTH", &c.width}, std::pair{"OZRSIM_HEIGHT", &c.height},
          std::pair{"OZRSIM_EXPOSURE_DELAY_US", &c.timing.exposureDelayUs},
          std::pair{"OZRSIM_READOUT_US", &c.timing.readoutUs},
          std::pair{"OZRSIM_FRAME_PERIOD_US", &c.timing.framePeriodUs}}) {
        if (Var v = get(name); v.value) {
            if (!parseUnsigned(v.value, 100000000, u)) return bad(v.name, v.value);
            *field = static_cast<uint32_t>(u);
        }
    }
    if (c.timing.framePeriodUs == 0) return bad("OZRSIM_FRAME_PERIOD_US", "0");
    if (Var v = get("OZRSIM_SCENE"); v.value) c.scene.name = v.value;
    for (auto [name, field] : {std::pair{"OZRSIM_WALL_MM", &c.scene.wallDistanceMm},
                               std::pair{"OZRSIM_REFLECTIVITY", &c.scene.reflectivity},
                               std::pair{"OZRSIM_NOISE", &c.scene.noiseScale},
                               std::pair{"OZRSIM_TEMP_START", &c.temperature.startC},
                               std::pair{"OZRSIM_TEMP_HOT", &c.temperature.hotC},
                               std::pair{"OZRSIM_TEMP_TAU", &c.temperature.timeConstantS}}) {
        if (Var v = get(name); v.value) {
            if (!parseFloat(v.value, f)) return bad(v.name, v.value);
            *field = f;
        }
    }
    for (auto [name, field] :
         {std::pair{"OZRSIM_INTERFERENCE", &c.scene.interference},
          std::pair{"OZRSIM_SYSTEMATIC_ERRORS", &c.scene.systematicErrors},
          std::pair{"OZRSIM_DARK", &c.scene.dark}, std::pair{"OZRSIM_FREE_RUN", &c.timing.freeRun},
          std::pair{"OZRSIM_STALL", &c.faults.stall}}) {
        if (Var v = get(name); v.value) {
            if (!parseBool(v.value, b)) return bad(v.name, v.value);
            *field = b;
        }
    }
    if (Var v = get("OZRSIM_TRACE"); v.value) {
        if (!parseBool(v.value, c.trace)) return bad(v.name, v.value);
    }
    if (Var v = get("OZRSIM_REPLAY"); v.value) c.replay.file = v.value;
    if (Var v = get("OZRSIM_REPLAY_LOOP"); v.value) {
        if (!parseBool(v.value, c.replay.loop)) return bad(v.name, v.value);
    }
    if (Var v = get("OZRSIM_SEED"); v.value) {
        if (!parseUnsigned(v.value, UINT64_MAX, u)) return bad(v.name, v.value);
        c.seed = u;
    }
    if (Var v = get("OZRSIM_FAIL_IOCTL"); v.value) {
        c.faults.ioctls.clear();
        for (const std::string& item : split(v.value, ',')) {
            IoctlFault fault;
            if (!parseIoctlFault(item, fault)) return bad(v.name, v.value);
            c.faults.ioctls.push_back(fault);
        }
    }
    if (Var v = get("OZRSIM_BYTESUSED_DELTA"); v.value) {
        if (!parseSigned(v.value, INT32_MIN, INT32_MAX, i)) return bad(v.name, v.value);
        c.faults.bytesusedDelta = static_cast<int32_t>(i);
    }
    if (Var v = get("OZRSIM_DISCONNECT_AFTER"); v.value) {
        if (!parseSigned(v.value, -1, INT64_MAX, i)) return bad(v.name, v.value);
        c.faults.disconnectAfterImages = i;
    }
    config = c;
    return 0;
}

}  // namespace ozrsim::env
