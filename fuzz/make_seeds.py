#!/usr/bin/python3
"""Writes the seed corpora of the fuzz targets.

    make_seeds.py OZR_SIM OZR_CAPTURE OUTDIR

OZR_SIM is the virtual driver's launcher, whose "calibrate" command writes
the calibration seeds' directories; OZR_CAPTURE records the recording seeds
on it. OUTDIR receives one directory per target (calibration, device_data,
control_sequence, recording). The seeds are deterministic, except for the
timestamps inside the recordings: running the script again writes the same
files.
"""
import json
import os
import random
import struct
import subprocess
import sys
import tempfile


class Provider:
    """Builds inputs for FuzzedDataProvider: integers are taken from the end
    of the input, one byte per eight bits of their range, the most
    significant first; byte strings from the front."""

    def __init__(self):
        self.front = bytearray()
        self.back = bytearray()  # in consumption order

    def integral(self, lo, hi, value):
        span, raw, n = hi - lo, value - lo, 0
        while n < 8 and (span >> (8 * n)) > 0:
            n += 1
        for i in reversed(range(n)):
            self.back.append((raw >> (8 * i)) & 0xFF)

    def u8(self, value):
        self.integral(0, 255, value)

    def i32(self, value):
        self.integral(-(1 << 31), (1 << 31) - 1, value)

    def boolean(self, value):
        self.u8(1 if value else 0)

    def bytes(self, data):
        self.front += data

    def data(self):
        return bytes(self.front) + bytes(reversed(self.back))


def pixels(rng, count, saturated=False):
    """Raw samples as the driver delivers them: 12 bits in the upper bits."""
    out = bytearray()
    for _ in range(count):
        v = rng.choice((0, 4095)) if saturated and rng.random() < 0.2 else rng.randrange(4096)
        out += struct.pack("<H", v << 4)
    return out


def write(outdir, target, name, data):
    os.makedirs(os.path.join(outdir, target), exist_ok=True)
    with open(os.path.join(outdir, target, name), "wb") as f:
        f.write(data)


# Modes as the device-data target picks them.
MODES = {"dist_amp": 0, "grayscale": 1, "hdr": 2, "dcs4": 3}
IMAGES = {"dist_amp": 4, "grayscale": 1, "hdr": 12, "dcs4": 4}


def device_seeds(outdir):
    rng = random.Random(1)
    sizes = [(8, 6), (7, 5), (0, 4), (5, 0), (1, 1), (2, 33), (67, 3)]
    n = 0
    for model in (False, True):
        for mode, index in MODES.items():
            for w, h in sizes[: 3 if mode == "hdr" else len(sizes)]:
                p = Provider()
                p.boolean(model)
                p.integral(0, 3, index)
                p.integral(0, 67, w)
                p.integral(0, 33, h)
                p.integral(0, 15, 4)
                controls = []
                if mode in ("dist_amp", "hdr") and n % 3 == 0:
                    # filters, interference detection and rolling modes on
                    controls = [(17, 1), (19, 1), (20, 1), (21, 1), (22, 1), (25, 1), (28, 1), (9 if mode == "dist_amp" else 8, 1)]
                p.integral(0, 8, len(controls))
                for cid, value in controls:
                    p.u8(cid)
                    p.i32(value)
                frames = 2
                p.integral(1, 4, frames)
                p.bytes(pixels(rng, w * h * IMAGES[mode] * frames, saturated=True))
                write(outdir, "device_data", f"{'ozr310' if model else 'ozr320'}-{mode}-{w}x{h}", p.data())
                n += 1


def pack(header, files):
    out = bytearray(header)
    for name, content in files:
        out += b"\n@@" + name.encode() + b"\n" + content
    return bytes(out)


def header(flags, w, h, freqs):
    return struct.pack("<BBBB3I", flags, w, h, 0, *freqs)


def calibration_seeds(ozr_sim, outdir):
    rng = random.Random(2)
    for model, flags, (w, h) in (("ozr320", 2, (8, 6)), ("ozr310", 3, (8, 6))):
        with tempfile.TemporaryDirectory() as d:
            subprocess.run([ozr_sim, "calibrate", d, "--model", model, "--width", str(w),
                            "--height", str(h)], check=True)
            with open(os.path.join(d, "calibration_info.json"), "rb") as f:
                index = f.read()
            files = [("calibration_info.json", index)]
            for name in sorted(os.listdir(d)):
                if name != "calibration_info.json":
                    with open(os.path.join(d, name), "rb") as f:
                        files.append((name, f.read()))
            info = json.loads(index)
            freqs = sorted(e["modulation_frequency_hz"] for e in info.get("phaseOffsetData", []))
            between = (freqs[0] + freqs[1]) // 2 if len(freqs) > 1 else 0
            frame = ("frame", pixels(rng, w * h * 4))
            write(outdir, "calibration", f"{model}-sim",
                  pack(header(flags, w, h, (between, freqs[-1] + 1, freqs[0])), files + [frame]))
            # The grayscale section alone, and the phase sections alone.
            gray = {"grayscale": info["grayscale"]} if "grayscale" in info else {}
            phase = {k: v for k, v in info.items() if k != "grayscale"}
            for part, section in (("grayscale", gray), ("phase", phase)):
                keep = json.dumps(section, indent=1).encode()
                used = [f for f in files[1:] if f[0].encode() in keep]
                write(outdir, "calibration", f"{model}-{part}",
                      pack(header(flags, w, h, (between, 0, 0)),
                           [("calibration_info.json", keep)] + used + [frame]))

    # Hand-made cases: sizes that disagree with the files and the frames,
    # keys of the wrong type, an empty table, interpolation between tables of
    # different sizes.
    img = lambda n: bytes(rng.randrange(256) for _ in range(2 * n))
    cases = {
        "sizes-disagree": ({"phaseOffsetData": [
            {"modulation_frequency_hz": 10000000, "width": 4, "height": 4, "offset_file": "a.bin",
             "ozr_temperature_sensor0_c": 30, "ozr_temperature_sensor1_c": 30,
             "ozr_temperature_sensor2_c": 30, "ozr_temperature_sensor3_c": 30},
            {"modulation_frequency_hz": 20000000, "width": 2, "height": 3, "offset_file": "b.bin",
             "ozr_temperature_sensor0_c": 40, "ozr_temperature_sensor1_c": 40,
             "ozr_temperature_sensor2_c": 40, "ozr_temperature_sensor3_c": 40}],
            "phaseErrorLUTData": [
            {"modulation_frequency_hz": 10000000, "lut_size": 16, "lut_file": "c.bin"},
            {"modulation_frequency_hz": 20000000, "lut_size": 4, "lut_file": "d.bin"}],
            "grayscale": {"dsnu_file": "e.bin", "prnu_file": "f.bin", "prnu_scale_factor": 1000,
                          "width": 3, "height": 2}},
            [("a.bin", img(16)), ("b.bin", img(6)), ("c.bin", img(16)), ("d.bin", img(4)),
             ("e.bin", img(6)), ("f.bin", img(6))], (15000000, 10000000, 20000000)),
        "wrong-types": ({"phaseOffsetData": [
            {"modulation_frequency_hz": "10", "width": 2.5, "height": True, "offset_file": 3}],
            "phaseErrorLUTData": {"lut_size": 1},
            "grayscale": {"drnu_file": ["x"], "prnu_file": "f.bin", "width": -1, "height": 1e30}},
            [("f.bin", img(2))], (10, 0, 0)),
        "empty-table": ({"phaseErrorLUTData": [
            {"modulation_frequency_hz": 10000000, "lut_size": 0, "lut_file": "z.bin"}],
            "grayscale": {"drnu_file": "z.bin", "dsnu_file": "y.bin", "prnu_file": "z.bin",
                          "prnu_scale_factor": 0, "width": 0, "height": 7}},
            [("z.bin", b""), ("y.bin", img(1))], (10000000, 0, 0)),
    }
    for name, (index, files, freqs) in cases.items():
        frame = ("frame", pixels(rng, 4 * 3 * 4))
        write(outdir, "calibration", name,
              pack(header(2, 4, 3, freqs),
                   [("calibration_info.json", json.dumps(index).encode())] + files + [frame]))
    write(outdir, "calibration", "malformed",
          pack(header(3, 2, 2, (0, 0, 0)), [("calibration_info.json", b'{"grayscale": {,}')]))


# Operations of the control-sequence target, in its order.
OPS = ["open", "close", "start", "stop", "set", "set_in_range", "get", "mode", "capture",
       "disconnect", "faults"]


def control_seeds(outdir):
    def config(p, ozr310, w, h, bytesused=0):
        p.boolean(ozr310)
        p.integral(1, 16, w)
        p.integral(1, 12, h)
        p.u8(1)  # hwmon
        p.u8(1)  # seed
        p.u8(0)  # no stall
        p.integral(0, 7, bytesused)
        p.u8(0)  # never disconnected
        p.integral(0, 2, 0)  # no failing request

    def op(p, name, *args):
        p.integral(0, len(OPS) - 1, OPS.index(name))
        if name in ("set_in_range",):
            cid, value, lo, hi = args
            p.integral(0, 29, cid)
            p.integral(lo, hi, value)
        elif name == "set":
            p.u8(args[0])
            p.i32(args[1])
        elif name == "get":
            p.u8(args[0])
        elif name == "mode":
            p.integral(0, 5, args[0])

    sequences = {
        "stream": [("open",), ("start",), ("capture",), ("capture",), ("stop",), ("close",)],
        "single": [("open",), ("capture",), ("mode", 2), ("capture",), ("mode", 1), ("capture",)],
        "modes-streaming": [("open",), ("start",), ("mode", 4), ("capture",), ("mode", 0),
                            ("set_in_range", 2, 20000000, 4000000, 101000000), ("capture",)],
        "controls": [("open",), ("set_in_range", 21, 1, -2, 1100), ("set_in_range", 25, 1, -2, 1100),
                     ("set", 23, 53), ("get", 23), ("set", 200, 1), ("get", 255), ("capture",)],
        "vanish": [("open",), ("start",), ("capture",), ("disconnect",), ("capture",), ("stop",),
                   ("close",), ("open",)],
    }
    for ozr310 in (False, True):
        for name, seq in sequences.items():
            p = Provider()
            config(p, ozr310, 4, 3, bytesused=1 if name == "vanish" else 0)
            p.integral(0, 2, 2 if ozr310 else 1)  # the camera's model
            for step in seq:
                op(p, *step)
            write(outdir, "control_sequence", f"{'ozr310' if ozr310 else 'ozr320'}-{name}", p.data())


def recording_seeds(ozr_sim, ozr_capture, outdir):
    """Two frames of each model and recordable mode, recorded on a virtual
    sensor of the smallest size that keeps a file of a few kilobytes."""
    for model, (w, h) in (("ozr320", (8, 6)), ("ozr310", (16, 6))):
        for mode in ("dcs4", "hdr"):
            with tempfile.TemporaryDirectory() as d:
                path = os.path.join(d, "rec.h5")
                subprocess.run([ozr_sim, "--model", model, "--width", str(w), "--height", str(h),
                                "--calibration", "--", ozr_capture, "--model", model,
                                "--mode", mode, "--frames", "2", "--record", path, "--quiet"],
                               check=True)
                with open(path, "rb") as f:
                    write(outdir, "recording", f"{model}-{mode}", f.read())


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    ozr_sim, ozr_capture, outdir = sys.argv[1], sys.argv[2], sys.argv[3]
    device_seeds(outdir)
    calibration_seeds(ozr_sim, outdir)
    control_seeds(outdir)
    recording_seeds(ozr_sim, ozr_capture, outdir)


if __name__ == "__main__":
    main()
