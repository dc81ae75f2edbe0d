"""What the test scripts share: a check that fails with the value it saw, and a table of
named cases that the command line picks from."""


SKIPPED = 77  # the tests' SKIP_RETURN_CODE


class Failure(Exception):
    pass


class Skipped(Exception):
    """The check cannot run here; its text says why."""


def check(condition, message):
    if not condition:
        raise Failure(message)


class Cases(dict):
    """Used as a decorator: registers a function under its own name."""

    def __call__(self, function):
        self[function.__name__] = function
        return function


def run(label, call, failures=(Failure,)):
    """Runs one check and says how it went: 0 passed, 1 failed, SKIPPED skipped."""
    try:
        call()
    except Skipped as reason:
        print(f"skipped {label}: {reason}")
        return SKIPPED
    except failures as failure:
        print(f"FAILED {label}: {failure}")
        return 1
    print(f"passed {label}")
    return 0
