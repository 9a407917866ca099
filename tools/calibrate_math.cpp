#include "calibrate_math.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

namespace calib {

namespace {

constexpr double TWO_PI = 2.0 * std::numbers::pi;

// Adds w * row row^T to the normal matrix and w * y * row to the right side.
void accumulate(std::vector<double>& ata, std::vector<double>& atb, const std::vector<double>& row,
                double y, double w = 1.0) {
    const size_t n = row.size();
    for (size_t r = 0; r < n; ++r) {
        const double wr = w * row[r];
        atb[r] += wr * y;
        double* out = &ata[r * n];
        for (size_t c = 0; c <= r; ++c) out[c] += wr * row[c];
    }
}

void mirror(std::vector<double>& ata, size_t n) {
    for (size_t r = 0; r < n; ++r) {
        for (size_t c = r + 1; c < n; ++c) ata[r * n + c] = ata[c * n + r];
    }
}

// The wrapped phases p[0..n) of one pixel along a sweep, unwrapped from the
// first: each step is taken as the shorter way round.
void unwrap(const double* p, size_t n, std::vector<double>& out) {
    out[0] = p[0];
    for (size_t j = 1; j < n; ++j) out[j] = out[j - 1] + wrapSigned(p[j] - p[j - 1]);
}

}  // namespace

bool solveSymmetric(std::vector<double> a, std::vector<double> b, size_t n,
                    std::vector<double>& x) {
    if (a.size() != n * n || b.size() != n) return false;
    // Cholesky: a = L L^T, L stored in the lower triangle.
    for (size_t j = 0; j < n; ++j) {
        double d = a[j * n + j];
        for (size_t k = 0; k < j; ++k) d -= a[j * n + k] * a[j * n + k];
        if (!(d > 1e-300)) return false;
        const double l = std::sqrt(d);
        a[j * n + j] = l;
        for (size_t i = j + 1; i < n; ++i) {
            double v = a[i * n + j];
            for (size_t k = 0; k < j; ++k) v -= a[i * n + k] * a[j * n + k];
            a[i * n + j] = v / l;
        }
    }
    for (size_t i = 0; i < n; ++i) {
        double v = b[i];
        for (size_t k = 0; k < i; ++k) v -= a[i * n + k] * b[k];
        b[i] = v / a[i * n + i];
    }
    for (size_t i = n; i-- > 0;) {
        double v = b[i];
        for (size_t k = i + 1; k < n; ++k) v -= a[k * n + i] * b[k];
        b[i] = v / a[i * n + i];
    }
    for (double v : b) {
        if (!std::isfinite(v)) return false;
    }
    x = std::move(b);
    return true;
}

double wrapSigned(double turns) {
    return turns - std::floor(turns + 0.5);
}

double wrapUnit(double turns) {
    return turns - std::floor(turns);
}

uint16_t rawPhase(double turns) {
    const long raw = std::lround(wrapUnit(turns) * 65536.0);
    return static_cast<uint16_t>(static_cast<unsigned long>(raw) & 0xFFFFu);
}

double CyclicError::operator()(double p) const {
    double e = 0.0;
    for (size_t k = 0; k < c.size() && k < s.size(); ++k) {
        const double a = TWO_PI * static_cast<double>(k + 1) * p;
        e += c[k] * std::cos(a) + s[k] * std::sin(a);
    }
    return e;
}

std::vector<uint16_t> CyclicError::table(size_t n) const {
    std::vector<uint16_t> lut(n);
    for (size_t k = 0; k < n; ++k) {
        lut[k] = rawPhase((*this)((static_cast<double>(k) + 0.5) / static_cast<double>(n)));
    }
    return lut;
}

SweepFit fitDelaySweep(const DelaySweep& sw, int harmonics) {
    SweepFit fit;
    const size_t k = static_cast<size_t>(std::max(harmonics, 1));
    const size_t n = 1 + 2 * k;
    if (sw.pixels == 0 || sw.steps < n + 2 || sw.stepOf.size() != sw.steps ||
        sw.phase.size() != sw.pixels * sw.steps) {
        fit.error = "too few delay steps or pixels for the fit";
        return fit;
    }
    double stepMean = 0.0;
    for (double s : sw.stepOf) stepMean += s;
    stepMean /= static_cast<double>(sw.steps);

    // Per pixel: unwrap along the sweep, then remove the pixel's means (its
    // constant) from the measurement and from every unknown's column.
    std::vector<double> ata(n * n, 0.0), atb(n, 0.0);
    std::vector<double> unwrapped(sw.steps), rows(sw.steps * n), mean(n), row(n);
    double advance = 0.0;
    for (size_t px = 0; px < sw.pixels; ++px) {
        const double* p = &sw.phase[px * sw.steps];
        unwrap(p, sw.steps, unwrapped);
        advance += unwrapped[sw.steps - 1] - unwrapped[0];
        double yMean = 0.0;
        std::fill(mean.begin(), mean.end(), 0.0);
        for (size_t j = 0; j < sw.steps; ++j) {
            double* r = &rows[j * n];
            r[0] = sw.stepOf[j] - stepMean;
            for (size_t h = 0; h < k; ++h) {
                const double a = TWO_PI * static_cast<double>(h + 1) * p[j];
                r[1 + h] = std::cos(a);
                r[1 + k + h] = std::sin(a);
            }
            for (size_t c = 0; c < n; ++c) mean[c] += r[c];
            yMean += unwrapped[j];
        }
        yMean /= static_cast<double>(sw.steps);
        for (double& m : mean) m /= static_cast<double>(sw.steps);
        for (size_t j = 0; j < sw.steps; ++j) {
            for (size_t c = 0; c < n; ++c) row[c] = rows[j * n + c] - (c == 0 ? 0.0 : mean[c]);
            accumulate(ata, atb, row, unwrapped[j] - yMean);
        }
    }
    // Less than a period leaves the linear advance and the first harmonics
    // indistinguishable.
    fit.coveredTurns = std::abs(advance / static_cast<double>(sw.pixels));
    if (fit.coveredTurns < 1.0) {
        fit.error = "the delay sweep covers only " + std::to_string(fit.coveredTurns) +
                    " of a modulation period (it must cover a whole one): the delay line is too "
                    "short for this frequency";
        return fit;
    }
    mirror(ata, n);
    std::vector<double> x;
    if (!solveSymmetric(ata, atb, n, x)) {
        fit.error = "the sweep's phases do not determine the cyclic error";
        return fit;
    }
    fit.turnsPerStep = x[0];
    const double span = sw.stepOf.back() - sw.stepOf.front();
    fit.cyclic.c.assign(x.begin() + 1, x.begin() + 1 + static_cast<long>(k));
    fit.cyclic.s.assign(x.begin() + 1 + static_cast<long>(k), x.end());

    // Residuals, with each pixel's constant from its means.
    double ss = 0.0;
    for (size_t px = 0; px < sw.pixels; ++px) {
        const double* p = &sw.phase[px * sw.steps];
        unwrap(p, sw.steps, unwrapped);
        double constant = 0.0;
        for (size_t j = 0; j < sw.steps; ++j) {
            constant += unwrapped[j] - fit.turnsPerStep * sw.stepOf[j] - fit.cyclic(p[j]);
        }
        constant /= static_cast<double>(sw.steps);
        for (size_t j = 0; j < sw.steps; ++j) {
            const double r =
                unwrapped[j] - constant - fit.turnsPerStep * sw.stepOf[j] - fit.cyclic(p[j]);
            ss += r * r;
        }
    }
    fit.residualTurns = std::sqrt(ss / static_cast<double>(sw.pixels * sw.steps));
    if (!(fit.turnsPerStep > 0.0) || !(span > 0.0)) {
        fit.error = "the phase does not advance with the delay step";
        return fit;
    }
    fit.ok = true;
    return fit;
}

namespace {

// The monomials u^a v^b with a + b <= degree.
void monomials(double u, double v, int degree, std::vector<double>& out) {
    out.clear();
    double ua = 1.0;
    for (int a = 0; a <= degree; ++a) {
        double term = ua;
        for (int b = 0; a + b <= degree; ++b) {
            out.push_back(term);
            term *= v;
        }
        ua *= u;
    }
}

}  // namespace

SurfaceFit fitSurface(const std::vector<double>& values, const std::vector<uint8_t>& mask,
                      uint32_t width, uint32_t height, int degree, double minThreshold) {
    SurfaceFit fit;
    const size_t count = static_cast<size_t>(width) * height;
    if (count == 0 || values.size() != count || mask.size() != count || degree < 0) return fit;
    const double hx = std::max(1.0, width / 2.0), hy = std::max(1.0, height / 2.0);
    auto coordinates = [&](size_t i, double& u, double& v) {
        u = (static_cast<double>(i % width) + 0.5 - width / 2.0) / hx;
        v = (static_cast<double>(i / width) + 0.5 - height / 2.0) / hy;
    };
    fit.inlier = mask;
    fit.surface.assign(count, 0.0);
    // A flexible surface bends towards large objects before it can reject
    // them: the degree rises by two from a quadratic, rejecting as it goes.
    int current = std::min(degree, 2);
    std::vector<double> row;
    for (int round = 0; round < 8 + degree; ++round) {
        monomials(0, 0, current, row);
        const size_t n = row.size();
        std::vector<double> ata(n * n, 0.0), atb(n, 0.0);
        size_t used = 0;
        for (size_t i = 0; i < count; ++i) {
            if (!fit.inlier[i]) continue;
            double u, v;
            coordinates(i, u, v);
            monomials(u, v, current, row);
            accumulate(ata, atb, row, values[i]);
            ++used;
        }
        if (used < 2 * n) return fit;
        mirror(ata, n);
        std::vector<double> coef;
        if (!solveSymmetric(ata, atb, n, coef)) return fit;
        std::vector<double> deviations;
        deviations.reserve(used);
        for (size_t i = 0; i < count; ++i) {
            double u, v;
            coordinates(i, u, v);
            monomials(u, v, current, row);
            double s = 0.0;
            for (size_t t = 0; t < n; ++t) s += coef[t] * row[t];
            fit.surface[i] = s;
            if (fit.inlier[i]) deviations.push_back(std::abs(values[i] - s));
        }
        const double sigma = 1.4826 * median(deviations);
        const double threshold = std::max(minThreshold, 6.0 * sigma);
        size_t changed = 0;
        for (size_t i = 0; i < count; ++i) {
            const uint8_t in = mask[i] && std::abs(values[i] - fit.surface[i]) <= threshold;
            changed += in != fit.inlier[i];
            fit.inlier[i] = in;
        }
        if (current < degree) {
            current = std::min(degree, current + 2);
        } else if (changed == 0 && round > 0) {
            break;
        }
    }
    double ss = 0.0;
    fit.inliers = 0;
    for (size_t i = 0; i < count; ++i) {
        if (!fit.inlier[i]) continue;
        ss += (values[i] - fit.surface[i]) * (values[i] - fit.surface[i]);
        ++fit.inliers;
    }
    fit.rms = fit.inliers ? std::sqrt(ss / static_cast<double>(fit.inliers)) : 0.0;
    fit.ok = fit.inliers > 0;
    return fit;
}

double planeDistance(double z0, double tx, double ty, double rx, double ry, double rz) {
    const double den = rz - tx * rx - ty * ry;
    return den > 1e-6 ? z0 / den : INFINITY;
}

PlaneFit fitTiltedPlane(const std::vector<double>& measured, const std::vector<uint8_t>& mask,
                        const float* rx, const float* ry, const float* rz, double z0,
                        double threshold) {
    PlaneFit fit;
    const size_t count = measured.size();
    if (mask.size() != count || count == 0 || !(z0 > 0.0)) return fit;
    fit.inlier = mask;
    {
        std::vector<double> start;
        for (size_t i = 0; i < count; ++i) {
            if (mask[i])
                start.push_back(measured[i] - planeDistance(z0, 0, 0, rx[i], ry[i], rz[i]));
        }
        if (start.empty()) return fit;
        fit.constant = median(start);
    }
    // Gauss-Newton on (tx, ty, constant), dropping far pixels as it goes.
    for (int it = 0; it < 30; ++it) {
        std::vector<double> ata(9, 0.0), atb(3, 0.0), row(3);
        size_t used = 0;
        for (size_t i = 0; i < count; ++i) {
            if (!fit.inlier[i]) continue;
            const double den = rz[i] - fit.tx * rx[i] - fit.ty * ry[i];
            if (!(den > 1e-6)) continue;
            const double d = z0 / den;
            const double r = measured[i] - fit.constant - d;
            row[0] = z0 * rx[i] / (den * den);
            row[1] = z0 * ry[i] / (den * den);
            row[2] = 1.0;
            accumulate(ata, atb, row, r);
            ++used;
        }
        if (used < 10) return fit;
        mirror(ata, 3);
        std::vector<double> step;
        if (!solveSymmetric(ata, atb, 3, step)) return fit;
        fit.tx += step[0];
        fit.ty += step[1];
        fit.constant += step[2];
        size_t changed = 0;
        for (size_t i = 0; i < count; ++i) {
            const double d = planeDistance(z0, fit.tx, fit.ty, rx[i], ry[i], rz[i]);
            const uint8_t in = mask[i] && std::isfinite(d) &&
                               std::abs(measured[i] - fit.constant - d) <= threshold;
            changed += in != fit.inlier[i];
            fit.inlier[i] = in;
        }
        if (changed == 0 && std::abs(step[0]) + std::abs(step[1]) < 1e-9) break;
    }
    fit.inliers = static_cast<size_t>(std::count(fit.inlier.begin(), fit.inlier.end(), 1));
    fit.ok = fit.inliers > 0;
    return fit;
}

Line fitLine(const std::vector<double>& x, const std::vector<double>& y) {
    Line line;
    const size_t n = x.size();
    if (n < 2 || y.size() != n) return line;
    double mx = 0, my = 0;
    for (size_t i = 0; i < n; ++i) {
        mx += x[i];
        my += y[i];
    }
    mx /= static_cast<double>(n);
    my /= static_cast<double>(n);
    double sxx = 0, sxy = 0;
    for (size_t i = 0; i < n; ++i) {
        sxx += (x[i] - mx) * (x[i] - mx);
        sxy += (x[i] - mx) * (y[i] - my);
    }
    if (!(sxx > 0)) return line;
    line.b = sxy / sxx;
    line.a = my - line.b * mx;
    double ss = 0;
    for (size_t i = 0; i < n; ++i) {
        const double r = y[i] - line.a - line.b * x[i];
        ss += r * r;
    }
    line.rms = std::sqrt(ss / static_cast<double>(n));
    line.ok = true;
    return line;
}

double median(std::vector<double> v) {
    if (v.empty()) return 0.0;
    const size_t mid = v.size() / 2;
    std::nth_element(v.begin(), v.begin() + static_cast<long>(mid), v.end());
    return v[mid];
}

}  // namespace calib
