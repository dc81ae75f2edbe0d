"""Prints why ctest skipped each test that it lists as skipped, and then ctest's
summary line again, so that it stays among the last lines of the run:
skip_reasons.py CTEST_OUTPUT LAST_TEST_LOG

CTEST_OUTPUT is what ctest printed; LAST_TEST_LOG its Testing/Temporary/LastTest.log,
which holds each test's own output. A test that skips says why in its output: the
harness's checks print "skipped LABEL: REASON", GoogleTest prints "[  SKIPPED ]" and the
message before it. Where neither is found, the output's last line is taken."""

import re
import sys

SKIPPED_LINE = re.compile(r"^\s*\d+\s+-\s+(\S+)\s+\(Skipped\)\s*$")
SUMMARY_LINE = re.compile(r"^\d+% tests passed, \d+ tests? failed out of \d+")
TEST_START = re.compile(r"^\d+/\d+ Test: (\S+)$")


def skipped_tests(ctest_output):
    """The tests that ctest listed as skipped, in its order, and its summary line."""
    names, summary = [], None
    for line in ctest_output.splitlines():
        match = SKIPPED_LINE.match(line)
        if match:
            names.append(match.group(1))
        elif SUMMARY_LINE.match(line):
            summary = line.strip()
    return names, summary


def test_outputs(log):
    """Each test's output in the log, by name."""
    outputs, name, lines, inside = {}, None, [], False
    for line in log.splitlines():
        match = TEST_START.match(line)
        if match:
            name, lines, inside = match.group(1), [], False
        elif name and line == "Output:":
            inside = None  # the rule line follows
        elif inside is None:
            inside = True
        elif inside and line == "<end of output>":
            outputs[name] = lines
            inside = False
        elif inside:
            lines.append(line)
    return outputs


def reason(lines):
    for line in lines:
        match = re.match(r"^skipped [^:]*: (.+)$", line.strip())
        if match:
            return match.group(1)
    for index, line in enumerate(lines):
        if "[  SKIPPED ]" in line:
            said = [text.strip() for text in lines[max(0, index - 3):index] if text.strip()]
            return said[-1] if said else line.strip()
    said = [line.strip() for line in lines if line.strip()]
    return said[-1] if said else "the test gave no reason"


def main():
    with open(sys.argv[1], encoding="utf-8", errors="replace") as file:
        names, summary = skipped_tests(file.read())
    if not names:
        return 0
    try:
        with open(sys.argv[2], encoding="utf-8", errors="replace") as file:
            outputs = test_outputs(file.read())
    except OSError:
        outputs = {}
    print(f"Why {len(names)} test{'s were' if len(names) > 1 else ' was'} skipped:")
    for name in names:
        print(f"  {name}: {reason(outputs[name]) if name in outputs else 'not in ' + sys.argv[2]}")
    if summary:
        print(summary)
    return 0


if __name__ == "__main__":
    sys.exit(main())
