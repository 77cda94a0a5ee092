"""What Qorvalin's Python tests and tools share. Its modules:

build      where the native build put the programs and generated files the tests run
catalogue  the program's messages and control numbers, by their symbols
plugin     pytest's hooks: a missing prerequisite is a skip, a run of skips is CTest's skip
"""


class Failure(Exception):
    """Something the program or a guest did was not what a test or tool expected."""


class Unavailable(Exception):
    """This machine lacks what a test needs (a program not built, 32-bit Wine, a live CD): the
    test is skipped, with this reason."""


def check(condition, message):
    if not condition:
        raise Failure(message)


def check_equal(actual, expected, what):
    if actual != expected:
        raise Failure("%s: expected %r, got %r" % (what, expected, actual))
