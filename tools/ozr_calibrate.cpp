// ozr-calibrate: derives the camera's calibration from captures a person can
// make with a flat wall, a tape measure, a flat field and a dark cloth, and
// writes it in the library's own format. Built on the public camera API
// alone. Run with --help.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <numbers>
#include <string>
#include <vector>

#include "calibrate_camera.h"
#include "calibrate_files.h"
#include "calibrate_math.h"
#include "camera_log.h"
#include "cli_parse.h"
#include "ozr/calibration.h"
#include "ozr/pointCloud.h"
#include "ozr/tofcam.h"

namespace {

using namespace calib;
using nlohmann::json;

constexpr int EXIT_REFUSED = 1;  // the data cannot give a sound result, or the camera failed
constexpr int EXIT_USAGE = 2;
constexpr double SPEED_OF_LIGHT_MM_S = 299792458.0e3;

struct Options {
    std::string out;
    std::string model = "auto";
    bool force = false;
    bool verbose = false;
    std::vector<double> frequenciesMhz{20, 40};
    uint32_t frames = 0;  // 0: the step's default
    // lut
    uint32_t steps = 64;
    int harmonics = 16;
    uint32_t lutSize = 2048;
    // phase-offset, verify
    double distanceMm = 0;
    bool fitPlane = false;
    std::string lens;
    double temperatureC = NAN;
    // temperature
    double seconds = 300;
    // grayscale
    bool dark = false;
    bool flat = false;
};

void say(const char* format, auto... args) {
    std::printf(format, args...);
    std::fflush(stdout);
}

// The sweep's progress: a line rewritten in place on a terminal, a line a
// quarter of the sweep otherwise.
void progress(uint32_t hz, int step, uint32_t done, uint32_t total) {
    if (isatty(STDOUT_FILENO)) {
        say("\r  %5.1f MHz: delay step %3d (%u of %u)%s", hz / 1e6, step, done, total,
            done == total ? "\n" : "");
    } else if (done == total || done % ((total + 3) / 4) == 0) {
        say("  %5.1f MHz: delay step %3d (%u of %u)\n", hz / 1e6, step, done, total);
    }
}

int refuse(const std::string& why) {
    capture::log::flush();
    std::fprintf(stderr, "ozr-calibrate: %s\n", why.c_str());
    return EXIT_REFUSED;
}

double mmPerTurn(uint32_t hz) {
    return SPEED_OF_LIGHT_MM_S / (2.0 * hz);
}

// The lens: from --lens (a JSON file with a "lens" object, such as a
// calibration index), from the output directory, or from the camera's own
// calibration.
std::string findLens(const Options& o, CalibrationDir& dir, Rig& rig, ozr::LensIntrinsics& lens) {
    json j;
    if (!o.lens.empty()) {
        std::ifstream in(o.lens);
        if (!in) return "cannot read " + o.lens;
        try {
            const json file = json::parse(in);
            if (!file.is_object() || !file.contains("lens")) return o.lens + " has no \"lens\"";
            j = file.at("lens");
        } catch (const json::exception& e) {
            return "cannot read " + o.lens + ": " + e.what();
        }
    } else if (dir.index().contains("lens")) {
        j = dir.index().at("lens");
    } else if (rig.camera().getLensIntrinsics(lens) == 0) {
        j = {{"width", lens.width}, {"height", lens.height}, {"fx", lens.fx}, {"fy", lens.fy},
             {"cx", lens.cx},       {"cy", lens.cy},         {"k1", lens.k1}, {"k2", lens.k2},
             {"k3", lens.k3},       {"p1", lens.p1},         {"p2", lens.p2}};
    } else {
        return "no lens: give --lens FILE (the lens calibration of this camera)";
    }
    try {
        lens = ozr::LensIntrinsics{};
        lens.width = j.at("width").get<uint32_t>();
        lens.height = j.at("height").get<uint32_t>();
        lens.fx = j.at("fx").get<double>();
        lens.fy = j.at("fy").get<double>();
        lens.cx = j.at("cx").get<double>();
        lens.cy = j.at("cy").get<double>();
        for (auto [key, value] :
             {std::pair{"k1", &lens.k1}, std::pair{"k2", &lens.k2}, std::pair{"k3", &lens.k3},
              std::pair{"p1", &lens.p1}, std::pair{"p2", &lens.p2}}) {
            *value = j.value(key, 0.0);
        }
    } catch (const json::exception& e) {
        return std::string("the lens is malformed: ") + e.what();
    }
    dir.index()["lens"] = j;
    return {};
}

std::string openCamera(Rig& rig, const Options& o) {
    say("Opening the camera ...\n");
    capture::log::setMuted(!o.verbose);
    std::string e = rig.open();
    capture::log::setMuted(false);
    return e;
}

std::string tuneTo(Rig& rig, double mhz, uint32_t& hz) {
    const auto wanted = static_cast<uint32_t>(std::lround(mhz * 1e6));
    capture::log::setMuted(true);
    std::string e = rig.setFrequency(wanted, hz);
    capture::log::setMuted(false);
    return e;
}

// ---------------------------------------------------------------- lut

// Pixels of a sweep: every 4th pixel both ways, with a usable signal.
constexpr uint32_t SWEEP_STRIDE = 4;
constexpr double MIN_AMPLITUDE = 60.0;  // counts, averaged

int runLut(const Options& o) {
    CalibrationDir dir(o.out);
    if (std::string e = dir.open(o.force); !e.empty()) return refuse(e);
    for (double mhz : o.frequenciesMhz) {
        const auto hz = static_cast<uint32_t>(std::lround(mhz * 1e6));
        if (dir.entry("phaseErrorLUTData", hz) && !o.force) {
            return refuse(dir.path().string() + " already has a phase error table for " +
                          frequencyName(hz) + "; give --force to replace it");
        }
    }
    say("Phase error tables: point the camera at a flat, evenly lit wall about 1 to 2 m away\n"
        "(not saturated) and keep camera and wall still. The illumination delay is swept over\n"
        "its %u steps at each frequency.\n",
        255u);
    Rig rig(o.model);
    if (std::string e = openCamera(rig, o); !e.empty()) return refuse(e);
    const uint32_t frames = o.frames ? o.frames : 4;
    for (double mhz : o.frequenciesMhz) {
        uint32_t hz = 0;
        if (std::string e = tuneTo(rig, mhz, hz); !e.empty()) return refuse(e);
        DelaySweep sweep;
        sweep.steps = o.steps;
        std::vector<size_t> pixels;
        std::vector<uint8_t> usable;
        std::vector<std::vector<double>> phases;  // per step, of the chosen pixels
        for (uint32_t j = 0; j < o.steps; ++j) {
            const int step = static_cast<int>(std::lround(255.0 * j / (o.steps - 1)));
            if (std::string e =
                    rig.set(ozr::ControlID::LED_DELAY_STEP, step, "set the illumination delay");
                !e.empty()) {
                return refuse(e);
            }
            PhaseImage img;
            if (std::string e = rig.capturePhases(frames, img); !e.empty()) return refuse(e);
            if (j == 0) {
                for (uint32_t y = SWEEP_STRIDE / 2; y < img.height; y += SWEEP_STRIDE) {
                    for (uint32_t x = SWEEP_STRIDE / 2; x < img.width; x += SWEEP_STRIDE) {
                        pixels.push_back(static_cast<size_t>(y) * img.width + x);
                    }
                }
                usable.assign(pixels.size(), 1);
            }
            std::vector<double> p(pixels.size());
            for (size_t k = 0; k < pixels.size(); ++k) {
                const size_t i = pixels[k];
                if (i >= img.phase.size() || img.clipped[i] || img.amplitude[i] < MIN_AMPLITUDE) {
                    usable[k] = 0;
                    continue;
                }
                p[k] = img.phase[i];
            }
            phases.push_back(std::move(p));
            sweep.stepOf.push_back(step);
            progress(hz, step, j + 1, o.steps);
        }
        if (std::string e = rig.set(ozr::ControlID::LED_DELAY_STEP, 0, "reset the delay");
            !e.empty()) {
            return refuse(e);
        }
        for (size_t k = 0; k < pixels.size(); ++k) {
            if (!usable[k]) continue;
            ++sweep.pixels;
            for (uint32_t j = 0; j < o.steps; ++j) sweep.phase.push_back(phases[j][k]);
        }
        if (sweep.pixels < 100) {
            return refuse("only " + std::to_string(sweep.pixels) +
                          " pixels have a usable signal through the sweep: the wall is too dark "
                          "or saturates; move nearer or farther, or change the exposure");
        }
        const SweepFit fit = fitDelaySweep(sweep, o.harmonics);
        if (!fit.ok) return refuse("at " + frequencyName(hz) + ": " + fit.error);
        const double delayPs = fit.turnsPerStep / hz * 1e12;
        const double residualMm = fit.residualTurns * mmPerTurn(hz);
        if (fit.residualTurns > 0.01) {
            return refuse("at " + frequencyName(hz) + " the phases do not follow the delay (rms " +
                          std::to_string(residualMm) +
                          " mm off the fit): did the camera or the wall move?");
        }
        const std::vector<uint16_t> table = fit.cyclic.table(o.lutSize);
        double peak = 0;
        for (double q = 0; q < 1; q += 1.0 / 1024) peak = std::max(peak, std::abs(fit.cyclic(q)));
        const std::string file = "phase_error_lut_" + frequencyName(hz) + ".bin";
        if (std::string e = dir.writeWords(file, table); !e.empty()) return refuse(e);
        dir.putEntry("phaseErrorLUTData", hz,
                     {{"modulation_frequency_hz", hz},
                      {"lut_size", o.lutSize},
                      {"lut_file", file},
                      {"led_delay_step_ps", std::round(delayPs * 100) / 100}});
        say("  %5.1f MHz: delay %.2f ps a step (from the data), sweep covered %.2f periods,\n"
            "             cyclic error up to %.2f mm, fit residual %.2f mm rms over %zu pixels\n",
            hz / 1e6, delayPs, fit.coveredTurns, peak * mmPerTurn(hz), residualMm, sweep.pixels);
    }
    if (std::string e = dir.save(); !e.empty()) return refuse(e);
    say("Phase error tables written to %s\n", dir.path().c_str());
    return 0;
}

// ---------------------------------------------------------------- phase-offset

// Subtracts the table of the library's semantics: entry (p * N) >> 16.
double lutCorrected(double p, const std::vector<uint16_t>& lut) {
    if (lut.empty()) return p;
    const auto raw = static_cast<uint32_t>(std::floor(wrapUnit(p) * 65536.0)) & 0xFFFFu;
    const size_t k =
        std::min<size_t>((static_cast<uint64_t>(raw) * lut.size()) >> 16, lut.size() - 1);
    double e = lut[k] / 65536.0;
    if (e >= 0.5) e -= 1.0;
    return wrapUnit(p - e);
}

int runPhaseOffset(const Options& o) {
    CalibrationDir dir(o.out);
    if (std::string e = dir.open(o.force); !e.empty()) return refuse(e);
    for (double mhz : o.frequenciesMhz) {
        const auto hz = static_cast<uint32_t>(std::lround(mhz * 1e6));
        if (dir.entry("phaseOffsetData", hz) && !o.force) {
            return refuse(dir.path().string() + " already has a phase offset for " +
                          frequencyName(hz) + "; give --force to replace it");
        }
    }
    say("Phase offsets: point the camera %s at a flat wall; the wall is %.0f mm from the\n"
        "camera along its optical axis. A few objects in front of the wall are tolerated.\n",
        o.fitPlane ? "(at any angle)" : "squarely", o.distanceMm);
    Rig rig(o.model);
    if (std::string e = openCamera(rig, o); !e.empty()) return refuse(e);
    ozr::LensIntrinsics lens;
    if (std::string e = findLens(o, dir, rig, lens); !e.empty()) return refuse(e);
    const uint32_t frames = o.frames ? o.frames : 32;
    ozr::RayTable rays;
    bool planeKnown = false;
    double tx = 0, ty = 0;
    for (double mhz : o.frequenciesMhz) {
        uint32_t hz = 0;
        if (std::string e = tuneTo(rig, mhz, hz); !e.empty()) return refuse(e);
        const double t0 = rig.temperature();
        PhaseImage img;
        say("  %5.1f MHz: capturing %u frames ...", hz / 1e6, frames);
        if (std::string e = rig.capturePhases(frames, img); !e.empty()) return refuse(e);
        const double t1 = rig.temperature();
        double tempC = std::isfinite(o.temperatureC) ? o.temperatureC : 0.5 * (t0 + t1);
        if (!std::isfinite(tempC)) {
            return refuse("the camera has no die temperature channel; give --temperature-c");
        }
        if (rays.empty() || rays.width() != img.width || rays.height() != img.height) {
            if (rays.build(lens, img.width, img.height) != 0) {
                return refuse("the lens cannot be used for this image size");
            }
        }
        const size_t n = img.phase.size();
        std::vector<uint16_t> lut;
        if (const json* entry = dir.entry("phaseErrorLUTData", hz)) {
            if (std::string e = dir.readWords(entry->at("lut_file").get<std::string>(), lut);
                !e.empty()) {
                return refuse(e);
            }
        } else {
            say("\n  (no phase error table for %s in %s yet: run the lut step first, or the\n"
                "   offset keeps the cyclic error of this distance)",
                frequencyName(hz).c_str(), dir.path().c_str());
        }
        std::vector<uint8_t> valid(n, 0);
        size_t validCount = 0, clipped = 0;
        std::vector<double> corrected(n);
        for (size_t i = 0; i < n; ++i) {
            corrected[i] = lutCorrected(img.phase[i], lut);
            clipped += img.clipped[i];
            valid[i] =
                !img.clipped[i] && img.amplitude[i] >= MIN_AMPLITUDE && std::isfinite(rays.z()[i]);
            validCount += valid[i];
        }
        say(" die at %.2f C\n", tempC);
        if (clipped * 20 > n) {
            return refuse(std::to_string(100 * clipped / n) +
                          " % of the pixels saturate: move the camera farther from the wall or "
                          "shorten the exposure");
        }
        if (validCount * 2 < n) {
            return refuse("only " + std::to_string(100 * validCount / n) +
                          " % of the pixels see enough light: the wall is too dark or too far");
        }
        const double range = mmPerTurn(hz);
        // Distances along each pixel's ray to the wall.
        std::vector<double> expected(n);
        if (o.fitPlane && !planeKnown) {
            std::vector<double> measured(n);
            for (size_t i = 0; i < n; ++i) {
                const double square = o.distanceMm / rays.z()[i];
                measured[i] =
                    square + wrapSigned(corrected[i] - square / range) * range;  // unwrapped
            }
            const PlaneFit plane =
                fitTiltedPlane(measured, valid, rays.x(), rays.y(), rays.z(), o.distanceMm, 60.0);
            if (!plane.ok || plane.inliers * 2 < validCount) {
                return refuse(
                    "no plane fits the wall: it is not flat, or too much stands in "
                    "front of it");
            }
            tx = plane.tx;
            ty = plane.ty;
            planeKnown = true;
            say("  wall turned by %.2f deg about the vertical and %.2f deg about the horizontal "
                "axis\n",
                std::atan(tx) * 180 / std::numbers::pi, std::atan(ty) * 180 / std::numbers::pi);
        }
        for (size_t i = 0; i < n; ++i) {
            expected[i] =
                planeDistance(o.distanceMm, tx, ty, rays.x()[i], rays.y()[i], rays.z()[i]);
            // Rays that miss the wall's plane have no expected distance.
            if (valid[i] && !std::isfinite(expected[i])) {
                valid[i] = 0;
                --validCount;
            }
        }
        if (validCount * 2 < n) return refuse("the wall does not fill the camera's view");
        // The offset of every pixel, in turns, and its deviation from the
        // image's typical offset in millimetres for the robust fit.
        std::vector<double> offset(n), deviation(n);
        std::vector<double> centre;
        for (size_t i = 0; i < n; ++i) {
            offset[i] = wrapUnit(corrected[i] - expected[i] / range);
            if (valid[i]) centre.push_back(offset[i]);
        }
        const double reference = centre[centre.size() / 2];
        std::vector<double> around;
        for (double v : centre) around.push_back(wrapSigned(v - reference));
        const double typical = reference + median(around);
        for (size_t i = 0; i < n; ++i) deviation[i] = wrapSigned(offset[i] - typical) * range;
        const SurfaceFit surface = fitSurface(deviation, valid, img.width, img.height, 8, 30.0);
        if (!surface.ok || surface.inliers * 10 < validCount * 6) {
            return refuse("the wall does not look flat (only " +
                          std::to_string(surface.ok ? 100 * surface.inliers / validCount : 0) +
                          " % of the pixels follow one smooth surface): is it square to the "
                          "camera, or does much stand in front of it?" +
                          (o.fitPlane ? "" : " Try --fit-plane."));
        }
        if (surface.rms > 15.0) {
            return refuse("the wall is not flat: its pixels scatter by " +
                          std::to_string(surface.rms) + " mm about a smooth surface");
        }
        std::vector<uint16_t> raw(n);
        size_t replaced = 0;
        for (size_t i = 0; i < n; ++i) {
            double turns = offset[i];
            if (!surface.inlier[i]) {
                turns = typical + surface.surface[i] / range;
                ++replaced;
            }
            raw[i] = rawPhase(turns);
        }
        const std::string file = "phase_offset_" + frequencyName(hz) + ".bin";
        if (std::string e = dir.writeWords(file, raw); !e.empty()) return refuse(e);
        json entry = {{"modulation_frequency_hz", hz},
                      {"width", img.width},
                      {"height", img.height},
                      {"offset_file", file}};
        for (int p = 0; p < 4; ++p) {
            entry["ozr_temperature_sensor" + std::to_string(p) + "_c"] =
                std::round(tempC * 100) / 100;
        }
        dir.putEntry("phaseOffsetData", hz, std::move(entry));
        say("  %5.1f MHz: offset %.1f mm on average, pattern %.1f mm rms about a smooth surface\n"
            "             of %.1f mm peak to peak; %zu pixels (objects, dark or saturated) taken\n"
            "             from the surface\n",
            hz / 1e6, typical * range, surface.rms,
            *std::max_element(surface.surface.begin(), surface.surface.end()) -
                *std::min_element(surface.surface.begin(), surface.surface.end()),
            replaced);
    }
    if (std::string e = dir.save(); !e.empty()) return refuse(e);
    say("Phase offsets written to %s\n", dir.path().c_str());
    return 0;
}

// ---------------------------------------------------------------- grayscale

int runGrayscale(const Options& o) {
    if (o.dark == o.flat) {
        std::fprintf(stderr, "ozr-calibrate: grayscale needs one of --dark and --flat\n");
        return EXIT_USAGE;
    }
    CalibrationDir dir(o.out);
    if (std::string e = dir.open(o.force); !e.empty()) return refuse(e);
    json& section = dir.index()["grayscale"];
    if (!section.is_object()) section = json::object();
    const char* key = o.dark ? "dsnu_file" : "prnu_file";
    if (section.contains(key) && !o.force) {
        return refuse(dir.path().string() + " already has " +
                      (o.dark ? "a dark offset image" : "a gain image") +
                      "; give --force to replace it");
    }
    std::vector<uint16_t> dsnu;
    if (o.flat) {
        if (!section.contains("dsnu_file")) {
            return refuse("the flat field needs the dark offsets first: run grayscale --dark");
        }
        if (std::string e = dir.readWords(section.at("dsnu_file").get<std::string>(), dsnu);
            !e.empty()) {
            return refuse(e);
        }
    }
    if (o.dark) {
        say("Dark offsets: cover the camera's lens and illumination with a dark cloth.\n");
    } else {
        say("Gains: point the camera at an evenly lit, uniform flat field (a diffuser in front of "
            "the lens,\nor a uniform target filling the view), not saturated.\n");
    }
    Rig rig(o.model);
    if (std::string e = openCamera(rig, o); !e.empty()) return refuse(e);
    if (o.dark) {
        // Under the cloth the camera must not see its own illumination.
        PhaseImage lit;
        if (std::string e = rig.capturePhases(4, lit); !e.empty()) return refuse(e);
        const double amplitude = median(lit.amplitude);
        if (amplitude > 20.0) {
            return refuse("the frames are not dark: the camera sees its illumination (amplitude " +
                          std::to_string(amplitude) +
                          " counts); cover the lens and the illumination completely");
        }
    }
    const uint32_t frames = o.frames ? o.frames : 200;
    GrayImage img;
    say("  capturing %u grayscale frames ...\n", frames);
    if (std::string e = rig.captureGray(frames, img); !e.empty()) return refuse(e);
    const size_t n = img.mean.size();
    const size_t clipped =
        static_cast<size_t>(std::count(img.clipped.begin(), img.clipped.end(), 1));
    if (clipped * 100 > n) {
        return refuse(std::to_string(100.0 * clipped / n) +
                      " % of the pixels saturate or sit at zero: " +
                      (o.dark ? "the frames are not dark" : "the flat field is too bright"));
    }
    if (o.dark) {
        const double level = median(img.mean);
        std::vector<double> dev(n);
        for (size_t i = 0; i < n; ++i) dev[i] = std::abs(img.mean[i] - level);
        const double spread = 1.4826 * median(dev);
        if (spread > 40.0) {
            return refuse("the frames are not dark: the pixels differ by " +
                          std::to_string(spread) +
                          " counts; cover the lens and the illumination completely");
        }
        std::vector<uint16_t> raw(n);
        for (size_t i = 0; i < n; ++i) {
            raw[i] = static_cast<uint16_t>(std::clamp(std::floor(img.mean[i] + 0.5), 0.0, 65535.0));
        }
        if (std::string e = dir.writeWords("dsnu.bin", raw); !e.empty()) return refuse(e);
        section["dsnu_file"] = "dsnu.bin";
        say("  dark level %.1f counts, pattern %.2f counts rms\n", level, spread);
    } else {
        if (dsnu.size() != n) {
            return refuse("the dark offsets in " + dir.path().string() +
                          " are for another image size: run grayscale --dark again");
        }
        std::vector<double> signal(n);
        for (size_t i = 0; i < n; ++i) signal[i] = img.mean[i] - dsnu[i];
        const double level = median(signal);
        if (level < 100.0) {
            return refuse("the flat field is too dark (" + std::to_string(level) +
                          " counts above the dark level; at least 100 are needed)");
        }
        std::vector<double> dev(n);
        for (size_t i = 0; i < n; ++i) dev[i] = std::abs(signal[i] / level - 1.0);
        const double spread = 1.4826 * median(dev);
        if (spread > 0.15) {
            return refuse("the field is not flat: the pixels differ by " +
                          std::to_string(100 * spread) + " % (more than 15 %)");
        }
        std::vector<uint16_t> raw(n);
        for (size_t i = 0; i < n; ++i) {
            const double gain = signal[i] / level;
            raw[i] = static_cast<uint16_t>(std::clamp(std::lround(gain * 1000.0), 1L, 65535L));
        }
        if (std::string e = dir.writeWords("prnu.bin", raw); !e.empty()) return refuse(e);
        section["prnu_file"] = "prnu.bin";
        section["prnu_scale_factor"] = 1000;
        say("  flat field at %.1f counts, gains spread %.2f %%\n", level, 100 * spread);
    }
    if (section.contains("width") &&
        (section.value("width", 0u) != img.width || section.value("height", 0u) != img.height) &&
        section.contains(o.dark ? "prnu_file" : "dsnu_file") && !o.force) {
        return refuse("the grayscale images in " + dir.path().string() +
                      " are for another size; give --force to replace them");
    }
    section["width"] = img.width;
    section["height"] = img.height;
    if (std::string e = dir.save(); !e.empty()) return refuse(e);
    say("%s written to %s\n", o.dark ? "Dark offsets" : "Gains", dir.path().c_str());
    return 0;
}

// ---------------------------------------------------------------- temperature

// The library compensates this drift; a camera that drifts otherwise is
// reported.
constexpr double LIBRARY_SLOPE_MM_K = 22.0;

int runTemperature(const Options& o) {
    CalibrationDir dir(o.out);
    if (std::string e = dir.open(o.force); !e.empty()) return refuse(e);
    if (dir.index().contains("temperature") && !o.force) {
        return refuse(dir.path().string() +
                      " already has a temperature slope; give --force to replace it");
    }
    say("Temperature drift: start with a cold camera (switched off for a while) pointed at a\n"
        "wall and keep both still; the camera streams for %.0f s while it warms up.\n",
        o.seconds);
    Rig rig(o.model);
    if (std::string e = openCamera(rig, o); !e.empty()) return refuse(e);
    const double mhz = o.frequenciesMhz.front();
    uint32_t hz = 0;
    if (std::string e = tuneTo(rig, mhz, hz); !e.empty()) return refuse(e);
    std::vector<uint16_t> lut;
    if (const json* entry = dir.entry("phaseErrorLUTData", hz)) {
        if (std::string e = dir.readWords(entry->at("lut_file").get<std::string>(), lut);
            !e.empty()) {
            return refuse(e);
        }
    }
    if (!std::isfinite(rig.temperature())) {
        return refuse("the camera has no die temperature channel to follow the warm-up");
    }
    if (const int rc = rig.startStream(); rc != 0) {
        return refuse("cannot start streaming (" + std::to_string(rc) + ")");
    }
    const uint32_t frames = o.frames ? o.frames : 4;
    const auto start = std::chrono::steady_clock::now();
    std::vector<double> temps, shifts;
    std::vector<double> first;
    std::vector<uint8_t> valid;
    double lastReport = -1e9;
    for (;;) {
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (elapsed >= o.seconds) break;
        const double t0 = rig.temperature();
        PhaseImage img;
        if (std::string e = rig.capturePhases(frames, img); !e.empty()) return refuse(e);
        const double t1 = rig.temperature();
        const size_t n = img.phase.size();
        if (first.empty()) {
            first.resize(n);
            valid.resize(n);
            for (size_t i = 0; i < n; ++i) {
                first[i] = lutCorrected(img.phase[i], lut);
                valid[i] = !img.clipped[i] && img.amplitude[i] >= MIN_AMPLITUDE;
            }
        }
        if (n != first.size()) return refuse("the image size changed during the warm-up");
        // The drift is the same for every pixel: the median change of the
        // phase since the first sample.
        std::vector<double> change;
        for (size_t i = 0; i < n; i += 7) {
            if (valid[i] && !img.clipped[i]) {
                change.push_back(wrapSigned(lutCorrected(img.phase[i], lut) - first[i]));
            }
        }
        if (change.size() < 50) return refuse("the wall is too dark or saturates");
        double shift = median(change) * mmPerTurn(hz);
        if (!shifts.empty()) {
            // Follows the drift beyond half a period.
            shift += std::round((shifts.back() - shift) / mmPerTurn(hz)) * mmPerTurn(hz);
        }
        temps.push_back(0.5 * (t0 + t1));
        shifts.push_back(shift);
        if (elapsed - lastReport >= 5.0) {
            say("  %5.0f s: die at %.2f C, distance drifted by %+.1f mm\n", elapsed, temps.back(),
                shift);
            lastReport = elapsed;
        }
    }
    rig.stopStream();
    if (temps.size() < 5) return refuse("too few samples: run the warm-up longer");
    const auto [lo, hi] = std::minmax_element(temps.begin(), temps.end());
    if (*hi - *lo < 2.0) {
        return refuse("the die temperature changed by only " + std::to_string(*hi - *lo) +
                      " K; start with a cold camera or run longer (--seconds)");
    }
    const Line line = fitLine(temps, shifts);
    if (!line.ok) return refuse("the drift does not follow the temperature");
    if (line.rms > 0.1 * std::abs(line.b) * (*hi - *lo) + 2.0) {
        return refuse("the distance does not follow the temperature on a straight line (" +
                      std::to_string(line.rms) + " mm rms off it): did something move?");
    }
    json section = {{"slope_mm_per_k", std::round(line.b * 1000) / 1000},
                    {"temperature_from_c", std::round(*lo * 100) / 100},
                    {"temperature_to_c", std::round(*hi * 100) / 100},
                    {"modulation_frequency_hz", hz}};
    dir.index()["temperature"] = section;
    if (std::string e = dir.save(); !e.empty()) return refuse(e);
    say("  drift %.2f mm/K from %.2f C to %.2f C (%zu samples, %.2f mm rms off the line)\n", line.b,
        *lo, *hi, temps.size(), line.rms);
    if (std::abs(line.b - LIBRARY_SLOPE_MM_K) > 0.1 * LIBRARY_SLOPE_MM_K) {
        say("  note: the library compensates %.0f mm/K; this camera's drift differs by more than "
            "10 %%\n",
            LIBRARY_SLOPE_MM_K);
    }
    for (const char* name : {"phaseOffsetData"}) {
        if (!dir.index().contains(name)) continue;
        for (const auto& e : dir.index().at(name)) {
            say("  the offsets at %u Hz were recorded at %.2f C: the calibration temperature\n",
                e.value("modulation_frequency_hz", 0u), e.value("ozr_temperature_sensor0_c", 0.0));
        }
    }
    say("Temperature slope written to %s\n", dir.path().c_str());
    return 0;
}

// ---------------------------------------------------------------- verify

int runVerify(const Options& o) {
    namespace fs = std::filesystem;
    if (!fs::exists(fs::path(o.out) / INDEX_FILE)) {
        return refuse("no calibration in " + o.out);
    }
    // Loaded before the camera, so that the camera uses this directory.
    capture::log::setMuted(!o.verbose);
    const int loaded = ozr::registerCalibrationProviders(o.out, "");
    capture::log::setMuted(false);
    say("Loaded %d of 4 calibration records from %s with the library\n", loaded, o.out.c_str());
    CalibrationDir dir(o.out);
    if (std::string e = dir.open(true); !e.empty()) return refuse(e);
    say("Residuals: point the camera squarely at a flat wall %.0f mm away.\n", o.distanceMm);
    Rig rig(o.model);
    if (std::string e = openCamera(rig, o); !e.empty()) return refuse(e);
    for (ozr::ControlID id : {ozr::ControlID::ENABLE_PHASE_OFFSET_COMPENSATION,
                              ozr::ControlID::ENABLE_PHASE_ERROR_COMPENSATION,
                              ozr::ControlID::ENABLE_TEMPERATURE_COMPENSATION}) {
        if (std::string e = rig.set(id, 1, "turn on a compensation"); !e.empty()) return refuse(e);
    }
    ozr::LensIntrinsics lens;
    if (std::string e = findLens(o, dir, rig, lens); !e.empty()) return refuse(e);
    ozr::RayTable rays;
    const uint32_t frames = o.frames ? o.frames : 8;
    for (double mhz : o.frequenciesMhz) {
        uint32_t hz = 0;
        if (std::string e = tuneTo(rig, mhz, hz); !e.empty()) return refuse(e);
        double sum = 0, sumSq = 0;
        size_t count = 0;
        for (uint32_t k = 0; k < frames; ++k) {
            std::unique_ptr<ozr::TOFFrame> frame;
            if (const int rc = rig.capture(frame); rc != 0) {
                return refuse(rig.failure("cannot capture a frame", rc));
            }
            const uint16_t* mm = frame->getData<uint16_t>(ozr::FrameType::DISTANCE);
            if (!mm) return refuse("the camera delivered no distance image");
            if (rays.empty() || rays.width() != frame->getWidth()) {
                if (rays.build(lens, frame->getWidth(), frame->getHeight()) != 0) {
                    return refuse("the lens cannot be used for this image size");
                }
            }
            const size_t n = static_cast<size_t>(frame->getWidth()) * frame->getHeight();
            for (size_t i = 0; i < n; ++i) {
                if (mm[i] >= 64000 || !std::isfinite(rays.z()[i])) continue;
                const double e = std::remainder(mm[i] - o.distanceMm / rays.z()[i], mmPerTurn(hz));
                sum += e;
                sumSq += e * e;
                ++count;
            }
        }
        if (count == 0) return refuse("no valid distance at " + frequencyName(hz));
        const double mean = sum / count;
        say("  %5.1f MHz: distance error %+.2f mm on average, %.2f mm rms over %zu samples\n",
            hz / 1e6, mean, std::sqrt(std::max(0.0, sumSq / count)), count);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app(
        "Calibrates an OZR310/OZR320 camera from a flat wall, a flat field and a dark cloth, and "
        "writes a calibration directory the library reads. Run the steps one by one into the "
        "same directory, each with the camera pointed as the step says.",
        "ozr-calibrate");
    app.require_subcommand(1);
    Options o;
    auto common = [&o](CLI::App* sub, bool frequencies) {
        sub->add_option("--out", o.out, "calibration directory to write (created when missing)")
            ->type_name("DIR")
            ->required();
        sub->add_option("--model", o.model, "sensor model")
            ->check(CLI::IsMember({"auto", "ozr310", "ozr320"}))
            ->capture_default_str();
        sub->add_flag("--force", o.force, "replace what the directory already holds");
        sub->add_flag("--verbose", o.verbose, "also the library's messages");
        sub->add_option("--frames", o.frames, "frames to average (per delay step for lut)")
            ->type_name("N")
            ->check(CLI::Range(1u, 100000u));
        if (frequencies) {
            sub->add_option("--frequencies", o.frequenciesMhz,
                            "modulation frequencies in MHz, comma-separated")
                ->delimiter(',')
                ->check(CLI::Range(5.0, 100.0))
                ->capture_default_str();
        }
    };
    CLI::App* lut = app.add_subcommand(
        "lut", "phase error tables from a sweep of the illumination delay at a wall");
    common(lut, true);
    lut->add_option("--steps", o.steps, "delay settings of the sweep")
        ->check(CLI::Range(40u, 256u))
        ->capture_default_str();
    lut->add_option("--harmonics", o.harmonics, "harmonics of the cyclic error")
        ->check(CLI::Range(1, 16))
        ->capture_default_str();
    lut->add_option("--lut-size", o.lutSize, "entries of each table")
        ->check(CLI::Range(16u, 65536u))
        ->capture_default_str();

    CLI::App* offset = app.add_subcommand(
        "phase-offset", "per-pixel phase offsets from a wall at a known distance");
    common(offset, true);
    offset->add_option("--distance-mm", o.distanceMm, "distance of the wall along the optical axis")
        ->check(CLI::Range(200.0, 20000.0))
        ->required();
    offset->add_flag("--fit-plane", o.fitPlane,
                     "the wall need not be square to the camera: fit its plane through the lens");
    offset->add_option("--lens", o.lens, "JSON file with the camera's \"lens\"")->type_name("FILE");
    offset->add_option("--temperature-c", o.temperatureC,
                       "die temperature when the camera has no temperature channel");

    CLI::App* gray = app.add_subcommand("grayscale", "dark offsets (--dark) or gains (--flat)");
    common(gray, false);
    gray->add_flag("--dark", o.dark, "dark offsets: the camera under a dark cloth");
    gray->add_flag("--flat", o.flat, "gains: the camera at a uniform flat field");

    CLI::App* temperature =
        app.add_subcommand("temperature", "the distance drift per kelvin from a warm-up at a wall");
    common(temperature, true);
    temperature->add_option("--seconds", o.seconds, "length of the warm-up")
        ->check(CLI::Range(5.0, 7200.0))
        ->capture_default_str();

    CLI::App* verify = app.add_subcommand(
        "verify", "loads the directory with the library and reports the residuals at a wall");
    common(verify, true);
    verify->add_option("--distance-mm", o.distanceMm, "distance of the wall along the optical axis")
        ->check(CLI::Range(200.0, 20000.0))
        ->required();
    verify->add_option("--lens", o.lens, "JSON file with the camera's \"lens\"")->type_name("FILE");

    if (const int rc = capture::parseCommandLine(app, argc, argv, "ozr-calibrate"); rc >= 0) {
        return rc;
    }
    if (o.frequenciesMhz.empty()) {
        std::fprintf(stderr, "ozr-calibrate: --frequencies needs at least one frequency\n");
        return EXIT_USAGE;
    }
    capture::log::install(o.verbose);
    const auto start = std::chrono::steady_clock::now();
    int rc = 0;
    try {
        if (lut->parsed()) rc = runLut(o);
        if (offset->parsed()) rc = runPhaseOffset(o);
        if (gray->parsed()) rc = runGrayscale(o);
        if (temperature->parsed()) rc = runTemperature(o);
        if (verify->parsed()) rc = runVerify(o);
    } catch (const std::exception& e) {
        // A calibration index edited by hand, or a file system that fails.
        rc = refuse(std::string("cannot use the calibration directory: ") + e.what());
    }
    capture::log::flush();
    if (rc == 0) {
        say("Done in %.1f s\n",
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return rc;
}
