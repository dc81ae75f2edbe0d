"""The archive for Windows users, as tools/make_archive.py makes it:
run_check.py CHECK --x86 EXE --x64 EXE --readme TEXT --version X.Y.Z --work DIR"""

import argparse
import os
import shutil
import sys
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from make_archive import ArchiveError, make_archive  # noqa: E402
from check_cases import Cases, Failure, check, run  # noqa: E402
from pe_file import PeFile  # noqa: E402

CHECKS = registered = Cases()


@registered
def holds_both_programs_and_readme(opts):
    archive = make_archive(opts.x86, opts.x64, opts.readme, opts.work)
    with zipfile.ZipFile(archive) as listing:
        print(f"{os.path.basename(archive)}:")
        for entry in listing.infolist():
            print(f"  {entry.file_size:>8}  {entry.filename}")
        names = listing.namelist()
        contents = {name: listing.read(name) for name in names}
    check(os.path.basename(archive) == f"velmaro-{opts.version}-windows.zip",
          f"archive named {os.path.basename(archive)}, the project's version is {opts.version}")
    check(sorted(names) == ["README.txt", "x64/velmaro.exe", "x86/velmaro.exe"], f"entries {names}")
    for arch, path, machine in (("x86", opts.x86, "i386"), ("x64", opts.x64, "amd64")):
        data = contents[f"{arch}/velmaro.exe"]
        with open(path, "rb") as built:
            check(data == built.read(), f"{arch}/velmaro.exe is not {path}")
        check(PeFile(data).machine == machine, f"{arch}/velmaro.exe is for {PeFile(data).machine}")
    readme = contents["README.txt"]
    print(f"README.txt starts {readme[:40]!r}")
    check(all(byte < 128 for byte in readme), "README.txt is not plain ASCII")
    check(readme.count(b"\n") == readme.count(b"\r\n") > 0, "README.txt has lines not ended by CR LF")
    check(readme.startswith(f"Velmaro {opts.version}\r\n".encode()) and b"@VERSION@" not in readme,
          "README.txt does not begin with the version")


@registered
def refuses_swapped_programs(opts):
    try:
        archive = make_archive(opts.x64, opts.x86, opts.readme, opts.work)
    except ArchiveError as error:
        print(f"refused: {error}")
        check(not os.listdir(opts.work), f"left behind: {os.listdir(opts.work)}")
        return
    raise Failure(f"made {archive} with the 64-bit program as x86")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("check", choices=sorted(CHECKS))
    for option in ("--x86", "--x64", "--readme", "--version", "--work"):
        parser.add_argument(option, required=True)
    opts = parser.parse_args()
    shutil.rmtree(opts.work, ignore_errors=True)
    os.makedirs(opts.work)
    return run(opts.check, lambda: CHECKS[opts.check](opts), (Failure, ArchiveError, OSError))


if __name__ == "__main__":
    sys.exit(main())
