// Interface of the processing graphs: a pipeline offers each control to its
// graphs through it.
#pragma once

#include <cstdint>

#include "ozr/controls.h"

class GraphIF {
public:
    virtual ~GraphIF() = default;
    // 0 when the graph took the control, kyr::status::NOT_HANDLED when it does
    // not handle it, or a negative error.
    virtual int setControl(ozr::ControlID id, int32_t value) = 0;
    virtual int getControl(ozr::ControlID id, int& value) = 0;
};
