"""Makes the archive handed to Windows users:
make_archive.py --x86 EXE --x64 EXE --readme TEXT --out-dir DIR
writes DIR/velmaro-<version>-windows.zip holding x86/velmaro.exe, x64/velmaro.exe and
README.txt, and prints its path. The version is the one in the programs' version
block, which comes from the project's VERSION in CMakeLists.txt."""

import argparse
import os
import sys
import time
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pe_file import PeError, PeFile  # noqa: E402

MACHINE = {"x86": "i386", "x64": "amd64"}


class ArchiveError(Exception):
    pass


def version_of(program):
    """major.minor.patch of the program's file version."""
    fixed = program.version_block().fixed
    ms, ls = fixed["dwFileVersionMS"], fixed["dwFileVersionLS"]
    return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}"


def readme_text(path, version):
    """The README with its version filled in, in Windows' line ends, so that Notepad on
    Windows XP shows its lines."""
    with open(path, encoding="ascii") as source:
        text = source.read().replace("@VERSION@", version)
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode("ascii")


def make_archive(x86, x64, readme, out_dir):
    programs = {"x86": x86, "x64": x64}
    versions = set()
    for arch, path in programs.items():
        program = PeFile.read(path)
        if program.machine != MACHINE[arch]:
            raise ArchiveError(f"{path} is for {program.machine}, not {MACHINE[arch]}")
        versions.add(version_of(program))
    if len(versions) != 1:
        raise ArchiveError(f"the programs carry different versions: {sorted(versions)}")
    version = versions.pop()
    os.makedirs(out_dir, exist_ok=True)
    archive = os.path.join(out_dir, f"velmaro-{version}-windows.zip")
    with zipfile.ZipFile(archive + ".part", "w", zipfile.ZIP_DEFLATED) as out:
        for arch, path in programs.items():
            out.write(path, f"{arch}/velmaro.exe")
        entry = zipfile.ZipInfo("README.txt", time.localtime(os.path.getmtime(readme))[:6])
        entry.compress_type = zipfile.ZIP_DEFLATED
        out.writestr(entry, readme_text(readme, version))
    os.replace(archive + ".part", archive)
    return archive


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--x86", required=True)
    parser.add_argument("--x64", required=True)
    parser.add_argument("--readme", required=True)
    parser.add_argument("--out-dir", required=True)
    opts = parser.parse_args()
    try:
        print(make_archive(opts.x86, opts.x64, opts.readme, opts.out_dir))
    except (ArchiveError, PeError, OSError) as error:
        print(f"make_archive: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
