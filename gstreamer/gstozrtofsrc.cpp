// ozrtofsrc: a live GStreamer source streaming one image of the camera's
// frames (distance, amplitude, grayscale or a raw DCS image) as 16-bit gray
// video, built on the public API (ozr::TOFCam) only.
//
// The camera is opened when the element goes to PAUSED and closed when it
// returns to READY. Control properties set before are applied after the mode
// has been chosen; set while the camera is open they reach it at once. The
// camera is used from one thread at a time: every call on it holds the
// element's camera lock (the streaming thread's capture and the application's
// property changes alike).
#include "gstozrtofsrc.h"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "ozr/controls.h"
#include "ozr/tofcam.h"

GST_DEBUG_CATEGORY_STATIC(ozrtofsrc_debug);
GST_DEBUG_CATEGORY_STATIC(ozrtofcam_log);
#define GST_CAT_DEFAULT ozrtofsrc_debug

namespace {

// ---- the library's messages ----

// Messages of errors logged on this thread while a camera call runs are
// collected here, to become the text of the element's error or warning.
thread_local std::string* collectedErrors = nullptr;

void onLibraryMessage(kyr::platform::LogLevel level, const char* format, va_list args) {
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    GstDebugLevel gstLevel = GST_LEVEL_DEBUG;
    switch (level) {
        case kyr::platform::LogLevel::LOG_LEVEL_ERROR:
            gstLevel = GST_LEVEL_ERROR;
            if (collectedErrors) {
                *collectedErrors += (collectedErrors->empty() ? "" : "; ");
                *collectedErrors += text;
            }
            break;
        case kyr::platform::LogLevel::LOG_LEVEL_WARN:
            gstLevel = GST_LEVEL_WARNING;
            break;
        case kyr::platform::LogLevel::LOG_LEVEL_INFO:
            gstLevel = GST_LEVEL_INFO;
            break;
        default:
            break;
    }
    GST_CAT_LEVEL_LOG(ozrtofcam_log, gstLevel, nullptr, "%s", text);
}

// Collects the library's errors logged on this thread while it lives.
class ErrorCollector {
public:
    ErrorCollector() : previous(collectedErrors) { collectedErrors = &text; }
    ~ErrorCollector() { collectedErrors = previous; }
    ErrorCollector(const ErrorCollector&) = delete;
    ErrorCollector& operator=(const ErrorCollector&) = delete;

    // The messages, or a description of the result when none was logged.
    std::string message(int result) const {
        return text.empty() ? "the camera returned " + std::to_string(result) : text;
    }

private:
    std::string text;
    std::string* previous;
};

// ---- enumerations ----

enum class Output : int {
    DISTANCE = 0,
    AMPLITUDE = 1,
    GRAYSCALE = 2,
    DCS0 = 3,
    DCS1 = 4,
    DCS2 = 5,
    DCS3 = 6,
};

// GEnumValue's fields are not const; the tables are only read.
GEnumValue modelValues[] = {
    {static_cast<gint>(ozr::TOFSensor::autodetect), "Detect the sensor model", "auto"},
    {static_cast<gint>(ozr::TOFSensor::ozr310), "OZR310", "ozr310"},
    {static_cast<gint>(ozr::TOFSensor::ozr320), "OZR320", "ozr320"},
    {0, nullptr, nullptr},
};

GEnumValue modeValues[] = {
    {static_cast<gint>(ozr::AcquisitionMode::DIST_AMP), "Distance and amplitude", "dist-amp"},
    {static_cast<gint>(ozr::AcquisitionMode::DIST_AMP_HDR),
     "Distance and amplitude, three integration times merged", "hdr"},
    {static_cast<gint>(ozr::AcquisitionMode::GRAYSCALE), "Grayscale", "grayscale"},
    {static_cast<gint>(ozr::AcquisitionMode::DCS4), "The four raw DCS images", "dcs4"},
    {0, nullptr, nullptr},
};

GEnumValue outputValues[] = {
    {static_cast<gint>(Output::DISTANCE),
     "Distance in millimetres (modes dist-amp, hdr); 64000 and above are pixel codes", "distance"},
    {static_cast<gint>(Output::AMPLITUDE), "Amplitude (modes dist-amp, hdr)", "amplitude"},
    {static_cast<gint>(Output::GRAYSCALE), "Grayscale (mode grayscale)", "grayscale"},
    {static_cast<gint>(Output::DCS0), "Raw DCS image 0, 12 bits (modes dist-amp, hdr, dcs4)",
     "dcs0"},
    {static_cast<gint>(Output::DCS1), "Raw DCS image 1", "dcs1"},
    {static_cast<gint>(Output::DCS2), "Raw DCS image 2", "dcs2"},
    {static_cast<gint>(Output::DCS3), "Raw DCS image 3", "dcs3"},
    {0, nullptr, nullptr},
};

GType registerEnum(const char* name, GEnumValue* values) {
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    GType type = g_type_from_name(name);
    return type ? type : g_enum_register_static(name, values);
}

GType modelType() {
    return registerEnum("GstOzrTofSrcModel", modelValues);
}
GType modeType() {
    return registerEnum("GstOzrTofSrcMode", modeValues);
}
GType outputType() {
    return registerEnum("GstOzrTofSrcOutput", outputValues);
}

const char* enumNick(GType type, gint value) {
    GEnumClass* klass = static_cast<GEnumClass*>(g_type_class_ref(type));
    const GEnumValue* v = g_enum_get_value(klass, value);
    const char* nick = v ? v->value_nick : "?";
    g_type_class_unref(klass);
    return nick;
}

// ---- properties ----

enum {
    PROP_0,
    PROP_MODEL,
    PROP_MODE,
    PROP_OUTPUT,
    PROP_CONTROL_FIRST,  // one per control but ACQUISITION_MODE, in identifier order
};

constexpr size_t ACQUISITION_MODE_INDEX = static_cast<size_t>(ozr::ControlID::ACQUISITION_MODE);

// The control of a property id, or nothing.
std::optional<ozr::ControlID> controlOfProperty(guint id) {
    if (id < PROP_CONTROL_FIRST) return std::nullopt;
    size_t index = id - PROP_CONTROL_FIRST;
    if (index >= ACQUISITION_MODE_INDEX) ++index;
    if (index >= ozr::CONTROL_COUNT) return std::nullopt;
    return ozr::controlNames[index].id;
}

// "MODULATION_FREQ_HZ" -> "modulation-freq-hz".
std::string propertyName(const char* controlName) {
    std::string name(controlName);
    for (char& c : name) {
        c = c == '_' ? '-' : static_cast<char>(g_ascii_tolower(c));
    }
    return name;
}

// The value of a control property that leaves the camera's own setting.
constexpr gint UNSET = -1;

}  // namespace

// ---- the element ----

struct GstOzrTofSrcState {
    // Held by every call on the camera and every access to the fields below.
    std::mutex lock;
    std::unique_ptr<ozr::TOFCam> camera;
    ozr::TOFSensor model = ozr::TOFSensor::autodetect;
    ozr::AcquisitionMode mode = ozr::AcquisitionMode::DIST_AMP;
    Output output = Output::DISTANCE;
    // Values set by the application, applied when the camera opens.
    std::array<std::optional<int>, ozr::CONTROL_COUNT> controls;
    // The frame captured while starting, pushed first.
    std::unique_ptr<ozr::TOFFrame> firstFrame;
    int width = 0;
    int height = 0;
    GstClockTime lastPts = GST_CLOCK_TIME_NONE;
};

struct _GstOzrTofSrc {
    GstPushSrc parent;
    GstOzrTofSrcState* state;
};

G_DEFINE_TYPE(GstOzrTofSrc, gst_ozr_tof_src, GST_TYPE_PUSH_SRC)

namespace {

#define OZR_CAPS_TEMPLATE                                                    \
    "video/x-raw, format = (string) GRAY16_LE, width = (int) [ 1, 65535 ], " \
    "height = (int) [ 1, 65535 ], framerate = (fraction) [ 0/1, 1000/1 ]"

GstStaticPadTemplate srcTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(OZR_CAPS_TEMPLATE));

GstOzrTofSrcState& stateOf(gpointer object) {
    return *GST_OZR_TOF_SRC(object)->state;
}

// The image of a frame the output selects, or nullptr when the frame has none.
const uint16_t* outputImage(const ozr::TOFFrame& frame, Output output) {
    switch (output) {
        case Output::DISTANCE:
            return frame.getData<uint16_t>(ozr::FrameType::DISTANCE);
        case Output::AMPLITUDE:
            return frame.getData<uint16_t>(ozr::FrameType::AMPLITUDE);
        case Output::GRAYSCALE:
            return frame.getData<uint16_t>(ozr::FrameType::GRAYSCALE);
        default:
            return frame.getData<uint16_t>(
                ozr::FrameType::DCS,
                static_cast<size_t>(static_cast<int>(output) - static_cast<int>(Output::DCS0)));
    }
}

void setProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
    GstOzrTofSrc* self = GST_OZR_TOF_SRC(object);
    GstOzrTofSrcState& s = stateOf(object);
    switch (id) {
        case PROP_MODEL: {
            std::lock_guard<std::mutex> guard(s.lock);
            s.model = static_cast<ozr::TOFSensor>(g_value_get_enum(value));
            return;
        }
        case PROP_MODE: {
            std::lock_guard<std::mutex> guard(s.lock);
            s.mode = static_cast<ozr::AcquisitionMode>(g_value_get_enum(value));
            return;
        }
        case PROP_OUTPUT: {
            std::lock_guard<std::mutex> guard(s.lock);
            s.output = static_cast<Output>(g_value_get_enum(value));
            return;
        }
        default:
            break;
    }
    const std::optional<ozr::ControlID> control = controlOfProperty(id);
    if (!control) {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        return;
    }
    const size_t index = static_cast<size_t>(*control);
    const gint v = g_value_get_int(value);
    std::string refusal;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        if (v == UNSET) {
            s.controls[index].reset();
            return;
        }
        if (!s.camera) {
            s.controls[index] = v;
            return;
        }
        ErrorCollector errors;
        const int r = s.camera->setControl(*control, v);
        if (r == 0) {
            s.controls[index] = v;
            return;
        }
        refusal = errors.message(r);
    }
    // Posted without the lock: a bus handler may read properties.
    GST_ELEMENT_WARNING(self, RESOURCE, SETTINGS,
                        ("The camera refused %s=%d", ozr::controlNames[index].name, v),
                        ("%s", refusal.c_str()));
}

void getProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
    GstOzrTofSrcState& s = stateOf(object);
    std::lock_guard<std::mutex> guard(s.lock);
    switch (id) {
        case PROP_MODEL:
            g_value_set_enum(value, static_cast<gint>(s.model));
            return;
        case PROP_MODE:
            g_value_set_enum(value, static_cast<gint>(s.mode));
            return;
        case PROP_OUTPUT:
            g_value_set_enum(value, static_cast<gint>(s.output));
            return;
        default:
            break;
    }
    const std::optional<ozr::ControlID> control = controlOfProperty(id);
    if (!control) {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        return;
    }
    const std::optional<int>& stored = s.controls[static_cast<size_t>(*control)];
    gint result = stored.value_or(UNSET);
    if (s.camera) {
        // Controls the active mode does not hold read as set (or unset).
        ErrorCollector quiet;
        int current = 0;
        if (s.camera->getControl(*control, current) == 0) result = current;
    }
    g_value_set_int(value, result);
}

// Why the camera could not be started: the element error's text and details.
struct Failure {
    std::string what;
    std::string detail;
};

// Opens the camera, chooses the mode, applies the controls set, starts the
// stream and captures the first frame (which fixes the caps). Called with the
// lock held; on failure leaves no camera.
std::optional<Failure> openCamera(GstOzrTofSrcState& s) {
    {
        // Construction falls back to no calibration with errors logged; they
        // stay in the debug log, a failure to open says what matters.
        ErrorCollector construction;
        s.camera = std::make_unique<ozr::TOFCam>(s.model);
    }
    ErrorCollector errors;
    auto fail = [&](std::string what, int r) {
        s.firstFrame.reset();
        s.camera.reset();
        return Failure{std::move(what), errors.message(r)};
    };
    if (const int r = s.camera->open(); r != 0) return fail("Cannot open the camera", r);
    if (const int r = s.camera->setControl(ozr::ControlID::ACQUISITION_MODE, s.mode); r != 0) {
        return fail("The camera refused the acquisition mode", r);
    }
    for (size_t i = 0; i < ozr::CONTROL_COUNT; ++i) {
        if (!s.controls[i]) continue;
        if (const int r = s.camera->setControl(ozr::controlNames[i].id, *s.controls[i]); r != 0) {
            return fail(std::string("The camera refused ") + ozr::controlNames[i].name + "=" +
                            std::to_string(*s.controls[i]),
                        r);
        }
    }
    if (const int r = s.camera->startStream(); r != 0) return fail("Cannot start streaming", r);
    if (const int r = s.camera->captureFrame(s.firstFrame); r != 0) {
        return fail("The camera delivers no frame", r);
    }
    if (!outputImage(*s.firstFrame, s.output)) {
        Failure f =
            fail(std::string("Output ") + enumNick(outputType(), static_cast<gint>(s.output)) +
                     " is not available in mode " + enumNick(modeType(), static_cast<gint>(s.mode)),
                 0);
        f.detail = "choose another output or mode";
        return f;
    }
    s.width = s.firstFrame->getWidth();
    s.height = s.firstFrame->getHeight();
    s.lastPts = GST_CLOCK_TIME_NONE;
    return std::nullopt;
}

gboolean start(GstBaseSrc* src) {
    GstOzrTofSrc* self = GST_OZR_TOF_SRC(src);
    GstOzrTofSrcState& s = *self->state;
    std::optional<Failure> failure;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        failure = openCamera(s);
    }
    if (!failure) return TRUE;
    GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ, ("%s", failure->what.c_str()),
                      ("%s", failure->detail.c_str()));
    return FALSE;
}

gboolean stop(GstBaseSrc* src) {
    GstOzrTofSrcState& s = stateOf(src);
    std::lock_guard<std::mutex> guard(s.lock);
    s.firstFrame.reset();
    s.camera.reset();  // stops the stream and closes the camera
    s.width = s.height = 0;
    return TRUE;
}

GstCaps* fixedCaps(int width, int height) {
    return gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "GRAY16_LE", "width",
                               G_TYPE_INT, width, "height", G_TYPE_INT, height, "framerate",
                               GST_TYPE_FRACTION, 0, 1, nullptr);
}

GstCaps* getCaps(GstBaseSrc* src, GstCaps* filter) {
    GstOzrTofSrcState& s = stateOf(src);
    GstCaps* caps = nullptr;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        caps = s.width > 0 ? fixedCaps(s.width, s.height)
                           : gst_pad_get_pad_template_caps(GST_BASE_SRC_PAD(src));
    }
    if (filter) {
        GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(caps);
        caps = both;
    }
    return caps;
}

// The running time at which the frame was captured: its wall-clock time
// mapped through the pipeline clock, never before the previous buffer's.
GstClockTime frameRunningTime(GstOzrTofSrc* self, GstOzrTofSrcState& s,
                              const ozr::TOFFrame& frame) {
    GstClock* clock = gst_element_get_clock(GST_ELEMENT(self));
    if (!clock) return GST_CLOCK_TIME_NONE;
    const GstClockTime now = gst_clock_get_time(clock);
    gst_object_unref(clock);
    const GstClockTime base = gst_element_get_base_time(GST_ELEMENT(self));
    const gint64 wallNowUs = g_get_real_time();
    const gint64 frameUs = static_cast<gint64>(frame.getMetadata().timestamp) * 1000;
    const GstClockTime age =
        wallNowUs > frameUs ? static_cast<GstClockTime>(wallNowUs - frameUs) * GST_USECOND : 0;
    GstClockTime pts = now > base + age ? now - base - age : 0;
    if (GST_CLOCK_TIME_IS_VALID(s.lastPts) && pts <= s.lastPts) pts = s.lastPts + 1;
    s.lastPts = pts;
    return pts;
}

void releaseFrame(gpointer frame) {
    delete static_cast<ozr::TOFFrame*>(frame);
}

GstFlowReturn create(GstPushSrc* src, GstBuffer** buffer) {
    GstOzrTofSrc* self = GST_OZR_TOF_SRC(src);
    GstOzrTofSrcState& s = *self->state;
    std::unique_lock<std::mutex> guard(s.lock);
    if (!s.camera) return GST_FLOW_FLUSHING;
    std::unique_ptr<ozr::TOFFrame> frame = std::move(s.firstFrame);
    if (!frame) {
        ErrorCollector errors;
        if (const int r = s.camera->captureFrame(frame); r != 0) {
            const std::string message = errors.message(r);
            guard.unlock();
            GST_ELEMENT_ERROR(self, RESOURCE, READ, ("Capturing a frame failed"),
                              ("%s", message.c_str()));
            return GST_FLOW_ERROR;
        }
    }
    const uint16_t* image = outputImage(*frame, s.output);
    if (!image) {
        guard.unlock();
        GST_ELEMENT_ERROR(self, STREAM, FAILED, ("The frame has no image for the output"),
                          (nullptr));
        return GST_FLOW_ERROR;
    }
    const int width = frame->getWidth(), height = frame->getHeight();
    if (width != s.width || height != s.height) {
        s.width = width;
        s.height = height;
        GstCaps* caps = fixedCaps(width, height);
        guard.unlock();
        const gboolean ok = gst_base_src_set_caps(GST_BASE_SRC(src), caps);
        gst_caps_unref(caps);
        if (!ok) return GST_FLOW_NOT_NEGOTIATED;
        guard.lock();
    }
    const GstClockTime pts = frameRunningTime(self, s, *frame);
    const guint64 number = frame->getMetadata().frameNumber;
    guard.unlock();

    // Rows of GRAY16_LE video start at multiples of four bytes: odd widths
    // are copied into padded rows, others are handed on without a copy.
    const size_t row = static_cast<size_t>(width) * 2;
    const size_t stride = GST_ROUND_UP_4(row);
    GstBuffer* out = nullptr;
    if (stride == row) {
        const size_t size = row * static_cast<size_t>(height);
        out = gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, const_cast<uint16_t*>(image),
                                          size, 0, size, frame.release(), releaseFrame);
    } else {
        out = gst_buffer_new_allocate(nullptr, stride * static_cast<size_t>(height), nullptr);
        GstMapInfo map;
        if (!gst_buffer_map(out, &map, GST_MAP_WRITE)) {
            gst_buffer_unref(out);
            return GST_FLOW_ERROR;
        }
        for (int y = 0; y < height; ++y) {
            guint8* dst = map.data + stride * static_cast<size_t>(y);
            std::memcpy(dst, image + static_cast<size_t>(y) * static_cast<size_t>(width), row);
            std::memset(dst + row, 0, stride - row);
        }
        gst_buffer_unmap(out, &map);
    }
    GST_BUFFER_PTS(out) = pts;
    GST_BUFFER_DTS(out) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_DURATION(out) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_OFFSET(out) = number;
    GST_BUFFER_OFFSET_END(out) = number + 1;
    *buffer = out;
    return GST_FLOW_OK;
}

// A frame is processed for some milliseconds before it is delivered; its
// timestamp is its capture time, so downstream must allow for that much.
constexpr GstClockTime PROCESSING_LATENCY = 40 * GST_MSECOND;

gboolean query(GstBaseSrc* src, GstQuery* q) {
    if (GST_QUERY_TYPE(q) == GST_QUERY_LATENCY) {
        gst_query_set_latency(q, TRUE, PROCESSING_LATENCY, GST_CLOCK_TIME_NONE);
        return TRUE;
    }
    return GST_BASE_SRC_CLASS(gst_ozr_tof_src_parent_class)->query(src, q);
}

void finalize(GObject* object) {
    delete GST_OZR_TOF_SRC(object)->state;
    G_OBJECT_CLASS(gst_ozr_tof_src_parent_class)->finalize(object);
}

}  // namespace

static void gst_ozr_tof_src_class_init(GstOzrTofSrcClass* klass) {
    GObjectClass* gobjectClass = G_OBJECT_CLASS(klass);
    GstElementClass* elementClass = GST_ELEMENT_CLASS(klass);
    GstBaseSrcClass* baseClass = GST_BASE_SRC_CLASS(klass);
    GstPushSrcClass* pushClass = GST_PUSH_SRC_CLASS(klass);

    GST_DEBUG_CATEGORY_INIT(ozrtofsrc_debug, "ozrtofsrc", 0, "Time-of-Flight camera source");
    GST_DEBUG_CATEGORY_INIT(ozrtofcam_log, "ozrtofcam", 0, "Messages of the camera library");
    kyr::platform::register_log_function(&onLibraryMessage);

    gobjectClass->set_property = setProperty;
    gobjectClass->get_property = getProperty;
    gobjectClass->finalize = finalize;

    const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
    const auto readyFlags = static_cast<GParamFlags>(flags | GST_PARAM_MUTABLE_READY);
    g_object_class_install_property(
        gobjectClass, PROP_MODEL,
        g_param_spec_enum("model", "Sensor model", "The sensor model to open", modelType(),
                          static_cast<gint>(ozr::TOFSensor::autodetect), readyFlags));
    g_object_class_install_property(
        gobjectClass, PROP_MODE,
        g_param_spec_enum("mode", "Acquisition mode",
                          "The camera's acquisition mode (the ACQUISITION_MODE control)",
                          modeType(), static_cast<gint>(ozr::AcquisitionMode::DIST_AMP),
                          readyFlags));
    g_object_class_install_property(
        gobjectClass, PROP_OUTPUT,
        g_param_spec_enum("output", "Output image",
                          "The image of each frame that is streamed; it must be one the mode "
                          "delivers",
                          outputType(), static_cast<gint>(Output::DISTANCE), readyFlags));

    const auto controlFlags = static_cast<GParamFlags>(flags | GST_PARAM_MUTABLE_PLAYING);
    guint id = PROP_CONTROL_FIRST;
    for (const ozr::ControlEntry& entry : ozr::controlNames) {
        if (entry.id == ozr::ControlID::ACQUISITION_MODE) continue;
        const std::string name = propertyName(entry.name);
        const std::string blurb = std::string("The camera control ") + entry.name +
                                  " (-1: leave the camera's setting; while the camera is open "
                                  "the camera's value is read back)";
        // Param specs keep names and texts as interned strings.
        g_object_class_install_property(
            gobjectClass, id++,
            g_param_spec_int(g_intern_string(name.c_str()), g_intern_string(entry.name),
                             g_intern_string(blurb.c_str()), UNSET, G_MAXINT, UNSET,
                             static_cast<GParamFlags>(controlFlags & ~G_PARAM_STATIC_STRINGS)));
    }

    gst_element_class_set_static_metadata(
        elementClass, "Time-of-Flight camera source", "Source/Video",
        "Streams one image of an OZR310/OZR320 Time-of-Flight camera's frames as 16-bit gray "
        "video (GRAY16_LE). The output property chooses the image: distance (default, "
        "millimetres; values from 64000 are pixel codes), amplitude, grayscale (mode grayscale) "
        "or one of the raw DCS images dcs0..dcs3 (12-bit samples). Buffer timestamps are the "
        "frames' capture times as running time, the buffer offset is the frame number. One "
        "property per camera control; controls may be changed while playing, a refused value "
        "posts a warning with the library's message",
        "libozrtofcam developers");
    gst_element_class_add_static_pad_template(elementClass, &srcTemplate);

    baseClass->start = start;
    baseClass->stop = stop;
    baseClass->get_caps = getCaps;
    baseClass->query = query;
    pushClass->create = create;
}

static void gst_ozr_tof_src_init(GstOzrTofSrc* self) {
    self->state = new GstOzrTofSrcState();
    gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
    gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
    gst_base_src_set_do_timestamp(GST_BASE_SRC(self), FALSE);
}

static gboolean pluginInit(GstPlugin* plugin) {
    return gst_element_register(plugin, "ozrtofsrc", GST_RANK_NONE, GST_TYPE_OZR_TOF_SRC);
}

#define PACKAGE "ozrtofcam"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, ozrtof,
                  "Time-of-Flight camera source on libozrtofcam", pluginInit, OZR_VERSION,
                  "Proprietary", "libozrtofcam", "file:///usr/local/share/doc/ozrtofcam")
