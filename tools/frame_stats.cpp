#include "frame_stats.h"

#include <algorithm>
#include <cstdio>

namespace capture {

namespace {

size_t dcsCount(ozr::AcquisitionMode mode) {
    switch (mode) {
        case ozr::AcquisitionMode::DIST_AMP:
        case ozr::AcquisitionMode::DCS4:
            return 4;
        case ozr::AcquisitionMode::DIST_AMP_HDR:
            return 12;
        default:
            return 0;
    }
}

uint16_t median(std::vector<uint16_t>& values) {
    if (values.empty()) return 0;
    const auto mid = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), mid, values.end());
    return *mid;
}

bool rawValid(uint16_t v) {
    return v > 0 && v < MAX_RAW_SAMPLE;
}

std::string orDash(const std::optional<uint16_t>& v, const char* unit) {
    if (!v) return "-";
    return std::to_string(*v) + unit;
}

}  // namespace

const char* modeName(ozr::AcquisitionMode mode) {
    for (const auto& [name, m] : MODE_NAMES) {
        if (m == mode) return name;
    }
    return "?";
}

bool modeFromName(const std::string& name, ozr::AcquisitionMode& mode) {
    for (const auto& [n, m] : MODE_NAMES) {
        if (name == n) {
            mode = m;
            return true;
        }
    }
    return false;
}

std::vector<FrameImage> frameImages(const ozr::TOFFrame& frame, ozr::AcquisitionMode mode) {
    using ozr::FrameType;
    std::vector<FrameImage> images;
    if (mode == ozr::AcquisitionMode::DIST_AMP || mode == ozr::AcquisitionMode::DIST_AMP_HDR) {
        images.push_back({"distance", frame.getData<uint16_t>(FrameType::DISTANCE), nullptr});
        images.push_back({"amplitude", frame.getData<uint16_t>(FrameType::AMPLITUDE), nullptr});
        images.push_back({"phase", nullptr, frame.getData<float>(FrameType::PHASE)});
    }
    if (mode == ozr::AcquisitionMode::GRAYSCALE) {
        images.push_back({"grayscale", frame.getData<uint16_t>(FrameType::GRAYSCALE), nullptr});
    }
    for (size_t i = 0; i < dcsCount(mode); ++i) {
        images.push_back(
            {"dcs" + std::to_string(i), frame.getData<uint16_t>(FrameType::DCS, i), nullptr});
    }
    return images;
}

FrameStats computeStats(const ozr::TOFFrame& frame, ozr::AcquisitionMode mode) {
    using ozr::FrameType;
    FrameStats s;
    s.mode = mode;
    s.frameNumber = frame.getMetadata().frameNumber;
    s.timestampMs = frame.getMetadata().timestamp;
    s.width = frame.getWidth();
    s.height = frame.getHeight();
    const size_t n = size_t{s.width} * s.height;
    const size_t centre = size_t{s.height} / 2 * s.width + s.width / 2;
    if (n == 0) return s;
    std::vector<uint16_t> values;
    values.reserve(n);

    if (mode == ozr::AcquisitionMode::DIST_AMP || mode == ozr::AcquisitionMode::DIST_AMP_HDR) {
        const uint16_t* dist = frame.getData<uint16_t>(FrameType::DISTANCE);
        const uint16_t* amp = frame.getData<uint16_t>(FrameType::AMPLITUDE);
        if (!dist || !amp) return s;
        for (size_t i = 0; i < n; ++i) {
            if (dist[i] < FIRST_PIXEL_CODE) values.push_back(dist[i]);
        }
        s.validPercent = 100.0 * static_cast<double>(values.size()) / static_cast<double>(n);
        if (!values.empty()) s.medianDistanceMm = median(values);
        values.clear();
        for (size_t i = 0; i < n; ++i) {
            if (dist[i] < FIRST_PIXEL_CODE && amp[i] < FIRST_PIXEL_CODE) values.push_back(amp[i]);
        }
        if (!values.empty()) s.medianAmplitude = median(values);
        s.centreDistanceMm = dist[centre];
        s.centreAmplitude = amp[centre];
    } else if (mode == ozr::AcquisitionMode::GRAYSCALE) {
        const uint16_t* gray = frame.getData<uint16_t>(FrameType::GRAYSCALE);
        if (!gray) return s;
        double sum = 0.0;
        size_t valid = 0;
        for (size_t i = 0; i < n; ++i) {
            values.push_back(gray[i]);
            sum += gray[i];
            valid += rawValid(gray[i]) ? 1 : 0;
        }
        s.validPercent = 100.0 * static_cast<double>(valid) / static_cast<double>(n);
        s.meanGrayscale = sum / static_cast<double>(n);
        s.medianGrayscale = median(values);
    } else {
        size_t valid = 0;
        size_t total = 0;
        for (size_t k = 0; k < dcsCount(mode); ++k) {
            const uint16_t* dcs = frame.getData<uint16_t>(FrameType::DCS, k);
            if (!dcs) continue;
            values.assign(dcs, dcs + n);
            double sum = 0.0;
            for (size_t i = 0; i < n; ++i) {
                sum += dcs[i];
                valid += rawValid(dcs[i]) ? 1 : 0;
            }
            total += n;
            s.dcsMean.push_back(sum / static_cast<double>(n));
            s.dcsMedian.push_back(median(values));
        }
        if (total > 0) {
            s.validPercent = 100.0 * static_cast<double>(valid) / static_cast<double>(total);
        }
    }
    return s;
}

std::string formatLine(const FrameStats& s) {
    char head[64];
    std::snprintf(head, sizeof head, "frame %6u  %6.1f fps  ", s.frameNumber, s.fps);
    return head + formatMeasures(s);
}

std::string formatMeasures(const FrameStats& s) {
    char head[32];
    std::snprintf(head, sizeof head, "valid %5.1f %%", s.validPercent);
    std::string line = head;
    if (s.mode == ozr::AcquisitionMode::DIST_AMP || s.mode == ozr::AcquisitionMode::DIST_AMP_HDR) {
        line.append("  median ").append(orDash(s.medianDistanceMm, " mm"));
        line.append("  amplitude ").append(orDash(s.medianAmplitude, ""));
        line.append("  centre ").append(std::to_string(s.centreDistanceMm));
        line.append(s.centreDistanceMm < FIRST_PIXEL_CODE ? " mm" : " (code)");
    } else if (s.mode == ozr::AcquisitionMode::GRAYSCALE) {
        char tail[64];
        std::snprintf(tail, sizeof tail, "  grayscale median %u  mean %.1f", s.medianGrayscale,
                      s.meanGrayscale);
        line += tail;
    } else {
        line += "  DCS medians";
        for (uint16_t m : s.dcsMedian) line.append(" ").append(std::to_string(m));
    }
    return line;
}

nlohmann::json toJson(const FrameStats& s) {
    nlohmann::json j;
    j["mode"] = modeName(s.mode);
    j["frame"] = s.frameNumber;
    j["timestamp_ms"] = s.timestampMs;
    j["fps"] = s.fps;
    j["width"] = s.width;
    j["height"] = s.height;
    j["valid_percent"] = s.validPercent;
    auto optional = [](const std::optional<uint16_t>& v) {
        return v ? nlohmann::json(*v) : nlohmann::json(nullptr);
    };
    if (s.mode == ozr::AcquisitionMode::DIST_AMP || s.mode == ozr::AcquisitionMode::DIST_AMP_HDR) {
        j["median_distance_mm"] = optional(s.medianDistanceMm);
        j["median_amplitude"] = optional(s.medianAmplitude);
        j["centre_distance_mm"] = s.centreDistanceMm;
        j["centre_amplitude"] = s.centreAmplitude;
    } else if (s.mode == ozr::AcquisitionMode::GRAYSCALE) {
        j["median_grayscale"] = s.medianGrayscale;
        j["mean_grayscale"] = s.meanGrayscale;
    } else {
        j["dcs_median"] = s.dcsMedian;
        j["dcs_mean"] = s.dcsMean;
    }
    return j;
}

}  // namespace capture
