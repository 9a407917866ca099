// ozrtofcam.Control and ozrtofcam.Mode: Python IntEnums with the library's
// values, and the conversions of the arguments that name them.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>

#include "ozr/tofcam.h"

namespace ozrpy {

void defineEnums(pybind11::module_& module);

// A Control, its value, or its name in any case ("min_amplitude");
// TypeError for other types, ValueError for unknown ones.
ozr::ControlID toControl(pybind11::handle control);

// A Mode, its value, or its name in any case; TypeError, ValueError as above.
// The value is passed on unchecked when it is an int: the camera refuses
// what it does not know.
int toModeValue(pybind11::handle mode);

// An int control value (bool and IntEnum members included) within 32 bits.
int32_t toControlValue(pybind11::handle value);

// The Mode member of `value`, or the plain int when there is none.
pybind11::object modeObject(int value);

}  // namespace ozrpy
