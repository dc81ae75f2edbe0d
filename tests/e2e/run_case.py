"""End-to-end cases against the real program: run_case.py CASE --program EXE --state DIR"""

import argparse
import contextlib
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(ROOT, "tools"))
from pattern_picture import classify, phase_pictures  # noqa: E402
from check_cases import SKIPPED, Cases, Skipped, run  # noqa: E402
from wine_driver import Failure, Program, Screen, check, loader_for  # noqa: E402

HEIGHT_WARNING = "The vertical resolution is limited to 768 lines! Use a lower resolution."
NO_DIRECTDRAW = "Could not create DirectDraw! Make sure at least DirectX 7 is installed."
NO_MODE = "Could not set the requested display mode! Try another resolution of refresh rate."
RULER = os.path.join(ROOT, "resources", "pattern.bmp")
CASES = case = Cases()


@contextlib.contextmanager
def running(opts, args=(), size=(1024, 768), white_root=False, dll_overrides="", window_manager=False):
    """The program started with args on a screen of the given size."""
    with Screen(*size, white_root=white_root, window_manager=window_manager) as screen:
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


def wait_for_five_phases(screen, program, timeout=60, settled=True, what="all five phases on the screen",
                         pictures=None):
    """Waits until each of the five phase pictures has been on the screen. settled: every
    screenshot but an all-black one (the first frame not up yet) must be one of them;
    otherwise other pictures may come first (surfaces being brought back). pictures: RGB
    bytes of the five, by default those worked out here from the ruler."""
    if pictures is None:
        pictures = phase_pictures(RULER, screen.width, screen.height)
    seen = set()
    last = ["none taken"]

    def next_phase():
        shot_width, shot_height, rgb = screen.screenshot()
        check((shot_width, shot_height) == (screen.width, screen.height), f"screen is {shot_width}x{shot_height}")
        phase, difference = classify(rgb, pictures, screen.width)
        if phase is None:
            last[0] = "all black" if rgb.count(0) == len(rgb) else difference
            if not settled or rgb.count(0) == len(rgb):
                return None
        check(phase is not None, f"a screenshot matches no phase: {difference}")
        seen.add(phase)
        return len(seen) == 5
    try:
        program.wait_for(what, next_phase, timeout)
    except Failure as failure:
        raise Failure(f"{failure}; phases seen {sorted(seen)}, last other screenshot: {last[0]}") from None


def expect_five_phases(opts, width, height, args):
    with running(opts, args, (width, height)) as (screen, program):
        window = program.main_window()
        wait_for_five_phases(screen, program)
        check(program.message_boxes() == [], f"boxes shown: {program.message_boxes()}")
        screen.key(window, "Escape")
        expect_exit_zero(program)


@case
def five_phases_1024x768(opts):
    expect_five_phases(opts, 1024, 768, [])


@case
def five_phases_800x600(opts):
    expect_five_phases(opts, 800, 600, ["-x800", "-y600"])


def read_pgm(path):
    """(width, height, grey bytes) of a binary PGM with 8-bit values."""
    data = open(path, "rb").read()
    fields, at = [], 0
    while len(fields) < 4:
        while at < len(data) and data[at:at + 1].isspace():
            at += 1
        end = at
        while end < len(data) and not data[end:end + 1].isspace():
            end += 1
        check(end > at, f"{path}: header ends after {fields}")
        fields.append(data[at:end])
        at = end
    check(fields[0] == b"P5", f"{path}: magic {fields[0]!r}, expected b'P5'")
    check(all(f.isdigit() for f in fields[1:]), f"{path}: header {fields}")
    width, height, maximum = (int(f) for f in fields[1:])
    check(maximum == 255, f"{path}: maximum grey {maximum}, expected 255")
    grey = data[at + 1:]
    check(len(grey) == width * height, f"{path}: {len(grey)} bytes of pixels, expected {width}x{height}")
    return width, height, grey


def photo_pictures(opts, width, height):
    """RGB bytes of the five pictures that velmaro-photo writes for the mode, phase 0 first."""
    if not opts.photo:
        raise Skipped("this build leaves velmaro-photo out (VELMARO_PHOTO is off)")
    if not os.access(opts.photo, os.X_OK):
        raise Skipped(f"velmaro-photo was not built: no program {opts.photo}")
    out_dir = tempfile.mkdtemp(prefix="velmaro-photo-pictures-")
    try:
        mode = f"{width}x{height}"
        result = subprocess.run([opts.photo, "pictures", "--mode", mode, "--out-dir", out_dir, "--format", "pgm"],
                                capture_output=True, text=True, timeout=60)
        check(result.returncode == 0, f"velmaro-photo pictures --mode {mode} ended with {result.returncode}: "
                                      f"{result.stderr.strip()!r}")
        names = sorted(os.listdir(out_dir))
        expected = [f"phase-{phase}.pgm" for phase in range(5)]
        check(names == expected, f"velmaro-photo wrote {names}, expected {expected}")
        pictures = []
        for name in expected:
            shape = read_pgm(os.path.join(out_dir, name))
            check(shape[:2] == (width, height), f"{name} is {shape[0]}x{shape[1]}, expected {mode}")
            rgb = bytearray(3 * len(shape[2]))
            for channel in range(3):
                rgb[channel::3] = shape[2]
            pictures.append(bytes(rgb))
    finally:
        shutil.rmtree(out_dir, ignore_errors=True)
    # Bars only accumulate within a cycle: in phase order, each picture has more black.
    blacks = [picture.count(0) for picture in pictures]
    check(all(a < b for a, b in zip(blacks, blacks[1:])),
          f"black bytes of phase-0 to phase-4: {blacks}, expected them to grow phase by phase")
    return pictures


def expect_photo_pictures_on_screen(opts, width, height, args):
    """Each of velmaro-photo's five pictures is, pixel for pixel, a screenshot of the
    real program, and every screenshot of it is one of them."""
    pictures = photo_pictures(opts, width, height)
    with running(opts, args, (width, height)) as (screen, program):
        window = program.main_window()
        try:
            wait_for_five_phases(screen, program, what="velmaro-photo's five pictures on the screen",
                                 pictures=pictures)
        except Failure as failure:
            raise Failure(f"against velmaro-photo's pictures of {width}x{height}: {failure}") from None
        check(program.message_boxes() == [], f"boxes shown: {program.message_boxes()}")
        screen.key(window, "Escape")
        expect_exit_zero(program)


@case
def photo_pictures_1024x768(opts):
    expect_photo_pictures_on_screen(opts, 1024, 768, [])


@case
def photo_pictures_800x600(opts):
    expect_photo_pictures_on_screen(opts, 800, 600, ["-x800", "-y600"])


def expect_phases_after_activation(screen, program, window):
    screen.xdotool("windowactivate", "--sync", str(window))
    # The screenshots catch phases at random: seeing all five takes a few seconds, more
    # on a busy machine. A frozen screen never shows them.
    wait_for_five_phases(screen, program, timeout=20, settled=False, what="the five phases after activation")


@case
def phases_return_after_minimize(opts):
    """Minimized, the program shows nothing new; activated again, it shows its phases."""
    with running(opts, window_manager=True) as (screen, program):
        window = program.main_window()
        wait_for_five_phases(screen, program)
        screen.xdotool("windowminimize", "--sync", str(window))
        time.sleep(0.5)
        shots = []
        for _ in range(5):
            shots.append(screen.screenshot())
            time.sleep(0.2)
        changes = sum(shot != shots[0] for shot in shots)
        check(changes == 0, f"{changes} of {len(shots) - 1} screenshots changed while minimized")
        check(program.running(), f"the program ended with {program.process.returncode} while minimized")
        expect_phases_after_activation(screen, program, window)
        expect_exit_zero_after_escape(program, window)


@case
def phases_return_after_another_program(opts):
    """A second instance takes the display, shows its phases and ends; the first,
    activated again, shows its own."""
    with running(opts, window_manager=True) as (screen, first):
        first_window = first.main_window()
        wait_for_five_phases(screen, first, what="the first program's five phases")
        second = Program(screen, opts.program, [], opts.state)
        try:
            second_window = second.main_window(other_than=(first_window,))
            wait_for_five_phases(screen, second, settled=False, what="the second program's five phases")
            code = second.end_with_escape(second_window)
            check(code == 0, f"exit code of the second program {code}, expected 0")
        finally:
            second.kill()
        check(first.running(), f"the first program ended with {first.process.returncode}")
        expect_phases_after_activation(screen, first, first_window)
        expect_exit_zero_after_escape(first, first_window)


def expect_exit_zero_after_escape(program, window):
    code = program.end_with_escape(window)
    check(code == 0, f"exit code {code}, expected 0")
    check(program.message_boxes() == [], f"boxes shown: {program.message_boxes()}")


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
    parser.add_argument("--photo", help="velmaro-photo, for the cases that compare with its pictures")
    opts = parser.parse_args()
    if loader_for(opts.program) is None:
        print(f"skipped {opts.case}: {opts.program} is a 32-bit program, and Debian's 32-bit Wine "
              "(wine32:i386, which needs the i386 architecture added to dpkg) is not installed")
        return SKIPPED
    return run(opts.case, lambda: CASES[opts.case](opts))


if __name__ == "__main__":
    sys.exit(main())
