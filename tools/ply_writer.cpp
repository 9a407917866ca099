#include "ply_writer.h"

#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "png_writer.h"

namespace capture {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// The vertex records as PLY's binary little-endian format lays them out.
std::vector<unsigned char> vertexBytes(const std::vector<float>& xyz,
                                       const std::vector<uint16_t>& amplitude) {
    constexpr size_t RECORD = 3 * sizeof(float) + sizeof(uint16_t);
    std::vector<unsigned char> bytes(amplitude.size() * RECORD);
    unsigned char* out = bytes.data();
    for (size_t i = 0; i < amplitude.size(); ++i) {
        for (int c = 0; c < 3; ++c) {
            const uint32_t bits = std::bit_cast<uint32_t>(xyz[3 * i + c]);
            for (int b = 0; b < 4; ++b) *out++ = static_cast<unsigned char>(bits >> (8 * b));
        }
        *out++ = static_cast<unsigned char>(amplitude[i] & 0xFF);
        *out++ = static_cast<unsigned char>(amplitude[i] >> 8);
    }
    return bytes;
}

}  // namespace

PlyFrameWriter::PlyFrameWriter(std::string dir, long every, const ozr::LensIntrinsics& lens)
    : dir_(std::move(dir)), every_(every < 1 ? 1 : every), lens_(lens) {}

std::string PlyFrameWriter::plyBytes(const std::vector<float>& xyz,
                                     const std::vector<uint16_t>& amplitude) {
    const std::string header =
        "ply\nformat binary_little_endian 1.0\n"
        "comment ozrtofcam points, millimetres: x right, y down, z forward\n"
        "element vertex " +
        std::to_string(amplitude.size()) +
        "\nproperty float x\nproperty float y\nproperty float z\n"
        "property ushort amplitude\nend_header\n";
    const std::vector<unsigned char> body = vertexBytes(xyz, amplitude);
    return header + std::string(body.begin(), body.end());
}

std::string PlyFrameWriter::writePly(const std::string& path, const std::vector<float>& xyz,
                                     const std::vector<uint16_t>& amplitude) {
    if (xyz.size() != 3 * amplitude.size()) return path + ": points and amplitudes differ";
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "wb"));
    if (!f) return "cannot create " + path + ": " + std::strerror(errno);
    const std::string bytes = plyBytes(xyz, amplitude);
    if (std::fwrite(bytes.data(), 1, bytes.size(), f.get()) != bytes.size() ||
        std::fclose(f.release()) != 0) {
        return "cannot write " + path + ": " + std::strerror(errno);
    }
    return {};
}

std::string PlyFrameWriter::write(const ozr::TOFFrame& frame) {
    if (++seen_ % every_ != 0) return {};
    if (const int rc = ozr::toPointCloud(frame, lens_, xyz_, ozr::CodedPixels::DROP, &pixels_);
        rc != 0) {
        return "no point cloud of frame " + std::to_string(frame.getMetadata().frameNumber);
    }
    const uint16_t* amplitude = frame.getData<uint16_t>(ozr::FrameType::AMPLITUDE);
    amplitude_.resize(pixels_.size());
    for (size_t j = 0; j < pixels_.size(); ++j)
        amplitude_[j] = amplitude ? amplitude[pixels_[j]] : 0;
    const std::string path =
        PngFrameWriter::fileName(dir_, frame.getMetadata().frameNumber, "points");
    std::string error = writePly(path.substr(0, path.size() - 4) + ".ply", xyz_, amplitude_);
    if (error.empty()) ++files_;
    return error;
}

}  // namespace capture
