"""Runs velmaro.exe on a virtual screen of the mode's size, saves screenshots as PNG
files, prints their paths, and ends the program with Esc. With --phases it saves one
screenshot of each of the five phases instead (phase-0.png to phase-4.png). Wine's
server and its helper processes are stopped when the run ends."""

import argparse
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pattern_picture import classify, phase_pictures  # noqa: E402
from wine_driver import Failure, Program, Screen, mode_size, write_png  # noqa: E402

RULER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources", "pattern.bmp")


def save_shots(screen, out, count):
    for shot in range(1, count + 1):
        path = os.path.join(out, f"velmaro-{screen.width}x{screen.height}-{shot}.png")
        write_png(path, *screen.screenshot())
        print(path)
        time.sleep(0.05)


def save_phases(program, screen, out):
    """Saves each phase's screenshot as it comes, and prints the paths in the order of
    the phases once all five are saved (or those saved, when some never came)."""
    pictures = phase_pictures(RULER, screen.width, screen.height)
    saved = {}
    for phase in range(5):  # no picture of an earlier run passes for one of this run
        if os.path.exists(os.path.join(out, f"phase-{phase}.png")):
            os.remove(os.path.join(out, f"phase-{phase}.png"))

    def next_shot():
        width, height, rgb = screen.screenshot()
        phase, _ = classify(rgb, pictures, width)
        if phase is not None and phase not in saved:
            path = os.path.join(out, f"phase-{phase}.png")
            write_png(path, width, height, rgb)
            saved[phase] = path
        return len(saved) == 5
    try:
        program.wait_for("all five phases", next_shot, 60)
    except Failure as failure:
        missing = sorted(set(range(5)) - set(saved))
        raise Failure(f"no screenshot of phase {', '.join(map(str, missing))}: {failure}") from failure
    finally:
        for phase in sorted(saved):
            print(saved[phase])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--state", required=True)
    parser.add_argument("--warmup", required=True)
    parser.add_argument("--env-script", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--shots", type=int, default=5)
    parser.add_argument("--phases", action="store_true")
    parser.add_argument("args", nargs="*")
    opts = parser.parse_args()

    width, height = mode_size(opts.args)
    print(f"Starting Wine for a {width}x{height} screen (the first time, its set-up takes a minute)", flush=True)
    try:
        setup = subprocess.run([opts.env_script, "prefix", opts.state, f"{width}x{height}", opts.warmup],
                               stdout=subprocess.DEVNULL, check=False)
        if setup.returncode != 0:  # the set-up said why on standard error
            print(f"Wine could not be set up for a {width}x{height} screen in {opts.state}", file=sys.stderr)
            return 1
        os.makedirs(opts.out, exist_ok=True)
        print(f"Running {os.path.basename(opts.program)} {' '.join(opts.args)}".rstrip(), flush=True)
        return run(opts, width, height)
    finally:
        subprocess.run([opts.env_script, "down", opts.state], check=False)


def run(opts, width, height):
    with Screen(width, height) as screen:
        program = Program(screen, opts.program, opts.args, opts.state)
        try:
            try:
                window = program.wait_for("the picture or a message box",
                                          lambda: program.message_boxes() or program.find_main_window(), 30)
            except Failure as failure:
                print(f"velmaro showed no picture: {failure}")
                return 1
            if isinstance(window, list):
                print(f"velmaro showed a message box: {window[0]}")
                return 1
            time.sleep(1.0)
            try:
                if opts.phases:
                    save_phases(program, screen, opts.out)
                else:
                    save_shots(screen, opts.out, opts.shots)
            except Failure as failure:
                print(f"velmaro: {failure}")
                return 1
            screen.key(window, "Escape")
            code = program.wait(20)
            print(f"velmaro ended with exit code {code}")
            return code
        finally:
            program.kill()


if __name__ == "__main__":
    sys.exit(main())
