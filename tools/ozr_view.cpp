// ozr-view: serves the live camera to web browsers, for boards without a
// screen. Built on the public camera API alone, as any application is. Run
// with --help.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "camera_log.h"
#include "cli_parse.h"
#include "frame_stats.h"
#include "stop_signal.h"
#include "view_camera.h"
#include "view_server.h"

namespace {

constexpr int EXIT_FAILURE_STATUS = 1;

const char* const FOOTER = R"(
Open the printed address in a browser. The server listens on the loopback
interface only: from another machine, forward a port over SSH,
  ssh -L 8080:localhost:8080 user@board
and open http://localhost:8080/ there. --bind 0.0.0.0 serves every network
the board is on, to anyone on it: only on a trusted network.

Examples:
  ozr-view                          the camera on http://127.0.0.1:8080/
  ozr-view --mode dcs4 --record-dir /data
                                    raw frames; recordings go to /data
  ozr-sim --scene boxes -- ozr-view --port 0
                                    the virtual sensor, on any free port
Exit status: 0 after Ctrl-C, 1 camera or server failure, 2 usage error.)";

// Where the page's files are: --web-dir, else installed beside the program
// (PREFIX/share/ozrtofcam/view for PREFIX/bin/ozr-view), else the source tree
// the program was built from.
std::string findWebDir(const std::string& given) {
    if (!given.empty()) return given;
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const auto installed = exe.parent_path() / ".." / "share" / "ozrtofcam" / "view";
        if (std::filesystem::exists(installed / "index.html", ec)) return installed.string();
    }
    return OZR_VIEW_SOURCE_WEB_DIR;
}

}  // namespace

int main(int argc, char** argv) {
    view::CameraService::Settings camera;
    view::ServerSettings server;
    std::string mode = "dist-amp";
    std::string bindAddress = "127.0.0.1";
    int port = 8080;
    std::string webDir;
    bool verbose = false;
    server.threeDir = OZR_THREE_DIR;

    CLI::App app(
        "Serves the live camera to web browsers: distance, amplitude, grayscale or DCS "
        "images, statistics, controls, snapshots, recordings and a 3-D view.",
        "ozr-view");
    app.footer(FOOTER);
    app.get_formatter()->column_width(28);
    app.add_option("--model", camera.model, "sensor model")
        ->check(CLI::IsMember({"auto", "ozr310", "ozr320"}))
        ->capture_default_str();
    app.add_option("--mode", mode, "acquisition mode at start")
        ->check(CLI::IsMember({"dist-amp", "hdr", "grayscale", "dcs4"}))
        ->capture_default_str();
    app.add_option("--port", port, "TCP port; 0: any free port")
        ->check(CLI::Range(0, 65535))
        ->capture_default_str();
    app.add_option("--bind", bindAddress,
                   "address to listen on; the default serves this machine alone")
        ->capture_default_str();
    app.add_option("--max-clients", server.maxClients, "viewers streaming at once")
        ->check(CLI::Range(1, 64))
        ->capture_default_str();
    app.add_option("--record-dir", camera.recordDir,
                   "directory of the recordings started from the page")
        ->check(CLI::ExistingDirectory)
        ->capture_default_str();
    app.add_option("--web-dir", webDir, "directory of the page's files (default: installed)")
        ->check(CLI::ExistingDirectory);
    app.add_flag("--verbose", verbose, "also the library's informational messages");
    if (const int rc = capture::parseCommandLine(app, argc, argv, "ozr-view"); rc >= 0) return rc;
    (void)capture::modeFromName(mode, camera.mode);  // checked by CLI11
    server.webDir = findWebDir(webDir);

    capture::log::install(verbose);
    capture::installStopSignals();
    signal(SIGPIPE, SIG_IGN);  // a viewer that went away is a failed write, not an ending
    view::CameraService service(camera);
    view::ViewServer http(service, server);
    if (const std::string error = http.load(); !error.empty()) {
        std::fprintf(stderr, "ozr-view: %s\n", error.c_str());
        return EXIT_FAILURE_STATUS;
    }
    if (const std::string error = service.start(); !error.empty()) {
        std::fprintf(stderr, "ozr-view: %s\n", error.c_str());
        return EXIT_FAILURE_STATUS;
    }
    const int bound = http.bind(bindAddress, port);
    if (bound < 0) {
        std::fprintf(stderr, "ozr-view: cannot listen on %s port %d\n", bindAddress.c_str(), port);
        return EXIT_FAILURE_STATUS;
    }
    const bool v6 = bindAddress.find(':') != std::string::npos;
    std::printf("ozr-view: serving http://%s%s%s:%d/\n", v6 ? "[" : "", bindAddress.c_str(),
                v6 ? "]" : "", bound);
    std::fflush(stdout);

    std::atomic<bool> served{true};
    std::thread listener([&] { served = http.serve(); });
    while (!capture::stopRequested() && served.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    http.stop();
    listener.join();
    service.stop();
    return capture::stopRequested() ? 0 : EXIT_FAILURE_STATUS;
}
