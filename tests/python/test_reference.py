# Frames from Python equal the frames the C++ API returns for the same scene,
# and their distances lie within the noise of the driver's ground truth.
#
# The virtual sensor's noise depends on the frame's number since the driver
# was set up, so both sides capture the first frame of a process of their
# own: a Python child and the C++ reference program, given the same options
# by the launcher's environment.
import math
import os
import subprocess
import sys

import numpy as np
import pytest

from ozrtofcam import Mode

REFERENCE = os.environ.get("OZR_PYTHON_REFERENCE")

CHILD = """
import sys, numpy as np, ozrtofcam
mode, out = int(sys.argv[1]), sys.argv[2]
cam = ozrtofcam.Camera()
cam.open()
if mode:
    cam.mode = mode
frame = cam.capture()
for name in ("distance", "amplitude", "grayscale", "phase", "dcs"):
    if getattr(frame, name) is not None:
        np.save(f"{out}/{name}.npy", getattr(frame, name))
np.save(f"{out}/modulation.npy", cam.get("modulation_freq_hz"))
"""

RAW = {"distance": ("u16", np.uint16), "amplitude": ("u16", np.uint16),
       "grayscale": ("u16", np.uint16), "phase": ("f32", np.float32), "dcs": ("u16", np.uint16)}


def capture_both(mode, tmp_path, attempts=3):
    """Both captures; a pair is taken again when one of them fails (an image
    time-out on a busy machine), so that the pair compared comes from one
    attempt."""
    for attempt in range(attempts):
        py_dir, cpp_dir = tmp_path / f"py{attempt}", tmp_path / f"cpp{attempt}"
        py_dir.mkdir()
        cpp_dir.mkdir()
        py = subprocess.run([sys.executable, "-c", CHILD, str(int(mode)), str(py_dir)])
        cpp = subprocess.run([REFERENCE, str(int(mode)), str(cpp_dir)])
        if py.returncode == 0 and cpp.returncode == 0:
            return py_dir, cpp_dir
    pytest.fail(f"captures failed {attempts} times: python {py.returncode}, C++ {cpp.returncode}")


@pytest.mark.skipif(not REFERENCE, reason="OZR_PYTHON_REFERENCE not set")
@pytest.mark.parametrize("mode", [Mode.DIST_AMP, Mode.GRAYSCALE, Mode.DIST_AMP_HDR, Mode.DCS4],
                         ids=lambda m: m.name)
def test_frames_equal_the_cpp_api(mode, tmp_path):
    py_dir, cpp_dir = capture_both(mode, tmp_path)
    names = sorted(p.stem for p in py_dir.glob("*.npy") if p.stem != "modulation")
    assert names == sorted(p.stem for p in cpp_dir.glob("*") if p.stem in RAW)
    for name in names:
        ours = np.load(py_dir / f"{name}.npy")
        suffix, dtype = RAW[name]
        theirs = np.fromfile(cpp_dir / f"{name}.{suffix}", dtype=dtype).reshape(ours.shape)
        assert np.array_equal(ours, theirs), name


@pytest.mark.skipif(not REFERENCE, reason="OZR_PYTHON_REFERENCE not set")
def test_distance_within_the_noise_of_the_truth(tmp_path):
    py_dir, cpp_dir = capture_both(Mode.DIST_AMP, tmp_path)
    distance = np.load(py_dir / "distance.npy").astype(np.float64)
    hz = float(np.load(py_dir / "modulation.npy"))
    truth = np.fromfile(cpp_dir / "truth_distance.f32", np.float32).reshape(distance.shape)
    amp = np.fromfile(cpp_dir / "truth_amplitude.f32", np.float32).reshape(distance.shape)
    flags = np.fromfile(cpp_dir / "truth_flags.u8", np.uint8).reshape(distance.shape)
    measured = (distance < 64000) & (flags == 0) & (amp > 0)
    assert measured.mean() > 0.5
    # The driver's sample noise: sigma = sqrt(read + shot x A) counts, plus
    # the rounding of the samples; the differences of two samples carry
    # sqrt(2) sigma against a signal of 2 A, so the phase sigma/(sqrt(2) A).
    read, shot = np.fromfile(cpp_dir / "noise.f32", np.float32)
    sigma = np.sqrt(read + shot * amp + 1.0 / 12.0)
    sigma_mm = sigma / (math.sqrt(2.0) * amp) * 299792458e3 / (4 * math.pi * hz)
    wrap = 299792458e3 / (2 * hz)
    error = np.remainder(distance - truth + wrap / 2, wrap) - wrap / 2
    # Six sigma plus the millimetre rounding and the fixed-point phase.
    bound = 6 * sigma_mm + 2.0
    assert np.all(np.abs(error[measured]) <= bound[measured]), np.abs(error[measured]).max()
    assert abs(np.median(error[measured])) < 2.0
