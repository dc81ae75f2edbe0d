"""What the test scripts share: a check that fails with the value it saw, and a table of
named cases that the command line picks from."""


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Cases(dict):
    """Used as a decorator: registers a function under its own name."""

    def __call__(self, function):
        self[function.__name__] = function
        return function
