// The Python module ozrtofcam: the camera, its frames as numpy arrays, the
// controls and modes as enums, the pixel codes, errors as ozrtofcam.Error and
// the library's log lines on the logger "ozrtofcam".
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "enums.h"
#include "errors.h"
#include "kyr/image.h"
#include "logBridge.h"
#include "pyCamera.h"
#include "pyFrame.h"
#include "pyPoints.h"
#include "pyRecording.h"

namespace py = pybind11;

namespace {

struct PixelCodeName {
    ImageBase::PixelCode code;
    const char* name;
};

constexpr PixelCodeName PIXEL_CODES[] = {
    {ImageBase::LIMIT_VALID_VALUE, "LIMIT_VALID_VALUE"},
    {ImageBase::LOW_AMPLITUDE, "LOW_AMPLITUDE"},
    {ImageBase::ADC_OVERFLOW, "ADC_OVERFLOW"},
    {ImageBase::SATURATION, "SATURATION"},
    {ImageBase::BAD_PIXEL, "BAD_PIXEL"},
    {ImageBase::INTERFERENCE, "INTERFERENCE"},
    {ImageBase::EDGE_FILTERED, "EDGE_FILTERED"},
};

// The boolean mask of the pixels that hold a measurement, not a code.
py::object valid(py::handle image) {
    if (image.is_none()) {
        throw py::type_error("valid() needs an integer image, not None");
    }
    py::array array = py::array::ensure(image);
    if (!array) {
        throw py::error_already_set();
    }
    const char kind = array.dtype().kind();
    if (kind != 'u' && kind != 'i') {
        throw py::type_error("valid() needs an integer image (distance or amplitude), not dtype " +
                             py::str(array.dtype()).cast<std::string>());
    }
    py::int_ limit(static_cast<unsigned>(ImageBase::LIMIT_VALID_VALUE));
    PyObject* mask = PyObject_RichCompare(array.ptr(), limit.ptr(), Py_LT);
    if (mask == nullptr) {
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::object>(mask);
}

}  // namespace

PYBIND11_MODULE(ozrtofcam, m) {
    m.doc() =
        "Time-of-Flight cameras with OZR310/OZR320 sensors: frames as numpy arrays.\n\n"
        "    import ozrtofcam\n"
        "    with ozrtofcam.Camera() as cam:\n"
        "        frame = cam.capture()\n"
        "        mm = frame.distance[ozrtofcam.valid(frame.distance)]\n\n"
        "The library's messages go to the logging logger \"ozrtofcam\".";
    m.attr("__version__") = OZR_VERSION;

    ozrpy::defineError(m);
    ozrpy::defineEnums(m);
    ozrpy::definePoints(m);
    ozrpy::Frame::define(m);
    ozrpy::Camera::define(m);
    ozrpy::Recording::define(m);

    for (const PixelCodeName& c : PIXEL_CODES) {
        m.attr(c.name) = static_cast<unsigned>(c.code);
    }
    m.def("valid", &valid, py::arg("image"),
          "Boolean mask of the pixels of a distance or amplitude image that hold a "
          "measurement (below LIMIT_VALID_VALUE), not a pixel code.");

    ozrpy::installLogBridge();
    // At exit, while the interpreter still runs: close the cameras (their
    // streaming threads may be waiting to log) and restore the library's own
    // output, so that no thread takes the GIL during finalisation.
    m.def("_shutdown", [] {
        ozrpy::Camera::closeAll();
        ozrpy::removeLogBridge();
    });
    py::module_::import("atexit").attr("register")(m.attr("_shutdown"));
}
