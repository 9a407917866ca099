#!/usr/bin/python3
"""Streams 100 frames, prints the median distance of the image centre, and
saves the last frame's distance and amplitude as .npy files.

    ozr-sim -- /usr/bin/python3 examples/python/stream_distance.py [OUTDIR]
"""
import logging
import pathlib
import sys

import numpy as np

import ozrtofcam

FRAMES = 100
CENTRE = 16  # side of the centre square, pixels


def main():
    out = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".")
    out.mkdir(parents=True, exist_ok=True)
    # The library's warnings (missing calibration, ...) and errors.
    logging.basicConfig(level=logging.WARNING, format="%(name)s %(levelname)s: %(message)s")

    medians = []
    with ozrtofcam.Camera() as cam:
        cam.mode = ozrtofcam.Mode.DIST_AMP
        for frame in cam.frames(FRAMES):
            h, w = frame.height, frame.width
            centre = frame.distance[(h - CENTRE) // 2:(h + CENTRE) // 2,
                                    (w - CENTRE) // 2:(w + CENTRE) // 2]
            measured = centre[ozrtofcam.valid(centre)]  # pixel codes left out
            if measured.size:
                medians.append(float(np.median(measured)))
        last = frame

    if not medians:
        print("no valid pixel in the centre")
        return 1
    print(f"{len(medians)} frames of {last.width}x{last.height}, last frame {last.number}: "
          f"median centre distance {np.median(medians):.1f} mm "
          f"(frames from {min(medians):.1f} to {max(medians):.1f} mm)")
    np.save(out / "distance.npy", last.distance)
    np.save(out / "amplitude.npy", last.amplitude)
    print(f"saved {out / 'distance.npy'} and {out / 'amplitude.npy'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
