# Recordings from Python: Camera.record() and ozrtofcam.Recording, checked
# against what h5py reads from the same files, and a file ozr-capture --record
# wrote (its path in OZR_CAPTURED_RECORDING).
import os

import h5py
import numpy as np
import pytest

import ozrtofcam


def h5py_frames(path):
    with h5py.File(path, "r") as f:
        return (f["dcs"][()], f["frame_number"][()], f["timestamp_ms"][()],
                f["temperature_c"][()], dict(f.attrs))


def check_against_h5py(rec):
    dcs, numbers, stamps, temps, attrs = h5py_frames(rec.path)
    assert len(rec) == rec.frame_count == dcs.shape[0] > 0
    assert (rec.dcs_per_frame, rec.height, rec.width) == dcs.shape[1:]
    assert rec.model == attrs["model"].decode()
    assert rec.modulation_frequency_hz == attrs["modulation_frequency_hz"]
    for i, frame in enumerate(rec):
        assert frame.dcs.dtype == np.uint16 and not frame.dcs.flags.writeable
        np.testing.assert_array_equal(frame.dcs, dcs[i])
        assert (frame.number, frame.timestamp) == (numbers[i], stamps[i])
        assert frame.temperature == pytest.approx(temps[i])
    np.testing.assert_array_equal(rec.temperatures(), temps)
    assert rec[-1].number == numbers[-1]


@pytest.mark.parametrize("mode, dcs_per_frame", [(ozrtofcam.Mode.DCS4, 4),
                                                 (ozrtofcam.Mode.DIST_AMP_HDR, 12)])
def test_camera_record_reads_back_as_h5py_reads_it(cam, tmp_path, mode, dcs_per_frame):
    cam.mode = mode
    cam.set("gain", 3)
    path = str(tmp_path / "rec.h5")
    assert cam.record(path, 4) == 4
    assert not cam.streaming
    rec = ozrtofcam.Recording(path)
    assert (rec.mode, rec.dcs_per_frame, rec.gain) == (mode, dcs_per_frame, 3)
    check_against_h5py(rec)
    numbers = [f.number for f in rec]
    assert numbers == sorted(numbers) and len(set(numbers)) == 4
    # The DCS images are the sensor's 12-bit samples, not zeros.
    assert 0 < int(rec[0].dcs.max()) <= 4095


def test_recording_written_by_ozr_capture():
    rec = ozrtofcam.Recording(os.environ["OZR_CAPTURED_RECORDING"])
    assert rec.mode == ozrtofcam.Mode.DCS4 and len(rec) == 5
    check_against_h5py(rec)


def test_record_refuses_modes_without_dcs_images(cam, tmp_path):
    with pytest.raises(ValueError, match="Mode.DCS4"):
        cam.record(str(tmp_path / "rec.h5"), 2)
    assert not (tmp_path / "rec.h5").exists()


def test_recording_refuses_missing_and_foreign_files(tmp_path):
    with pytest.raises(FileNotFoundError):
        ozrtofcam.Recording(str(tmp_path / "none.h5"))
    foreign = tmp_path / "foreign.h5"
    foreign.write_bytes(b"not a recording")
    with pytest.raises(ozrtofcam.Error) as e:
        ozrtofcam.Recording(str(foreign))
    assert e.value.errno == 22 and "foreign.h5" in e.value.strerror
    with h5py.File(tmp_path / "empty.h5", "w"):
        pass
    with pytest.raises(ozrtofcam.Error):
        ozrtofcam.Recording(str(tmp_path / "empty.h5"))
