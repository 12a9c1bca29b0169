"""Runs launcher executables under Wine for the launcher's process-level tests.

Executables are made from the stub build/win32/launcher.exe with a payload written here, byte by
byte, so that tests can also write payloads no correct tool would (damaged ones).
"""
import getpass
import os
import shutil
import struct
import subprocess
import tempfile
import time
import unittest

BUILD = os.environ["LAUNCHER_BUILD_DIR"]
STUB = os.path.join(BUILD, "launcher.exe")
BOX_READER = os.path.join(BUILD, "tests", "launcher", "MessageBoxText.exe")
SCREENSHOTS = os.path.join(BUILD, "tests", "launcher", "screenshots")
MAGIC = 0xE8E413D5


def narrow(id_, text):
    data = text.encode("cp1252")
    return struct.pack("<ii", id_, len(data)) + data


def wide(id_, text):
    data = text.encode("utf-16-le")
    return struct.pack("<ii", id_, len(data)) + data


def payload(narrow_entries=None, wide_entries=None, languages=(), magic=MAGIC, files=()):
    """Payload bytes: narrow_entries and wide_entries map ids to texts; languages is a list of
    (prefix, {id: text}); files are the included files' contents that follow (their names and number
    are configuration entries 2003 and 2002)."""
    narrow_entries = narrow_entries or {}
    wide_entries = wide_entries or {}
    out = struct.pack("<IiiQ", magic, 0, 1220735356, 2431)
    out += struct.pack("<i", len(narrow_entries)) + b"".join(narrow(i, t) for i, t in narrow_entries.items())
    out += struct.pack("<i", len(wide_entries)) + b"".join(wide(i, t) for i, t in wide_entries.items())
    out += struct.pack("<i", len(languages))
    for prefix, entries in languages:
        out += struct.pack("<i", len(prefix)) + prefix.encode("ascii")
        out += struct.pack("<i", len(entries)) + b"".join(wide(i, t) for i, t in entries.items())
    return out + b"".join(included_file(content) for content in files)


def included_file(content, declared_size=None):
    """One included file as it follows the payload: its size (8 bytes), then its bytes XOR 0x88."""
    size = len(content) if declared_size is None else declared_size
    return struct.pack("<q", size) + bytes(b ^ 0x88 for b in content)


def end_of_last_section(image):
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    sections, = struct.unpack_from("<H", image, pe + 6)
    optional, = struct.unpack_from("<H", image, pe + 20)
    last = pe + 24 + optional + (sections - 1) * 40
    size, pointer = struct.unpack_from("<II", image, last + 16)
    return pointer + size


# Wine gives its programs the prefix's own temporary directory as TMP, whatever the Unix TMP says.
WINDOWS_TEMP = "C:\\users\\" + getpass.getuser() + "\\Temp"
PREFIX_TEMP = os.path.join(os.environ["WINEPREFIX"], "drive_c", "users", getpass.getuser(), "Temp")


class LauncherTestCase(unittest.TestCase):
    """Each test gets a scratch directory and helpers to build and run launchers there. Logs land in
    the prefix's temporary directory; a test sees only those of its own executables."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="launcher-test-", dir=BUILD)

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def make_launcher(self, data, name="app.exe"):
        with open(STUB, "rb") as f:
            image = f.read()
        end = end_of_last_section(image)
        self.assertEqual(end, len(image), "the stub carries data behind its last section")
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(image[:end] + data)
        return path

    def environment(self, log=True, extra=None):
        env = dict(os.environ)
        for name in ("LANYX_LOG", "QUORVEX_LOG"):
            env.pop(name, None)
        if log:
            env["LANYX_LOG"] = "yes"
        env.update(extra or {})
        return env

    def run_launcher(self, exe, args=(), env=None, timeout=60, tmp=None, raw=None):
        """Runs exe; returns (exit code, stdout, stderr). Wine turns args into a Windows command line
        with its own quoting; raw is a command-line tail passed exactly as written. With tmp (a
        Windows path, or "" to unset it) the launcher runs with that TMP: Wine sets TMP itself for
        programs started from Unix, so both go through a batch file."""
        command = ["wine", exe, *args]
        if tmp is not None or raw is not None:
            batch = os.path.join(self.dir, "run.bat")
            # cmd reads batch files in the OEM code page.
            with open(batch, "w", newline="\r\n", encoding="cp437") as f:
                f.write("@echo off\n")
                if tmp is not None:
                    f.write(f"set TMP={tmp}\n")
                f.write(f'"{windows_path(exe)}" {raw if raw is not None else " ".join(args)}\n')
                f.write("exit /b %ERRORLEVEL%\n")
            command = ["wine", "cmd", "/c", windows_path(batch)]
        result = subprocess.run(command, env=env or self.environment(), stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=timeout)
        return result.returncode, result.stdout.decode("cp1252"), result.stderr.decode("cp1252")

    def log_files(self, directory=PREFIX_TEMP):
        """This test's log files in directory: those whose start line names an executable of it."""
        mine = os.path.basename(self.dir).encode()
        found = []
        for name in os.listdir(directory):
            path = os.path.join(directory, name)
            if name.startswith("qvx_nlog_") and os.path.isfile(path):
                with open(path, "rb") as f:
                    if mine in f.readline():
                        found.append(path)
        return sorted(found)

    def only_log(self):
        logs = self.log_files()
        self.assertEqual(len(logs), 1, f"expected one log file, found {logs}")
        with open(logs[0], "rb") as f:
            return f.read().decode("cp1252").replace("\r\n", "\n")

    def run_with_message_box(self, exe, args=(), env=None, name="box", while_shown=None):
        """Runs a launcher that is expected to show a message box (needs a display): reads the box's
        caption and text, keeps a screenshot, calls while_shown() if given, closes the box with Return
        and returns (exit code, caption, text). Output goes to files, never pipes: the first window in the prefix
        starts Wine's desktop process, which would inherit a pipe and hold it open."""
        result = os.path.join(self.dir, name + ".box")
        process = subprocess.Popen(["wine", exe, *args], env=env or self.environment(), stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            reader = subprocess.run(["wine", BOX_READER, "30", windows_path(result)], stdin=subprocess.DEVNULL,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=90)
            self.assertEqual(reader.returncode, 0, "no message box appeared")
            with open(result, encoding="utf-8") as f:
                caption, _, text = f.read().replace("\r\n", "\n").partition("\n")
            os.makedirs(SCREENSHOTS, exist_ok=True)
            subprocess.run(["import", "-window", "root", os.path.join(SCREENSHOTS, name + ".png")],
                           stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
            if while_shown is not None:
                while_shown()
            close_message_box(caption)
            code = process.wait(timeout=30)
        finally:
            if process.poll() is None:
                process.kill()
        return code, caption, text.rstrip("\n")


def close_message_box(caption):
    """Presses Return in the message box with this caption (found with xdotool)."""
    for _ in range(100):
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^" + caption + "$"],
                               stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=10)
        windows = found.stdout.split()
        if windows:
            subprocess.run(["xdotool", "windowactivate", "--sync", windows[-1]], stdin=subprocess.DEVNULL,
                           capture_output=True, timeout=10)
            subprocess.run(["xdotool", "key", "--window", windows[-1], "Return"], stdin=subprocess.DEVNULL,
                           capture_output=True, timeout=10)
            return
        time.sleep(0.1)
    raise AssertionError(f"no window with caption {caption!r} to close")


def unix_path(windows):
    """The Unix path of a Windows path on the prefix's drive C: or on Z:."""
    drive, rest = windows[:2].upper(), windows[2:].replace("\\", "/")
    if drive == "Z:":
        return rest
    assert drive == "C:", windows
    return os.path.join(os.environ["WINEPREFIX"], "drive_c") + rest


def windows_path(unix_path):
    """The Windows name of a Unix path, as the prefix's programs see it."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")
