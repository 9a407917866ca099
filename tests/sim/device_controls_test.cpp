// The emulated sub-device's controls: ranges, quantisation, the acquisition
// types of each model, enumeration for tools, and their effect on frames.
#include <cstring>
#include <string>

#include "sim_test_util.h"

namespace ozrsim::test {
namespace {

class SubdevControls : public SimTest {
protected:
    int openSubdev(const char* path = "/run/ozr320/subdev") {
        fd_ = ::open(path, O_RDWR);
        return fd_;
    }
    void TearDown() override {
        if (fd_ >= 0) ::close(fd_);
        SimTest::TearDown();
    }
    int fd_ = -1;
};

TEST_F(SubdevControls, DefaultsReadBack) {
    start(testConfig());
    ASSERT_GE(openSubdev(), 0);
    struct Expect {
        uint32_t id;
        int32_t value;
    };
    for (const Expect& e :
         {Expect{cid::GAIN, 1}, Expect{cid::EXPOSURE, 500}, Expect{cid::TRIGGER_SHUTTER, 0},
          Expect{cid::ACQUISITION_MODE, 0}, Expect{cid::MODULATION_FREQ_HZ, 24000000},
          Expect{cid::HDR_INTEGRATION_TIME1, 100}, Expect{cid::HDR_INTEGRATION_TIME2, 500},
          Expect{cid::HDR_INTEGRATION_TIME3, 2000}, Expect{cid::LED_DELAY_STEP, 0}}) {
        int32_t v = -1;
        ASSERT_EQ(getCtrl(fd_, e.id, v), 0) << std::hex << e.id;
        EXPECT_EQ(v, e.value) << std::hex << e.id;
    }
}

TEST_F(SubdevControls, ValuesPassThroughWithinRange) {
    start(testConfig());
    ASSERT_GE(openSubdev(), 0);
    struct Set {
        uint32_t id;
        int32_t value;
    };
    for (const Set& s : {Set{cid::GAIN, 16}, Set{cid::EXPOSURE, 0}, Set{cid::EXPOSURE, 10000},
                         Set{cid::HDR_INTEGRATION_TIME2, 1234}, Set{cid::LED_DELAY_STEP, 255}}) {
        ASSERT_EQ(setCtrl(fd_, s.id, s.value), 0);
        int32_t v = -1;
        ASSERT_EQ(getCtrl(fd_, s.id, v), 0);
        EXPECT_EQ(v, s.value);
    }
    EXPECT_EQ(controlValue(cid::HDR_INTEGRATION_TIME2), 1234);
}

TEST_F(SubdevControls, OutOfRangeIsRefusedAndUnknownIdsAreInvalid) {
    start(testConfig());
    ASSERT_GE(openSubdev(), 0);
    EXPECT_EQ(setCtrl(fd_, cid::GAIN, 0), ERANGE);
    EXPECT_EQ(setCtrl(fd_, cid::GAIN, 17), ERANGE);
    EXPECT_EQ(setCtrl(fd_, cid::EXPOSURE, -1), ERANGE);
    EXPECT_EQ(setCtrl(fd_, cid::EXPOSURE, 10001), ERANGE);
    EXPECT_EQ(setCtrl(fd_, cid::TRIGGER_SHUTTER, 2), ERANGE);
    EXPECT_EQ(setCtrl(fd_, cid::ACQUISITION_MODE, 3), ERANGE);
    EXPECT_EQ(setCtrl(fd_, cid::MODULATION_FREQ_HZ, 1000000), ERANGE);
    int32_t v = 0;
    EXPECT_EQ(getCtrl(fd_, cid::GAIN, v), 0);
    EXPECT_EQ(v, 1) << "a refused value changes nothing";
    EXPECT_EQ(setCtrl(fd_, 0x981904, 1), EINVAL);
    EXPECT_EQ(getCtrl(fd_, 0x981908, v), EINVAL);
    EXPECT_EQ(getCtrl(fd_, cid::USER_CLASS, v), EACCES);
}

TEST_F(SubdevControls, ModulationFrequencyIsQuantisedByThePll) {
    start(testConfig());
    ASSERT_GE(openSubdev(), 0);
    struct Case {
        int32_t written, readBack;
    };
    for (const Case& k :
         {Case{12345678, 12350000}, Case{24004999, 24000000}, Case{24005000, 24010000},
          Case{10000000, 10000000}, Case{100000000, 100000000}, Case{5000001, 5000000}}) {
        v4l2_control c{};
        c.id = cid::MODULATION_FREQ_HZ;
        c.value = k.written;
        ASSERT_EQ(ioctlErr(fd_, VIDIOC_S_CTRL, &c), 0);
        EXPECT_EQ(c.value, k.readBack) << "S_CTRL returns the value kept";
        int32_t v = 0;
        ASSERT_EQ(getCtrl(fd_, cid::MODULATION_FREQ_HZ, v), 0);
        EXPECT_EQ(v, k.readBack) << k.written;
    }
}

TEST_F(SubdevControls, AcquisitionTypesPerModel) {
    start(testConfig(Model::OZR310));
    ASSERT_GE(openSubdev("/run/ozr310/subdev"), 0);
    EXPECT_EQ(setCtrl(fd_, cid::ACQUISITION_MODE, 1), 0);
    EXPECT_EQ(setCtrl(fd_, cid::ACQUISITION_MODE, 2), EINVAL) << "no HDR readout on the OZR310";
    int32_t v = -1;
    ASSERT_EQ(getCtrl(fd_, cid::ACQUISITION_MODE, v), 0);
    EXPECT_EQ(v, 1);
    v4l2_querymenu m{};
    m.id = cid::ACQUISITION_MODE;
    m.index = 2;
    EXPECT_EQ(ioctlErr(fd_, VIDIOC_QUERYMENU, &m), EINVAL);
    ::close(fd_);
    fd_ = -1;
    reset();

    start(testConfig(Model::OZR320));
    ASSERT_GE(openSubdev(), 0);
    EXPECT_EQ(setCtrl(fd_, cid::ACQUISITION_MODE, 2), 0);
    m.index = 2;
    ASSERT_EQ(ioctlErr(fd_, VIDIOC_QUERYMENU, &m), 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(m.name), "HDR");
}

TEST_F(SubdevControls, EnumerationListsEveryControlInOrder) {
    start(testConfig());
    ASSERT_GE(openSubdev(), 0);
    std::vector<uint32_t> ids;
    v4l2_queryctrl q{};
    q.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    while (ioctlErr(fd_, VIDIOC_QUERYCTRL, &q) == 0) {
        ids.push_back(q.id);
        if (q.id == cid::MODULATION_FREQ_HZ) {
            EXPECT_EQ(q.minimum, 5000000);
            EXPECT_EQ(q.maximum, 100000000);
            EXPECT_EQ(q.step, MODULATION_STEP_HZ);
        }
        q.id |= V4L2_CTRL_FLAG_NEXT_CTRL;
    }
    const std::vector<uint32_t> expected = {cid::USER_CLASS,
                                            cid::EXPOSURE,
                                            cid::GAIN,
                                            cid::TRIGGER_SHUTTER,
                                            cid::ACQUISITION_MODE,
                                            cid::MODULATION_FREQ_HZ,
                                            cid::HDR_INTEGRATION_TIME1,
                                            cid::HDR_INTEGRATION_TIME2,
                                            cid::HDR_INTEGRATION_TIME3,
                                            cid::LED_DELAY_STEP};
    EXPECT_EQ(ids, expected);

    v4l2_query_ext_ctrl qe{};
    qe.id = cid::GAIN;
    ASSERT_EQ(ioctlErr(fd_, VIDIOC_QUERY_EXT_CTRL, &qe), 0);
    EXPECT_EQ(qe.maximum, 16);
    EXPECT_EQ(qe.elems, 1u);
    qe.id = 0x981904;
    EXPECT_EQ(ioctlErr(fd_, VIDIOC_QUERY_EXT_CTRL, &qe), EINVAL);
}

TEST_F(SubdevControls, ExtendedControlsAreCheckedBeforeAnyIsApplied) {
    start(testConfig());
    ASSERT_GE(openSubdev(), 0);
    v4l2_ext_control list[2]{};
    list[0].id = cid::GAIN;
    list[0].value = 5;
    list[1].id = cid::EXPOSURE;
    list[1].value = 20000;  // out of range
    v4l2_ext_controls ctrls{};
    ctrls.which = V4L2_CTRL_WHICH_CUR_VAL;
    ctrls.count = 2;
    ctrls.controls = list;
    // Setting points past the list (nothing was written), trying names the
    // control that failed.
    EXPECT_EQ(ioctlErr(fd_, VIDIOC_S_EXT_CTRLS, &ctrls), ERANGE);
    EXPECT_EQ(ctrls.error_idx, 2u);
    EXPECT_EQ(controlValue(cid::GAIN), 1);
    EXPECT_EQ(ioctlErr(fd_, VIDIOC_TRY_EXT_CTRLS, &ctrls), ERANGE);
    EXPECT_EQ(ctrls.error_idx, 1u);

    list[1].value = 800;
    ASSERT_EQ(ioctlErr(fd_, VIDIOC_S_EXT_CTRLS, &ctrls), 0);
    list[0].value = list[1].value = 0;
    ASSERT_EQ(ioctlErr(fd_, VIDIOC_G_EXT_CTRLS, &ctrls), 0);
    EXPECT_EQ(list[0].value, 5);
    EXPECT_EQ(list[1].value, 800);
    ctrls.which = V4L2_CTRL_WHICH_DEF_VAL;
    ASSERT_EQ(ioctlErr(fd_, VIDIOC_G_EXT_CTRLS, &ctrls), 0);
    EXPECT_EQ(list[0].value, 1);
    EXPECT_EQ(list[1].value, 500);
}

TEST_F(SubdevControls, ExtendedControlErrorsPointAsTheControlFrameworkDoes) {
    start(testConfig());
    ASSERT_GE(openSubdev(), 0);
    const int video = ::open("/run/ozr320/video", O_RDWR);
    ASSERT_GE(video, 0);
    v4l2_ext_control list[2]{};
    v4l2_ext_controls ctrls{};
    ctrls.count = 2;
    ctrls.controls = list;
    struct Case {
        int fd;
        uint32_t first, second;
        unsigned long request;
        int error;
        uint32_t errorIdx;
    };
    // Validation failures of G and S point past the list; TRY names the control.
    for (const Case& k : {
             Case{fd_, cid::GAIN, 0x981904, VIDIOC_G_EXT_CTRLS, EINVAL, 2},
             Case{fd_, cid::GAIN, cid::USER_CLASS, VIDIOC_G_EXT_CTRLS, EACCES, 2},  // write-only
             Case{fd_, cid::GAIN, cid::USER_CLASS, VIDIOC_TRY_EXT_CTRLS, EACCES, 1},
             Case{fd_, V4L2_CID_PRIVATE_BASE, cid::GAIN, VIDIOC_TRY_EXT_CTRLS, EINVAL, 0},
             Case{video, cid::GAIN, cid::EXPOSURE, VIDIOC_TRY_EXT_CTRLS, EINVAL, 0},
             Case{video, cid::GAIN, cid::EXPOSURE, VIDIOC_S_EXT_CTRLS, EINVAL, 2},
         }) {
        list[0].id = k.first;
        list[1].id = k.second;
        list[0].value = list[1].value = 1;
        EXPECT_EQ(ioctlErr(k.fd, k.request, &ctrls), k.error) << std::hex << k.second;
        EXPECT_EQ(ctrls.error_idx, k.errorIdx) << std::hex << k.second;
    }
    ctrls.count = 0;
    ctrls.which = V4L2_CTRL_CLASS_USER;
    EXPECT_EQ(ioctlErr(fd_, VIDIOC_G_EXT_CTRLS, &ctrls), 0) << "the class exists";
    EXPECT_EQ(ioctlErr(video, VIDIOC_G_EXT_CTRLS, &ctrls), EINVAL) << "no controls at all";
    ::close(video);
}

TEST_F(SubdevControls, OldStylePrivateIdentifiersCountTheDriverControls) {
    start(testConfig());
    ASSERT_GE(openSubdev(), 0);
    v4l2_queryctrl q{};
    q.id = V4L2_CID_PRIVATE_BASE + 1;
    ASSERT_EQ(ioctlErr(fd_, VIDIOC_QUERYCTRL, &q), 0);
    EXPECT_EQ(q.id, V4L2_CID_PRIVATE_BASE + 1) << "reported under the identifier asked for";
    EXPECT_STREQ(reinterpret_cast<const char*>(q.name), "Acquisition Mode");
    ASSERT_EQ(setCtrl(fd_, V4L2_CID_PRIVATE_BASE + 6, 42), 0);
    EXPECT_EQ(controlValue(cid::LED_DELAY_STEP), 42);
    q.id = V4L2_CID_PRIVATE_BASE + 7;
    EXPECT_EQ(ioctlErr(fd_, VIDIOC_QUERYCTRL, &q), EINVAL);
}

TEST_F(SubdevControls, ControlsReachTheRenderedFrame) {
    start(testConfig());
    Capture c;
    ASSERT_EQ(c.startStreaming(4), 0);
    ASSERT_EQ(setCtrl(c.subdev(), cid::EXPOSURE, 750), 0);
    ASSERT_EQ(setCtrl(c.subdev(), cid::GAIN, 2), 0);
    ASSERT_EQ(setCtrl(c.subdev(), cid::MODULATION_FREQ_HZ, 20000000), 0);
    ASSERT_EQ(setCtrl(c.subdev(), cid::ACQUISITION_MODE, 1), 0);
    setTemperature(41.5f);
    ASSERT_EQ(c.trigger(), 0);
    ASSERT_TRUE(waitIdle(std::chrono::seconds(2)));
    SensorState s = lastState();
    EXPECT_EQ(s.exposureUs, 750);
    EXPECT_EQ(s.gain, 2);
    EXPECT_EQ(s.modulationHz, 20000000u);
    EXPECT_EQ(s.acq, AcqType::Grayscale);
    EXPECT_FLOAT_EQ(s.temperatureC, 41.5f);
    EXPECT_EQ(s.width, 320u);
    EXPECT_EQ(s.frameIndex, 0u);
    ASSERT_EQ(c.trigger(), 0);
    ASSERT_TRUE(waitIdle(std::chrono::seconds(2)));
    EXPECT_EQ(lastState().frameIndex, 1u);
    EXPECT_EQ(controlValue(cid::TRIGGER_SHUTTER), 0) << "the trigger reads as idle";
}

}  // namespace
}  // namespace ozrsim::test
