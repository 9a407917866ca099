# Shared fixtures of the Python module's tests, which run under ozr-sim.
import logging

import pytest

import ozrtofcam


@pytest.fixture
def cam():
    camera = ozrtofcam.Camera()
    camera.open()
    yield camera
    camera.close()


@pytest.fixture
def records(caplog):
    """The library's log records of the test, at every level."""
    caplog.set_level(logging.DEBUG, logger="ozrtofcam")
    return caplog
