"""End-to-end cases against the real program: run_case.py CASE --program EXE --state DIR"""

import argparse
import contextlib
import os
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(ROOT, "tools"))
from pattern_picture import classify, phase_pictures  # noqa: E402
from wine_driver import Failure, Program, Screen, check, loader_for  # noqa: E402

HEIGHT_WARNING = "The vertical resolution is limited to 768 lines! Use a lower resolution."
NO_DIRECTDRAW = "Could not create DirectDraw! Make sure at least DirectX 7 is installed."
NO_MODE = "Could not set the requested display mode! Try another resolution of refresh rate."
RULER = os.path.join(ROOT, "resources", "pattern.bmp")
SKIPPED = 77  # the tests' SKIP_RETURN_CODE
CASES = {}


def case(function):
    CASES[function.__name__] = function
    return function


@contextlib.contextmanager
def running(opts, args=(), size=(1024, 768), white_root=False, dll_overrides=""):
    """The program started with args on a screen of the given size."""
    with Screen(*size, white_root=white_root) as screen:
        program = Program(screen, opts.program, list(args), opts.state, dll_overrides=dll_overrides)
        try:
            yield screen, program
        finally:
            program.kill()


def expect_exit_zero(program, timeout=20):
    code = program.wait(timeout)
    check(code == 0, f"exit code {code}, expected 0")


def press_and_expect_end(opts, key, args=()):
    with running(opts, args) as (screen, program):
        window = program.main_window()
        check(program.message_boxes() == [], f"boxes shown: {program.message_boxes()}")
        screen.key(window, key)
        expect_exit_zero(program)


def expect_box_then_end(program, screen, text):
    box, shown = program.message_box()
    check(shown == text, f"box text {shown!r}")
    screen.key(box, "Return")
    expect_exit_zero(program)
    check(program.message_boxes() == [text], f"boxes shown: {program.message_boxes()}")
    return box


@case
def black_window_without_directdraw(opts):
    """With DirectDraw missing, the black full-screen window stands behind the step-1 box."""
    with running(opts, white_root=True, dll_overrides="ddraw=d") as (screen, program):
        box, text = program.message_box()
        check(text == NO_DIRECTDRAW, f"box text {text!r}")
        window = program.main_window()
        check(screen.geometry(window) == (0, 0, 1024, 768), f"window geometry {screen.geometry(window)}")
        bx, by, bw, bh = screen.geometry(box)
        width, height, rgb = screen.screenshot()
        outside = [rgb[3 * (y * width + x):3 * (y * width + x) + 3] for y in range(0, height, 7)
                   for x in range(0, width, 7) if not (bx <= x < bx + bw and by <= y < by + bh)]
        not_black = sum(pixel != b"\0\0\0" for pixel in outside)
        check(not_black == 0, f"{not_black} of {len(outside)} sampled pixels around the box are not black")
        screen.key(box, "Return")
        expect_exit_zero(program)


def expect_five_phases(opts, width, height, args):
    pictures = phase_pictures(RULER, width, height)
    with running(opts, args, (width, height)) as (screen, program):
        window = program.main_window()
        seen = set()

        def next_phase():
            shot_width, shot_height, rgb = screen.screenshot()
            check((shot_width, shot_height) == (width, height), f"screen is {shot_width}x{shot_height}")
            phase, difference = classify(rgb, pictures, width)
            if phase is None and rgb.count(0) == len(rgb):
                return None  # the first frame is not up yet
            check(phase is not None, f"a screenshot matches no phase: {difference}")
            seen.add(phase)
            return len(seen) == 5
        program.wait_for("all five phases on the screen", next_phase, timeout=60)
        check(program.message_boxes() == [], f"boxes shown: {program.message_boxes()}")
        screen.key(window, "Escape")
        expect_exit_zero(program)


@case
def five_phases_1024x768(opts):
    expect_five_phases(opts, 1024, 768, [])


@case
def five_phases_800x600(opts):
    expect_five_phases(opts, 800, 600, ["-x800", "-y600"])


@case
def refused_mode_is_reported(opts):
    with running(opts, ["-x800", "-y600"]) as (screen, program):
        expect_box_then_end(program, screen, NO_MODE)
        check(screen.windows("Velmaro") == [], f"windows left: {screen.windows('Velmaro')}")


@case
def escape_ends_with_zero(opts):
    press_and_expect_end(opts, "Escape")


@case
def f12_ends_with_zero(opts):
    press_and_expect_end(opts, "F12")


@case
def other_key_keeps_running(opts):
    with running(opts) as (screen, program):
        window = program.main_window()
        for key in ("Return", "space", "a", "F11", "F1", "Tab"):
            screen.key(window, key)
        check(program.still_running_after(3), f"the program ended with {program.process.returncode}")
        check(screen.windows("Velmaro") == [window], "the window went away")


@case
def height_769_warns(opts):
    with running(opts, ["-y769"]) as (screen, program):
        box, _ = program.message_box()
        check(screen.windows("Velmaro") == [box], f"windows titled Velmaro: {screen.windows('Velmaro')}")
        expect_box_then_end(program, screen, HEIGHT_WARNING)


@case
def height_768_no_warning(opts):
    press_and_expect_end(opts, "Escape", ["-y768"])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("case", choices=sorted(CASES))
    parser.add_argument("--program", required=True)
    parser.add_argument("--state", required=True)
    opts = parser.parse_args()
    if loader_for(opts.program) is None:
        print(f"skipped {opts.case}: {opts.program} is a 32-bit program, and Debian's 32-bit Wine "
              "(wine32:i386, which needs the i386 architecture added to dpkg) is not installed")
        return SKIPPED
    try:
        CASES[opts.case](opts)
    except Failure as failure:
        print(f"FAILED {opts.case}: {failure}")
        return 1
    print(f"passed {opts.case}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
