// ozr-view: the HTTP side. The page and its scripts from a fixed list of
// files, the frames as one endless chunked response per viewer (GET /stream,
// messages as in view_frame.h), and a small JSON interface to the camera:
//
//   GET  /api/status                 mode, running, recording, lens known, last error
//   GET  /api/palette                the previews' colour map and pixel-code colours
//   GET  /api/controls               every control of the current mode with its value
//   POST /api/control  {"name": N, "value": V}    400 with the camera's message if refused
//   POST /api/mode     {"mode": "dist-amp" | "hdr" | "grayscale" | "dcs4"}
//   POST /api/start, /api/stop
//   POST /api/record   {"action": "start" | "stop"}   a file in the recording directory
//   GET  /api/snapshot/NAME.png      NAME: distance, amplitude, grayscale or dcsN (16-bit)
//   GET  /api/snapshot/points.ply    the latest frame's points through the lens
//   GET  /api/rays                   the unit ray of every pixel (float32 x, y, z), with a lens
//
// Every error is a JSON object {"error": text} with a 4xx or 5xx status.
#pragma once

#include <atomic>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "view_camera.h"

namespace httplib {
class Server;
}

namespace view {

struct ServerSettings {
    std::string webDir;    // index.html, view.js, view.css
    std::string threeDir;  // the 3-D library's installed files
    size_t maxClients = 4;
    size_t maxBodyBytes = 16 * 1024;
    double requestsPerSecond = 50;  // per client address, on average
    double requestBurst = 200;      // requests a client address may send at once
};

class ViewServer {
public:
    ViewServer(CameraService& camera, ServerSettings settings);
    ~ViewServer();

    // Loads the page's files; an empty string, or what is missing.
    std::string load();
    // Binds to `address` and `port` (0: any free port); the port, or -1.
    int bind(const std::string& address, int port);
    // Serves until stop(); false when it could not.
    bool serve();
    void stop();

private:
    struct Bucket {
        double tokens = 0;
        double lastSeconds = 0;
    };
    bool allowRequest(const std::string& address);
    void routes();

    CameraService& camera_;
    ServerSettings settings_;
    std::unique_ptr<httplib::Server> server_;
    std::map<std::string, std::pair<std::string, std::string>> files_;  // path: type, body
    std::atomic<size_t> streams_{0};
    std::mutex bucketsMutex_;
    std::map<std::string, Bucket> buckets_;
};

}  // namespace view
