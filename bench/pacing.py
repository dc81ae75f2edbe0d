"""End-to-end measures of the real program under Wine on a virtual screen:
  - frames per timer message: composed frames (copies onto the back buffer) and flips
    against the WM_TIMER messages of timer 1, counted from Wine's own traces;
  - start-up: time from starting the process to the first frame on the screen."""

import argparse
import os
import re
import statistics
import subprocess
import sys
import time

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
sys.path.insert(0, os.path.join(ROOT, "tools"))
from pattern_picture import classify, phase_pictures  # noqa: E402
from wine_driver import WINE, Program, Screen, prefix_for  # noqa: E402


def frames_per_timer(opts, seconds):
    with Screen(1024, 768) as screen:
        program = Program(screen, opts.program, [], opts.state, debug="-all,trace+ddraw,trace+msg")
        try:
            program.main_window()
            time.sleep(seconds)
            # Closed by a posted WM_CLOSE, not by Esc: with every call traced a frame
            # outlasts the timer's interval, and Wine then reads no keyboard input
            # between timer messages. Killing it would leave Wine in its 8-bit mode.
            env = dict(screen.env(), WINEPREFIX=prefix_for(opts.state, 1024, 768), WINEDEBUG="-all")
            subprocess.run([WINE, "taskkill", "/im", "velmaro.exe"], env=env, capture_output=True)
            program.wait(30)
            log = open(program.stderr_path, "rb").read().decode("latin-1")
        finally:
            program.kill()
    timers = len(re.findall(r"got type \d+ msg 113 \(WM_TIMER\) hwnd \S+ wp 1 ", log))
    copies = len(re.findall(r"ddraw_surface7_BltFast .*src_rect \(0,0\)-\(1024,768\)", log))
    flips = len(re.findall(r"ddraw_surface7_Flip ", log))
    return timers, copies, flips


def start_up_seconds(opts, runs):
    pictures = phase_pictures(os.path.join(ROOT, "resources", "pattern.bmp"), 1024, 768)
    times = []
    for _ in range(runs):
        with Screen(1024, 768) as screen:
            start = time.monotonic()
            program = Program(screen, opts.program, [], opts.state)
            try:
                program.wait_for("the first frame",
                                 lambda: classify(screen.screenshot()[2], pictures, 1024)[0] is not None, 30)
                times.append(time.monotonic() - start)
                program.end_with_escape(program.main_window())
            finally:
                program.kill()
    return times


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--state", required=True)
    parser.add_argument("--seconds", type=float, default=5)
    parser.add_argument("--runs", type=int, default=5)
    opts = parser.parse_args()

    timers, copies, flips = frames_per_timer(opts, opts.seconds)
    ratio = copies / timers if timers else float("nan")
    print(f"pacing: {timers} WM_TIMER messages of timer 1, {copies} frames composed, {flips} flips "
          f"in {opts.seconds:.0f} s: {ratio:.3f} frames per timer message (must be 1)")
    times = start_up_seconds(opts, opts.runs)
    print(f"start-up to first frame on screen: median {statistics.median(times) * 1000:.0f} ms "
          f"(runs: {', '.join(f'{t * 1000:.0f}' for t in times)} ms)")
    return 0 if timers and copies == timers == flips else 1


if __name__ == "__main__":
    sys.exit(main())
