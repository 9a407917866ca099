// ozrtofcam.Camera and the iterator of Camera.frames().
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "ozr/tofcam.h"
#include "pyFrame.h"

namespace ozrpy {

// One camera. Every call that can wait releases the GIL, and the calls of
// one camera are serialised, so that Python threads may share it.
class Camera {
public:
    explicit Camera(const std::string& model);
    ~Camera();
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    void open();
    void close();
    void start();
    void stop();
    bool streaming();
    void set(pybind11::handle control, pybind11::handle value);
    int get(pybind11::handle control);
    pybind11::object mode();
    void setMode(pybind11::handle mode);
    Frame capture();
    // The lens of the calibration, or None.
    pybind11::object lens();
    // Records `frames` frames of the current mode (DCS4 or DIST_AMP_HDR) to
    // an HDF5 recording at `path`, streaming meanwhile; returns the frames
    // written.
    uint64_t record(const std::string& path, uint64_t frames);

    // Closes every camera still alive: at interpreter exit, before the
    // threads that log into Python must stop.
    static void closeAll();

    static void define(pybind11::module_& module);

private:
    // Runs f on the camera with the GIL released and the camera's lock held;
    // raises ozrtofcam.Error for a negative result.
    template <typename F>
    int call(F&& f);

    std::mutex mutex;
    std::unique_ptr<ozr::TOFCam> cam;
    std::string model;
};

// Streams and yields frames: starts the stream on the first frame when it
// does not run, and stops what it started when the n-th frame is taken, when
// a capture fails, or when the iterator is closed or dropped (a loop's break).
class FrameIterator {
public:
    FrameIterator(pybind11::object camera, std::optional<uint64_t> count);
    ~FrameIterator();
    FrameIterator(const FrameIterator&) = delete;
    FrameIterator& operator=(const FrameIterator&) = delete;

    Frame next();
    void close();

private:
    pybind11::object owner;
    Camera* camera;
    std::optional<uint64_t> remaining;
    bool started = false;
    bool ownsStream = false;
    bool done = false;
};

}  // namespace ozrpy
