// Control events of the sub-device: a file handle subscribes to controls
// and dequeues an event when another handle changed one (or its own change,
// when it asked for that), and once at subscription when it asks for the
// initial state. Pending events make poll() report POLLPRI.
#include <fcntl.h>

#include <algorithm>
#include <cerrno>

#include "device.h"
#include "device_util.h"

namespace ozrsim {

int Device::subscribeLocked(Handle h, const v4l2_event_subscription& sub) {
    OpenFile& file = files_.at(h);
    if (sub.type != V4L2_EVENT_CTRL) return -EINVAL;
    const ControlInfo* c = controls_.find(sub.id);
    if (!c) return -EINVAL;
    for (const Subscription& s : file.subscriptions) {
        if (s.id == sub.id) return 0;  // already listening
    }
    Subscription s;
    s.id = sub.id;
    s.flags = sub.flags & (V4L2_EVENT_SUB_FL_SEND_INITIAL | V4L2_EVENT_SUB_FL_ALLOW_FEEDBACK);
    file.subscriptions.push_back(s);
    // A class has no state to tell; a write-only control no value.
    if ((s.flags & V4L2_EVENT_SUB_FL_SEND_INITIAL) && c->type != V4L2_CTRL_TYPE_CTRL_CLASS) {
        uint32_t changes = V4L2_EVENT_CTRL_CH_FLAGS;
        if (!(c->flags & V4L2_CTRL_FLAG_WRITE_ONLY)) changes |= V4L2_EVENT_CTRL_CH_VALUE;
        queueEventLocked(file, file.subscriptions.back(), *c, changes);
    }
    return 0;
}

int Device::unsubscribeLocked(Handle h, const v4l2_event_subscription& sub) {
    OpenFile& file = files_.at(h);
    const bool all = sub.type == V4L2_EVENT_ALL;
    std::erase_if(file.subscriptions, [&](const Subscription& s) {
        if (!all && (sub.type != V4L2_EVENT_CTRL || s.id != sub.id)) return false;
        // Its pending event goes with it.
        std::erase(file.available, s.id);
        return true;
    });
    updateReadinessLocked();
    return 0;  // also when there was no such subscription
}

void Device::queueEventLocked(OpenFile& file, Subscription& sub, const ControlInfo& c,
                              uint32_t changes) {
    v4l2_event ev{};
    ev.type = V4L2_EVENT_CTRL;
    ev.id = c.id;
    v4l2_event_ctrl& e = ev.u.ctrl;
    e.changes = changes;
    e.type = c.type;
    int32_t value = 0;
    if (controls_.get(c.id, value)) e.value = value;
    e.flags = c.flags;
    e.minimum = c.minimum;
    e.maximum = c.maximum;
    e.step = c.step;
    e.default_value = c.defaultValue;
    ev.sequence = file.eventSequence++;
    ev.timestamp = monotonicTimespec();
    if (sub.pending) {
        // One event per subscription: the newer one replaces the older one,
        // takes the last place in the queue and keeps the older changes too.
        e.changes |= sub.event.u.ctrl.changes;
        std::erase(file.available, sub.id);
    }
    sub.event = ev;
    sub.pending = true;
    file.available.push_back(sub.id);
    updateReadinessLocked();
    stateCv_.notify_all();
}

void Device::controlChangedLocked(Handle origin, const ControlInfo& c, uint32_t changes) {
    for (auto& [handle, file] : files_) {
        for (Subscription& s : file.subscriptions) {
            if (s.id != c.id) continue;
            if (handle != origin || (s.flags & V4L2_EVENT_SUB_FL_ALLOW_FEEDBACK)) {
                queueEventLocked(file, s, c, changes);
            }
        }
    }
}

int Device::dqeventLocked(std::unique_lock<std::mutex>& lock, Handle h, bool nonblocking,
                          v4l2_event* ev) {
    const uint64_t generation = generation_;
    OpenFile* file = nullptr;
    for (;;) {
        if (generation != generation_ || gone_) return -ENODEV;
        auto it = files_.find(h);
        if (it == files_.end()) return -EBADF;
        if (it->second.stale) return -ENODEV;
        file = &it->second;
        if (!file->available.empty()) break;
        if (nonblocking) return -ENOENT;
        stateCv_.wait(lock);
    }
    const uint32_t id = file->available.front();
    file->available.pop_front();
    for (Subscription& s : file->subscriptions) {
        if (s.id != id) continue;
        *ev = s.event;
        s.pending = false;
    }
    ev->pending = static_cast<uint32_t>(file->available.size());
    updateReadinessLocked();
    return 0;
}

}  // namespace ozrsim
