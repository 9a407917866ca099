// ozrtofcam.Error: an OSError carrying the library's status and message.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace ozrpy {

// Creates ozrtofcam.Error in `module`.
void defineError(pybind11::module_& module);

// Raises ozrtofcam.Error with errno -status and `message` (the system's
// error text of -status when empty).
[[noreturn]] void raiseError(int status, const std::string& message);

}  // namespace ozrpy
