"""Runs the real program for a while under Wine on a virtual screen and samples its
resident memory, its open handles (Windows handles as Wine lists them, and the Unix
descriptors of its process) and its GDI and USER objects where Wine counts them.
Fails when any of them keeps growing: when the lowest value of the last third of
the samples is above the highest of the first third by more than a small margin."""

import argparse
import os
import re
import subprocess
import sys
import time

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
sys.path.insert(0, os.path.join(ROOT, "tools"))
from wine_driver import WINE, Program, Screen, prefix_for  # noqa: E402

WARM_UP_SECONDS = 15
MARGINS = {"rss_kib": 1024, "handles": 2, "fds": 2, "gdi": 2, "user": 2}


def sample(program, screen, opts):
    pid = program.process.pid  # Wine's loader becomes the program's own process
    with open(f"/proc/{pid}/status") as status:
        rss = int(re.search(r"VmRSS:\s+(\d+)", status.read()).group(1))
    fds = len(os.listdir(f"/proc/{pid}/fd"))
    env = dict(screen.env(), WINEPREFIX=prefix_for(opts.state, screen.width, screen.height), WINEDEBUG="-all")
    out = subprocess.run([WINE, opts.probe, "velmaro.exe"], env=env, capture_output=True, text=True).stdout
    counts = dict((k, int(v)) for k, v in re.findall(r"(\w+)=(-?\d+)", out))
    return {"rss_kib": rss, "fds": fds, "handles": counts.get("handles", -1), "gdi": counts.get("gdi", 0),
            "user": counts.get("user", 0)}


def growing(samples, key):
    values = [s[key] for s in samples]
    third = max(1, len(values) // 3)
    return min(values[-third:]) > max(values[:third]) + MARGINS[key]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("minutes", type=float, nargs="?", default=10)
    parser.add_argument("--program", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--state", required=True)
    parser.add_argument("--interval", type=float, default=5)
    opts = parser.parse_args()

    samples = []
    with Screen(1024, 768) as screen:
        program = Program(screen, opts.program, [], opts.state)
        try:
            window = program.main_window()
            start = time.monotonic()
            time.sleep(WARM_UP_SECONDS)
            while time.monotonic() - start < max(opts.minutes * 60, WARM_UP_SECONDS + 3 * opts.interval):
                samples.append(sample(program, screen, opts))
                print(f"{time.monotonic() - start:6.0f} s  " +
                      "  ".join(f"{k} {v}" for k, v in samples[-1].items()), flush=True)
                time.sleep(opts.interval)
            code = program.end_with_escape(window)
        finally:
            program.kill()
    failures = [key for key in MARGINS if growing(samples, key)]
    reported = [key for key in ("gdi", "user") if any(s[key] > 0 for s in samples)]
    print(f"{len(samples)} samples over {opts.minutes:g} min; GDI/USER objects "
          f"{'reported' if reported else 'not reported by Wine (always 0)'}; exit code {code}")
    for key in MARGINS:
        values = [s[key] for s in samples]
        print(f"  {key}: first {values[0]}, last {values[-1]}, lowest {min(values)}, highest {max(values)}"
              f"{'  KEEPS GROWING' if key in failures else ''}")
    if any(s["handles"] < 0 for s in samples):
        print("  handles could not be listed")
        return 1
    return 1 if failures or code != 0 else 0


if __name__ == "__main__":
    sys.exit(main())
