// The sensor sub-device and the control requests of both nodes: the
// sub-device carries the sensor's controls, the video node a control handler
// without controls. Values are checked for the whole list before any is
// applied, as the control framework does.
#include <linux/v4l2-subdev.h>

#include <cerrno>
#include <cstring>

#include "device.h"
#include "device_util.h"

namespace ozrsim {

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

// A control asked for by its old-style private identifier is reported under
// that identifier, so that enumerating them by counting up works.
template <typename Query>
void keepPrivateId(Query& q, uint32_t asked) {
    if (!(asked & V4L2_CTRL_FLAG_NEXT_CTRL) &&
        (asked & V4L2_CTRL_ID_MASK) >= V4L2_CID_PRIVATE_BASE) {
        q.id = asked & V4L2_CTRL_ID_MASK;
    }
}

}  // namespace

const ControlInfo* Device::nodeControl(NodeKind kind, uint32_t id) const {
    if (kind != NodeKind::Subdev) return nullptr;
    id &= V4L2_CTRL_ID_MASK;
    if (id >= V4L2_CID_PRIVATE_BASE) return controls_.privateControl(id - V4L2_CID_PRIVATE_BASE);
    return controls_.find(id);
}

// The control a QUERYCTRL or QUERY_EXT_CTRL request asks for: the one with
// the id, or with the NEXT_CTRL flag the one after it. There are no compound
// controls to enumerate with NEXT_COMPOUND alone.
const ControlInfo* Device::queriedControl(NodeKind kind, uint32_t id) const {
    if (kind != NodeKind::Subdev) return nullptr;
    if (id & V4L2_CTRL_FLAG_NEXT_CTRL) return controls_.next(id & V4L2_CTRL_ID_MASK);
    if (id & V4L2_CTRL_FLAG_NEXT_COMPOUND) return nullptr;
    return nodeControl(kind, id);
}

int Device::getControlLocked(NodeKind kind, uint32_t id, int32_t& value) {
    const ControlInfo* c = nodeControl(kind, id);
    if (!c) return -EINVAL;
    if (c->flags & V4L2_CTRL_FLAG_WRITE_ONLY) return -EACCES;
    return controls_.get(c->id, value) ? 0 : -EINVAL;
}

int Device::setControlLocked(Handle h, uint32_t id, int32_t& value) {
    if (int e = controls_.validate(id, value); e != 0) return -e;
    int32_t before = 0;
    const bool known = controls_.get(id, before);
    controls_.set(id, value);
    if (id == cid::TRIGGER_SHUTTER && value == 1) {
        ++counters_.triggers;
        if (!config_.faults.stall) acquireFrameLocked(Clock::now());
    }
    // A volatile control (the trigger) reports no value changes.
    const ControlInfo* c = controls_.find(id);
    int32_t after = 0;
    if (known && controls_.get(id, after) && after != before &&
        !(c->flags & V4L2_CTRL_FLAG_VOLATILE)) {
        controlChangedLocked(h, *c, V4L2_EVENT_CTRL_CH_VALUE);
    }
    return 0;
}

int Device::extControlsLocked(Handle h, NodeKind kind, unsigned long request,
                              v4l2_ext_controls* ctrls) {
    const bool get = request == VIDIOC_G_EXT_CTRLS;
    const bool set = request == VIDIOC_S_EXT_CTRLS;
    // A failure that concerns no single control, and a failed validation of
    // G_EXT_CTRLS or S_EXT_CTRLS (nothing was read or written), point past
    // the list; TRY_EXT_CTRLS names the control that failed.
    ctrls->error_idx = ctrls->count;
    const bool defaults = ctrls->which == V4L2_CTRL_WHICH_DEF_VAL;
    if (defaults && !get) return -EINVAL;                             // defaults cannot be changed
    if (ctrls->which == V4L2_CTRL_WHICH_REQUEST_VAL) return -EINVAL;  // no requests
    const uint32_t which = V4L2_CTRL_ID2WHICH(ctrls->which);
    const bool byClass = which != V4L2_CTRL_WHICH_CUR_VAL && !defaults;
    if (ctrls->count == 0) {
        // Only checks that the class exists.
        return !byClass || nodeControl(kind, which | 1) ? 0 : -EINVAL;
    }
    if (ctrls->count > V4L2_CID_MAX_CTRLS) return -EINVAL;
    if (!ctrls->controls) return -EFAULT;
    v4l2_ext_control* list = ctrls->controls;
    const auto fail = [&](uint32_t index, int error) {
        ctrls->error_idx = get || set ? ctrls->count : index;
        return error;
    };
    for (uint32_t i = 0; i < ctrls->count; ++i) {
        const uint32_t id = list[i].id & V4L2_CTRL_ID_MASK;
        if (byClass && V4L2_CTRL_ID2WHICH(id) != which) return fail(i, -EINVAL);
        if (id >= V4L2_CID_PRIVATE_BASE || !nodeControl(kind, id)) return fail(i, -EINVAL);
    }
    if (get) {
        for (uint32_t i = 0; i < ctrls->count; ++i) {
            const ControlInfo* c = nodeControl(kind, list[i].id & V4L2_CTRL_ID_MASK);
            if (c->flags & V4L2_CTRL_FLAG_WRITE_ONLY) return fail(i, -EACCES);
        }
        for (uint32_t i = 0; i < ctrls->count; ++i) {
            const uint32_t id = list[i].id & V4L2_CTRL_ID_MASK;
            int32_t v = nodeControl(kind, id)->defaultValue;
            if (!defaults && !controls_.get(id, v)) return fail(i, -EINVAL);
            list[i].value = v;
        }
        return 0;
    }
    for (uint32_t i = 0; i < ctrls->count; ++i) {
        int32_t v = list[i].value;
        if (int e = controls_.validate(list[i].id & V4L2_CTRL_ID_MASK, v); e != 0) {
            return fail(i, -e);
        }
    }
    for (uint32_t i = 0; i < ctrls->count; ++i) {
        const uint32_t id = list[i].id & V4L2_CTRL_ID_MASK;
        int32_t v = list[i].value;
        if (set) {
            setControlLocked(h, id, v);
        } else {
            controls_.validate(id, v);
        }
        list[i].value = v;
    }
    return 0;
}

int Device::controlIoctlLocked(Handle h, NodeKind kind, unsigned long request, void* arg) {
    switch (request) {
        case VIDIOC_QUERYCTRL: {
            auto* q = static_cast<v4l2_queryctrl*>(arg);
            const uint32_t asked = q->id;
            const ControlInfo* c = queriedControl(kind, asked);
            if (!c) return -EINVAL;
            fillQuery(*q, *c);
            keepPrivateId(*q, asked);
            return 0;
        }
        case VIDIOC_QUERY_EXT_CTRL: {
            auto* q = static_cast<v4l2_query_ext_ctrl*>(arg);
            const uint32_t asked = q->id;
            const ControlInfo* c = queriedControl(kind, asked);
            if (!c) return -EINVAL;
            fillQuery(*q, *c);
            keepPrivateId(*q, asked);
            q->elem_size = c->type == V4L2_CTRL_TYPE_CTRL_CLASS ? 0 : 4;
            q->elems = 1;
            return 0;
        }
        case VIDIOC_QUERYMENU: {
            auto* m = static_cast<v4l2_querymenu*>(arg);
            const ControlInfo* c = nodeControl(kind, m->id);
            const char* name = c ? controls_.menuItem(c->id, m->index) : nullptr;
            if (!name) return -EINVAL;
            // The structure is packed: fill a copy of the name field.
            char text[sizeof(m->name)];
            copyName(text, name);
            std::memcpy(m->name, text, sizeof(text));
            return 0;
        }
        case VIDIOC_G_CTRL: {
            auto* c = static_cast<v4l2_control*>(arg);
            int32_t v = 0;
            if (int r = getControlLocked(kind, c->id, v); r != 0) return r;
            c->value = v;
            return 0;
        }
        case VIDIOC_S_CTRL: {
            auto* c = static_cast<v4l2_control*>(arg);
            const ControlInfo* control = nodeControl(kind, c->id);
            if (!control) return -EINVAL;
            int32_t v = c->value;
            if (int r = setControlLocked(h, control->id, v); r != 0) return r;
            c->value = v;
            return 0;
        }
        case VIDIOC_G_EXT_CTRLS:
        case VIDIOC_S_EXT_CTRLS:
        case VIDIOC_TRY_EXT_CTRLS:
            return extControlsLocked(h, kind, request, static_cast<v4l2_ext_controls*>(arg));
        default:
            return -ENOTTY;
    }
}

int Device::subdevIoctl(std::unique_lock<std::mutex>& lock, int fd, Handle h, unsigned long request,
                        void* arg) {
    switch (request) {
        case VIDIOC_SUBDEV_QUERYCAP: {
            auto* cap = static_cast<v4l2_subdev_capability*>(arg);
            std::memset(cap, 0, sizeof(*cap));
            cap->version = kernelVersionCode();
            return 0;
        }
        case VIDIOC_SUBSCRIBE_EVENT:
            return subscribeLocked(h, *static_cast<const v4l2_event_subscription*>(arg));
        case VIDIOC_UNSUBSCRIBE_EVENT:
            return unsubscribeLocked(h, *static_cast<const v4l2_event_subscription*>(arg));
        case VIDIOC_DQEVENT:
            return dqeventLocked(lock, h, nonblocking(fd), static_cast<v4l2_event*>(arg));
        case VIDIOC_LOG_STATUS:
            return 0;
        default:
            return controlIoctlLocked(h, NodeKind::Subdev, request, arg);
    }
}

}  // namespace ozrsim
