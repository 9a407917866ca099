# ozr-view's HTTP interface against requests a browser would never send.
import array
import http.client
import socket
import struct
import time
import urllib.error
import urllib.parse
import urllib.request

import h5py

from conftest import running_view, wait_for


def raw_get(view, path):
    """Status and body of a GET whose path is sent exactly as given."""
    u = urllib.parse.urlsplit(view.url)
    c = http.client.HTTPConnection(u.hostname, u.port, timeout=60)
    c.putrequest("GET", path, skip_accept_encoding=True)
    c.endheaders()
    r = c.getresponse()
    body = r.read()
    c.close()
    return r.status, body


def test_unknown_paths_and_traversal_are_not_found(view):
    assert view.request("nothing/here")[0] == 404
    for path in ["/../../../../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd", "/view.js/../../../etc/passwd",
                 "/..%2f..%2f..%2fetc%2fpasswd", "/api/snapshot/../../etc/passwd.png"]:
        status, body = raw_get(view, path)
        assert status in (400, 404), path
        assert b"root:" not in body
    assert raw_get(view, "/view.js")[0] == 200


def test_oversized_and_malformed_bodies(view):
    assert view.request("api/control", raw=b"{" + b" " * (100 << 10) + b"}")[0] == 413
    status, body = view.request("api/control", raw=b"{not json")
    assert status == 400 and "JSON" in body["error"]
    assert view.request("api/control", body=[1, 2])[0] == 400
    # What a page of another site can send without asking first.
    form = urllib.request.Request(view.url + "api/stop", data=b"a=1", method="POST")
    form.add_header("Content-Type", "application/x-www-form-urlencoded")
    try:
        urllib.request.urlopen(form, timeout=60)
        assert False, "a form was taken as a command"
    except urllib.error.HTTPError as e:
        assert e.code == 415
    assert view.status()["running"]


def test_bad_control_names_and_values_are_refused_in_words(view):
    status, body = view.request("api/control", {"name": "NO_SUCH_CONTROL", "value": 1})
    assert status == 400 and "unknown control" in body["error"]
    for value in ["12", 1.5, 2 ** 40, -(2 ** 40), None, [1]]:
        status, body = view.request("api/control", {"name": "MIN_AMPLITUDE", "value": value})
        assert status == 400 and "whole number" in body["error"], value
    assert view.request("api/control", {"name": 7, "value": 1})[0] == 400
    assert view.request("api/control", {"name": "ACQUISITION_MODE", "value": 1})[0] == 400
    # A control of another mode, and a value the camera refuses with its message.
    status, body = view.request("api/control",
                                {"name": "ENABLE_GRAYSCALE_DSNU_COMPENSATION", "value": 1})
    assert status == 400 and "not a control of this mode" in body["error"]
    status, body = view.request("api/control", {"name": "MODULATION_FREQ_HZ", "value": 1})
    assert status == 400 and "refused" in body["error"] and "range" in body["error"]
    # Accepted values read back from the camera.
    assert view.request("api/control", {"name": "MEDIAN_FILTER_ENABLE", "value": True}) == \
        (200, {"name": "MEDIAN_FILTER_ENABLE", "value": 1})
    assert view.control("MEDIAN_FILTER_ENABLE") == 1
    view.request("api/control", {"name": "MEDIAN_FILTER_ENABLE", "value": 0})


def test_bad_modes_snapshots_and_recordings(view):
    assert view.request("api/mode", {"mode": "test-pattern"})[0] == 400
    assert view.request("api/mode", {"mode": ["dcs4"]})[0] == 400
    assert view.request("api/snapshot/phase.png")[0] == 404
    assert view.request("api/snapshot/dcs99.png")[0] == 404
    assert view.request("api/snapshot/distance.jpg")[0] == 404
    status, body = view.request("api/record", {"action": "start"})
    assert status == 409 and "dcs4" in body["error"]
    assert view.request("api/record", {"action": "delete"})[0] == 400


def test_recording_on_the_board(view):
    assert view.request("api/mode", {"mode": "dcs4"})[0] == 200
    try:
        assert view.request("api/record", {"action": "start"})[0] == 200
        wait_for(lambda: view.status()["recorded_frames"] >= 5, what="recorded frames")
        assert view.request("api/mode", {"mode": "dist-amp"})[0] == 409
        assert view.request("api/record", {"action": "stop"})[0] == 200
    finally:
        view.request("api/record", {"action": "stop"})
        view.request("api/mode", {"mode": "dist-amp"})
    files = list(view.record_dir.iterdir())
    assert len(files) == 1 and files[0].name.startswith("ozr-view-")
    with h5py.File(files[0], "r") as f:
        frames = f["dcs"].shape[0]
        assert frames >= 5 and f["dcs"].shape[1:] == (4, 240, 320)
        assert list(f["frame_number"][()]) == sorted(set(f["frame_number"][()]))


def test_viewers_beyond_the_limit_are_turned_away_and_gone_ones_free_their_place(view):
    u = urllib.parse.urlsplit(view.url)

    def open_stream():
        s = socket.create_connection((u.hostname, u.port), timeout=60)
        s.sendall(b"GET /stream HTTP/1.1\r\nHost: x\r\n\r\n")
        assert b"200 OK" in s.recv(4096)
        return s

    streams = [open_stream() for _ in range(3)]  # --max-clients 3; the last one never reads
    try:
        assert view.request("stream")[0] == 503
        # A viewer that stopped reading neither holds up the camera nor the others.
        before = wait_for(lambda: view.status()["frame"], what="a frame")["frame"]
        streams[0].recv(100000)
        time.sleep(2)
        assert view.status()["frame"]["frame"] > before + 2
    finally:
        for s in streams:
            s.close()
    wait_for(lambda: view.status()["viewers"] == 0, timeout=30, what="the streams to end")


def test_request_rate_is_bounded(view):
    statuses = [view.request("api/status")[0] for _ in range(400)]
    assert 429 in statuses and statuses[0] == 200
    time.sleep(5)  # the allowance refills
    assert view.request("api/status")[0] == 200


def read_frame_message(view):
    """The header fields and planes of the first frame message on a new stream."""
    with urllib.request.urlopen(view.url + "stream", timeout=60) as stream:
        while True:
            head = stream.read(64)
            magic, version, header, size, mode, count, w, h = struct.unpack_from("<4sHHIBBHH", head)
            assert (magic, version, header) == (b"OZRV", 1, 64)
            body = stream.read(size - 64)
            if count > 0:
                break
    fields = dict(zip(["flags", "number", "timestamp", "fps", "temperature", "valid", "centre",
                       "median", "median_amplitude", "median_grayscale", "near", "far"],
                      struct.unpack_from("<HIdfffHHHHHH", head, 18)))
    assert size == 64 + count * w * h * 2
    planes = {kind: array.array("H", body[p * w * h * 2:(p + 1) * w * h * 2])
              for p, kind in enumerate(head[60:60 + count])}
    return mode, w, h, fields, planes


def test_frame_messages_of_every_mode(view):
    mode, w, h, f, planes = read_frame_message(view)
    assert (mode, w, h, sorted(planes)) == (0, 320, 240, [1, 2])
    distance = planes[1]
    valid = sorted(d for d in distance if d < 64000)
    assert f["centre"] == distance[h // 2 * w + w // 2]
    assert f["median"] == valid[len(valid) // 2]
    assert (f["near"], f["far"]) == (valid[int(0.01 * (len(valid) - 1))],
                                     valid[int(0.99 * (len(valid) - 1))])
    assert abs(f["valid"] - 100 * len(valid) / (w * h)) < 0.01
    assert f["flags"] & 1 and 20 < f["temperature"] < 60
    try:
        for name, number, kinds in [("grayscale", 1, [3]), ("dcs4", 4, [16, 17, 18, 19]),
                                    ("hdr", 2, [1, 2])]:
            assert view.request("api/mode", {"mode": name})[0] == 200
            mode, w, h, f, planes = read_frame_message(view)
            assert (mode, sorted(planes)) == (number, kinds), name
            assert max(max(p) for p in planes.values()) > 0, name
    finally:
        view.request("api/mode", {"mode": "dist-amp"})


def test_an_image_too_late_does_not_end_the_stream(tmp_path):
    # The late image ends the camera's stream after about 10 frames; the
    # viewers go on getting frames.
    with running_view(tmp_path, ["--fail-ioctl", "DQBUF:ETIMEDOUT:40:1"]) as v:
        wait_for(lambda: (v.status()["frame"] or {}).get("frame", 0) > 30, timeout=90,
                 what="frames after the late image")
