#include "lens.h"

#include <cmath>
#include <mutex>
#include <numbers>

namespace ozrsim {

namespace {

constexpr double HALF_FOV_RAD = std::numbers::pi / 6.0;
constexpr double K1 = -0.12, K2 = 0.03, K3 = 0.0, P1 = 4e-4, P2 = -3e-4;
constexpr int UNDISTORT_ITERATIONS = 50;

}  // namespace

void Lens::distort(double xn, double yn, double& xd, double& yd) const {
    const double r2 = xn * xn + yn * yn;
    const double radial = 1.0 + r2 * (k1 + r2 * (k2 + r2 * k3));
    xd = xn * radial + 2.0 * p1 * xn * yn + p2 * (r2 + 2.0 * xn * xn);
    yd = yn * radial + p1 * (r2 + 2.0 * yn * yn) + 2.0 * p2 * xn * yn;
}

void Lens::undistort(double xd, double yd, double& xn, double& yn) const {
    xn = xd;
    yn = yd;
    for (int i = 0; i < UNDISTORT_ITERATIONS; ++i) {
        const double r2 = xn * xn + yn * yn;
        const double radial = 1.0 + r2 * (k1 + r2 * (k2 + r2 * k3));
        const double dx = 2.0 * p1 * xn * yn + p2 * (r2 + 2.0 * xn * xn);
        const double dy = p1 * (r2 + 2.0 * yn * yn) + 2.0 * p2 * xn * yn;
        const double nx = (xd - dx) / radial, ny = (yd - dy) / radial;
        const bool settled = std::abs(nx - xn) < 1e-15 && std::abs(ny - yn) < 1e-15;
        xn = nx;
        yn = ny;
        if (settled) break;
    }
}

std::array<double, 3> Lens::ray(double x, double y) const {
    double xn = 0, yn = 0;
    undistort((x - cx) / fx, (y - cy) / fy, xn, yn);
    const double norm = std::sqrt(xn * xn + yn * yn + 1.0);
    return {xn / norm, yn / norm, 1.0 / norm};
}

Lens trueLens(uint32_t width, uint32_t height) {
    Lens lens;
    lens.width = width;
    lens.height = height;
    lens.k1 = K1;
    lens.k2 = K2;
    lens.k3 = K3;
    lens.p1 = P1;
    lens.p2 = P2;
    // The edge of the centre row (half the width from the centre) images the
    // ray at 30 degrees.
    const double edge = std::tan(HALF_FOV_RAD);
    double edgeDistorted = 0, unused = 0;
    lens.distort(edge, 0.0, edgeDistorted, unused);
    lens.fx = (width / 2.0) / edgeDistorted;
    lens.fy = lens.fx;
    lens.cx = (width - 1) / 2.0 + width / 160.0;
    lens.cy = (height - 1) / 2.0 - height / 120.0;
    return lens;
}

std::shared_ptr<const LensRays> trueLensRays(uint32_t width, uint32_t height) {
    // The renderer of every new configuration asks again; most ask for the
    // size of the one before.
    // Never destroyed: the driver's worker may still be rendering while the
    // process exits.
    static std::mutex& mutex = *new std::mutex;
    static std::shared_ptr<const LensRays>& last = *new std::shared_ptr<const LensRays>;
    const std::lock_guard<std::mutex> lock(mutex);
    if (last && last->width == width && last->height == height) return last;
    auto rays = std::make_shared<LensRays>();
    rays->width = width;
    rays->height = height;
    const size_t n = static_cast<size_t>(width) * height;
    rays->u.resize(n);
    rays->v.resize(n);
    auto unit = std::make_shared<std::vector<float>>(3 * n);
    const Lens lens = trueLens(width, height);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const size_t i = static_cast<size_t>(y) * width + x;
            const std::array<double, 3> ray = lens.ray(x, y);
            rays->u[i] = ray[0] / ray[2];
            rays->v[i] = ray[1] / ray[2];
            for (int c = 0; c < 3; ++c) (*unit)[3 * i + c] = static_cast<float>(ray[c]);
        }
    }
    rays->unit = std::move(unit);
    last = rays;
    return last;
}

}  // namespace ozrsim
