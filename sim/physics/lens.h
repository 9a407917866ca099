// The virtual sensor's lens: a pinhole with Brown-Conrady distortion (radial
// k1, k2, k3 and tangential p1, p2), in pixels of the image the library
// processes, pixel centres at whole coordinates. A pixel (x, y) sees along
// the ray (xn, yn, 1), where (xn, yn) are the undistorted normalised
// coordinates whose distorted image is ((x - cx) / fx, (y - cy) / fy):
//   r2 = xn^2 + yn^2, radial = 1 + k1 r2 + k2 r2^2 + k3 r2^3
//   xd = xn radial + 2 p1 xn yn + p2 (r2 + 2 xn^2)
//   yd = yn radial + p1 (r2 + 2 yn^2) + 2 p2 xn yn
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace ozrsim {

struct Lens {
    uint32_t width = 0;  // image size the values are for
    uint32_t height = 0;
    double fx = 0, fy = 0, cx = 0, cy = 0;
    double k1 = 0, k2 = 0, k3 = 0, p1 = 0, p2 = 0;

    // The distorted normalised coordinates of the undistorted (xn, yn).
    void distort(double xn, double yn, double& xd, double& yd) const;
    // The inverse of distort(), by fixed-point iteration.
    void undistort(double xd, double yd, double& xn, double& yn) const;
    // The unit ray (x right, y down, z forward) through pixel (x, y).
    std::array<double, 3> ray(double x, double y) const;
};

// The lens of every virtual sensor at the given processed image size: mild
// barrel distortion, the principal point 2 pixels right of and above the
// centre (at 320 x 240), and a focal length that keeps the horizontal field
// of view at 60 degrees across the centre row.
Lens trueLens(uint32_t width, uint32_t height);

// The rays of every pixel through trueLens(width, height): the undistorted
// normalised coordinates (u, v) of the ray (u, v, 1), and the unit ray as
// three floats a pixel. Computed once per size and process, shared.
struct LensRays {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<double> u, v;
    std::shared_ptr<const std::vector<float>> unit;
};
std::shared_ptr<const LensRays> trueLensRays(uint32_t width, uint32_t height);

}  // namespace ozrsim
