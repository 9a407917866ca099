// The lens model and point clouds: every distance pixel as a 3-D point.
//
// A calibration directory may describe the camera's lens in its index
// "calibration_info.json":
//
//     "lens": {"width": 320, "height": 240, "fx": 287.1, "fy": 287.1,
//              "cx": 161.5, "cy": 117.5,
//              "k1": -0.12, "k2": 0.03, "k3": 0, "p1": 0.0004, "p2": -0.0003}
//
// a pinhole with focal lengths fx, fy and principal point cx, cy in pixels
// of a width x height image (pixel centres at whole coordinates: the first
// pixel's centre is 0, 0), with Brown-Conrady distortion (radial k1, k2, k3,
// tangential p1, p2; each 0 when left out). A pixel (x, y) looks along the
// ray (xn, yn, 1), where the undistorted normalised coordinates (xn, yn) map
// to ((x - cx) / fx, (y - cy) / fy) by
//     r2 = xn^2 + yn^2,  radial = 1 + k1 r2 + k2 r2^2 + k3 r2^3
//     xd = xn radial + 2 p1 xn yn + p2 (r2 + 2 xn^2)
//     yd = yn radial + p1 (r2 + 2 yn^2) + 2 p2 xn yn.
// Without a "lens" everything works as before; a malformed one is logged and
// treated as absent.
//
// Points are millimetres in the camera frame: x to the right, y down, z
// forward along the optical axis. The sensor measures the radial distance
// along each pixel's ray, so a pixel's point is its distance times its unit
// ray.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ozr/export.h"
#include "ozr/tofcam.h"

namespace ozr {

struct LensIntrinsics {
    uint32_t width = 0;  // image size the values are for
    uint32_t height = 0;
    double fx = 0.0, fy = 0.0, cx = 0.0, cy = 0.0;  // pixels
    double k1 = 0.0, k2 = 0.0, k3 = 0.0;            // radial distortion
    double p1 = 0.0, p2 = 0.0;                      // tangential distortion
};

// The intrinsics for an image of another size: focal lengths scale with the
// size, the principal point so that pixel edges stay where they are
// (cx' = (cx + 0.5) width' / width - 0.5). Distortion is unchanged.
OZR_API LensIntrinsics scaleIntrinsics(const LensIntrinsics& lens, uint32_t width, uint32_t height);

// The lens of the loaded calibration (see registerCalibrationProviders).
// Returns 0, or -2 (ENOENT) when the calibration has no usable lens.
OZR_API int getLensIntrinsics(LensIntrinsics& lens);

// The unit ray of every pixel of an image, built once for a lens and an
// image size and used for every frame.
class OZR_API RayTable {
public:
    RayTable() = default;

    // Builds the rays of a width x height image through `lens`, scaled to
    // that size. Returns 0, or -22 (logged) for intrinsics that cannot be
    // used (sizes of 0, focal lengths that are not positive, values that are
    // not finite); the table is then empty. A pixel whose distortion cannot
    // be inverted (far outside a sensible lens) gets a NaN ray.
    int build(const LensIntrinsics& lens, uint32_t width, uint32_t height);

    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    bool empty() const { return rayX_.empty(); }
    // The intrinsics the rays were built from, as given.
    const LensIntrinsics& lens() const { return lens_; }
    // Components of the unit rays, one value a pixel, row-major.
    const float* x() const { return rayX_.data(); }
    const float* y() const { return rayY_.data(); }
    const float* z() const { return rayZ_.data(); }

private:
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    LensIntrinsics lens_;
    std::vector<float> rayX_, rayY_, rayZ_;
};

// What becomes of pixels that hold a pixel code (64000 and above) instead of
// a distance.
enum class CodedPixels : uint8_t {
    NAN_POINTS = 0,  // a point of three NaNs: the cloud keeps the image's rows
    DROP = 1,        // left out: the cloud holds the measured points only
};

// Turns the distance image of `frame` into points: `xyz` becomes x, y, z of
// each point one after the other (3 floats a point), in pixel order. With
// `pixels`, it receives the index (y x width + x) of each point's pixel.
// The intrinsics are scaled to the frame's size; the ray table of the last
// lens and size is kept per thread. Returns 0, -22 (logged) when the frame
// has no distance image or the intrinsics cannot be used.
OZR_API int toPointCloud(const TOFFrame& frame, const LensIntrinsics& lens, std::vector<float>& xyz,
                         CodedPixels coded = CodedPixels::NAN_POINTS,
                         std::vector<uint32_t>* pixels = nullptr);

// The same for a distance image of rays.width() x rays.height() pixels, with
// a ray table the caller keeps.
OZR_API int toPointCloud(const uint16_t* distance, const RayTable& rays, std::vector<float>& xyz,
                         CodedPixels coded = CodedPixels::NAN_POINTS,
                         std::vector<uint32_t>* pixels = nullptr);

}  // namespace ozr
