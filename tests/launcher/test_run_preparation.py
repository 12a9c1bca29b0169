"""What a run of the application prepares: included files extracted byte-exact into the launcher
temporary directory (and removed with it on every fatal exit), the system temporary directory, the
native library directories in front of PATH, and the language from the user's locale."""
import os
import random
import re

from harness import PREFIX_TEMP, LauncherTestCase, included_file, payload, unix_path, windows_path

CONSOLE_APP = {101: "Demo service", 107: "4", 1000: "Error", 2001: "q",
               1009: "An internal error occurred (error code: {0})"}


class IncludedFilesTestCase(LauncherTestCase):
    def temp_directory(self, log):
        """The launcher temporary directory named in the log, as a Unix path."""
        match = re.search(r"^Temp dir3: (.*)$", log, re.MULTILINE)
        self.assertIsNotNone(match, "no launcher temporary directory was made")
        return unix_path(match.group(1))

    def launcher_with_files(self, names, files, count=None, extra=None, raw_files=None):
        entries = {**CONSOLE_APP, 2002: str(len(files) if count is None else count), 2003: names, **(extra or {})}
        data = payload(entries, files=files)
        return self.make_launcher(data + (raw_files or b""))


class Extraction(IncludedFilesTestCase):
    def test_files_land_byte_exact_and_leave_with_the_fatal_exit(self):
        big = random.Random(7).randbytes(13001)  # spans three copy chunks
        exe = self.launcher_with_files("a.txt;lib\\b.dll;big.bin", [b"\x00\x01z", b"", big],
                                       extra={107: "1", 1000: "Extracted"})
        seen = {}

        def look_while_the_error_is_shown():
            directory = self.temp_directory(self.only_log())
            seen["directory"] = directory
            seen["entries"] = sorted(os.listdir(directory))
            seen["lib"] = os.listdir(os.path.join(directory, "lib"))
            for name in ("a.txt", "big.bin"):
                with open(os.path.join(directory, name), "rb") as f:
                    seen[name] = f.read()

        code, caption, text = self.run_with_message_box(exe, ["/run"], env=self.environment(), name="extracted",
                                                        while_shown=look_while_the_error_is_shown)
        self.assertEqual((code, caption), (1, "Extracted"))
        self.assertTrue(text.startswith("This launcher cannot run Java applications yet."), text)
        # The stored bytes 0x88 0x89 are 0x00 0x01 on disk; an empty file is not written at all.
        self.assertEqual(seen["entries"], ["a.txt", "big.bin", "lib"])
        self.assertEqual(seen["lib"], [])
        self.assertEqual(seen["a.txt"], b"\x00\x01z")
        self.assertEqual(seen["big.bin"], big)
        self.assertFalse(os.path.exists(seen["directory"]), "the temporary directory outlived the fatal exit")
        log = self.only_log()
        self.assertIn("extracting " + re.search(r"Temp dir3: (.*)\n", log).group(1) + "\\lib\\b.dll (size: 0)\n", log)
        self.assertIn("extracting files done\n", log)

    def test_the_configured_number_and_the_names_limit_each_other(self):
        # (count, names, files in the payload, names extracted)
        cases = [
            (2, "a.txt;;b.txt;c.txt", [b"a", b"b", b"c"], ["a.txt", "b.txt"]),
            (5, "a.txt", [b"a", b"b"], ["a.txt"]),
        ]
        for count, names, files, extracted in cases:
            with self.subTest(count=count, names=names):
                for log in self.log_files():
                    os.remove(log)
                exe = self.launcher_with_files(names, files, count=count)
                code, _, _ = self.run_launcher(exe, ["/run"])
                self.assertEqual(code, 1)
                log = self.only_log()
                self.assertEqual(re.findall(r"^extracting .*\\(\w+\.txt) \(size: 1\)$", log, re.MULTILINE), extracted)
                self.assertIn(f"Included files: {count}\n", log)
                self.assertIn("extracting files done\n", log)
                self.assertFalse(os.path.exists(self.temp_directory(log)))

    def test_without_included_files_nothing_is_made(self):
        tmp = os.path.join(self.dir, "tmp")
        os.makedirs(tmp)
        exe = self.launcher_with_files("a.txt", [], count=0)
        self.run_launcher(exe, ["/run"], tmp=windows_path(tmp))
        [log_path] = self.log_files(tmp)
        self.assertEqual(os.listdir(tmp), [os.path.basename(log_path)])
        with open(log_path, "rb") as f:
            self.assertIn(b"extracting files\r\nIncluded files: 0\r\nnative lib dir is", f.read())


class DamagedIncludedFiles(IncludedFilesTestCase):
    """A payload whose files cannot be extracted as named ends with an internal error, and leaves
    neither the temporary directory nor anything outside it behind."""

    def expect_internal_error(self, exe, code_text):
        code, _, err = self.run_launcher(exe, ["/run"])
        self.assertEqual(code, 1)
        self.assertEqual(err.split("\r\n")[0], f"An internal error occurred (error code: {code_text})")
        log = self.only_log()
        self.assertFalse(os.path.exists(self.temp_directory(log)))
        return log

    def test_names_that_leave_the_temporary_directory_are_refused(self):
        for name in ["..\\escaped.txt", "lib/../../escaped.txt", "C:\\escaped.txt", "\\escaped.txt"]:
            with self.subTest(name=name):
                for log in self.log_files():
                    os.remove(log)
                exe = self.launcher_with_files("a.txt;" + name, [b"a", b"evil"])
                log = self.expect_internal_error(exe, "11")
                self.assertIn("ERROR: included file name " + name + " does not stay inside", log)
                self.assertFalse(os.path.exists(os.path.join(PREFIX_TEMP, "escaped.txt")))
                self.assertFalse(os.path.exists(os.path.join(os.environ["WINEPREFIX"], "drive_c", "escaped.txt")))

    def test_a_file_shorter_than_its_size_fails_the_extraction(self):
        exe = self.launcher_with_files("a.txt;b.txt", [b"a"], count=2, raw_files=included_file(b"0123456789", 100))
        log = self.expect_internal_error(exe, "16")
        self.assertRegex(log, r"ERROR: ReadFile failed 0 \d+ 10\n")
        self.assertRegex(log, r"ERROR: Failed to extract .*\\b\.txt\n")


class TemporaryDirectory(IncludedFilesTestCase):
    def test_a_tmp_the_ansi_functions_cannot_name_falls_back_to_the_windows_temp_folder(self):
        tmp = os.path.join(self.dir, "temp \u03a9")
        os.makedirs(tmp)
        exe = self.launcher_with_files("a.txt", [b"a"])
        self.run_launcher(exe, ["/run"], tmp=windows_path(tmp))
        [log_path] = self.log_files(tmp)
        with open(log_path, "rb") as f:
            log = f.read().decode("cp1252").replace("\r\n", "\n")
        self.assertRegex(log, r"(?i)\ntempPath is C:\\windows\\temp\n")
        self.assertRegex(log, r"(?i)\nTemp dir3: C:\\windows\\temp\\lyx\w+\.tmp_dir\d+\n")

    def test_native_library_directories_go_in_front_of_path(self):
        exe = self.launcher_with_files("", [], count=0,
                                       extra={10004: "native;;${LANYX_EXEDIR}x${launcher:sys.pathlistSeparator}C:\\abs"})
        self.run_launcher(exe, ["/run"])
        directory = windows_path(self.dir) + "\\"
        self.assertRegex(self.only_log(), re.escape(f"\nSetting PATH (native libs) {directory}native;{directory}x;C:\\abs;")
                         + r"[^\n]*(?i:c:\\windows\\system32)")


class Language(LauncherTestCase):
    def test_a_german_user_gets_de_DE(self):
        exe = self.make_launcher(payload(CONSOLE_APP))
        self.run_launcher(exe, ["/run"], env=self.environment(extra={"LANG": "de_DE.UTF-8", "LC_ALL": "de_DE.UTF-8"}))
        self.assertIn("\nlanguage/country is de_DE\n", self.only_log())


if __name__ == "__main__":
    import unittest
    unittest.main()
