#include "capture_options.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <system_error>

#include "CLI/CLI.hpp"
#include "cli_parse.h"
#include "frame_stats.h"

namespace capture {

namespace {

std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

std::string validNames() {
    std::string names;
    for (const ozr::ControlEntry& e : ozr::controlNames) {
        if (e.id == ozr::ControlID::ACQUISITION_MODE) continue;
        names += names.empty() ? "" : ", ";
        names += e.name;
    }
    return names;
}

// A decimal whole number of at least `min`, checked on the text before CLI11
// converts it, so that a fraction, a negative number or one beyond the range
// of `long` (which the conversion would clamp) is refused in words rather than
// with the limits of a double.
CLI::Validator wholeNumberFrom(long min) {
    const std::string expected = "expected a whole number, " + std::to_string(min) + " or more";
    return CLI::Validator(
        [min, expected](std::string& text) -> std::string {
            long value = 0;
            const char* end = text.data() + text.size();
            const auto [stop, ec] = std::from_chars(text.data(), end, value);
            if (text.empty() || ec != std::errc() || stop != end || value < min) {
                return expected + ", not \"" + text + "\"";
            }
            return {};
        },
        "", "WHOLE_NUMBER");
}

// "on"/"off" and the like for switches, otherwise a decimal or 0x number.
bool parseValue(const std::string& text, int& value) {
    const std::string u = upper(text);
    if (u == "ON" || u == "TRUE" || u == "YES") {
        value = 1;
        return true;
    }
    if (u == "OFF" || u == "FALSE" || u == "NO") {
        value = 0;
        return true;
    }
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    int base = 10;
    bool negative = false;
    if (begin != end && *begin == '-') {
        negative = true;
        ++begin;
    }
    if (end - begin > 2 && begin[0] == '0' && (begin[1] == 'x' || begin[1] == 'X')) {
        begin += 2;
        base = 16;
    }
    long long v = 0;
    const auto [ptr, ec] = std::from_chars(begin, end, v, base);
    if (ec != std::errc() || ptr != end || begin == end) return false;
    v = negative ? -v : v;
    if (v < INT32_MIN || v > INT32_MAX) return false;
    value = static_cast<int>(v);
    return true;
}

// Turns a "NAME=VALUE" argument into a setting; an error text otherwise.
std::string parseSetting(const std::string& arg, ControlSetting& setting) {
    const size_t eq = arg.find('=');
    if (eq == std::string::npos) return "--set needs NAME=VALUE, got \"" + arg + "\"";
    const std::string name = arg.substr(0, eq);
    if (!findControl(name, setting.id)) {
        return "unknown control \"" + name + "\"; valid names: " + validNames();
    }
    if (setting.id == ozr::ControlID::ACQUISITION_MODE) {
        return "the acquisition mode is chosen with --mode, not --set";
    }
    if (!parseValue(arg.substr(eq + 1), setting.value)) {
        return "control " + name + ": \"" + arg.substr(eq + 1) + "\" is not an integer (or on/off)";
    }
    setting.text = controlName(setting.id) + std::string("=") + arg.substr(eq + 1);
    return {};
}

const char* EXAMPLES = R"(
Examples (on the virtual sensor, prefix with: ozr-sim --scene boxes --calibration --):
  ozr-capture --frames 30 --out shots --preview
      30 distance frames; 16-bit PNGs and colour previews of each in shots/
  ozr-capture --frames 0 --set MEDIAN_FILTER_ENABLE=on --set MIN_AMPLITUDE=40
      stream until Ctrl-C with the median filter and a minimum amplitude
  ozr-capture --mode grayscale --single --frames 5 --json
      five grayscale frames captured on demand, statistics as JSON lines
  ozr-capture --mode hdr --list-controls
      every control's value in HDR mode
  ozr-capture --mode dcs4 --frames 100 --record rec.h5
      100 raw frames into an HDF5 recording; ozr-sim --replay rec.h5 -- PROGRAM
      then serves them to any program as the sensor

Files (--out DIR), per written frame F (the frame number, 6 digits):
  frame-F-distance.png    16-bit, millimetres; 64000 and above are pixel codes
                          (64001 low amplitude, 64002 ADC overflow, 64003
                          saturation, 64004 bad pixel, 64005 interference,
                          64006 edge)
  frame-F-amplitude.png   16-bit, amplitude in counts (codes as above)
  frame-F-phase.png       16-bit, phase scaled to 0..65535 over 0..2 pi:
                          radians = value * 2 pi / 65535
  frame-F-grayscale.png   16-bit grayscale (grayscale mode)
  frame-F-dcsN.png        16-bit, the 12-bit DCS samples N = 0..3 (0..11 in HDR)
  frame-F-distance-preview.png, frame-F-amplitude-preview.png  (--preview)
                          8-bit colour pictures with a legend
  frame-F-points.ply      (--ply) binary little-endian PLY: x, y, z (float32,
                          millimetres; x right, y down, z forward) and the
                          amplitude (uint16) of every pixel that holds a
                          distance; needs a lens in the calibration
Exit status: 0 success, 1 camera failure, 2 usage error.)";

}  // namespace

bool findControl(const std::string& name, ozr::ControlID& id) {
    const std::string u = upper(name);
    for (const ozr::ControlEntry& e : ozr::controlNames) {
        if (u == e.name) {
            id = e.id;
            return true;
        }
    }
    return false;
}

const char* controlName(ozr::ControlID id) {
    for (const ozr::ControlEntry& e : ozr::controlNames) {
        if (e.id == id) return e.name;
    }
    return "?";
}

ozr::TOFSensor sensorOf(const std::string& model) {
    if (model == "ozr310") return ozr::TOFSensor::ozr310;
    if (model == "ozr320") return ozr::TOFSensor::ozr320;
    return ozr::TOFSensor::autodetect;
}

int parseOptions(int argc, char** argv, Options& o) {
    CLI::App app(
        "Captures frames from an OZR310/OZR320 camera: statistics per frame, "
        "images as PNG files.",
        "ozr-capture");
    app.footer(EXAMPLES);
    app.get_formatter()->column_width(28);
    std::vector<std::string> sets;
    app.add_option("--model", o.model, "sensor model")
        ->check(CLI::IsMember({"auto", "ozr310", "ozr320"}))
        ->capture_default_str();
    app.add_option("--mode", o.mode, "acquisition mode")
        ->check(CLI::IsMember({"dist-amp", "hdr", "grayscale", "dcs4"}))
        ->capture_default_str();
    app.add_option("--frames", o.frames, "number of frames; 0: until Ctrl-C")
        ->type_name("N")
        ->check(wholeNumberFrom(0))
        ->capture_default_str();
    app.add_flag("--single", o.single, "capture each frame on demand instead of streaming");
    app.add_option("--set", sets,
                   "set a control before capturing (repeatable); NAME as listed by "
                   "--list-controls, case-insensitive; VALUE an integer or on/off")
        ->type_name("NAME=VALUE")
        ->take_all();
    app.add_flag("--list-controls", o.listControls,
                 "print every control's value in the chosen mode and exit");
    app.add_option("--out", o.outDir, "write 16-bit PNG files of the frames into DIR")
        ->type_name("DIR");
    app.add_option("--every", o.every, "with --out: write only every K-th frame")
        ->type_name("K")
        ->check(wholeNumberFrom(1))
        ->capture_default_str();
    app.add_flag("--preview", o.preview,
                 "with --out: also 8-bit colour previews of distance and amplitude");
    app.add_flag("--ply", o.ply,
                 "with --out: also the points of each written frame as a PLY file, through "
                 "the calibration's lens (modes dist-amp and hdr)");
    app.add_option("--record", o.record,
                   "append the DCS images of every frame to the HDF5 recording FILE "
                   "(modes dcs4 and hdr; replay it with ozr-sim --replay FILE)")
        ->type_name("FILE");
    app.add_flag("--json", o.json, "statistics as JSON lines instead of text");
    app.add_flag("--quiet", o.quiet, "no per-frame output");
    app.add_flag("--verbose", o.verbose, "also the library's informational messages");
    if (const int rc = parseCommandLine(app, argc, argv, "ozr-capture"); rc >= 0) return rc;
    auto usageError = [](const std::string& text) {
        std::fprintf(stderr, "ozr-capture: %s\nRun with --help for usage.\n", text.c_str());
        return 2;
    };
    (void)modeFromName(o.mode, o.acquisitionMode);  // checked by CLI11
    for (const std::string& s : sets) {
        ControlSetting setting{};
        if (const std::string error = parseSetting(s, setting); !error.empty()) {
            return usageError(error);
        }
        o.settings.push_back(setting);
    }
    if ((o.preview || o.ply || app.count("--every") > 0) && o.outDir.empty()) {
        return usageError("--preview, --ply and --every need --out DIR");
    }
    if (o.ply && (o.acquisitionMode == ozr::AcquisitionMode::GRAYSCALE ||
                  o.acquisitionMode == ozr::AcquisitionMode::DCS4)) {
        return usageError("--ply turns distances into points: modes dist-amp and hdr");
    }
    if (o.preview && (o.acquisitionMode == ozr::AcquisitionMode::GRAYSCALE ||
                      o.acquisitionMode == ozr::AcquisitionMode::DCS4)) {
        return usageError("--preview shows distance and amplitude: modes dist-amp and hdr");
    }
    if (!o.record.empty() && o.acquisitionMode != ozr::AcquisitionMode::DCS4 &&
        o.acquisitionMode != ozr::AcquisitionMode::DIST_AMP_HDR) {
        return usageError("--record keeps DCS images: modes dcs4 and hdr");
    }
    return -1;
}

}  // namespace capture
