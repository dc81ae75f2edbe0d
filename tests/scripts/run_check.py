"""What the scripts do around the build and the test run, on made-up inputs:
run_check.py CHECK --root CHECKOUT --work DIR

- the skip reasons that scripts/test prints after ctest's report (tools/skip_reasons.py);
- configure_and_build of scripts/common.sh on a failing build: it must stop at the
  failed step, say what failed and where the log is, and fail, also where the caller
  tests its status (in an "if", where bash's set -e does not apply)."""

import argparse
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from check_cases import Cases, Failure, check, run  # noqa: E402

CHECKS = registered = Cases()
RULE = "-" * 58

CTEST_OUTPUT = """\
      Start  1: harness_case
 1/4 Test  #1: harness_case .....................***Skipped   0.15 sec
      Start  2: gtest_case
 2/4 Test  #2: gtest_case .......................***Skipped   0.20 sec
      Start  3: quiet_case
 3/4 Test  #3: quiet_case .......................***Skipped   0.01 sec
      Start  4: passing_case
 4/4 Test  #4: passing_case .....................   Passed    0.30 sec

100% tests passed, 0 tests failed out of 4

Total Test time (real) =   0.70 sec

The following tests did not run:
\t  1 - harness_case (Skipped)
\t  2 - gtest_case (Skipped)
\t  3 - quiet_case (Skipped)
"""


def log_entry(number, name, output):
    return "\n".join([f"{number}/4 Testing: {name}", f"{number}/4 Test: {name}", f'Command: "/bin/{name}"',
                      "Directory: /tmp", f'"{name}" start time: Jan 01 00:00 UTC', "Output:", RULE, *output,
                      "<end of output>", "Test time =   0.10 sec", RULE, "Test Passed.",
                      f'"{name}" end time: Jan 01 00:00 UTC', RULE, ""])


LAST_TEST_LOG = "\n".join([
    "Start testing: Jan 01 00:00 UTC", RULE,
    log_entry(1, "harness_case", ["starting", "skipped harness_case: no 32-bit Wine here"]),
    log_entry(2, "gtest_case", ["[ RUN      ] Suite.Case", "case.cpp:10: Skipped", "no camera attached",
                                "[  SKIPPED ] Suite.Case (0 ms)"]),
    log_entry(3, "quiet_case", []),
    log_entry(4, "passing_case", ["skipped passing_case: a line that only looks like a skip"]),
    "End testing: Jan 01 00:00 UTC", ""])


def skip_reasons(opts, ctest_output, log):
    paths = [os.path.join(opts.work, "ctest-output.txt"), os.path.join(opts.work, "LastTest.log")]
    for path, text in zip(paths, (ctest_output, log)):
        with open(path, "w") as file:
            file.write(text)
    result = subprocess.run([sys.executable, os.path.join(opts.root, "tools", "skip_reasons.py"), *paths],
                            capture_output=True, text=True)
    print(result.stdout, end="")
    check(result.returncode == 0, f"skip_reasons.py ended with {result.returncode}: {result.stderr}")
    return result.stdout.splitlines()


@registered
def skip_reasons_name_each_skipped_test(opts):
    lines = skip_reasons(opts, CTEST_OUTPUT, LAST_TEST_LOG)
    check(lines == ["Why 3 tests were skipped:",
                    "  harness_case: no 32-bit Wine here",
                    "  gtest_case: no camera attached",
                    "  quiet_case: the test gave no reason",
                    "100% tests passed, 0 tests failed out of 4"], f"printed {lines}")


@registered
def skip_reasons_silent_without_skips(opts):
    ctest_output = CTEST_OUTPUT.split("\nThe following tests did not run:")[0]
    lines = skip_reasons(opts, ctest_output, LAST_TEST_LOG)
    check(lines == [], f"printed {lines}")


def failing_build(opts, cmake_lists):
    """Runs configure_and_build of scripts/common.sh on a project made of the given
    CMakeLists.txt, from inside an "if", as a script that reports the failure would."""
    source, build = os.path.join(opts.work, "source"), os.path.join(opts.work, "build")
    os.makedirs(source)
    os.symlink(os.path.join(opts.root, "cmake"), os.path.join(source, "cmake"))  # the toolchain files
    with open(os.path.join(source, "CMakeLists.txt"), "w") as file:
        file.write(cmake_lists)
    script = ('. "$1/scripts/common.sh"; VELMARO_ROOT=$2\n'
              'if configure_and_build -DVELMARO_TESTS=OFF; then echo "returned 0"; else echo "returned $?"; fi\n')
    result = subprocess.run(["bash", "-c", script, "bash", opts.root, source], capture_output=True, text=True,
                            env=dict(os.environ, VELMARO_BUILD=build))
    print(result.stdout + result.stderr, end="")
    check(result.stdout.rstrip().endswith("returned 1"), "configure_and_build did not fail")
    log = os.path.join(build, "build.log")
    check(f"The whole output is in {log}" in result.stderr, "the log's path is not given")
    check(not os.path.exists(os.path.join(build, "x86")), "the steps after the failed one ran")
    return result.stderr


@registered
def failed_configuration_stops_the_build(opts):
    errors = failing_build(opts, 'cmake_minimum_required(VERSION 3.20)\nproject(Broken LANGUAGES NONE)\n'
                                 'message(FATAL_ERROR "no GoogleTest here")\n')
    check("CMake Error at CMakeLists.txt:3 (message):" in errors and "no GoogleTest here" in errors,
          "CMake's error is not shown")


@registered
def failed_compilation_stops_the_build(opts):
    errors = failing_build(opts, 'cmake_minimum_required(VERSION 3.20)\nproject(Broken LANGUAGES NONE)\n'
                                 'add_custom_target(broken ALL COMMAND sh -c '
                                 '"echo thing.cpp:1:1: error: expected a declaration >&2; exit 1")\n')
    check("thing.cpp:1:1: error: expected a declaration" in errors, "the compiler's error is not shown")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("check", choices=sorted(CHECKS))
    parser.add_argument("--root", required=True)
    parser.add_argument("--work", required=True)
    opts = parser.parse_args()
    shutil.rmtree(opts.work, ignore_errors=True)
    os.makedirs(opts.work)
    return run(opts.check, lambda: CHECKS[opts.check](opts), (Failure, OSError))


if __name__ == "__main__":
    sys.exit(main())
