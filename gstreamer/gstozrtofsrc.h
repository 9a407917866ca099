// ozrtofsrc: the Time-of-Flight camera's live video source element.
#pragma once

#include <gst/base/gstpushsrc.h>
#include <gst/gst.h>

G_BEGIN_DECLS

#define GST_TYPE_OZR_TOF_SRC (gst_ozr_tof_src_get_type())
G_DECLARE_FINAL_TYPE(GstOzrTofSrc, gst_ozr_tof_src, GST, OZR_TOF_SRC, GstPushSrc)

G_END_DECLS
