"""Speed and memory of velmaro-photo on a 24-megapixel photograph, side by side with
libjpeg-turbo's djpeg decoding the same file, and a pair of such photographs (a slit
along the scan, the second upside down) against reading the first alone:
    speed.py --program build/velmaro-photo --work DIR [--runs 7]
Prints the median times, their ratios, and the reader's peak memory."""

import argparse
import os
import statistics
import subprocess
import sys
import time

PHOTO = ["--photo-size", "6000x4000", "--scale", "4.6", "--keystone-x", "0.03",
         "--full-well", "8000", "--read-noise", "6", "--quality", "92"]
SLIT = ["--shutter", "focal-plane", "--travel-axis", "y", "--travel", "0.005", "--exposure", "1/250"]
CASES = {
    "CRT at 1/250 s": ["--rotation", "1.5", "--exposure", "1/250"],
    "LCD at 1/250 s": ["--rotation", "1.5", "--display", "lcd", "--exposure", "1/250"],
}


def timed(command, runs):
    """Median wall time of the command over runs, and its peak resident memory (KiB)."""
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def peak_memory(command):
    """The command's own peak resident memory, KiB."""
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        raise subprocess.CalledProcessError(process.returncode, command)
    return usage.ru_maxrss


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--runs", type=int, default=7)
    opts = parser.parse_args()
    os.makedirs(opts.work, exist_ok=True)
    print("| Photograph | simulate | djpeg | read | read / djpeg | read's peak memory |")
    print("|---|---|---|---|---|---|")
    for name, arguments in CASES.items():
        photo = os.path.join(opts.work, name.split()[0].lower() + "-24mp.jpg")
        simulate = timed([opts.program, "simulate", "--out", photo, *PHOTO, *arguments], 1)
        djpeg = timed(["djpeg", "-outfile", os.devnull, photo], opts.runs)
        read = [opts.program, "read", photo, "--refresh", "85"]
        reading = timed(read, opts.runs)
        memory = peak_memory(read)
        print(f"| {name}, 6000x4000 JPEG ({os.path.getsize(photo) / 1e6:.1f} MB) | {simulate:.2f} s | "
              f"{djpeg * 1000:.0f} ms | {reading * 1000:.0f} ms | {reading / djpeg:.2f} | {memory / 1024:.0f} MiB |")
    print()
    print("| Pair | read the first | read the pair | pair / one reading | pair's peak memory |")
    print("|---|---|---|---|---|")
    first, second = (os.path.join(opts.work, name) for name in ("pair-upright-24mp.jpg", "pair-upside-down-24mp.jpg"))
    timed([opts.program, "simulate", "--out", first, *PHOTO, *SLIT, "--rotation", "1.5"], 1)
    timed([opts.program, "simulate", "--out", second, *PHOTO, *SLIT, "--rotation", "181.5", "--seed", "2"], 1)
    one = timed([opts.program, "read", first, "--refresh", "85"], opts.runs)
    pair = [opts.program, "read", first, second, "--refresh", "85"]
    both = timed(pair, opts.runs)
    print(f"| a 5 ms slit along the scan, 6000x4000 JPEGs | {one * 1000:.0f} ms | {both * 1000:.0f} ms | "
          f"{both / one:.2f} | {peak_memory(pair) / 1024:.0f} MiB |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
