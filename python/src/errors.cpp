#include "errors.h"

#include <cstring>

#include "logBridge.h"

namespace py = pybind11;

namespace ozrpy {

namespace {

PyObject* errorType = nullptr;

}  // namespace

void defineError(py::module_& module) {
    errorType = PyErr_NewExceptionWithDoc(
        "ozrtofcam.Error",
        "A failure of the camera library: errno is the library's status negated "
        "(errno.EINVAL, errno.ETIMEDOUT, ...), strerror the message it logged.",
        PyExc_OSError, nullptr);
    if (errorType == nullptr) {
        throw py::error_already_set();
    }
    module.add_object("Error", py::handle(errorType));
}

void raiseError(int status, const std::string& message) {
    const int code = -status;
    const std::string text = message.empty() ? std::string(std::strerror(code)) : message;
    // OSError(errno, strerror) fills in both attributes.
    py::object args = py::make_tuple(code, messageText(text.c_str()));
    PyErr_SetObject(errorType, args.ptr());
    throw py::error_already_set();
}

}  // namespace ozrpy
