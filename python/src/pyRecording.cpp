#include "pyRecording.h"

#include <pybind11/numpy.h>

#include <cerrno>
#include <filesystem>
#include <utility>

#include "enums.h"
#include "errors.h"
#include "ozr/tofcam.h"

namespace py = pybind11;

namespace ozrpy {

namespace {

// One frame of a recording: its number, timestamp, temperature and DCS
// images, the images stacked as a read-only (k, height, width) uint16 array.
struct RecordedFrame {
    uint32_t number;
    uint64_t timestamp;
    float temperature;
    py::object dcs;
};

ozr::AcquisitionMode acquisitionMode(ozrrec::Mode mode) {
    return mode == ozrrec::Mode::DCS4 ? ozr::AcquisitionMode::DCS4
                                      : ozr::AcquisitionMode::DIST_AMP_HDR;
}

}  // namespace

Recording::Recording(const std::string& path) {
    std::string error;
    {
        py::gil_scoped_release nogil;
        reader = ozrrec::RecordingReader::open(path, error);
    }
    if (!reader) {
        std::error_code ec;
        if (!std::filesystem::exists(path, ec)) {
            PyErr_SetObject(PyExc_FileNotFoundError,
                            py::make_tuple(ENOENT, "no such recording", path).ptr());
            throw py::error_already_set();
        }
        raiseError(-EINVAL, error);
    }
}

py::object Recording::frame(int64_t index) {
    const auto count = static_cast<int64_t>(reader->frameCount());
    if (index < 0) {
        index += count;
    }
    if (index < 0 || index >= count) {
        throw py::index_error("recording frame index out of range");
    }
    ozrrec::RecordedFrame frame;
    std::string error;
    bool ok = false;
    {
        py::gil_scoped_release nogil;
        ok = reader->read(static_cast<uint64_t>(index), frame, error);
    }
    if (!ok) {
        raiseError(-EIO, error);
    }
    const ozrrec::RecordingInfo& i = reader->info();
    py::array_t<uint16_t> dcs({static_cast<py::ssize_t>(i.dcsCount()),
                               static_cast<py::ssize_t>(i.height),
                               static_cast<py::ssize_t>(i.width)});
    std::copy(frame.dcs.begin(), frame.dcs.end(), dcs.mutable_data());
    dcs.attr("flags").attr("writeable") = false;
    return py::cast(
        RecordedFrame{frame.frameNumber, frame.timestampMs, frame.temperatureC, std::move(dcs)});
}

py::object Recording::temperatures() {
    std::vector<float> celsius;
    std::string error;
    bool ok = false;
    {
        py::gil_scoped_release nogil;
        ok = reader->readTemperatures(celsius, error);
    }
    if (!ok) {
        raiseError(-EIO, error);
    }
    py::array_t<float> out(static_cast<py::ssize_t>(celsius.size()));
    std::copy(celsius.begin(), celsius.end(), out.mutable_data());
    return out;
}

std::string Recording::repr() const {
    const ozrrec::RecordingInfo& i = reader->info();
    return "<ozrtofcam.Recording " + reader->path() + ": " + ozrrec::modelName(i.model) + " " +
           ozrrec::modeName(i.mode) + " " + std::to_string(i.width) + "x" +
           std::to_string(i.height) + ", " + std::to_string(reader->frameCount()) + " frames>";
}

void Recording::define(py::module_& m) {
    py::class_<RecordedFrame>(m, "RecordedFrame", "One frame of a Recording.")
        .def_readonly("number", &RecordedFrame::number, "The camera's frame number")
        .def_readonly("timestamp", &RecordedFrame::timestamp, "Milliseconds since the Unix epoch")
        .def_readonly("temperature", &RecordedFrame::temperature,
                      "Sensor temperature, degrees Celsius")
        .def_readonly("dcs", &RecordedFrame::dcs,
                      "The DCS images as delivered by the sensor (12-bit values), a "
                      "read-only uint16 array of shape (dcs_per_frame, height, width)")
        .def("__repr__", [](const RecordedFrame& f) {
            return "<ozrtofcam.RecordedFrame " + std::to_string(f.number) + ">";
        });

    py::class_<Recording>(m, "Recording",
                          "A recording of DCS frames (HDF5), as Camera.record() and "
                          "ozr-capture --record write it:\n\n"
                          "    rec = ozrtofcam.Recording(\"rec.h5\")\n"
                          "    for frame in rec:\n"
                          "        print(frame.number, frame.dcs.shape)\n\n"
                          "A file that is not a complete recording raises ozrtofcam.Error.")
        .def(py::init<const std::string&>(), py::arg("path"))
        .def_property_readonly("path", &Recording::path)
        .def_property_readonly(
            "model", [](const Recording& r) { return ozrrec::modelName(r.info().model); },
            "\"ozr310\" or \"ozr320\"")
        .def_property_readonly(
            "mode",
            [](const Recording& r) {
                return modeObject(static_cast<int>(acquisitionMode(r.info().mode)));
            },
            "Mode.DCS4 or Mode.DIST_AMP_HDR")
        .def_property_readonly("width", [](const Recording& r) { return r.info().width; })
        .def_property_readonly("height", [](const Recording& r) { return r.info().height; })
        .def_property_readonly("dcs_per_frame",
                               [](const Recording& r) { return r.info().dcsCount(); })
        .def_property_readonly("modulation_frequency_hz",
                               [](const Recording& r) { return r.info().modulationFrequencyHz; })
        .def_property_readonly("exposure_us",
                               [](const Recording& r) { return r.info().exposureUs; })
        .def_property_readonly("gain", [](const Recording& r) { return r.info().gain; })
        .def_property_readonly("hdr_integration_times_us",
                               [](const Recording& r) {
                                   const auto& t = r.info().hdrIntegrationTimesUs;
                                   return py::make_tuple(t[0], t[1], t[2]);
                               })
        .def_property_readonly("library_version",
                               [](const Recording& r) { return r.info().libraryVersion; })
        .def_property_readonly("format_version",
                               [](const Recording& r) { return r.info().formatVersion; })
        .def_property_readonly("frame_count", &Recording::frameCount, "Complete frames in the file")
        .def("__len__", &Recording::frameCount)
        .def("__getitem__", &Recording::frame, py::arg("index"))
        .def("temperatures", &Recording::temperatures,
             "The sensor temperature of every frame (degrees Celsius), a float32 array, "
             "without reading the images")
        .def("__repr__", &Recording::repr);
}

}  // namespace ozrpy
