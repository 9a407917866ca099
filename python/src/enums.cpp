#include "enums.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace py = pybind11;

namespace ozrpy {

namespace {

struct ModeName {
    ozr::AcquisitionMode mode;
    const char* name;
};

constexpr ModeName MODES[] = {
    {ozr::AcquisitionMode::DIST_AMP, "DIST_AMP"},
    {ozr::AcquisitionMode::GRAYSCALE, "GRAYSCALE"},
    {ozr::AcquisitionMode::DIST_AMP_HDR, "DIST_AMP_HDR"},
    {ozr::AcquisitionMode::TEST_PATTERN, "TEST_PATTERN"},
    {ozr::AcquisitionMode::DCS4, "DCS4"},
};

// Created once with the module and never destroyed.
py::object* controlEnum = nullptr;
py::object* modeEnum = nullptr;

std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

bool isInt(py::handle h) {
    return PyLong_Check(h.ptr()) != 0;
}

long long asLongLong(py::handle h, const char* what) {
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(h.ptr(), &overflow);
    if (overflow != 0 || (v == -1 && PyErr_Occurred() != nullptr)) {
        PyErr_Clear();
        throw py::value_error(std::string(what) + " out of range");
    }
    return v;
}

}  // namespace

void defineEnums(py::module_& m) {
    py::object intEnum = py::module_::import("enum").attr("IntEnum");
    py::list controls;
    for (const ozr::ControlEntry& e : ozr::controlNames) {
        controls.append(py::make_tuple(e.name, static_cast<int>(e.id)));
    }
    py::list modes;
    for (const ModeName& e : MODES) {
        modes.append(py::make_tuple(e.name, static_cast<int>(e.mode)));
    }
    controlEnum = new py::object(intEnum("Control", controls, py::arg("module") = "ozrtofcam"));
    modeEnum = new py::object(intEnum("Mode", modes, py::arg("module") = "ozrtofcam"));
    controlEnum->attr("__doc__") =
        "The camera's controls, with the library's values; cam.set(Control.MIN_AMPLITUDE, 50).";
    modeEnum->attr("__doc__") =
        "Acquisition modes, with the library's values; cam.mode = Mode.DCS4.";
    m.add_object("Control", *controlEnum);
    m.add_object("Mode", *modeEnum);
}

ozr::ControlID toControl(py::handle control) {
    if (py::isinstance<py::str>(control)) {
        const std::string name = upper(control.cast<std::string>());
        for (const ozr::ControlEntry& e : ozr::controlNames) {
            if (name == e.name) {
                return e.id;
            }
        }
        throw py::value_error("unknown control \"" + control.cast<std::string>() + "\"");
    }
    if (!isInt(control)) {
        throw py::type_error("control must be a Control, an int or a name, not " +
                             std::string(Py_TYPE(control.ptr())->tp_name));
    }
    const long long v = asLongLong(control, "control");
    if (v < 0 || v >= static_cast<long long>(ozr::CONTROL_COUNT)) {
        throw py::value_error("unknown control " + std::to_string(v));
    }
    return static_cast<ozr::ControlID>(v);
}

int toModeValue(py::handle mode) {
    if (py::isinstance<py::str>(mode)) {
        const std::string name = upper(mode.cast<std::string>());
        for (const ModeName& e : MODES) {
            if (name == e.name) {
                return static_cast<int>(e.mode);
            }
        }
        throw py::value_error("unknown mode \"" + mode.cast<std::string>() + "\"");
    }
    if (!isInt(mode)) {
        throw py::type_error("mode must be a Mode, an int or a name, not " +
                             std::string(Py_TYPE(mode.ptr())->tp_name));
    }
    return toControlValue(mode);
}

int32_t toControlValue(py::handle value) {
    if (!isInt(value)) {
        throw py::type_error("control value must be an int, not " +
                             std::string(Py_TYPE(value.ptr())->tp_name));
    }
    const long long v = asLongLong(value, "control value");
    if (v < INT32_MIN || v > INT32_MAX) {
        throw py::value_error("control value " + std::to_string(v) + " does not fit 32 bits");
    }
    return static_cast<int32_t>(v);
}

py::object modeObject(int value) {
    for (const ModeName& e : MODES) {
        if (static_cast<int>(e.mode) == value) {
            return (*modeEnum)(value);
        }
    }
    return py::int_(value);
}

}  // namespace ozrpy
