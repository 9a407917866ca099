// ozr-calibrate: the fits behind each calibration step. Pure computation on
// measured phases, distances and intensities; nothing here touches a camera.
//
// Phases are in turns (one full period = 1.0) unless a name says otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace calib {

// Solves the symmetric positive definite system A x = b (n x n, row-major)
// by Cholesky decomposition. False when A is not positive definite.
bool solveSymmetric(std::vector<double> a, std::vector<double> b, size_t n, std::vector<double>& x);

// Wraps a phase into [-0.5, 0.5) and [0, 1).
double wrapSigned(double turns);
double wrapUnit(double turns);

// A raw phase of the library (1/65536 turn) for a phase in turns, wrapped.
uint16_t rawPhase(double turns);

// The cyclic phase error as a function of the measured phase p:
// E(p) = sum over k = 1..K of c[k-1] cos(2 pi k p) + s[k-1] sin(2 pi k p).
struct CyclicError {
    std::vector<double> c, s;
    double operator()(double p) const;
    // The library's table of n entries: entry k holds E at the centre of the
    // measured phases it covers, (k + 0.5) / n, as a raw phase.
    std::vector<uint16_t> table(size_t n) const;
};

// A sweep of the illumination delay: the phases of `pixels` pixels at each
// of `steps` delay steps, pixel-major (phase[pixel * steps + j]), measured
// at step numbers stepOf[j].
struct DelaySweep {
    size_t pixels = 0;
    size_t steps = 0;
    std::vector<double> stepOf;
    std::vector<double> phase;  // wrapped measured phases, turns
};

struct SweepFit {
    bool ok = false;
    std::string error;         // why there is no sound result
    double turnsPerStep = 0;   // phase advance per delay step
    double coveredTurns = 0;   // phase range the sweep covered
    double residualTurns = 0;  // rms of the fit
    CyclicError cyclic;        // the fitted cyclic error
};

// Fits measured = a_pixel + g * step + E(measured) over all pixels and
// steps: one constant per pixel (its distance and offset), the phase advance
// g per delay step and the cyclic error E with `harmonics` harmonics. The
// sweep must cover at least one full period (else `error` says how much it
// covered, and so does coveredTurns).
SweepFit fitDelaySweep(const DelaySweep& sweep, int harmonics);

// Robust smooth surface over an image: a 2-D polynomial of total degree
// `degree` in the pixel coordinates, fitted to the values of the pixels
// whose mask is set, with repeated rejection of pixels further than
// max(minThreshold, 6 sigma) from the surface (sigma from the median
// absolute deviation); the degree rises from 2 to `degree` over the first
// rounds, so that large objects are rejected before the surface can bend.
struct SurfaceFit {
    bool ok = false;
    std::vector<double> surface;  // the polynomial at every pixel
    std::vector<uint8_t> inlier;  // pixels that follow the surface
    size_t inliers = 0;
    double rms = 0;  // of the inliers about the surface
};
SurfaceFit fitSurface(const std::vector<double>& values, const std::vector<uint8_t>& mask,
                      uint32_t width, uint32_t height, int degree, double minThreshold);

// A plane z = z0 + tx x + ty y (camera frame, millimetres) through the point
// (0, 0, z0) on the optical axis, seen along unit rays: the radial distance
// of pixel i is z0 / (rz - tx rx - ty ry). fitTiltedPlane finds tx, ty and a
// constant c for which measured[i] - c follows that distance best, over the
// masked pixels, rejecting pixels further than `threshold` mm.
struct PlaneFit {
    bool ok = false;
    double tx = 0, ty = 0, constant = 0;
    std::vector<uint8_t> inlier;
    size_t inliers = 0;
};
double planeDistance(double z0, double tx, double ty, double rx, double ry, double rz);
PlaneFit fitTiltedPlane(const std::vector<double>& measured, const std::vector<uint8_t>& mask,
                        const float* rx, const float* ry, const float* rz, double z0,
                        double threshold);

// Least-squares line y = a + b x.
struct Line {
    bool ok = false;
    double a = 0, b = 0, rms = 0;
};
Line fitLine(const std::vector<double>& x, const std::vector<double>& y);

double median(std::vector<double> v);

}  // namespace calib
