#include "pyPoints.h"

#include <pybind11/numpy.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "errors.h"
#include "logBridge.h"

namespace py = pybind11;

namespace ozrpy {

py::object framePoints(const ozr::TOFFrame& frame, const ozr::LensIntrinsics& lens,
                       bool organized) {
    {
        const MuteLog mute;
        if (frame.getData<uint16_t>(ozr::FrameType::DISTANCE) == nullptr) {
            throw py::value_error("the frame has no distance image (its mode has none)");
        }
    }
    const CallErrors errors;
    std::vector<float> xyz;
    int r = 0;
    {
        py::gil_scoped_release nogil;
        r = ozr::toPointCloud(frame, lens, xyz,
                              organized ? ozr::CodedPixels::NAN_POINTS : ozr::CodedPixels::DROP);
    }
    if (r != 0) {
        raiseError(r, errors.message());
    }
    std::vector<py::ssize_t> shape;
    if (organized) {
        shape = {frame.getHeight(), frame.getWidth(), 3};
    } else {
        shape = {static_cast<py::ssize_t>(xyz.size() / 3), 3};
    }
    py::array_t<float> out(shape);
    if (!xyz.empty()) {
        std::memcpy(out.mutable_data(), xyz.data(), xyz.size() * sizeof(float));
    }
    return out;
}

void definePoints(py::module_& m) {
    using L = ozr::LensIntrinsics;
    py::class_<L>(m, "LensIntrinsics",
                  "The camera's lens: a pinhole with focal lengths fx, fy and principal point "
                  "cx, cy in pixels of a width x height image (pixel centres at whole "
                  "coordinates), with Brown-Conrady distortion k1, k2, k3 (radial) and p1, p2 "
                  "(tangential).")
        .def(py::init([](uint32_t width, uint32_t height, double fx, double fy, double cx,
                         double cy, double k1, double k2, double k3, double p1, double p2) {
                 return L{width, height, fx, fy, cx, cy, k1, k2, k3, p1, p2};
             }),
             py::arg("width"), py::arg("height"), py::arg("fx"), py::arg("fy"), py::arg("cx"),
             py::arg("cy"), py::arg("k1") = 0.0, py::arg("k2") = 0.0, py::arg("k3") = 0.0,
             py::arg("p1") = 0.0, py::arg("p2") = 0.0)
        .def_readwrite("width", &L::width)
        .def_readwrite("height", &L::height)
        .def_readwrite("fx", &L::fx)
        .def_readwrite("fy", &L::fy)
        .def_readwrite("cx", &L::cx)
        .def_readwrite("cy", &L::cy)
        .def_readwrite("k1", &L::k1)
        .def_readwrite("k2", &L::k2)
        .def_readwrite("k3", &L::k3)
        .def_readwrite("p1", &L::p1)
        .def_readwrite("p2", &L::p2)
        .def(
            "scaled",
            [](const L& l, uint32_t width, uint32_t height) {
                return ozr::scaleIntrinsics(l, width, height);
            },
            py::arg("width"), py::arg("height"),
            "The intrinsics for an image of another size (pixel edges stay in place).")
        .def("__repr__", [](const L& l) {
            char text[256];
            std::snprintf(text, sizeof text,
                          "<ozrtofcam.LensIntrinsics %ux%u fx %.3f fy %.3f cx %.3f cy %.3f k1 %g "
                          "k2 %g k3 %g p1 %g p2 %g>",
                          l.width, l.height, l.fx, l.fy, l.cx, l.cy, l.k1, l.k2, l.k3, l.p1, l.p2);
            return std::string(text);
        });
}

}  // namespace ozrpy
