#include "view_frame.h"

#include <bit>
#include <cstring>
#include <vector>

#include "preview.h"

namespace view {

namespace {

struct Plane {
    uint8_t kind;
    const uint16_t* data;
};

std::vector<Plane> planesOf(const ozr::TOFFrame& frame, ozr::AcquisitionMode mode) {
    using ozr::FrameType;
    switch (mode) {
        case ozr::AcquisitionMode::DIST_AMP:
        case ozr::AcquisitionMode::DIST_AMP_HDR:
            return {{PLANE_DISTANCE, frame.getData<uint16_t>(FrameType::DISTANCE)},
                    {PLANE_AMPLITUDE, frame.getData<uint16_t>(FrameType::AMPLITUDE)}};
        case ozr::AcquisitionMode::GRAYSCALE:
            return {{PLANE_GRAYSCALE, frame.getData<uint16_t>(FrameType::GRAYSCALE)}};
        case ozr::AcquisitionMode::DCS4: {
            std::vector<Plane> planes;
            for (uint8_t i = 0; i < 4; ++i) {
                planes.push_back({static_cast<uint8_t>(PLANE_DCS0 + i),
                                  frame.getData<uint16_t>(FrameType::DCS, i)});
            }
            return planes;
        }
        default:
            return {};
    }
}

void put16(char* p, uint16_t v) {
    p[0] = static_cast<char>(v & 0xFF);
    p[1] = static_cast<char>(v >> 8);
}

void put32(char* p, uint32_t v) {
    for (int b = 0; b < 4; ++b) p[b] = static_cast<char>((v >> (8 * b)) & 0xFF);
}

void put64(char* p, uint64_t v) {
    for (int b = 0; b < 8; ++b) p[b] = static_cast<char>((v >> (8 * b)) & 0xFF);
}

}  // namespace

void encodeFrame(const ozr::TOFFrame& frame, const capture::FrameStats& stats,
                 const FrameInfo& info, std::string& message) {
    const std::vector<Plane> planes = planesOf(frame, stats.mode);
    const uint16_t w = frame.getWidth();
    const uint16_t h = frame.getHeight();
    const size_t n = size_t{w} * h;
    const size_t total = HEADER_BYTES + planes.size() * n * 2;
    message.assign(total, '\0');
    char* m = message.data();
    std::memcpy(m, "OZRV", 4);
    put16(m + 4, MESSAGE_VERSION);
    put16(m + 6, HEADER_BYTES);
    put32(m + 8, static_cast<uint32_t>(total));
    m[12] = static_cast<char>(stats.mode);
    m[13] = static_cast<char>(planes.size());
    put16(m + 14, w);
    put16(m + 16, h);
    put16(m + 18,
          static_cast<uint16_t>((info.temperatureKnown ? 1 : 0) | (info.recording ? 2 : 0)));
    put32(m + 20, stats.frameNumber);
    put64(m + 24, std::bit_cast<uint64_t>(static_cast<double>(stats.timestampMs)));
    put32(m + 32, std::bit_cast<uint32_t>(static_cast<float>(info.fps)));
    put32(m + 36, std::bit_cast<uint32_t>(info.temperatureKnown ? info.temperatureC : 0.0f));
    put32(m + 40, std::bit_cast<uint32_t>(static_cast<float>(stats.validPercent)));
    put16(m + 44, stats.centreDistanceMm);
    put16(m + 46, stats.medianDistanceMm.value_or(0));
    put16(m + 48, stats.medianAmplitude.value_or(0));
    put16(m + 50, stats.medianGrayscale);
    char* out = m + HEADER_BYTES;
    for (size_t p = 0; p < planes.size(); ++p) {
        const Plane& plane = planes[p];
        m[60 + p] = static_cast<char>(plane.kind);
        if (plane.data && n > 0) {
            if (plane.kind == PLANE_DISTANCE) {
                const capture::DisplayRange r = capture::distanceRange(plane.data, n);
                put16(m + 52, r.low);
                put16(m + 54, r.high);
            } else if (plane.kind == PLANE_AMPLITUDE) {
                const capture::DisplayRange r = capture::amplitudeRange(plane.data, n);
                put16(m + 56, r.low);
                put16(m + 58, r.high);
            }
            if constexpr (std::endian::native == std::endian::little) {
                std::memcpy(out, plane.data, n * 2);
            } else {
                for (size_t i = 0; i < n; ++i) put16(out + 2 * i, plane.data[i]);
            }
        }
        out += n * 2;
    }
}

}  // namespace view
