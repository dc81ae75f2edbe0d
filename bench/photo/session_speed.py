"""Speed of a shutter-test session: 24 photographs of 24 megapixels (eight marked speeds,
three shots each, EXIF carrying the speed) read by `velmaro-photo session` over every
core, against reading them one after another with `velmaro-photo read`:
    session_speed.py --program build/velmaro-photo --work DIR [--runs 5]
Prints both times (the serial one the sum of each photograph's median time), serial
time / cores, and the session's ratio to it (target: at most 1.3); beside them the
session with --jobs 1, one photograph at a time in one process, which leaves out the
program's start for each photograph. The photographs are simulated
once into DIR/session-24mp and kept."""

import argparse
import os
import subprocess
import sys

from speed import PHOTO, timed

MARKED = ["1/4000", "1/2000", "1/1000", "1/500", "1/250", "1/125", "1/60", "1/30"]
SHOTS = 3
TARGET = 1.3


def simulate(program, folder):
    """The session's photographs, each a little off its marked speed and started on another line."""
    os.makedirs(folder, exist_ok=True)
    photos = []
    for m, marked in enumerate(MARKED):
        for shot in range(SHOTS):
            photo = os.path.join(folder, f"DSC{m * SHOTS + shot + 1:04d}.jpg")
            numerator, denominator = marked.split("/")
            exposure = int(numerator) / int(denominator) * (1 + 0.03 * (shot - 1))
            if not os.path.exists(photo):
                subprocess.run([program, "simulate", "--out", photo, *PHOTO, "--rotation", "1.5",
                                "--exposure", f"{exposure:.7f}",
                                "--start-line", str(100 + 37 * shot + 11 * m), "--seed", str(m * SHOTS + shot + 1),
                                "--exif-exposure", marked, "--exif-make", "Velmaro", "--exif-model", "Sim"],
                               check=True)
            photos.append((photo, marked))
    return photos


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--runs", type=int, default=5)
    opts = parser.parse_args()
    folder = os.path.join(opts.work, "session-24mp")
    photos = simulate(opts.program, folder)
    cores = os.cpu_count() or 1
    serial = sum(timed([opts.program, "read", photo, "--refresh", "85", "--marked", marked], opts.runs)
                 for photo, marked in photos)
    # Every shot is within 3 % of its marked speed: every row passes, and a status but 0
    # is a fault.
    session = timed([opts.program, "session", folder, "--refresh", "85"], opts.runs)
    one_job = timed([opts.program, "session", folder, "--refresh", "85", "--jobs", "1"], opts.runs)
    ratio = session / (serial / cores)
    print("\nA session of 24 photographs of 24 megapixels over the cores, against reading them one after another "
          f"(target: the session at most {TARGET} times the serial time over the cores):")
    print("| Photographs | cores | read, one after another | / cores | session | session / (serial / cores) | target "
          "| session --jobs 1 | session / (--jobs 1 / cores) |")
    print("|---|---|---|---|---|---|---|---|---|")
    print(f"| {len(photos)} of 24 megapixels | {cores} | {serial:.2f} s | {serial / cores:.2f} s | {session:.2f} s | "
          f"{ratio:.2f} | {TARGET} | {one_job:.2f} s | {session / (one_job / cores):.2f} |")
    print("Within the target." if ratio <= TARGET else "Over the target.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
