// ozrtofcam.Recording: a recording written by Camera.record() or
// ozr-capture --record, read back with its settings, DCS frames and
// temperatures as numpy arrays.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>
#include <string>

#include "recording_reader.h"

namespace ozrpy {

class Recording {
public:
    explicit Recording(const std::string& path);

    uint64_t frameCount() const { return reader->frameCount(); }
    const ozrrec::RecordingInfo& info() const { return reader->info(); }
    const std::string& path() const { return reader->path(); }
    // Frame `index` (negative counts from the end) as a RecordedFrame.
    pybind11::object frame(int64_t index);
    // The temperature of every frame, degrees Celsius, as float32.
    pybind11::object temperatures();
    std::string repr() const;

    static void define(pybind11::module_& module);

private:
    std::unique_ptr<ozrrec::RecordingReader> reader;
};

}  // namespace ozrpy
