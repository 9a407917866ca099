// ozr-capture: captures frames from the camera, prints statistics per frame
// and writes the images as PNG files. Built on the public camera API alone,
// linked against the shared library as any application is. Run with --help.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <system_error>
#include <vector>

#include "camera_log.h"
#include "capture_options.h"
#include "frame_report.h"
#include "frame_stats.h"
#include "frame_writer.h"
#include "kyr/sensors/ozrDriver.h"
#include "ozr/tofcam.h"
#include "ply_writer.h"
#include "png_writer.h"
#include "recording_frame_writer.h"
#include "stop_signal.h"

namespace {

using namespace capture;

constexpr int EXIT_CAMERA_FAILURE = 1;

// Prints what failed with the library's messages (or the code's text) and
// returns the camera-failure status.
int cameraFailure(const std::string& what, int code) {
    std::string why = log::takeErrors();
    if (why.empty()) why = std::strerror(code < 0 ? -code : code);
    std::fprintf(stderr, "ozr-capture: %s: %s (%d)\n", what.c_str(), why.c_str(), code);
    return EXIT_CAMERA_FAILURE;
}

// The model the camera will find: as the camera detects it (the OZR320
// wins when both are present), or as given.
std::string modelName(const std::string& model) {
    if (model != "auto") return model;
    const kyr::platform::OzrDeviceFiles* device = kyr::platform::detectOzrDevice();
    return device ? device->name : "no sensor";
}

int listControls(ozr::TOFCam& camera, const Options& o) {
    nlohmann::json all = nlohmann::json::object();
    for (const ozr::ControlEntry& e : ozr::controlNames) {
        int value = 0;
        log::setMuted(true);  // a control of another mode fails, and says so
        const int rc = camera.getControl(e.id, value);
        log::setMuted(false);
        if (o.json) {
            all[e.name] = rc == 0 ? nlohmann::json(value) : nlohmann::json(nullptr);
        } else if (rc == 0) {
            std::printf("%-34s %d\n", e.name, value);
        } else {
            std::printf("%-34s not available in this mode\n", e.name);
        }
    }
    if (o.json) std::printf("%s\n", all.dump().c_str());
    return 0;
}

// Captures frames until the count is reached, the user interrupts or the
// camera fails; every frame goes to the report and the writers.
int captureLoop(ozr::TOFCam& camera, const Options& o, FrameReport& report,
                std::vector<std::unique_ptr<FrameWriter>>& writers) {
    std::unique_ptr<ozr::TOFFrame> frame;
    while (!stopRequested() && (o.frames == 0 || report.frames() < o.frames)) {
        const int rc = camera.captureFrame(frame);
        if (rc != 0) {
            if (stopRequested()) break;  // interrupted while waiting
            return cameraFailure("cannot capture a frame", rc);
        }
        const auto arrival = FrameReport::Clock::now();
        log::flush();
        FrameStats stats = computeStats(*frame, o.acquisitionMode);
        report.frame(stats, arrival);
        for (auto& w : writers) {
            if (const std::string error = w->write(*frame); !error.empty()) {
                std::fprintf(stderr, "ozr-capture: %s\n", error.c_str());
                return EXIT_CAMERA_FAILURE;
            }
        }
    }
    return 0;
}

int run(const Options& o) {
    ozr::TOFCam camera(sensorOf(o.model));
    log::flush();  // what construction found is not fatal by itself
    if (const int rc = camera.open(); rc != 0) return cameraFailure("cannot open the camera", rc);
    log::flush();
    if (o.acquisitionMode != ozr::AcquisitionMode::DIST_AMP) {
        if (const int rc = camera.setControl(ozr::ControlID::ACQUISITION_MODE, o.acquisitionMode);
            rc != 0) {
            return cameraFailure("cannot switch to mode " + o.mode, rc);
        }
    }
    for (const ControlSetting& s : o.settings) {
        if (const int rc = camera.setControl(s.id, s.value); rc != 0) {
            return cameraFailure("the camera refused " + s.text, rc);
        }
    }
    log::flush();
    if (o.listControls) return listControls(camera, o);

    // Further outputs are one more writer each.
    std::vector<std::unique_ptr<FrameWriter>> writers;
    if (!o.outDir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(o.outDir, ec);
        if (ec) {
            std::fprintf(stderr, "ozr-capture: cannot create %s: %s\n", o.outDir.c_str(),
                         ec.message().c_str());
            return EXIT_CAMERA_FAILURE;
        }
        writers.push_back(
            std::make_unique<PngFrameWriter>(o.outDir, o.acquisitionMode, o.every, o.preview));
    }
    if (o.ply) {
        ozr::LensIntrinsics lens;
        if (const int rc = camera.getLensIntrinsics(lens); rc != 0) {
            return cameraFailure("--ply needs a lens in the calibration, and it has none", rc);
        }
        writers.push_back(std::make_unique<PlyFrameWriter>(o.outDir, o.every, lens));
    }
    if (!o.record.empty()) {
        ozrrec::Mode mode = ozrrec::Mode::DCS4;
        ozrrec::recordingMode(o.acquisitionMode, mode);  // the options allow no other modes
        const ozrrec::Model model = ozrrec::cameraModel(o.model);
        writers.push_back(std::make_unique<RecordingFrameWriter>(o.record, model, mode, camera));
    }

    if (!o.quiet && !o.json) {
        std::printf(
            "%s, mode %s, %s, %s\n", modelName(o.model).c_str(), o.mode.c_str(),
            o.single ? "single captures" : "streaming",
            o.frames == 0 ? "until Ctrl-C" : (std::to_string(o.frames) + " frames").c_str());
    }
    if (!o.single) {
        if (const int rc = camera.startStream(); rc != 0) {
            return cameraFailure("cannot start streaming", rc);
        }
    }
    FrameReport report(o);
    int status = captureLoop(camera, o, report, writers);
    if (!o.single) camera.stopStream();
    size_t files = 0;
    for (auto& w : writers) {
        if (const std::string error = w->finish(); !error.empty()) {
            std::fprintf(stderr, "ozr-capture: %s\n", error.c_str());
            status = EXIT_CAMERA_FAILURE;
        }
        files += w->filesWritten();
    }
    report.finish(stopRequested(), o.outDir, files);
    log::flush();
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (const int rc = parseOptions(argc, argv, options); rc >= 0) return rc;
    log::install(options.verbose);
    installStopSignals();
    return run(options);
}
