"""End-to-end cases against the real program: run_case.py CASE --program EXE --state DIR"""

import argparse
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from wine_driver import Failure, Program, Screen, check  # noqa: E402

HEIGHT_WARNING = "The vertical resolution is limited to 768 lines! Use a lower resolution."
CASES = {}


def case(function):
    CASES[function.__name__] = function
    return function


def expect_exit_zero(program, timeout=20):
    code = program.wait(timeout)
    check(code == 0, f"exit code {code}, expected 0")


def press_and_expect_end(opts, key):
    with Screen(1024, 768) as screen:
        program = Program(screen, opts.program, [], opts.state)
        try:
            window = program.main_window()
            screen.key(window, key)
            expect_exit_zero(program)
        finally:
            program.kill()


@case
def window_covers_screen_black(opts):
    with Screen(1024, 768, white_root=True) as screen:
        program = Program(screen, opts.program, [], opts.state)
        try:
            window = program.main_window()

            def black_screen():
                width, height, rgb = screen.screenshot()
                return (width, height) == (1024, 768) and rgb.count(0) == len(rgb)
            program.wait_for("a black screen", black_screen)
            check(program.message_boxes() == [], f"message boxes: {program.message_boxes()}")
            screen.key(window, "Escape")
            expect_exit_zero(program)
        finally:
            program.kill()


@case
def escape_ends_with_zero(opts):
    press_and_expect_end(opts, "Escape")


@case
def f12_ends_with_zero(opts):
    press_and_expect_end(opts, "F12")


@case
def other_key_keeps_running(opts):
    with Screen(1024, 768) as screen:
        program = Program(screen, opts.program, [], opts.state)
        try:
            window = program.main_window()
            for key in ("Return", "space", "a", "F11", "F1", "Tab"):
                screen.key(window, key)
            check(program.still_running_after(3), f"the program ended with {program.process.returncode}")
            check(screen.windows("Velmaro") == [window], "the window went away")
        finally:
            program.kill()


@case
def height_769_warns(opts):
    with Screen(1024, 768) as screen:
        program = Program(screen, opts.program, ["-y769"], opts.state)
        try:
            box, text = program.message_box()
            check(text == HEIGHT_WARNING, f"box text {text!r}")
            check(screen.windows("Velmaro") == [box], f"windows titled Velmaro: {screen.windows('Velmaro')}")
            x, y, width, height = screen.geometry(box)
            check(width < 1024 and height < 768, f"the box is {width}x{height}")
            screen.key(box, "Return")
            expect_exit_zero(program)
            check(program.message_boxes() == [HEIGHT_WARNING], f"boxes shown: {program.message_boxes()}")
        finally:
            program.kill()


@case
def height_768_no_warning(opts):
    with Screen(1024, 768) as screen:
        program = Program(screen, opts.program, ["-y768"], opts.state)
        try:
            window = program.main_window()
            check(program.message_boxes() == [], f"boxes shown: {program.message_boxes()}")
            screen.key(window, "Escape")
            expect_exit_zero(program)
        finally:
            program.kill()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("case", choices=sorted(CASES))
    parser.add_argument("--program", required=True)
    parser.add_argument("--state", required=True)
    opts = parser.parse_args()
    try:
        CASES[opts.case](opts)
    except Failure as failure:
        print(f"FAILED {opts.case}: {failure}")
        return 1
    print(f"passed {opts.case}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
