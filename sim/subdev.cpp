// The sensor sub-device: its controls through the control requests.
#include <linux/v4l2-subdev.h>

#include <cerrno>
#include <cstring>

#include "device.h"
#include "device_util.h"

namespace ozrsim {

int Device::getControlLocked(uint32_t id, int32_t& value) {
    const ControlInfo* c = controls_.find(id);
    if (!c) return -EINVAL;
    if (c->flags & V4L2_CTRL_FLAG_WRITE_ONLY) return -EACCES;
    return controls_.get(id, value) ? 0 : -EINVAL;
}

int Device::setControlLocked(uint32_t id, int32_t& value) {
    if (int e = controls_.validate(id, value); e != 0) return -e;
    controls_.set(id, value);
    if (id == cid::TRIGGER_SHUTTER && value == 1) {
        ++counters_.triggers;
        if (!config_.faults.stall) acquireFrameLocked(Clock::now());
    }
    return 0;
}

int Device::extControlsLocked(unsigned long request, v4l2_ext_controls* ctrls) {
    const uint32_t which = ctrls->which;
    const bool defaults = which == V4L2_CTRL_WHICH_DEF_VAL;
    if (which != V4L2_CTRL_WHICH_CUR_VAL && !defaults && which != V4L2_CTRL_CLASS_USER) {
        return -EINVAL;
    }
    if (defaults && request != VIDIOC_G_EXT_CTRLS) return -EINVAL;
    if (ctrls->count == 0) return 0;
    if (ctrls->count > 1024) return -EINVAL;
    if (!ctrls->controls) return -EFAULT;
    v4l2_ext_control* list = ctrls->controls;
    // Check every identifier first, as the control framework does.
    for (uint32_t i = 0; i < ctrls->count; ++i) {
        const ControlInfo* c = controls_.find(list[i].id);
        if (!c || c->type == V4L2_CTRL_TYPE_CTRL_CLASS) {
            ctrls->error_idx = request == VIDIOC_G_EXT_CTRLS ? i : ctrls->count;
            return -EINVAL;
        }
    }
    if (request == VIDIOC_G_EXT_CTRLS) {
        for (uint32_t i = 0; i < ctrls->count; ++i) {
            const ControlInfo* c = controls_.find(list[i].id);
            if (defaults) {
                list[i].value = c->defaultValue;
                continue;
            }
            int32_t v = 0;
            if (int r = getControlLocked(list[i].id, v); r != 0) {
                ctrls->error_idx = i;
                return r;
            }
            list[i].value = v;
        }
        return 0;
    }
    for (uint32_t i = 0; i < ctrls->count; ++i) {
        int32_t v = list[i].value;
        if (int e = controls_.validate(list[i].id, v); e != 0) {
            ctrls->error_idx = i;
            return -e;
        }
    }
    if (request == VIDIOC_TRY_EXT_CTRLS) {
        for (uint32_t i = 0; i < ctrls->count; ++i) {
            int32_t v = list[i].value;
            controls_.validate(list[i].id, v);
            list[i].value = v;
        }
        return 0;
    }
    for (uint32_t i = 0; i < ctrls->count; ++i) {
        int32_t v = list[i].value;
        setControlLocked(list[i].id, v);
        list[i].value = v;
    }
    return 0;
}

// The control a QUERYCTRL or QUERY_EXT_CTRL request asks for: the one with
// the id, or with the NEXT_CTRL flag the one after it.
const ControlInfo* Device::queriedControl(uint32_t id) const {
    if (id & V4L2_CTRL_FLAG_NEXT_CTRL) {
        return controls_.next(id & ~(V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND));
    }
    if (id & V4L2_CTRL_FLAG_NEXT_COMPOUND) {
        return nullptr;
    }
    return controls_.find(id);
}

namespace {

// The fields both query structures share.
template <typename Query>
void fillQuery(Query& q, const ControlInfo& c) {
    std::memset(&q, 0, sizeof(q));
    q.id = c.id;
    q.type = c.type;
    copyName(q.name, c.name);
    q.minimum = c.minimum;
    q.maximum = c.maximum;
    q.step = static_cast<decltype(q.step)>(c.step);
    q.default_value = c.defaultValue;
    q.flags = c.flags;
}

}  // namespace

int Device::subdevIoctl(unsigned long request, void* arg) {
    switch (request) {
        case VIDIOC_SUBDEV_QUERYCAP: {
            auto* cap = static_cast<v4l2_subdev_capability*>(arg);
            std::memset(cap, 0, sizeof(*cap));
            cap->version = versionCode(config_.driverVersion);
            return 0;
        }
        case VIDIOC_QUERYCTRL: {
            auto* q = static_cast<v4l2_queryctrl*>(arg);
            const ControlInfo* c = queriedControl(q->id);
            if (!c) return -EINVAL;
            fillQuery(*q, *c);
            return 0;
        }
        case VIDIOC_QUERY_EXT_CTRL: {
            auto* q = static_cast<v4l2_query_ext_ctrl*>(arg);
            const ControlInfo* c = queriedControl(q->id);
            if (!c) return -EINVAL;
            fillQuery(*q, *c);
            q->elem_size = c->type == V4L2_CTRL_TYPE_CTRL_CLASS ? 0 : 4;
            q->elems = 1;
            return 0;
        }
        case VIDIOC_QUERYMENU: {
            auto* m = static_cast<v4l2_querymenu*>(arg);
            const char* name = controls_.menuItem(m->id, m->index);
            if (!name) return -EINVAL;
            char text[sizeof(m->name)] = {};
            std::strncpy(text, name, sizeof(text) - 1);
            std::memcpy(m->name, text, sizeof(text));
            return 0;
        }
        case VIDIOC_G_CTRL: {
            auto* c = static_cast<v4l2_control*>(arg);
            int32_t v = 0;
            if (int r = getControlLocked(c->id, v); r != 0) return r;
            c->value = v;
            return 0;
        }
        case VIDIOC_S_CTRL: {
            auto* c = static_cast<v4l2_control*>(arg);
            int32_t v = c->value;
            if (int r = setControlLocked(c->id, v); r != 0) return r;
            c->value = v;
            return 0;
        }
        case VIDIOC_G_EXT_CTRLS:
        case VIDIOC_S_EXT_CTRLS:
        case VIDIOC_TRY_EXT_CTRLS:
            return extControlsLocked(request, static_cast<v4l2_ext_controls*>(arg));
        case VIDIOC_LOG_STATUS:
            return 0;
        default:
            return -ENOTTY;
    }
}

}  // namespace ozrsim
