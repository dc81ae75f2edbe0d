"""Checks of a built velmaro.exe read from the file itself, as Windows loads it:
run_check.py CHECK --program EXE --arch x86|x64 [--reference EXE]
Every check prints the values it got."""

import argparse
import difflib
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
from check_cases import Cases, Failure, check, run  # noqa: E402
from pe_file import RT_BITMAP, PeError, PeFile  # noqa: E402

MACHINE = {"x86": "i386", "x64": "amd64"}
# Windows XP refuses a program marked for a newer system than its own: 5.1 for XP,
# 5.2 for XP x64.
SUBSYSTEM_VERSION = {"x86": (5, 1), "x64": (5, 2)}
WINDOWS_GUI = 2
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll"}
CHECKS = registered = Cases()


@registered
def machine_and_subsystem(program, opts):
    print(f"machine {program.machine}, subsystem {program.subsystem}, "
          f"subsystem version {program.subsystem_version[0]}.{program.subsystem_version[1]:02}")
    check(program.machine == MACHINE[opts.arch], f"machine {program.machine}, expected {MACHINE[opts.arch]}")
    check(program.subsystem == WINDOWS_GUI, f"subsystem {program.subsystem}, expected {WINDOWS_GUI} (GUI)")
    check(program.subsystem_version == SUBSYSTEM_VERSION[opts.arch],
          f"subsystem version {program.subsystem_version}, expected {SUBSYSTEM_VERSION[opts.arch]}")


def listed_imports(path):
    with open(path) as listing:
        return [line.strip() for line in listing if line.strip() and not line.startswith("#")]


@registered
def imports_as_listed(program, opts):
    """Only the four system DLLs, and exactly the functions of the committed list: a new
    import, from the program or from the static runtime, must be looked at for XP."""
    found = [f"{dll} {function}" for dll, function in program.imports()]
    dlls = sorted({dll for dll, _ in program.imports()})
    print(f"{len(found)} imports from {', '.join(dlls)}")
    others = [dll for dll in dlls if dll.lower() not in SYSTEM_DLLS]
    check(not others, f"imports from DLLs other than KERNEL32, USER32, GDI32 and msvcrt: {others}")
    path = os.path.join(HERE, f"imports-{opts.arch}.txt")
    expected = listed_imports(path)
    if sorted(found) != sorted(expected):
        changes = [line for line in difflib.unified_diff(sorted(expected), sorted(found), lineterm="", n=0)
                   if line[:1] in "+-" and line[:3] not in ("+++", "---")]
        raise Failure(f"imports differ from {path} (- listed, + found):\n  " + "\n  ".join(changes) +
                      "\nfull list found:\n" + "\n".join(sorted(found)))


@registered
def resources_as_in_64bit(program, opts):
    """The ruler bitmap and the version block, byte for byte those of the reference."""
    reference = PeFile.read(opts.reference)
    mine, theirs = program.resources(), reference.resources()
    print("resources: " + ", ".join(f"{key} {len(data)} bytes" for key, data in sorted(mine.items(), key=str)))
    check(sorted(mine, key=str) == sorted(theirs, key=str),
          f"resources {sorted(mine, key=str)}, the reference has {sorted(theirs, key=str)}")
    check((RT_BITMAP, "PATTERN", 0) in mine, "no language-neutral PATTERN bitmap")
    for key, data in mine.items():
        other = theirs[key]
        first = next((i for i, (a, b) in enumerate(zip(data, other)) if a != b), min(len(data), len(other)))
        check(data == other, f"resource {key}: {len(data)} bytes against {len(other)}, first difference at {first}")


@registered
def version_block(program, opts):
    block = program.version_block()
    print(f"fixed part {block.fixed}\nstrings {block.strings}\ntranslations {block.translations}")
    expected_fixed = {"dwSignature": 0xFEEF04BD, "dwStrucVersion": 0x00010000, "dwFileVersionMS": 1,
                      "dwFileVersionLS": 0, "dwProductVersionMS": 1, "dwProductVersionLS": 0,
                      "dwFileFlagsMask": 0x0030003F, "dwFileFlags": 0x8, "dwFileOS": 0x4, "dwFileType": 0x1,
                      "dwFileSubtype": 0, "dwFileDateMS": 0, "dwFileDateLS": 0}
    wrong = {name: f"{block.fixed[name]:#x}, expected {value:#x}" for name, value in expected_fixed.items()
             if block.fixed[name] != value}
    check(not wrong, f"fixed part: {wrong}")
    check(list(block.strings) == ["040904b0"], f"string tables {list(block.strings)}")
    keys = [key for key, _ in block.strings["040904b0"]]
    check(keys == ["CompanyName", "FileDescription", "FileVersion", "InternalName", "LegalCopyright",
                   "OriginalFilename", "ProductName", "ProductVersion"], f"string keys in this order: {keys}")
    strings = dict(block.strings["040904b0"])
    for key, value in (("FileDescription", "Velmaro"), ("FileVersion", "0, 1, 0, 0"), ("InternalName", "Velmaro"),
                       ("OriginalFilename", "velmaro.exe"), ("ProductName", "Velmaro"),
                       ("ProductVersion", "0, 1, 0, 0")):
        check(strings[key] == value, f"{key} is {strings[key]!r}, expected {value!r}")
    check(strings["CompanyName"] and strings["LegalCopyright"], "empty CompanyName or LegalCopyright")
    check(block.translations == [(0x0409, 0x04B0)], f"translations {block.translations}")


@registered
def stripped(program, opts):
    debug = [name for name, *_ in program.sections if name.startswith(".debug") or name.startswith("/")]
    print(f"symbol table at {program.symbol_table}, {program.symbol_count} symbols; sections "
          f"{[name for name, *_ in program.sections]}")
    check(program.symbol_table == 0 and program.symbol_count == 0, "the symbol table is still there")
    check(not debug, f"debugging sections left: {debug}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("check", choices=sorted(CHECKS))
    parser.add_argument("--program", required=True)
    parser.add_argument("--arch", required=True, choices=sorted(MACHINE))
    parser.add_argument("--reference", help="the 64-bit program, for resources_as_in_64bit")
    opts = parser.parse_args()
    return run(f"{opts.check} ({opts.arch})", lambda: CHECKS[opts.check](PeFile.read(opts.program), opts),
               (Failure, PeError, OSError))


if __name__ == "__main__":
    sys.exit(main())
