// The sub-device's control table: ranges, defaults, current values and the
// device's own rules (quantised modulation frequency, HDR refused by the
// OZR310).
#pragma once

#include <cstdint>
#include <vector>

#include "scene.h"

namespace ozrsim {

struct ControlInfo {
    uint32_t id;
    const char* name;
    uint32_t type;  // V4L2_CTRL_TYPE_*
    int32_t minimum;
    int32_t maximum;
    int32_t step;
    int32_t defaultValue;
    uint32_t flags;  // V4L2_CTRL_FLAG_*
};

class ControlSet {
public:
    explicit ControlSet(Model model = Model::OZR320);

    const ControlInfo* find(uint32_t id) const;
    // The first control with an identifier above `id` (for enumeration with
    // V4L2_CTRL_FLAG_NEXT_CTRL), or null.
    const ControlInfo* next(uint32_t id) const;
    // The control an old-style private identifier (V4L2_CID_PRIVATE_BASE + n)
    // names: the n-th driver-specific control of the user class, or null.
    const ControlInfo* privateControl(uint32_t n) const;

    // Checks a value for writing and brings it to what the device keeps.
    // Returns 0 or a positive errno value: EINVAL for an unknown or
    // read-only control or a refused menu item, ERANGE out of range,
    // EACCES for the class control.
    int validate(uint32_t id, int32_t& value) const;

    // Current value; false for an unknown id or one that cannot be read.
    bool get(uint32_t id, int32_t& value) const;
    // Stores a value already validated.
    void set(uint32_t id, int32_t value);

    // Name of a menu item; null when the index is not an item (or skipped).
    const char* menuItem(uint32_t id, uint32_t index) const;

    // The controls as the renderer sees them.
    void applyTo(SensorState& state) const;

private:
    Model model_;
    std::vector<ControlInfo> table_;
    std::vector<int32_t> values_;
};

}  // namespace ozrsim
