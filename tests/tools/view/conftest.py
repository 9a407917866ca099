# ozr-view under test: the fixture starts the tool on the virtual sensor
# (the launcher and its options from the environment), on any free port, and
# stops it at the end, which must then exit cleanly.
import contextlib
import json
import os
import re
import select
import signal
import subprocess
import time
import urllib.error
import urllib.request

import pytest

URL_LINE = re.compile(r"ozr-view: serving (http://\S+/)")


class View:
    def __init__(self, url, process, record_dir):
        self.url = url
        self.process = process
        self.record_dir = record_dir

    def request(self, path, body=None, method=None, raw=None):
        """(status, decoded JSON or bytes) of a request; errors are answers too."""
        data = raw if raw is not None else (None if body is None else json.dumps(body).encode())
        req = urllib.request.Request(self.url + path.lstrip("/"), data=data, method=method)
        if data is not None:
            req.add_header("Content-Type", "application/json")
        try:
            with urllib.request.urlopen(req, timeout=60) as res:
                status, payload, kind = res.status, res.read(), res.headers.get_content_type()
        except urllib.error.HTTPError as e:
            status, payload, kind = e.code, e.read(), e.headers.get_content_type()
        return status, json.loads(payload) if kind == "application/json" else payload

    def status(self):
        return self.request("api/status")[1]

    def control(self, name):
        controls = self.request("api/controls")[1]["controls"]
        return next(c["value"] for c in controls if c["name"] == name)


def wait_for(condition, timeout=60, what="condition"):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError(f"timed out waiting for {what}")


@contextlib.contextmanager
def running_view(record_dir, sim_options=()):
    """ozr-view on the virtual sensor until the block ends; it must then exit
    with status 0."""
    command = [os.environ["OZR_SIM"], *os.environ.get("OZR_VIEW_SIM_OPTIONS", "").split(),
               *sim_options, "--", os.environ["OZR_VIEW"], "--port", "0", "--max-clients", "3",
               "--record-dir", str(record_dir)]
    process = subprocess.Popen(command, stdout=subprocess.PIPE, text=True)
    try:
        ready, _, _ = select.select([process.stdout], [], [], 120)
        line = process.stdout.readline() if ready else ""
        match = URL_LINE.search(line)
        assert match, f"ozr-view did not start: {line!r}"
        v = View(match.group(1), process, record_dir)
        wait_for(lambda: v.status()["frame"], what="a first frame")
        yield v
    finally:
        process.send_signal(signal.SIGTERM)
        code = process.wait(timeout=60)
    assert code == 0, f"ozr-view ended with status {code}"


@pytest.fixture(scope="module")
def view(tmp_path_factory):
    with running_view(tmp_path_factory.mktemp("recordings")) as v:
        yield v
