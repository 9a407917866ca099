#include "pyCamera.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <set>
#include <stdexcept>
#include <utility>

#include "camera_recorder.h"
#include "enums.h"
#include "errors.h"
#include "logBridge.h"

namespace py = pybind11;

namespace ozrpy {

namespace {

// The cameras alive; changed and read with the GIL held.
std::set<Camera*>& liveCameras() {
    static auto* cameras = new std::set<Camera*>();
    return *cameras;
}

ozr::TOFSensor sensorOf(const std::string& model) {
    std::string m = model;
    std::transform(m.begin(), m.end(), m.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (m == "auto" || m == "autodetect") {
        return ozr::TOFSensor::autodetect;
    }
    if (m == "ozr310") {
        return ozr::TOFSensor::ozr310;
    }
    if (m == "ozr320") {
        return ozr::TOFSensor::ozr320;
    }
    throw py::value_error("unknown model \"" + model + "\" (auto, ozr310 or ozr320)");
}

// Whether this thread may let the GIL go: not while the interpreter shuts
// down, when no other thread may take it anyway.
bool mayReleaseGil() {
#if PY_VERSION_HEX >= 0x030D0000
    return Py_IsFinalizing() == 0;
#else
    return _Py_IsFinalizing() == 0;
#endif
}

}  // namespace

Camera::Camera(const std::string& requested) : model(requested) {
    const ozr::TOFSensor sensor = sensorOf(requested);
    {
        // Construction reads the calibration and the driver's files.
        py::gil_scoped_release nogil;
        cam = std::make_unique<ozr::TOFCam>(sensor);
    }
    liveCameras().insert(this);
}

Camera::~Camera() {
    liveCameras().erase(this);
    if (mayReleaseGil()) {
        py::gil_scoped_release nogil;
        const std::lock_guard<std::mutex> lock(mutex);
        cam.reset();
    } else {
        cam.reset();
    }
}

template <typename F>
int Camera::call(F&& f) {
    if (insideLogBridge()) {
        throw std::runtime_error("a camera cannot be called while it delivers a log message");
    }
    const CallErrors errors;
    int r = 0;
    {
        py::gil_scoped_release nogil;
        const std::lock_guard<std::mutex> lock(mutex);
        r = f(*cam);
    }
    if (r < 0) {
        raiseError(r, errors.message());
    }
    return r;
}

void Camera::open() {
    call([](ozr::TOFCam& c) { return c.open(); });
}

void Camera::close() {
    call([](ozr::TOFCam& c) { return c.close(); });
}

void Camera::start() {
    call([](ozr::TOFCam& c) { return c.startStream(); });
}

void Camera::stop() {
    call([](ozr::TOFCam& c) { return c.stopStream(); });
}

bool Camera::streaming() {
    bool on = false;
    call([&on](ozr::TOFCam& c) {
        on = c.isStreaming();
        return 0;
    });
    return on;
}

void Camera::set(py::handle control, py::handle value) {
    const ozr::ControlID id = toControl(control);
    const int32_t v = toControlValue(value);
    call([id, v](ozr::TOFCam& c) { return c.setControl(id, v); });
}

int Camera::get(py::handle control) {
    const ozr::ControlID id = toControl(control);
    int value = 0;
    call([id, &value](ozr::TOFCam& c) { return c.getControl(id, value); });
    return value;
}

py::object Camera::mode() {
    int value = 0;
    call(
        [&value](ozr::TOFCam& c) { return c.getControl(ozr::ControlID::ACQUISITION_MODE, value); });
    return modeObject(value);
}

void Camera::setMode(py::handle mode) {
    const int v = toModeValue(mode);
    call([v](ozr::TOFCam& c) { return c.setControl(ozr::ControlID::ACQUISITION_MODE, v); });
}

Frame Camera::capture() {
    std::unique_ptr<ozr::TOFFrame> frame;
    std::optional<ozr::LensIntrinsics> lensOfCamera;
    call([&](ozr::TOFCam& c) {
        const int r = c.captureFrame(frame);
        ozr::LensIntrinsics l;
        if (r == 0 && c.getLensIntrinsics(l) == 0) lensOfCamera = l;
        return r;
    });
    return Frame(std::move(frame), lensOfCamera);
}

py::object Camera::lens() {
    ozr::LensIntrinsics l;
    int r = 0;
    call([&](ozr::TOFCam& c) {
        r = c.getLensIntrinsics(l);
        return 0;
    });
    return r == 0 ? py::cast(l) : py::none();
}

void Camera::closeAll() {
    const std::set<Camera*> cameras = liveCameras();
    for (Camera* c : cameras) {
        const CallErrors ignored;
        py::gil_scoped_release nogil;
        const std::lock_guard<std::mutex> lock(c->mutex);
        c->cam->close();
    }
}

FrameIterator::FrameIterator(py::object camera, std::optional<uint64_t> count)
    : owner(std::move(camera)), camera(owner.cast<Camera*>()), remaining(count) {}

FrameIterator::~FrameIterator() {
    try {
        close();
    } catch (py::error_already_set& e) {
        e.discard_as_unraisable("ozrtofcam frame iterator");
    } catch (const std::exception&) {
        // Nothing can be reported from a destructor.
    }
}

Frame FrameIterator::next() {
    if (done || (remaining && *remaining == 0)) {
        close();
        throw py::stop_iteration();
    }
    if (!started) {
        started = true;
        if (!camera->streaming()) {
            try {
                camera->start();
            } catch (...) {
                // A failed start may leave the streaming flag set.
                ownsStream = true;
                done = true;
                try {
                    camera->stop();
                } catch (py::error_already_set& e) {
                    e.discard_as_unraisable("ozrtofcam frame iterator");
                }
                ownsStream = false;
                throw;
            }
            ownsStream = true;
        }
    }
    try {
        Frame frame = camera->capture();
        if (remaining && --*remaining == 0) {
            close();
        }
        return frame;
    } catch (py::error_already_set&) {
        // The capture's error is the one to report; stopping is best effort.
        try {
            close();
        } catch (py::error_already_set& e) {
            e.discard_as_unraisable("ozrtofcam frame iterator");
        }
        throw;
    }
}

void FrameIterator::close() {
    done = true;
    if (ownsStream) {
        ownsStream = false;
        // The application may have stopped or closed the camera meanwhile.
        if (camera->streaming()) {
            camera->stop();
        }
    }
}

uint64_t Camera::record(const std::string& path, uint64_t frames) {
    int modeValue = 0;
    call([&modeValue](ozr::TOFCam& c) {
        return c.getControl(ozr::ControlID::ACQUISITION_MODE, modeValue);
    });
    ozrrec::Mode mode{};
    if (!ozrrec::recordingMode(static_cast<ozr::AcquisitionMode>(modeValue), mode)) {
        throw py::value_error(
            "record() records DCS images: set the mode to Mode.DCS4 or "
            "Mode.DIST_AMP_HDR first");
    }
    std::unique_ptr<ozrrec::CameraRecorder> recorder;
    call([&](ozr::TOFCam& c) {
        recorder =
            std::make_unique<ozrrec::CameraRecorder>(path, ozrrec::cameraModel(model), mode, c);
        return 0;
    });
    const bool ownsStream = !streaming();
    if (ownsStream) {
        start();
    }
    // Ends the recording; the first failure is the one reported.
    auto finish = [&]() {
        std::string error;
        {
            py::gil_scoped_release nogil;
            error = recorder->finish();
        }
        if (ownsStream && streaming()) {
            stop();
        }
        return error;
    };
    try {
        for (uint64_t i = 0; i < frames; ++i) {
            std::unique_ptr<ozr::TOFFrame> frame;
            call([&frame](ozr::TOFCam& c) { return c.captureFrame(frame); });
            std::string error;
            {
                py::gil_scoped_release nogil;
                error = recorder->write(*frame);
            }
            if (!error.empty()) {
                raiseError(-EIO, error);
            }
            if (PyErr_CheckSignals() != 0) {
                throw py::error_already_set();
            }
        }
    } catch (py::error_already_set&) {
        try {
            finish();
        } catch (py::error_already_set& e) {
            e.discard_as_unraisable("ozrtofcam Camera.record");
        }
        throw;
    }
    const std::string error = finish();
    if (!error.empty()) {
        raiseError(-EIO, error);
    }
    return recorder->framesWritten();
}

void Camera::define(py::module_& m) {
    py::class_<Camera>(m, "Camera",
                       "A Time-of-Flight camera. model is \"auto\" (detect the sensor), "
                       "\"ozr310\" or \"ozr320\". Used as a context manager it is opened and "
                       "closed:\n\n    with ozrtofcam.Camera() as cam:\n"
                       "        frame = cam.capture()\n\n"
                       "Failures raise ozrtofcam.Error. Calls that wait release the GIL.")
        .def(py::init<const std::string&>(), py::arg("model") = "auto")
        .def("open", &Camera::open,
             "Acquires the device; the mode becomes Mode.DIST_AMP. Does not stream.")
        .def("close", &Camera::close, "Stops streaming and releases the device.")
        .def("start", &Camera::start, "Starts continuous streaming.")
        .def("stop", &Camera::stop, "Stops streaming and waits for the stream to end.")
        .def_property_readonly("streaming", &Camera::streaming,
                               "True between start() and stop()/close()")
        .def_property("mode", &Camera::mode, &Camera::setMode,
                      "The acquisition mode (a Mode); setting it switches the processing "
                      "(its settings return to their defaults) and starts no stream")
        .def("set", &Camera::set, py::arg("control"), py::arg("value"),
             "Sets a control, given as a Control or its name in any case.")
        .def("get", &Camera::get, py::arg("control"), "Reads a control.")
        .def_property_readonly("lens", &Camera::lens,
                               "The lens from the calibration (a LensIntrinsics, for the image "
                               "size it states), or None when the calibration has none")
        .def("capture", &Camera::capture,
             "The newest frame of the current mode, waiting up to one second; without a "
             "stream, one frame is captured on demand.")
        .def("record", &Camera::record, py::arg("path"), py::arg("frames"),
             "Records frames of the current mode (Mode.DCS4 or Mode.DIST_AMP_HDR) to an HDF5 "
             "file at path, replacing it: the DCS images as the sensor delivered them, the "
             "frame numbers, timestamps and sensor temperatures. Streams meanwhile (a stream "
             "it started, it stops). Returns the number of frames written; read them back "
             "with ozrtofcam.Recording.")
        .def(
            "frames",
            [](py::object self, py::handle n) {
                std::optional<uint64_t> count;
                if (!n.is_none()) {
                    if (PyLong_Check(n.ptr()) == 0) {
                        throw py::type_error("n must be an int or None");
                    }
                    const long long v = PyLong_AsLongLong(n.ptr());
                    if (v == -1 && PyErr_Occurred() != nullptr) {
                        PyErr_Clear();
                        throw py::value_error("n out of range");
                    }
                    if (v < 0) {
                        throw py::value_error("n must not be negative");
                    }
                    count = static_cast<uint64_t>(v);
                }
                return std::make_unique<FrameIterator>(std::move(self), count);
            },
            py::arg("n") = py::none(),
            "Iterates over n frames (endlessly for None), streaming meanwhile; the stream "
            "that the iterator started stops when the loop ends or breaks.")
        .def("__enter__",
             [](py::object self) {
                 self.cast<Camera&>().open();
                 return self;
             })
        .def("__exit__", [](Camera& self, py::args) {
            self.close();
            return false;
        });

    py::class_<FrameIterator>(m, "FrameIterator")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", &FrameIterator::next)
        .def("close", &FrameIterator::close, "Ends the iteration and stops its stream.")
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](FrameIterator& self, py::args) {
            self.close();
            return false;
        });
}

}  // namespace ozrpy
