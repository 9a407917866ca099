#include "requests.h"

#include <linux/v4l2-subdev.h>
#include <linux/videodev2.h>

#include <cstddef>

namespace ozrsim {

namespace {

constexpr size_t NO_CLEAR = RequestInfo::NO_CLEAR;

// Zeroes everything after `field`, keeping the application's input before it.
#define OZRSIM_AFTER(type, field) (offsetof(type, field) + sizeof(type::field))

constexpr RequestInfo VIDEO_REQUESTS[] = {
    {VIDIOC_QUERYCAP, 0, false},
    {VIDIOC_ENUM_FMT, NO_CLEAR, false},  // keeps mbus_code, an input too
    {VIDIOC_G_FMT, offsetof(v4l2_format, fmt), false},
    {VIDIOC_S_FMT, NO_CLEAR, true},
    {VIDIOC_TRY_FMT, NO_CLEAR, false},
    {VIDIOC_REQBUFS, offsetof(v4l2_requestbuffers, reserved), true},
    {VIDIOC_CREATE_BUFS, offsetof(v4l2_create_buffers, reserved), true},
    {VIDIOC_QUERYBUF, NO_CLEAR, false},
    {VIDIOC_QBUF, NO_CLEAR, false},
    {VIDIOC_DQBUF, NO_CLEAR, false},
    {VIDIOC_STREAMON, NO_CLEAR, true},
    {VIDIOC_STREAMOFF, NO_CLEAR, true},
    {VIDIOC_G_PARM, OZRSIM_AFTER(v4l2_streamparm, type), false},
    {VIDIOC_S_PARM, NO_CLEAR, true},
    {VIDIOC_ENUM_FRAMESIZES, OZRSIM_AFTER(v4l2_frmsizeenum, pixel_format), false},
    {VIDIOC_ENUM_FRAMEINTERVALS, OZRSIM_AFTER(v4l2_frmivalenum, height), false},
    {VIDIOC_ENUMINPUT, OZRSIM_AFTER(v4l2_input, index), false},
    {VIDIOC_G_INPUT, 0, false},
    {VIDIOC_S_INPUT, NO_CLEAR, true},
    {VIDIOC_G_PRIORITY, 0, false},
    {VIDIOC_S_PRIORITY, NO_CLEAR, true},
    {VIDIOC_LOG_STATUS, NO_CLEAR, false},
    // A control handler without controls.
    {VIDIOC_QUERYCTRL, OZRSIM_AFTER(v4l2_queryctrl, id), false},
    {VIDIOC_QUERY_EXT_CTRL, OZRSIM_AFTER(v4l2_query_ext_ctrl, id), false},
    {VIDIOC_QUERYMENU, OZRSIM_AFTER(v4l2_querymenu, index), false},
    {VIDIOC_G_CTRL, OZRSIM_AFTER(v4l2_control, id), false},
    {VIDIOC_S_CTRL, NO_CLEAR, true},
    {VIDIOC_G_EXT_CTRLS, NO_CLEAR, false},
    {VIDIOC_S_EXT_CTRLS, NO_CLEAR, true},
    {VIDIOC_TRY_EXT_CTRLS, NO_CLEAR, false},
};

constexpr RequestInfo SUBDEV_REQUESTS[] = {
    {VIDIOC_SUBDEV_QUERYCAP, 0, false},
    {VIDIOC_QUERYCTRL, OZRSIM_AFTER(v4l2_queryctrl, id), false},
    {VIDIOC_QUERY_EXT_CTRL, OZRSIM_AFTER(v4l2_query_ext_ctrl, id), false},
    {VIDIOC_QUERYMENU, OZRSIM_AFTER(v4l2_querymenu, index), false},
    {VIDIOC_G_CTRL, OZRSIM_AFTER(v4l2_control, id), false},
    {VIDIOC_S_CTRL, NO_CLEAR, false},
    {VIDIOC_G_EXT_CTRLS, NO_CLEAR, false},
    {VIDIOC_S_EXT_CTRLS, NO_CLEAR, false},
    {VIDIOC_TRY_EXT_CTRLS, NO_CLEAR, false},
    {VIDIOC_SUBSCRIBE_EVENT, NO_CLEAR, false},
    {VIDIOC_UNSUBSCRIBE_EVENT, NO_CLEAR, false},
    {VIDIOC_DQEVENT, 0, false},
    {VIDIOC_LOG_STATUS, NO_CLEAR, false},
};

#undef OZRSIM_AFTER

template <size_t N>
const RequestInfo* lookup(const RequestInfo (&table)[N], unsigned long request) {
    for (const RequestInfo& info : table) {
        if (info.request == request) return &info;
    }
    return nullptr;
}

}  // namespace

const RequestInfo* requestInfo(NodeKind kind, unsigned long request) {
    switch (kind) {
        case NodeKind::Video:
            return lookup(VIDEO_REQUESTS, request);
        case NodeKind::Subdev:
            return lookup(SUBDEV_REQUESTS, request);
        default:
            return nullptr;
    }
}

}  // namespace ozrsim
