#include "controls.h"

#include <linux/videodev2.h>

#include <cerrno>

#include "ozrsim.h"

namespace ozrsim {

namespace {

constexpr uint32_t CLASS_FLAGS = V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_WRITE_ONLY;
constexpr const char* ACQUISITION_ITEMS[] = {"4DCS", "Grayscale", "HDR"};

}  // namespace

ControlSet::ControlSet(Model model) : model_(model) {
    // Sorted by identifier: enumeration walks the table in order.
    table_ = {
        {cid::USER_CLASS, "User Controls", V4L2_CTRL_TYPE_CTRL_CLASS, 0, 0, 0, 0, CLASS_FLAGS},
        {cid::EXPOSURE, "Exposure Time, Microseconds", V4L2_CTRL_TYPE_INTEGER, 0, 10000, 1, 500, 0},
        {cid::GAIN, "Gain", V4L2_CTRL_TYPE_INTEGER, 1, 16, 1, 1, 0},
        {cid::TRIGGER_SHUTTER, "Trigger Shutter", V4L2_CTRL_TYPE_INTEGER, 0, 1, 1, 0,
         V4L2_CTRL_FLAG_VOLATILE | V4L2_CTRL_FLAG_EXECUTE_ON_WRITE},
        {cid::ACQUISITION_MODE, "Acquisition Mode", V4L2_CTRL_TYPE_MENU, 0, 2, 1, 0, 0},
        {cid::MODULATION_FREQ_HZ, "Modulation Frequency, Hz", V4L2_CTRL_TYPE_INTEGER, 5000000,
         100000000, MODULATION_STEP_HZ, 24000000, 0},
        {cid::HDR_INTEGRATION_TIME1, "HDR Integration Time 1, us", V4L2_CTRL_TYPE_INTEGER, 0, 10000,
         1, 100, 0},
        {cid::HDR_INTEGRATION_TIME2, "HDR Integration Time 2, us", V4L2_CTRL_TYPE_INTEGER, 0, 10000,
         1, 500, 0},
        {cid::HDR_INTEGRATION_TIME3, "HDR Integration Time 3, us", V4L2_CTRL_TYPE_INTEGER, 0, 10000,
         1, 2000, 0},
        {cid::LED_DELAY_STEP, "LED Delay Step", V4L2_CTRL_TYPE_INTEGER, 0, 255, 1, 0, 0},
    };
    values_.reserve(table_.size());
    for (const ControlInfo& c : table_) values_.push_back(c.defaultValue);
}

const ControlInfo* ControlSet::find(uint32_t id) const {
    for (const ControlInfo& c : table_) {
        if (c.id == id) return &c;
    }
    return nullptr;
}

const ControlInfo* ControlSet::next(uint32_t id) const {
    for (const ControlInfo& c : table_) {
        if (c.id > id) return &c;
    }
    return nullptr;
}

const ControlInfo* ControlSet::privateControl(uint32_t n) const {
    for (const ControlInfo& c : table_) {
        if (V4L2_CTRL_ID2WHICH(c.id) != V4L2_CTRL_CLASS_USER || !V4L2_CTRL_DRIVER_PRIV(c.id)) {
            continue;
        }
        if (n == 0) return &c;
        --n;
    }
    return nullptr;
}

int ControlSet::validate(uint32_t id, int32_t& value) const {
    const ControlInfo* c = find(id);
    if (!c) return EINVAL;
    if (c->type == V4L2_CTRL_TYPE_CTRL_CLASS) return EACCES;
    if (c->flags & V4L2_CTRL_FLAG_READ_ONLY) return EACCES;
    if (value < c->minimum || value > c->maximum) return ERANGE;
    if (c->type == V4L2_CTRL_TYPE_MENU)
        return menuItem(id, static_cast<uint32_t>(value)) ? 0 : EINVAL;
    if (c->step > 1) {
        // Nearest multiple of the step above the minimum, halves rounded up.
        const int64_t offset = static_cast<int64_t>(value) - c->minimum;
        int64_t steps = (offset + c->step / 2) / c->step;
        int64_t rounded = c->minimum + steps * c->step;
        if (rounded > c->maximum) rounded -= c->step;
        value = static_cast<int32_t>(rounded);
    }
    return 0;
}

bool ControlSet::get(uint32_t id, int32_t& value) const {
    for (size_t i = 0; i < table_.size(); ++i) {
        if (table_[i].id != id) continue;
        if (table_[i].type == V4L2_CTRL_TYPE_CTRL_CLASS) return false;
        // The trigger is an action: it always reads as idle.
        value = id == cid::TRIGGER_SHUTTER ? 0 : values_[i];
        return true;
    }
    return false;
}

void ControlSet::set(uint32_t id, int32_t value) {
    for (size_t i = 0; i < table_.size(); ++i) {
        if (table_[i].id == id) values_[i] = value;
    }
}

const char* ControlSet::menuItem(uint32_t id, uint32_t index) const {
    if (id != cid::ACQUISITION_MODE || index > 2) return nullptr;
    // The OZR310 has no HDR readout; the library builds HDR from three frames.
    if (model_ == Model::OZR310 && index == static_cast<uint32_t>(AcqType::Hdr)) return nullptr;
    return ACQUISITION_ITEMS[index];
}

void ControlSet::applyTo(SensorState& state) const {
    int32_t v = 0;
    state.model = model_;
    if (get(cid::ACQUISITION_MODE, v)) state.acq = static_cast<AcqType>(v);
    if (get(cid::MODULATION_FREQ_HZ, v)) state.modulationHz = static_cast<uint32_t>(v);
    if (get(cid::EXPOSURE, v)) state.exposureUs = v;
    if (get(cid::HDR_INTEGRATION_TIME1, v)) state.hdrTimesUs[0] = v;
    if (get(cid::HDR_INTEGRATION_TIME2, v)) state.hdrTimesUs[1] = v;
    if (get(cid::HDR_INTEGRATION_TIME3, v)) state.hdrTimesUs[2] = v;
    if (get(cid::GAIN, v)) state.gain = v;
    if (get(cid::LED_DELAY_STEP, v)) state.ledDelayStep = v;
}

}  // namespace ozrsim
