# The module on the virtual sensor: modes, arrays, controls, iteration,
# errors and logging.
import datetime
import errno
import gc
import logging
import math
import time

import numpy as np
import pytest

import ozrtofcam
from ozrtofcam import Control, Mode

# What a frame of each mode carries: its 16-bit images, whether it has a
# phase image, and its number of DCS images.
MODES = [
    (Mode.DIST_AMP, ("distance", "amplitude"), True, 4),
    (Mode.GRAYSCALE, ("grayscale",), False, 0),
    (Mode.DIST_AMP_HDR, ("distance", "amplitude"), True, 12),
    (Mode.DCS4, (), False, 4),
]
IMAGES16 = ("distance", "amplitude", "grayscale")


def image_arrays(frame):
    named = [(n, getattr(frame, n), 0) for n in IMAGES16 + ("phase",)]
    named += [("dcs", v, i) for i, v in enumerate(frame.dcs_images)]
    return [(n, a, i) for n, a, i in named if a is not None]


@pytest.mark.parametrize("mode,images,has_phase,dcs", MODES, ids=[m[0].name for m in MODES])
def test_every_mode_gives_its_images_as_views_and_none_for_the_others(cam, records, mode, images,
                                                                      has_phase, dcs):
    cam.mode = mode
    assert cam.mode is mode
    before = time.time()
    frame = cam.capture()
    records.clear()
    shape = (frame.height, frame.width)
    for name in IMAGES16:
        array = getattr(frame, name)
        assert (array.dtype, array.shape) == (np.uint16, shape) if name in images else array is None
    if has_phase:
        assert frame.phase.dtype == np.float32 and frame.phase.shape == shape
        assert 0.0 <= frame.phase.min() and frame.phase.max() <= 2 * math.pi + 1e-6
    else:
        assert frame.phase is None
    if dcs:
        assert frame.dcs.shape == (dcs,) + shape and frame.dcs.dtype == np.uint16
        assert frame.dcs.max() < 4096  # 12-bit samples
        assert all(np.array_equal(v, frame.dcs[i]) for i, v in enumerate(frame.dcs_images))
    else:
        assert frame.dcs is None and frame.dcs_images == ()
    # Asking for what the mode lacks is no error.
    assert not [r for r in records.records if r.levelno >= logging.ERROR]
    # Every array is a read-only view of the frame's image, no copy.
    for name, array, index in image_arrays(frame):
        assert array.__array_interface__["data"][0] == frame._image_address(name, index), name
        assert not array.flags.writeable and not array.flags.owndata
        with pytest.raises(ValueError):
            array[0, 0] = 1
    assert abs(frame.timestamp / 1000 - before) < 5
    assert frame.datetime == datetime.datetime.fromtimestamp(frame.timestamp / 1000,
                                                             datetime.timezone.utc)


def test_arrays_outlive_frame_and_camera():
    cam = ozrtofcam.Camera()
    cam.open()
    frame = cam.capture()
    arrays = [a for _, a, _ in image_arrays(frame)]
    copies = [a.copy() for a in arrays]
    del frame
    cam.close()
    del cam
    gc.collect()
    # New frames reuse the memory of released images.
    with ozrtofcam.Camera() as other:
        for _ in other.frames(5):
            pass
    for array, copy in zip(arrays, copies):
        assert np.array_equal(array, copy)


def test_valid_masks_the_pixel_codes():
    image = np.array([[0, ozrtofcam.LIMIT_VALID_VALUE - 1, ozrtofcam.LOW_AMPLITUDE],
                      [ozrtofcam.SATURATION, ozrtofcam.EDGE_FILTERED, 1500]], dtype=np.uint16)
    assert ozrtofcam.valid(image).tolist() == [[True, True, False], [False, False, True]]
    codes = [ozrtofcam.LOW_AMPLITUDE, ozrtofcam.ADC_OVERFLOW, ozrtofcam.SATURATION,
             ozrtofcam.BAD_PIXEL, ozrtofcam.INTERFERENCE, ozrtofcam.EDGE_FILTERED]
    assert all(c > ozrtofcam.LIMIT_VALID_VALUE for c in codes) and len(set(codes)) == len(codes)


def test_controls_by_enum_value_and_name(cam):
    for control, value in [(Control.MIN_AMPLITUDE, 50), ("temporal_filter_alpha", 40),
                           (int(Control.EDGE_FILTER_THRESHOLD), 123), ("Gain", 2)]:
        cam.set(control, value)
        name = control if isinstance(control, str) else Control(control).name
        assert cam.get(name.upper()) == value
        assert cam.get(Control[name.upper()]) == value
    cam.set(Control.ACQUISITION_MODE, Mode.GRAYSCALE)
    assert cam.mode is Mode.GRAYSCALE and cam.get("acquisition_mode") == Mode.GRAYSCALE


def test_frames_streams_and_stops_at_the_end_or_a_break(cam):
    numbers = [f.number for f in cam.frames(3)]
    assert numbers == sorted(set(numbers)) and len(numbers) == 3
    assert not cam.streaming
    for frame in cam.frames():
        assert cam.streaming
        break
    assert not cam.streaming
    assert list(cam.frames(0)) == [] and not cam.streaming
    # A stream the application started goes on.
    cam.start()
    assert len(list(cam.frames(2))) == 2 and cam.streaming
    cam.stop()
    with cam.frames() as frames:
        next(frames)
        assert cam.streaming
    assert not cam.streaming


def test_context_manager_opens_and_closes():
    with ozrtofcam.Camera("AUTO") as cam:
        cam.start()
        assert cam.streaming
        assert cam.capture().distance is not None
    assert not cam.streaming
    with pytest.raises(ozrtofcam.Error):
        cam.capture()


@pytest.mark.parametrize("call,code,message", [
    (lambda c: ozrtofcam.Camera().capture(), errno.EINVAL,
     "Sensor not opened. Please call open() before capturing frames."),
    (lambda c: ozrtofcam.Camera().set(Control.GAIN, 1), errno.EINVAL,
     "Sensor not opened. Please call open() before setting controls."),
    (lambda c: ozrtofcam.Camera().get(Control.GAIN), errno.EINVAL,
     "Sensor not opened. Please call open() before getting controls."),
    (lambda c: setattr(c, "mode", Mode.TEST_PATTERN), errno.EINVAL,
     "Invalid pipeline value: 3; Failed to set acquisition mode: Invalid argument"),
    (lambda c: (c.start(), c.start()), errno.EBUSY, None),
    (lambda c: c.set(Control.ENABLE_GRAYSCALE_DSNU_COMPENSATION, 1), 1, None),
])
def test_failures_raise_error_with_errno_and_message(cam, records, call, code, message):
    records.clear()
    with pytest.raises(ozrtofcam.Error) as info:
        call(cam)
    assert isinstance(info.value, OSError)
    assert info.value.errno == code
    logged = [r.getMessage() for r in records.records
              if r.levelno == logging.ERROR and r.name == "ozrtofcam"]
    if message is None:  # nothing logged: the system's text
        assert info.value.strerror == __import__("os").strerror(code)
    else:
        assert info.value.strerror == message and "; ".join(logged[-2:]).endswith(message)


@pytest.mark.parametrize("call,error", [
    (lambda c: c.set("no_such_control", 1), ValueError),
    (lambda c: c.set(len(Control), 1), ValueError),
    (lambda c: c.set(Control.GAIN, 1 << 40), ValueError),
    (lambda c: c.set(Control.GAIN, "1"), TypeError),
    (lambda c: c.set(Control.GAIN, 1.0), TypeError),
    (lambda c: c.set(1.5, 1), TypeError),
    (lambda c: c.get(None), TypeError),
    (lambda c: setattr(c, "mode", "no_such_mode"), ValueError),
    (lambda c: setattr(c, "mode", 1.0), TypeError),
    (lambda c: c.frames(-1), ValueError),
    (lambda c: c.frames("3"), TypeError),
    (lambda c: ozrtofcam.Camera("ozr999"), ValueError),
    (lambda c: ozrtofcam.Camera(320), TypeError),
    (lambda c: ozrtofcam.valid(np.zeros((2, 2), np.float32)), TypeError),
    (lambda c: ozrtofcam.valid(None), TypeError),
])
def test_wrong_arguments_raise_type_or_value_error(cam, call, error):
    with pytest.raises(error):
        call(cam)


def test_log_lines_reach_logging_with_their_levels(records):
    records.clear()
    cam = ozrtofcam.Camera()
    with pytest.raises(ozrtofcam.Error):
        cam.start()  # not open: no pipeline, nothing logged
    cam.open()
    cam.mode = Mode.GRAYSCALE
    levels = {r.getMessage(): r.levelname for r in records.records if r.name == "ozrtofcam"}
    assert levels["Autodetecting TOF sensor model..."] == "INFO"
    assert levels["Switched to Grayscale pipeline"] == "INFO"
    assert "WARNING" in levels.values()  # the missing calibration
    cam.close()



def test_a_log_handler_calling_the_camera_gets_an_error_not_a_deadlock(cam):
    seen = []

    class CallsCamera(logging.Handler):
        def emit(self, record):
            try:
                cam.get(Control.GAIN)
            except RuntimeError as e:
                seen.append(e)

    handler = CallsCamera()
    logging.getLogger("ozrtofcam").addHandler(handler)
    try:
        cam.close()
        with pytest.raises(ozrtofcam.Error):
            cam.capture()  # logs while the camera is busy with the call
    finally:
        logging.getLogger("ozrtofcam").removeHandler(handler)
    assert len(seen) == 1
