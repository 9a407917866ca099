# Point clouds from Python on the "tilted" scene with the virtual sensor's
# calibration (which describes its lens): shapes, codes, the camera's lens,
# and the plane the points lie in.
import math

import numpy as np
import pytest

import ozrtofcam


def test_points_follow_the_distance_image(cam):
    lens = cam.lens
    assert isinstance(lens, ozrtofcam.LensIntrinsics) and (lens.width, lens.height) == (320, 240)
    frame = cam.capture()
    pts = frame.points()
    assert pts.dtype == np.float32 and pts.shape == (frame.height, frame.width, 3)
    valid = ozrtofcam.valid(frame.distance)
    assert np.isnan(pts[~valid]).all() and not np.isnan(pts[valid]).any()
    np.testing.assert_allclose(np.linalg.norm(pts[valid], axis=1), frame.distance[valid], rtol=1e-5)
    dropped = frame.points(organized=False)
    assert dropped.shape == (int(valid.sum()), 3)
    np.testing.assert_array_equal(dropped, pts[valid])
    # The camera's lens given explicitly, or scaled to another size and back.
    np.testing.assert_array_equal(frame.points(lens=lens.scaled(640, 480).scaled(320, 240)), pts)


def test_points_lie_on_the_tilted_plane(cam):
    pts = cam.capture().points(organized=False).astype(np.float64)
    centroid = pts.mean(axis=0)
    normal = np.linalg.eigh(np.cov((pts - centroid).T))[1][:, 0]
    normal *= np.sign(normal[2])
    tilt = math.radians(35)
    angle = math.degrees(math.acos(min(1.0, normal @ [math.sin(tilt), 0, math.cos(tilt)])))
    assert angle < 0.5
    assert normal @ centroid == pytest.approx(1500 * math.cos(tilt), abs=3)


def test_points_refuse_frames_without_distance_and_unusable_lenses(cam):
    with pytest.raises(ozrtofcam.Error) as e:
        cam.capture().points(lens=ozrtofcam.LensIntrinsics(320, 240, fx=0, fy=1, cx=0, cy=0))
    assert e.value.errno == 22 and "positive" in e.value.strerror
    cam.mode = ozrtofcam.Mode.GRAYSCALE
    with pytest.raises(ValueError, match="no distance image"):
        cam.capture().points()
