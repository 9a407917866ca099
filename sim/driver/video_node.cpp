// The video capture node: capabilities, the one format, frame timing, the
// input; buffer and stream requests go to the buffer queue.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <numeric>

#include "device.h"
#include "device_util.h"

namespace ozrsim {

namespace {

constexpr uint32_t MAX_FRAME_PERIOD_US = 10000000;

v4l2_fract microseconds(uint32_t us) {
    const uint32_t g = std::gcd(us, 1000000u);
    return v4l2_fract{us / g, 1000000u / g};
}

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

int Device::videoIoctl(std::unique_lock<std::mutex>& lock, int fd, Handle h, unsigned long request,
                       void* arg) {
    const std::string model = modelName(config_.model);
    switch (request) {
        case VIDIOC_QUERYCAP: {
            auto* cap = static_cast<v4l2_capability*>(arg);
            std::memset(cap, 0, sizeof(*cap));
            copyName(cap->driver, model);
            copyName(cap->card, upper(model) + " time-of-flight sensor");
            copyName(cap->bus_info, "platform:cam_" + model);
            cap->version = kernelVersionCode();
            // Every node takes the extended pixel format fields.
            cap->device_caps =
                V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_EXT_PIX_FORMAT;
            cap->capabilities = cap->device_caps | V4L2_CAP_DEVICE_CAPS;
            return 0;
        }
        case VIDIOC_ENUM_FMT: {
            auto* f = static_cast<v4l2_fmtdesc*>(arg);
            if (f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || f->index != 0) return -EINVAL;
            // Everything but the application's input is the driver's.
            const uint32_t index = f->index, type = f->type, mbusCode = f->mbus_code;
            std::memset(f, 0, sizeof(*f));
            f->index = index;
            f->type = type;
            f->mbus_code = mbusCode;
            copyName(f->description, "16-bit Greyscale");
            f->pixelformat = V4L2_PIX_FMT_Y16;
            return 0;
        }
        case VIDIOC_G_FMT:
        case VIDIOC_TRY_FMT:
        case VIDIOC_S_FMT: {
            auto* f = static_cast<v4l2_format*>(arg);
            if (f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
            if (request == VIDIOC_S_FMT && (!buffers_.empty() || ownedByOtherLocked(h))) {
                return -EBUSY;
            }
            // The sensor has one format: any request is adjusted to it.
            fillFormatLocked(f);
            return 0;
        }
        case VIDIOC_REQBUFS:
            return reqbufsLocked(h, static_cast<v4l2_requestbuffers*>(arg));
        case VIDIOC_CREATE_BUFS:
            return createBufsLocked(h, static_cast<v4l2_create_buffers*>(arg));
        case VIDIOC_QUERYBUF:
            return querybufLocked(h, static_cast<v4l2_buffer*>(arg));
        case VIDIOC_QBUF:
            return qbufLocked(h, static_cast<v4l2_buffer*>(arg));
        case VIDIOC_DQBUF:
            return dqbufLocked(lock, h, nonblocking(fd), static_cast<v4l2_buffer*>(arg));
        case VIDIOC_STREAMON:
            return streamOnLocked(h, *static_cast<int*>(arg));
        case VIDIOC_STREAMOFF:
            return streamOffLocked(h, *static_cast<int*>(arg));
        case VIDIOC_G_PARM:
        case VIDIOC_S_PARM: {
            auto* p = static_cast<v4l2_streamparm*>(arg);
            if (p->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
            v4l2_captureparm& c = p->parm.capture;
            // A free-running period is brought into the range the frame
            // intervals enumerate; 0 in either part keeps the current one.
            if (request == VIDIOC_S_PARM && c.timeperframe.numerator != 0 &&
                c.timeperframe.denominator != 0) {
                const double us = 1e6 * c.timeperframe.numerator /
                                  static_cast<double>(c.timeperframe.denominator);
                const double shortest = minFramePeriodUsLocked();
                config_.timing.framePeriodUs = static_cast<uint32_t>(
                    std::lround(std::clamp(us, shortest, double{MAX_FRAME_PERIOD_US})));
            }
            std::memset(&p->parm, 0, sizeof(p->parm));
            c.capability = V4L2_CAP_TIMEPERFRAME;
            c.timeperframe = microseconds(config_.timing.framePeriodUs);
            return 0;
        }
        case VIDIOC_ENUM_FRAMESIZES: {
            auto* s = static_cast<v4l2_frmsizeenum*>(arg);
            if (s->index != 0 || s->pixel_format != V4L2_PIX_FMT_Y16) return -EINVAL;
            s->type = V4L2_FRMSIZE_TYPE_DISCRETE;
            s->discrete.width = width_;
            s->discrete.height = height_;
            return 0;
        }
        case VIDIOC_ENUM_FRAMEINTERVALS: {
            // Any period from one frame's acquisition time up to 10 s. S_PARM
            // takes any interval in the range (and rounds it to the
            // microsecond the timing is kept in), so the range is continuous:
            // a client asking for 30 frames per second, whose period is no
            // whole number of microseconds, finds its rate inside it.
            auto* s = static_cast<v4l2_frmivalenum*>(arg);
            if (s->index != 0 || s->pixel_format != V4L2_PIX_FMT_Y16 || s->width != width_ ||
                s->height != height_) {
                return -EINVAL;
            }
            s->type = V4L2_FRMIVAL_TYPE_CONTINUOUS;
            s->stepwise.min = microseconds(minFramePeriodUsLocked());
            s->stepwise.max = microseconds(MAX_FRAME_PERIOD_US);
            s->stepwise.step = v4l2_fract{1, 1};
            return 0;
        }
        case VIDIOC_ENUMINPUT: {
            auto* in = static_cast<v4l2_input*>(arg);
            if (in->index != 0) return -EINVAL;
            std::memset(in, 0, sizeof(*in));
            copyName(in->name, "Camera");
            in->type = V4L2_INPUT_TYPE_CAMERA;
            return 0;
        }
        case VIDIOC_G_INPUT:
            *static_cast<int*>(arg) = 0;
            return 0;
        case VIDIOC_S_INPUT:
            return *static_cast<int*>(arg) == 0 ? 0 : -EINVAL;
        // Each file handle has a priority; the node's is the highest of
        // them, and handles below it may not change the device.
        case VIDIOC_G_PRIORITY:
            *static_cast<uint32_t*>(arg) = maxPriorityLocked();
            return 0;
        case VIDIOC_S_PRIORITY: {
            const uint32_t p = *static_cast<uint32_t*>(arg);
            if (p != V4L2_PRIORITY_BACKGROUND && p != V4L2_PRIORITY_INTERACTIVE &&
                p != V4L2_PRIORITY_RECORD) {
                return -EINVAL;
            }
            files_.at(h).priority = p;
            return 0;
        }
        case VIDIOC_LOG_STATUS:
            return 0;
        default:
            // The video node has a control handler without controls: the
            // sensor's controls live on the sub-device.
            return controlIoctlLocked(h, NodeKind::Video, request, arg);
    }
}

uint32_t Device::minFramePeriodUsLocked() const {
    // The images of a frame must be read out before the next frame starts.
    int32_t mode = 0;
    controls_.get(cid::ACQUISITION_MODE, mode);
    const uint64_t frameUs =
        config_.timing.exposureDelayUs +
        uint64_t{config_.timing.readoutUs} * imagesPerFrame(static_cast<AcqType>(mode));
    return static_cast<uint32_t>(std::clamp<uint64_t>(frameUs, 1000, MAX_FRAME_PERIOD_US));
}

void Device::fillFormatLocked(v4l2_format* f) {
    std::memset(&f->fmt, 0, sizeof(f->fmt));
    v4l2_pix_format& pix = f->fmt.pix;
    pix.width = width_;
    pix.height = height_;
    pix.pixelformat = V4L2_PIX_FMT_Y16;
    pix.field = V4L2_FIELD_NONE;
    pix.bytesperline = width_ * 2;
    pix.sizeimage = width_ * 2 * height_;
    pix.colorspace = V4L2_COLORSPACE_RAW;
    pix.xfer_func = V4L2_XFER_FUNC_NONE;
    pix.ycbcr_enc = V4L2_YCBCR_ENC_DEFAULT;
    pix.quantization = V4L2_QUANTIZATION_FULL_RANGE;
    // Tells that the fields after `priv` are valid.
    pix.priv = V4L2_PIX_FMT_PRIV_MAGIC;
}

}  // namespace ozrsim
