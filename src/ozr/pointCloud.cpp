#include "ozr/pointCloud.h"

#include <cmath>
#include <cstring>
#include <new>
#include <string>

#include "kyr/platform.h"
#include "kyr/status.h"
#include "lensCalibration.h"
#include "optimized/pointKernels.h"

namespace ozr {

namespace {

// The distortion is inverted by fixed-point iteration, which converges for
// every lens a camera has; a ray whose result does not map back onto its
// pixel within this tolerance (normalised units) is NaN.
constexpr int UNDISTORT_ITERATIONS = 50;
constexpr double UNDISTORT_TOLERANCE = 1e-9;

void distort(const LensIntrinsics& l, double xn, double yn, double& xd, double& yd) {
    const double r2 = xn * xn + yn * yn;
    const double radial = 1.0 + r2 * (l.k1 + r2 * (l.k2 + r2 * l.k3));
    xd = xn * radial + 2.0 * l.p1 * xn * yn + l.p2 * (r2 + 2.0 * xn * xn);
    yd = yn * radial + l.p1 * (r2 + 2.0 * yn * yn) + 2.0 * l.p2 * xn * yn;
}

// The undistorted normalised coordinates of a pixel; false when the
// iteration does not find them.
bool undistort(const LensIntrinsics& l, double xd, double yd, double& xn, double& yn) {
    xn = xd;
    yn = yd;
    for (int i = 0; i < UNDISTORT_ITERATIONS; ++i) {
        const double r2 = xn * xn + yn * yn;
        const double radial = 1.0 + r2 * (l.k1 + r2 * (l.k2 + r2 * l.k3));
        if (!(radial > 0.0)) {
            return false;
        }
        const double dx = 2.0 * l.p1 * xn * yn + l.p2 * (r2 + 2.0 * xn * xn);
        const double dy = l.p1 * (r2 + 2.0 * yn * yn) + 2.0 * l.p2 * xn * yn;
        const double nx = (xd - dx) / radial, ny = (yd - dy) / radial;
        const bool settled = std::abs(nx - xn) < 1e-15 && std::abs(ny - yn) < 1e-15;
        xn = nx;
        yn = ny;
        if (settled) {
            break;
        }
    }
    double bx = 0.0, by = 0.0;
    distort(l, xn, yn, bx, by);
    return std::isfinite(xn) && std::isfinite(yn) && std::abs(bx - xd) < UNDISTORT_TOLERANCE &&
           std::abs(by - yd) < UNDISTORT_TOLERANCE;
}

// Keeps the points of measured pixels (not codes, not NaN rays), in order,
// with their pixel indices. Every point is copied and the write position
// moves on only for a kept one, so the loop has no branch to mispredict.
void dropCoded(const uint16_t* distance, size_t count, std::vector<float>& xyz,
               std::vector<uint32_t>* pixels) {
    float* p = xyz.data();
    uint32_t* index = pixels ? pixels->data() : nullptr;
    size_t kept = 0;
    for (size_t i = 0; i < count; ++i) {
        const float x = p[3 * i], y = p[3 * i + 1], z = p[3 * i + 2];
        p[3 * kept] = x;
        p[3 * kept + 1] = y;
        p[3 * kept + 2] = z;
        if (index) {
            index[kept] = static_cast<uint32_t>(i);
        }
        kept += static_cast<size_t>(distance[i] < kyr::kernels::POINT_CODE_LIMIT && x == x);
    }
    xyz.resize(3 * kept);
    if (pixels) {
        pixels->resize(kept);
    }
}

}  // namespace

int RayTable::build(const LensIntrinsics& lens, uint32_t width, uint32_t height) {
    width_ = height_ = 0;
    rayX_.clear();
    rayY_.clear();
    rayZ_.clear();
    std::string why;
    if (width == 0 || height == 0) {
        KYR_LOG_ERROR("Cannot build the rays of a %ux%u image", width, height);
        return kyr::status::INVALID_ARGUMENT;
    }
    if (!calibration::usableLens(lens, why)) {
        KYR_LOG_ERROR("Lens intrinsics cannot be used: %s", why.c_str());
        return kyr::status::INVALID_ARGUMENT;
    }
    const size_t n = static_cast<size_t>(width) * height;
    try {
        rayX_.resize(n);
        rayY_.resize(n);
        rayZ_.resize(n);
    } catch (const std::bad_alloc&) {
        KYR_LOG_ERROR("No memory for the rays of a %ux%u image", width, height);
        rayX_.clear();
        rayY_.clear();
        rayZ_.clear();
        return kyr::status::NO_MEMORY;
    }
    const LensIntrinsics l = scaleIntrinsics(lens, width, height);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const size_t i = static_cast<size_t>(y) * width + x;
            double xn = 0.0, yn = 0.0;
            if (!undistort(l, (x - l.cx) / l.fx, (y - l.cy) / l.fy, xn, yn)) {
                rayX_[i] = rayY_[i] = rayZ_[i] = kyr::kernels::pointNaN();
                continue;
            }
            const double norm = std::sqrt(xn * xn + yn * yn + 1.0);
            rayX_[i] = static_cast<float>(xn / norm);
            rayY_[i] = static_cast<float>(yn / norm);
            rayZ_[i] = static_cast<float>(1.0 / norm);
        }
    }
    width_ = width;
    height_ = height;
    lens_ = lens;
    return 0;
}

int toPointCloud(const uint16_t* distance, const RayTable& rays, std::vector<float>& xyz,
                 CodedPixels coded, std::vector<uint32_t>* pixels) {
    if (distance == nullptr || rays.empty()) {
        KYR_LOG_ERROR("No distance image or no rays for a point cloud");
        return kyr::status::INVALID_ARGUMENT;
    }
    const size_t n = static_cast<size_t>(rays.width()) * rays.height();
    try {
        xyz.resize(3 * n);
        if (pixels) {
            pixels->resize(n);
        }
    } catch (const std::bad_alloc&) {
        KYR_LOG_ERROR("No memory for a point cloud of %zu points", n);
        return kyr::status::NO_MEMORY;
    }
    kyr::kernels::pointsFromDistance(distance, rays.x(), rays.y(), rays.z(), xyz.data(), n);
    if (coded == CodedPixels::DROP) {
        dropCoded(distance, n, xyz, pixels);
    } else if (pixels) {
        for (size_t i = 0; i < n; ++i) {
            (*pixels)[i] = static_cast<uint32_t>(i);
        }
    }
    return 0;
}

int toPointCloud(const TOFFrame& frame, const LensIntrinsics& lens, std::vector<float>& xyz,
                 CodedPixels coded, std::vector<uint32_t>* pixels) {
    const uint16_t* distance = frame.getData<uint16_t>(FrameType::DISTANCE);
    if (distance == nullptr) {
        KYR_LOG_ERROR("The frame has no distance image for a point cloud");
        return kyr::status::INVALID_ARGUMENT;
    }
    // The rays of the last lens and size, per thread: a stream of frames
    // builds them once.
    thread_local RayTable rays;
    const LensIntrinsics& l = rays.lens();
    const bool same = !rays.empty() && rays.width() == frame.getWidth() &&
                      rays.height() == frame.getHeight() && l.width == lens.width &&
                      l.height == lens.height && l.fx == lens.fx && l.fy == lens.fy &&
                      l.cx == lens.cx && l.cy == lens.cy && l.k1 == lens.k1 && l.k2 == lens.k2 &&
                      l.k3 == lens.k3 && l.p1 == lens.p1 && l.p2 == lens.p2;
    if (!same) {
        if (const int r = rays.build(lens, frame.getWidth(), frame.getHeight()); r != 0) {
            return r;
        }
    }
    return toPointCloud(distance, rays, xyz, coded, pixels);
}

}  // namespace ozr
