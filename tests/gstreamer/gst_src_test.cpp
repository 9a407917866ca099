// ozrtofsrc in pipelines of this process, on the virtual sensor linked in:
// buffers checked against the scene's ground truth, property round trips,
// controls reaching the device while playing, refused values and a missing
// camera reported with the library's message, and repeated state changes.
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ozrsim.h"
#include "support/sim_config.h"

namespace {

constexpr float WALL_MM = 1500.0f;

// A pipeline "ozrtofsrc ... ! appsink name=sink" and its bus.
class Pipeline {
public:
    explicit Pipeline(const std::string& description) {
        GError* error = nullptr;
        pipeline = gst_parse_launch(description.c_str(), &error);
        if (error) {
            // A partly built pipeline is of no use.
            ADD_FAILURE() << error->message;
            g_error_free(error);
            if (pipeline) gst_object_unref(pipeline);
            pipeline = nullptr;
        }
        if (pipeline) {
            src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
            sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
            bus = gst_element_get_bus(pipeline);
        }
    }
    ~Pipeline() {
        if (!pipeline) return;
        gst_element_set_state(pipeline, GST_STATE_NULL);
        if (bus) gst_object_unref(bus);
        if (sink) gst_object_unref(sink);
        if (src) gst_object_unref(src);
        gst_object_unref(pipeline);
    }
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    GstStateChangeReturn setState(GstState state) {
        if (!pipeline) return GST_STATE_CHANGE_FAILURE;
        GstStateChangeReturn r = gst_element_set_state(pipeline, state);
        if (r == GST_STATE_CHANGE_ASYNC) {
            r = gst_element_get_state(pipeline, nullptr, nullptr, 5 * GST_SECOND);
        }
        return r;
    }

    // The next buffer from the appsink (nullptr at EOS or after 5 s); the
    // caps' size is stored.
    GstBuffer* pull() {
        if (!sink) return nullptr;
        GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 5 * GST_SECOND);
        if (!sample) return nullptr;
        const GstStructure* s = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
        gst_structure_get_int(s, "width", &width);
        gst_structure_get_int(s, "height", &height);
        format = gst_structure_get_string(s, "format");
        GstBuffer* buffer = gst_buffer_ref(gst_sample_get_buffer(sample));
        gst_sample_unref(sample);
        return buffer;
    }

    // The first error or warning message on the bus within `timeout`; its
    // text and debug details joined as "text | details".
    std::string popMessage(GstMessageType type, GstClockTime timeout = 2 * GST_SECOND) {
        if (!bus) return "";
        GstMessage* m = gst_bus_timed_pop_filtered(bus, timeout, type);
        if (!m) return "";
        GError* error = nullptr;
        gchar* debug = nullptr;
        if (type == GST_MESSAGE_ERROR) {
            gst_message_parse_error(m, &error, &debug);
        } else {
            gst_message_parse_warning(m, &error, &debug);
        }
        std::string text = std::string(error->message) + " | " + (debug ? debug : "");
        g_error_free(error);
        g_free(debug);
        gst_message_unref(m);
        return text;
    }

    GstElement* pipeline = nullptr;
    GstElement* src = nullptr;
    GstElement* sink = nullptr;
    GstBus* bus = nullptr;
    int width = 0, height = 0;
    std::string format;
};

class GstSrcTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { gst_init(nullptr, nullptr); }

    void SetUp() override {
        ozrsim::Config c = testsupport::fastSimConfig(ozrsim::Model::OZR320);
        c.scene.name = "wall";
        c.scene.wallDistanceMm = WALL_MM;
        c.scene.noiseScale = 0.0f;
        c.scene.systematicErrors = false;
        ASSERT_EQ(ozrsim::configure(c), 0);
    }
    void TearDown() override { ozrsim::reset(); }
};

uint16_t median(std::vector<uint16_t> v) {
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

std::vector<uint16_t> pixels(GstBuffer* buffer) {
    std::vector<uint16_t> v(gst_buffer_get_size(buffer) / 2);
    gst_buffer_extract(buffer, 0, v.data(), v.size() * 2);
    return v;
}

// Every control property of the element, by name.
std::vector<std::string> controlProperties(GstElement* element) {
    guint count = 0;
    GParamSpec** specs = g_object_class_list_properties(G_OBJECT_GET_CLASS(element), &count);
    std::vector<std::string> names;
    for (guint i = 0; i < count; ++i) {
        if (specs[i]->owner_type == G_OBJECT_TYPE(element) &&
            G_PARAM_SPEC_VALUE_TYPE(specs[i]) == G_TYPE_INT) {
            names.emplace_back(specs[i]->name);
        }
    }
    g_free(specs);
    return names;
}

TEST_F(GstSrcTest, BuffersCarryTheDistanceOfTheWallWithIncreasingOffsetsAndTimes) {
    Pipeline p("ozrtofsrc name=src num-buffers=10 ! appsink name=sink sync=false");
    ASSERT_EQ(p.setState(GST_STATE_PLAYING), GST_STATE_CHANGE_SUCCESS);
    guint64 lastOffset = 0;
    GstClockTime lastPts = GST_CLOCK_TIME_NONE;
    int buffers = 0;
    while (GstBuffer* buffer = p.pull()) {
        ++buffers;
        EXPECT_EQ(p.format, "GRAY16_LE");
        ASSERT_EQ(p.width, 320);
        ASSERT_EQ(p.height, 240);
        EXPECT_EQ(gst_buffer_get_size(buffer), static_cast<size_t>(p.width * p.height * 2));
        EXPECT_GT(GST_BUFFER_OFFSET(buffer), lastOffset);
        EXPECT_EQ(GST_BUFFER_OFFSET_END(buffer), GST_BUFFER_OFFSET(buffer) + 1);
        ASSERT_TRUE(GST_BUFFER_PTS_IS_VALID(buffer));
        if (GST_CLOCK_TIME_IS_VALID(lastPts)) {
            EXPECT_GT(GST_BUFFER_PTS(buffer), lastPts);
        }
        lastOffset = GST_BUFFER_OFFSET(buffer);
        lastPts = GST_BUFFER_PTS(buffer);

        // The wall's true radial distance, noiseless and without systematic
        // errors: the median distance lies within a few millimetres of it.
        const ozrsim::GroundTruth truth = ozrsim::lastTruth();
        std::vector<uint16_t> trueMm(truth.distanceMm.begin(), truth.distanceMm.end());
        const int measured = median(pixels(buffer));
        const int expected = median(trueMm);
        EXPECT_NEAR(measured, expected, 10) << "buffer " << buffers;
        if (buffers == 1) {
            std::printf("[ gst      ] median distance %d mm, true %d mm\n", measured, expected);
        }
        gst_buffer_unref(buffer);
    }
    EXPECT_EQ(buffers, 10);  // then EOS
    EXPECT_TRUE(gst_app_sink_is_eos(GST_APP_SINK(p.sink)));
    EXPECT_EQ(p.popMessage(GST_MESSAGE_ERROR, 0), "");
}

TEST_F(GstSrcTest, RawDcsOutputCarriesTwelveBitSamples) {
    Pipeline p("ozrtofsrc name=src mode=dcs4 output=dcs2 num-buffers=3 ! appsink name=sink");
    ASSERT_EQ(p.setState(GST_STATE_PLAYING), GST_STATE_CHANGE_SUCCESS);
    GstBuffer* buffer = p.pull();
    ASSERT_NE(buffer, nullptr);
    const std::vector<uint16_t> v = pixels(buffer);
    EXPECT_LE(*std::max_element(v.begin(), v.end()), 4095);
    EXPECT_GT(*std::max_element(v.begin(), v.end()), 0);
    gst_buffer_unref(buffer);
}

TEST_F(GstSrcTest, PropertiesRoundTrip) {
    GstElement* src = gst_element_factory_make("ozrtofsrc", nullptr);
    ASSERT_NE(src, nullptr);
    const std::vector<std::string> names = controlProperties(src);
    EXPECT_EQ(names.size(), 29u);  // every control but the acquisition mode
    int value = 7;
    for (const std::string& name : names) {
        int read = 0;
        g_object_get(src, name.c_str(), &read, nullptr);
        EXPECT_EQ(read, -1) << name;  // not set: the camera's own value
        g_object_set(src, name.c_str(), value, nullptr);
        g_object_get(src, name.c_str(), &read, nullptr);
        EXPECT_EQ(read, value) << name;
        g_object_set(src, name.c_str(), -1, nullptr);
        g_object_get(src, name.c_str(), &read, nullptr);
        EXPECT_EQ(read, -1) << name;
        ++value;
    }
    gst_util_set_object_arg(G_OBJECT(src), "model", "ozr310");
    gst_util_set_object_arg(G_OBJECT(src), "mode", "hdr");
    gst_util_set_object_arg(G_OBJECT(src), "output", "dcs3");
    for (const char* name : {"model", "mode", "output"}) {
        GValue e = G_VALUE_INIT;
        g_object_get_property(G_OBJECT(src), name, &e);
        const GEnumValue* ev = g_enum_get_value(G_ENUM_CLASS(g_type_class_peek(G_VALUE_TYPE(&e))),
                                                g_value_get_enum(&e));
        ASSERT_NE(ev, nullptr) << name;
        EXPECT_STREQ(ev->value_nick, std::string(name) == "model"  ? "ozr310"
                                     : std::string(name) == "mode" ? "hdr"
                                                                   : "dcs3");
        g_value_unset(&e);
    }
    gst_object_unref(src);
}

TEST_F(GstSrcTest, ControlsSetBeforeAndWhilePlayingReachTheCamera) {
    Pipeline p(
        "ozrtofsrc name=src exposure-us=700 median-filter-enable=1 ! appsink name=sink "
        "max-buffers=2 drop=true sync=false");
    ASSERT_EQ(p.setState(GST_STATE_PLAYING), GST_STATE_CHANGE_SUCCESS);
    GstBuffer* buffer = p.pull();
    ASSERT_NE(buffer, nullptr);
    gst_buffer_unref(buffer);
    EXPECT_EQ(ozrsim::controlValue(ozrsim::cid::EXPOSURE), 700);
    int read = 0;
    g_object_get(p.src, "median-filter-enable", &read, nullptr);
    EXPECT_EQ(read, 1);
    // Unset controls read the camera's value while it is open.
    g_object_get(p.src, "gain", &read, nullptr);
    EXPECT_EQ(read, 1);

    g_object_set(p.src, "exposure-us", 300, "gain", 2, nullptr);
    EXPECT_EQ(ozrsim::controlValue(ozrsim::cid::EXPOSURE), 300);
    EXPECT_EQ(ozrsim::controlValue(ozrsim::cid::GAIN), 2);
    g_object_get(p.src, "exposure-us", &read, nullptr);
    EXPECT_EQ(read, 300);
    // The device rounds the frequency to its synthesiser's steps.
    g_object_set(p.src, "modulation-freq-hz", 20004000, nullptr);
    g_object_get(p.src, "modulation-freq-hz", &read, nullptr);
    EXPECT_EQ(read, 20000000);
    buffer = p.pull();  // the stream goes on
    ASSERT_NE(buffer, nullptr);
    gst_buffer_unref(buffer);
    EXPECT_EQ(p.popMessage(GST_MESSAGE_WARNING, 0), "");
}

TEST_F(GstSrcTest, RefusedValueWhilePlayingPostsAWarningWithTheLibrarysMessage) {
    Pipeline p("ozrtofsrc name=src ! appsink name=sink max-buffers=2 drop=true sync=false");
    ASSERT_EQ(p.setState(GST_STATE_PLAYING), GST_STATE_CHANGE_SUCCESS);
    g_object_set(p.src, "gain", 99, nullptr);
    const std::string warning = p.popMessage(GST_MESSAGE_WARNING);
    EXPECT_NE(warning.find("The camera refused GAIN=99"), std::string::npos) << warning;
    EXPECT_NE(warning.find("Failed to set control 0"), std::string::npos) << warning;
    int read = 0;
    g_object_get(p.src, "gain", &read, nullptr);
    EXPECT_EQ(read, 1);  // unchanged
    GstBuffer* buffer = p.pull();
    ASSERT_NE(buffer, nullptr);  // still streaming
    gst_buffer_unref(buffer);
}

TEST_F(GstSrcTest, RefusedValueAtTheStartIsAnErrorWithTheLibrarysMessage) {
    Pipeline p("ozrtofsrc name=src gain=99 ! appsink name=sink");
    EXPECT_EQ(p.setState(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    const std::string error = p.popMessage(GST_MESSAGE_ERROR);
    EXPECT_NE(error.find("The camera refused GAIN=99"), std::string::npos) << error;
    EXPECT_NE(error.find("Failed to set control 0"), std::string::npos) << error;
}

TEST_F(GstSrcTest, MissingCameraIsAnErrorWithTheLibrarysMessage) {
    ozrsim::reset();
    Pipeline p("ozrtofsrc name=src model=ozr320 ! appsink name=sink");
    EXPECT_EQ(p.setState(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    const std::string error = p.popMessage(GST_MESSAGE_ERROR);
    EXPECT_NE(error.find("Cannot open the camera | "), std::string::npos) << error;
    EXPECT_NE(error.find("Failed to acquire V4L2 sensor"), std::string::npos) << error;
}

TEST_F(GstSrcTest, OutputTheModeDoesNotDeliverIsAnError) {
    Pipeline p("ozrtofsrc name=src output=grayscale ! appsink name=sink");
    EXPECT_EQ(p.setState(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    const std::string error = p.popMessage(GST_MESSAGE_ERROR);
    EXPECT_NE(error.find("Output grayscale is not available in mode dist-amp"), std::string::npos)
        << error;
}

TEST_F(GstSrcTest, RepeatedStateChangesKeepStreaming) {
    Pipeline p(
        "ozrtofsrc name=src mode=grayscale output=grayscale ! appsink name=sink "
        "max-buffers=2 drop=true sync=false");
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(p.setState(GST_STATE_PLAYING), GST_STATE_CHANGE_SUCCESS) << round;
        GstBuffer* buffer = p.pull();
        ASSERT_NE(buffer, nullptr) << round;
        gst_buffer_unref(buffer);
        // Live: PAUSED has no preroll.
        EXPECT_EQ(p.setState(GST_STATE_PAUSED), GST_STATE_CHANGE_NO_PREROLL) << round;
        ASSERT_EQ(p.setState(GST_STATE_PLAYING), GST_STATE_CHANGE_SUCCESS) << round;
        buffer = p.pull();
        ASSERT_NE(buffer, nullptr) << round;
        gst_buffer_unref(buffer);
        ASSERT_EQ(p.setState(GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS) << round;
    }
    EXPECT_EQ(p.popMessage(GST_MESSAGE_ERROR, 0), "");
}

}  // namespace
