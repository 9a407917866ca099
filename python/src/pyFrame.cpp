#include "pyFrame.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "errors.h"
#include "logBridge.h"
#include "pyPoints.h"

namespace py = pybind11;
using ozr::FrameType;

namespace ozrpy {

namespace {

constexpr size_t MAX_DCS = 12;

using FrameRef = std::shared_ptr<const ozr::TOFFrame>;

// A read-only array over `data` whose base keeps the frame alive.
template <typename T>
py::array view(const FrameRef& owner, const T* data, std::vector<py::ssize_t> shape) {
    py::capsule base(new FrameRef(owner), [](void* p) { delete static_cast<FrameRef*>(p); });
    py::array array(py::dtype::of<T>(), std::move(shape), {}, data, base);
    array.attr("flags").attr("writeable") = false;
    return array;
}

}  // namespace

Frame::Frame(std::unique_ptr<ozr::TOFFrame> captured, std::optional<ozr::LensIntrinsics> lens)
    : frame(std::move(captured)), cameraLens(lens), metadata(frame->getMetadata()) {
    // The accessors log each image the mode does not have; asking is not a
    // failure here.
    const MuteLog mute;
    distanceData = frame->getData<uint16_t>(FrameType::DISTANCE);
    amplitudeData = frame->getData<uint16_t>(FrameType::AMPLITUDE);
    grayscaleData = frame->getData<uint16_t>(FrameType::GRAYSCALE);
    phaseData = frame->getData<float>(FrameType::PHASE);
    while (dcsImages < MAX_DCS) {
        const uint16_t* d = frame->getData<uint16_t>(FrameType::DCS, dcsImages);
        if (d == nullptr) {
            break;
        }
        dcsData[dcsImages++] = d;
    }
}

py::object Frame::datetime() const {
    py::module_ dt = py::module_::import("datetime");
    py::object seconds =
        dt.attr("datetime")
            .attr("fromtimestamp")(metadata.timestamp / 1000,
                                   py::arg("tz") = dt.attr("timezone").attr("utc"));
    return seconds + dt.attr("timedelta")(py::arg("milliseconds") = metadata.timestamp % 1000);
}

py::object Frame::view16(const uint16_t* data, py::object& cache) {
    if (data == nullptr) {
        return py::none();
    }
    if (!cache) {
        cache = view(frame, data, {height(), width()});
    }
    return cache;
}

py::object Frame::distance() {
    return view16(distanceData, distanceArray);
}

py::object Frame::amplitude() {
    return view16(amplitudeData, amplitudeArray);
}

py::object Frame::grayscale() {
    return view16(grayscaleData, grayscaleArray);
}

py::object Frame::phase() {
    if (phaseData == nullptr) {
        return py::none();
    }
    if (!phaseArray) {
        phaseArray = view(frame, phaseData, {height(), width()});
    }
    return phaseArray;
}

py::tuple Frame::dcsViews() {
    if (!dcsTuple) {
        py::tuple views(dcsImages);
        for (size_t i = 0; i < dcsImages; ++i) {
            views[i] = view(frame, dcsData[i], {height(), width()});
        }
        dcsTuple = views;
    }
    return py::reinterpret_borrow<py::tuple>(dcsTuple);
}

py::object Frame::dcs() {
    if (dcsImages == 0) {
        return py::none();
    }
    if (!dcsArray) {
        const size_t pixels = static_cast<size_t>(width()) * static_cast<size_t>(height());
        py::array_t<uint16_t> stack({static_cast<py::ssize_t>(dcsImages),
                                     static_cast<py::ssize_t>(height()),
                                     static_cast<py::ssize_t>(width())});
        uint16_t* out = stack.mutable_data();
        for (size_t i = 0; i < dcsImages; ++i) {
            std::copy(dcsData[i], dcsData[i] + pixels, out + i * pixels);
        }
        stack.attr("flags").attr("writeable") = false;
        dcsArray = stack;
    }
    return dcsArray;
}

uintptr_t Frame::imageAddress(const std::string& kind, size_t index) const {
    const void* p = nullptr;
    if (kind == "distance") {
        p = distanceData;
    } else if (kind == "amplitude") {
        p = amplitudeData;
    } else if (kind == "grayscale") {
        p = grayscaleData;
    } else if (kind == "phase") {
        p = phaseData;
    } else if (kind == "dcs") {
        p = index < dcsImages ? dcsData[index] : nullptr;
    } else {
        throw py::value_error("unknown image kind \"" + kind + "\"");
    }
    return reinterpret_cast<uintptr_t>(p);
}

std::string Frame::repr() const {
    std::string images;
    const auto add = [&images](bool present, const char* name) {
        if (present) {
            images += " ";
            images += name;
        }
    };
    add(distanceData != nullptr, "distance");
    add(amplitudeData != nullptr, "amplitude");
    add(phaseData != nullptr, "phase");
    add(grayscaleData != nullptr, "grayscale");
    if (dcsImages > 0) {
        images += " dcs[" + std::to_string(dcsImages) + "]";
    }
    return "<ozrtofcam.Frame " + std::to_string(number()) + " " + std::to_string(width()) + "x" +
           std::to_string(height()) + images + ">";
}

py::object Frame::points(bool organized, py::object lens) {
    if (!lens.is_none()) {
        return framePoints(*frame, lens.cast<ozr::LensIntrinsics>(), organized);
    }
    if (!cameraLens) {
        raiseError(-ENOENT, "the camera's calibration has no lens: give one with lens=");
    }
    return framePoints(*frame, *cameraLens, organized);
}

void Frame::define(py::module_& m) {
    py::class_<Frame>(m, "Frame",
                      "One captured frame. The image arrays are read-only views of the "
                      "frame's own images (no copy); they keep the images alive as long as "
                      "they exist. An image the frame's mode does not have is None.")
        .def_property_readonly("number", &Frame::number,
                               "Frame number, counting delivered frames from 1")
        .def_property_readonly("timestamp", &Frame::timestamp,
                               "Delivery time, milliseconds since the Unix epoch")
        .def_property_readonly("datetime", &Frame::datetime,
                               "Delivery time as a timezone-aware datetime (UTC)")
        .def_property_readonly("width", &Frame::width)
        .def_property_readonly("height", &Frame::height)
        .def_property_readonly("distance", &Frame::distance,
                               "Distance in millimetres, uint16 (height, width); values of "
                               "LIMIT_VALID_VALUE and above are pixel codes")
        .def_property_readonly("amplitude", &Frame::amplitude,
                               "Amplitude, uint16 (height, width), with pixel codes")
        .def_property_readonly("grayscale", &Frame::grayscale, "Grayscale, uint16 (height, width)")
        .def_property_readonly("phase", &Frame::phase, "Phase in radians, float32 (height, width)")
        .def_property_readonly("dcs", &Frame::dcs,
                               "The DCS images, uint16 (k, height, width): a read-only copy, "
                               "since the library keeps each DCS image in a buffer of its own")
        .def_property_readonly("dcs_images", &Frame::dcsViews,
                               "The DCS images as a tuple of read-only views, uint16 "
                               "(height, width) each")
        .def("points", &Frame::points, py::arg("organized") = true, py::arg("lens") = py::none(),
             "The distance image as 3-D points through the lens (the camera's from its "
             "calibration, or the LensIntrinsics given), millimetres in the camera frame: x "
             "right, y down, z forward. organized=True: float32 (height, width, 3), pixel codes "
             "as NaN points; organized=False: float32 (n, 3), the measured pixels only, in "
             "pixel order. Raises ozrtofcam.Error (ENOENT) without a lens, ValueError for a "
             "frame without a distance image.")
        .def("_image_address", &Frame::imageAddress, py::arg("kind"), py::arg("index") = 0)
        .def("__repr__", &Frame::repr);
}

}  // namespace ozrpy
