"""Drives the real velmaro.exe under Wine on a virtual X screen, as a user would:
keys through xdotool, message boxes through Wine's +msgbox channel, pictures through
xwd, and the exit code of the process."""

import os
import re
import shutil
import struct
import subprocess
import tempfile
import time
import zlib

from check_cases import Failure, check  # noqa: F401 (the harness's own checks)
from pe_file import PeFile

WINE = next((p for p in ("/usr/lib/wine/wine64", "/usr/bin/wine64", "/usr/bin/wine") if os.path.exists(p)), "wine")
# Debian's 32-bit Wine (wine32:i386) runs 32-bit programs; it needs the i386
# architecture added to dpkg, so it is often missing.
WINE32 = "/usr/lib/wine/wine"


def loader_for(program):
    """The Wine loader for the program, or None when Wine here cannot run it."""
    if PeFile.read(program).machine != "i386":
        return WINE
    return WINE32 if os.access(WINE32, os.X_OK) else None




class Screen:
    """An Xvfb of the given size on a free display, for the life of a with-block; with
    window_manager, openbox runs on it, so that windows can be minimized and activated."""

    def __init__(self, width, height, white_root=False, window_manager=False):
        self.width, self.height = width, height
        # A white root shows whether a black picture really came from the program.
        self.extra = ["-wr"] if white_root else []
        self.window_manager = window_manager
        self.manager = None

    def __enter__(self):
        read_end, write_end = os.pipe()
        # No auto-repeat (-r): a key left down must not go on pressing itself.
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{self.width}x{self.height}x24",
             "-nolisten", "tcp", "-r", *self.extra],
            pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, start_new_session=True)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()
        check(number, "Xvfb did not report a display")
        self.display = ":" + number
        if self.window_manager:
            self.start_window_manager()
        return self

    def __exit__(self, *exc):
        if self.manager is not None:
            self.manager.kill()
            self.manager.wait()
        self.process.kill()
        self.process.wait()

    def start_window_manager(self, timeout=20):
        """Starts openbox and waits until it manages the screen: it runs its start-up
        command only then."""
        ready = os.path.join(tempfile.mkdtemp(prefix="velmaro-wm-"), "ready")
        self.manager = subprocess.Popen(
            ["openbox", "--sm-disable", "--startup", f"touch {ready}"], env=self.env(),
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        deadline = time.monotonic() + timeout
        while not os.path.exists(ready):
            check(self.manager.poll() is None, f"openbox ended with {self.manager.returncode}")
            check(time.monotonic() < deadline, f"openbox did not start within {timeout} s")
            time.sleep(0.05)
        shutil.rmtree(os.path.dirname(ready), ignore_errors=True)

    def env(self):
        return dict(os.environ, DISPLAY=self.display)

    def xdotool(self, *args, check_result=True):
        result = subprocess.run(["xdotool", *args], env=self.env(), capture_output=True, text=True)
        if check_result and result.returncode != 0:
            raise Failure(f"xdotool {' '.join(args)} failed: {result.stderr.strip()}")
        return result.stdout

    def windows(self, name):
        """Ids of the windows whose title is exactly name."""
        out = self.xdotool("search", "--name", f"^{re.escape(name)}$", check_result=False)
        return [int(w) for w in out.split()]

    def geometry(self, window):
        out = self.xdotool("getwindowgeometry", "--shell", str(window))
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def key(self, window, key):
        """Presses and releases key in window. A window that the press closes makes the
        release fail, which is no failure here."""
        try:
            self.xdotool("key", "--window", str(window), key)
        except Failure:
            if self.exists(window):
                raise
        # xdotool presses through the server's own input while the window has the focus,
        # and sends the release to the window itself once it has lost the focus (or is
        # gone): the key would stay down in the server. A release of a key that is up is
        # ignored.
        self.xdotool("keyup", key, check_result=False)

    def exists(self, window):
        result = subprocess.run(["xdotool", "getwindowname", str(window)], env=self.env(), capture_output=True)
        return result.returncode == 0

    def screenshot(self, attempts=5):
        """The whole screen as (width, height, rgb bytes). Now and then, while Wine
        reconfigures the screen, xwd hands back no image or one of another format; it
        is then taken again."""
        for attempt in range(attempts):
            result = subprocess.run(["xwd", "-root", "-silent"], env=self.env(), capture_output=True)
            try:
                check(result.returncode == 0 and len(result.stdout) >= 100, f"xwd failed: {result.stderr[:200]!r}")
                return parse_xwd(result.stdout)
            except Failure:
                if attempt == attempts - 1:
                    raise
                time.sleep(0.05)


def parse_xwd(data):
    fields = struct.unpack(">25I", data[:100])
    header_size, width, height = fields[0], fields[4], fields[5]
    byte_order, bits_per_pixel, bytes_per_line, ncolors = fields[7], fields[11], fields[12], fields[19]
    # 24: packed pixels, which xwd gives when windows of another visual are on the screen.
    check(bits_per_pixel in (24, 32), f"xwd: {bits_per_pixel} bits per pixel, expected 24 or 32 (header {fields})")
    masks = fields[14:17]
    check(masks == (0xFF0000, 0xFF00, 0xFF), f"xwd: unexpected colour masks {masks}")
    start = header_size + 12 * ncolors
    size = bits_per_pixel // 8
    rgb = bytearray(width * height * 3)
    # Bytes of a pixel in memory: blue, green, red[, pad] (LSB first) or [pad,] red, green, blue.
    channels = (2, 1, 0) if byte_order == 0 else (size - 3, size - 2, size - 1)
    for y in range(height):
        row = data[start + y * bytes_per_line:start + y * bytes_per_line + width * size]
        base = y * width * 3
        for colour, offset in enumerate(channels):
            rgb[base + colour:base + width * 3:3] = row[offset::size]
    return width, height, bytes(rgb)


def prefix_for(state, width, height, managed=False):
    """The prefix for a screen of that size; managed: the one whose windows are left to
    a window manager."""
    name = f"p{width}x{height}" + ("-managed" if managed else "")
    prefix = os.path.abspath(os.path.join(state, name))
    check(os.path.isdir(prefix), f"no Wine prefix {name} in {state}")
    return prefix


class Program:
    """velmaro.exe running under Wine on a screen; its output goes to files, never to
    a pipe, because Wine's helper processes would keep a pipe open."""

    def __init__(self, screen, program, args, state, dll_overrides="", debug="-all,+msgbox", managed=None):
        """managed: whether to use the prefix with managed windows; by default, when the
        screen has a window manager."""
        self.screen = screen
        managed = screen.window_manager if managed is None else managed
        self.log_dir = tempfile.mkdtemp(prefix="velmaro-e2e-")
        self.stderr_path = os.path.join(self.log_dir, "stderr.txt")
        overrides = "mscoree,mshtml=" + (";" + dll_overrides if dll_overrides else "")
        env = dict(screen.env(), WINEPREFIX=prefix_for(state, screen.width, screen.height, managed),
                   WINEDEBUG=debug, WINEDLLOVERRIDES=overrides)
        with open(self.stderr_path, "wb") as err, open(os.path.join(self.log_dir, "stdout.txt"), "wb") as out:
            self.process = subprocess.Popen([loader_for(program) or WINE, program, *args], env=env,
                                            stdin=subprocess.DEVNULL, stdout=out, stderr=err)

    def running(self):
        return self.process.poll() is None

    def still_running_after(self, seconds):
        try:
            self.process.wait(seconds)
        except subprocess.TimeoutExpired:
            return True
        return False

    def wait(self, timeout=20):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            raise Failure(f"the program did not end within {timeout} s")

    def kill(self):
        """Ends the program if it still runs, and removes its output files."""
        if self.running():
            self.process.kill()
            self.process.wait()
        shutil.rmtree(self.log_dir, ignore_errors=True)

    def end_with_escape(self, window, timeout=30):
        """Presses Esc, once more should the first press go unheard, and returns the exit code."""
        for _ in range(2):
            self.screen.key(window, "Escape")
            if not self.still_running_after(timeout / 2):
                return self.process.returncode
        raise Failure(f"the program did not end within {timeout} s of Esc")

    def message_boxes(self):
        """Texts of the message boxes shown so far."""
        with open(self.stderr_path, "rb") as err:
            text = err.read().decode("latin-1")
        return re.findall(r'trace:msgbox:MSGBOX_OnInit L"(.*)"', text)

    def wait_for(self, what, condition, timeout=20):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            value = condition()
            if value:
                return value
            if not self.running():
                raise Failure(f"the program ended (exit code {self.process.returncode}) while waiting for {what}")
            time.sleep(0.1)
        raise Failure(f"timed out after {timeout} s waiting for {what}")

    def find_main_window(self, other_than=()):
        """The full-screen window titled Velmaro, or None; other_than: windows of other
        programs on the screen."""
        for window in self.screen.windows("Velmaro"):
            if window not in other_than and self.screen.geometry(window) == (0, 0, self.screen.width,
                                                                             self.screen.height):
                return window
        return None

    def main_window(self, timeout=20, other_than=()):
        return self.wait_for("the full-screen Velmaro window", lambda: self.find_main_window(other_than), timeout)

    def message_box(self, timeout=20):
        """(window, text) of the first message box, once it is up."""
        def find():
            boxes = self.message_boxes()
            windows = [w for w in self.screen.windows("Velmaro")
                       if self.screen.geometry(w)[2:] != (self.screen.width, self.screen.height)]
            return (windows[0], boxes[0]) if boxes and windows else None
        return self.wait_for("a message box", find, timeout)


def write_png(path, width, height, rgb):
    """Saves rgb bytes (3 per pixel, rows top to bottom) as an 8-bit RGB PNG."""
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    rows = b"".join(b"\0" + rgb[y * width * 3:(y + 1) * width * 3] for y in range(height))
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9)) +
                  chunk(b"IEND", b""))


def mode_size(args):
    """Width and height that velmaro.exe will ask for with these arguments."""
    size = {"x": 1024, "y": 768}
    for token in " ".join(args).split(" "):
        if len(token) < 4 or len(token) > 255 or token[0] != "-" or token[1] not in size:
            continue
        match = re.match(r"[\t\n\v\f\r]*([+-]?)(\d*)", token[2:])
        value = int(match.group(2) or "0") % 2**32
        value = (-value if match.group(1) == "-" else value) % 2**32
        if 0 < value < 2**31:
            size[token[1]] = value
    return size["x"], size["y"]
