# A sensor that accepts triggers and delivers no image (ozr-sim --stall):
# captures time out, the streaming thread logs, and nothing holds the GIL
# or deadlocks meanwhile.
import errno
import subprocess
import sys
import threading
import time

import pytest

import ozrtofcam


def test_capture_times_out_while_another_thread_runs(cam, records):
    ticks = []
    stop = threading.Event()

    def tick():
        while not stop.is_set():
            ticks.append(time.monotonic())
            time.sleep(0.005)

    thread = threading.Thread(target=tick)
    thread.start()
    try:
        time.sleep(0.05)
        t0 = time.monotonic()
        with pytest.raises(ozrtofcam.Error) as info:
            cam.capture()
        t1 = time.monotonic()
    finally:
        stop.set()
        thread.join()
    assert info.value.errno == errno.ETIMEDOUT
    assert info.value.strerror == "Timeout waiting for distance/amplitude frame"
    assert t1 - t0 >= 0.9
    # The wait took about a second; a thread starved by a held GIL would not
    # have ticked in it at all.
    assert len([t for t in ticks if t0 < t < t1]) >= 20


def test_streaming_thread_logs_into_python_and_close_does_not_deadlock(cam, records):
    main = threading.get_ident()
    cam.start()
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        streamed = [r for r in records.records if r.name == "ozrtofcam" and r.thread != main]
        if streamed:
            break
        time.sleep(0.05)
    # close() joins the streaming thread while it keeps logging.
    cam.close()
    assert streamed and all(r.levelname == "ERROR" for r in streamed)
    assert "Failed to get next frame: -110" in [r.getMessage() for r in streamed]


def test_frames_stops_its_stream_when_a_capture_fails(cam):
    with pytest.raises(ozrtofcam.Error) as info:
        for _ in cam.frames(3):
            pass
    assert info.value.errno == errno.ETIMEDOUT
    assert not cam.streaming


@pytest.mark.parametrize("ending", ["", "del cam", "import os; os._exit(0)"])
def test_interpreter_exits_with_a_camera_streaming_and_logging(ending):
    # The streaming thread logs every image time-out; at exit the camera is
    # closed and the library's own output restored before finalisation.
    script = ("import time, ozrtofcam\ncam = ozrtofcam.Camera()\ncam.open()\ncam.start()\n"
              f"time.sleep(0.5)\n{ending}\n")
    done = subprocess.run([sys.executable, "-c", script], timeout=60, capture_output=True)
    assert done.returncode == 0, done.stderr.decode()
