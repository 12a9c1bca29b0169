"""The launcher as a user meets it: started under Wine with a payload, its role chosen from the command
line, its diagnostic log, and its error reports (console and message box)."""
import os
import struct
import subprocess
import unittest

from harness import BUILD, STUB, WINDOWS_TEMP, LauncherTestCase, payload, windows_path

CONSOLE_APP = {101: "Demo service", 107: "4", 1000: "Error", 2001: "q"}


class Roles(LauncherTestCase):
    """The command line selects service command, worker, run mode or service dispatcher."""

    def test_without_arguments_the_dispatcher_fails_and_the_launcher_ends_with_0(self):
        exe = self.make_launcher(payload(CONSOLE_APP))
        code, _, _ = self.run_launcher(exe)
        self.assertEqual(code, 0)
        log = self.only_log()
        self.assertIn("calling StartServiceCtrlDispatcher\n", log)
        self.assertIn("StartServiceCtrlDispatcher failed with error 1063\n", log)
        self.assertIn("StartServiceCtrlDispatcher returned\n", log)

    def test_command_lines(self):
        # (arguments, expected log lines, service-command line or None)
        cases = [
            (["/run", "a", "b c"], ["running service", "run application (service 0, 2 arguments)",
                                    "argument 0: a", "argument 1: b c"]),
            (["-run-redirect", "x"], ["running service with redirection", "run application (service 0, 1 arguments)",
                                      "argument 0: x"]),
            (["--run"], ["running service", "run application (service 0, 0 arguments)"]),
            (["/run", "a", "__qvx_restart"], ["run application (service 1, 2 arguments)", "argument 0: /run",
                                              "argument 1: a"]),
            (["__qvx_restart"], ["run application (service 1, 0 arguments)"]),
            (["__qvx_restart", "a"], ["calling StartServiceCtrlDispatcher"]),
            (["install"], ["calling StartServiceCtrlDispatcher"]),
            (["/Install"], ["calling StartServiceCtrlDispatcher"]),
            (["/runx"], ["calling StartServiceCtrlDispatcher"]),
        ]
        exe = self.make_launcher(payload(CONSOLE_APP))
        for arguments, expected in cases:
            with self.subTest(arguments=arguments):
                for log in self.log_files():
                    os.remove(log)
                self.run_launcher(exe, arguments)
                lines = self.only_log().split("\n")
                for line in expected:
                    self.assertIn(line, lines)
                if "running service" not in expected[0] and "service 1" not in expected[0]:
                    self.assertNotIn("running service", lines)

    def test_service_verbs_take_name_and_interactivity_from_the_command_line(self):
        cases = [
            (["--install"], "install", "Demo service", 1),
            (["-install"], "install", "Demo service", 1),
            (["/install"], "install", "Demo service", 1),
            (["/install", "My", "Service"], "install", "My Service", 1),
            (["/install", "non-interactive", "My", "Service"], "install", "My Service", 0),
            ('/install "My Service"', "install", '"My Service"', 1),
            (["/stop", "non-interactive"], "stop", "Demo service", 0),
            (["/install", "My", "Service", "non-interactive"], "install", "My Service non-interactive", 1),
            (["-status", "Other"], "status", "Other", 1),
            (["--install-auto"], "install", "Demo service", 1),
            (["/uninstall"], "uninstall", "Demo service", 1),
        ]
        exe = self.make_launcher(payload(CONSOLE_APP))
        for arguments, verb, name, interactive in cases:
            with self.subTest(arguments=arguments):
                for log in self.log_files():
                    os.remove(log)
                if isinstance(arguments, str):
                    code, _, _ = self.run_launcher(exe, raw=arguments)
                else:
                    code, _, _ = self.run_launcher(exe, arguments)
                # Service commands are not built yet: they fail, naming what was asked for.
                self.assertEqual(code, 1)
                self.assertIn(f"ERROR: service command {verb} for service '{name}' (interactive {interactive})"
                              " is not implemented\n", self.only_log())

    def test_working_directory_is_taken_relative_to_the_executable(self):
        os.makedirs(os.path.join(self.dir, "work"))
        exe = self.make_launcher(payload({**CONSOLE_APP, 146: "work"}))
        self.run_launcher(exe)
        self.assertIn("change working directory to " + windows_path(os.path.join(self.dir, "work")), self.only_log())

    def test_empty_working_directory_leaves_it_unchanged(self):
        exe = self.make_launcher(payload(CONSOLE_APP))
        self.run_launcher(exe)
        self.assertIn("working directory unchanged\n", self.only_log())


class Log(LauncherTestCase):
    def test_log_file_is_in_tmp_and_starts_with_the_start_line_and_an_empty_line(self):
        exe = self.make_launcher(payload(CONSOLE_APP))
        self.run_launcher(exe)
        [log] = self.log_files()
        self.assertRegex(os.path.basename(log), r"^qvx_nlog_\d+$")
        lines = self.only_log().split("\n")
        self.assertRegex(lines[0], r"^Started executable .*\\app\.exe at \w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4}$")
        self.assertEqual(lines[1], "")
        self.assertIn("number of sections: ", lines[2])

    def test_only_the_exact_value_yes_switches_logging_on(self):
        exe = self.make_launcher(payload(CONSOLE_APP))
        for variables, logs in [({"LANYX_LOG": "yes"}, 1), ({"QUORVEX_LOG": "yes"}, 1), ({"LANYX_LOG": "YES"}, 0),
                                ({"LANYX_LOG": "true"}, 0), ({}, 0)]:
            with self.subTest(variables=variables):
                for log in self.log_files():
                    os.remove(log)
                self.run_launcher(exe, env=self.environment(log=False, extra=variables))
                self.assertEqual(len(self.log_files()), logs)

    def test_two_processes_write_two_files(self):
        exe = self.make_launcher(payload(CONSOLE_APP))
        env = self.environment()
        processes = [subprocess.Popen(["wine", exe], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL) for _ in range(2)]
        for p in processes:
            p.wait(timeout=60)
        logs = self.log_files()
        self.assertEqual(len(logs), 2)
        for log in logs:
            with open(log, "rb") as f:
                self.assertTrue(f.read().startswith(b"Started executable "))

    def test_without_a_usable_tmp_the_log_goes_to_the_root_of_drive_c(self):
        prefix = os.environ["WINEPREFIX"]
        drive_c = os.path.join(prefix, "drive_c")
        before = set(self.log_files(drive_c))
        exe = self.make_launcher(payload(CONSOLE_APP))
        for tmp in [windows_path(os.path.join(self.dir, "missing")), ""]:
            with self.subTest(tmp=tmp):
                self.run_launcher(exe, tmp=tmp)
                new = set(self.log_files(drive_c)) - before
                self.assertEqual(len(new), 1)
                before |= new
                for log in new:
                    os.remove(log)

    def test_a_fatal_error_shows_the_log_path_under_the_message(self):
        exe = self.make_launcher(payload(CONSOLE_APP))
        code, _, err = self.run_launcher(exe, ["/run"])
        self.assertEqual(code, 1)
        [log] = self.log_files()
        self.assertEqual(err.replace("\r\n", "\n"), "This launcher cannot run Java applications yet.\n\nLog: "
                         + WINDOWS_TEMP + "\\" + os.path.basename(log) + "\n")

    def test_without_log_the_console_error_is_the_message_alone(self):
        exe = self.make_launcher(payload(CONSOLE_APP))
        code, _, err = self.run_launcher(exe, ["/run"], env=self.environment(log=False))
        self.assertEqual((code, err.replace("\r\n", "\n")), (1, "This launcher cannot run Java applications yet.\n"))


class DamagedPayload(LauncherTestCase):
    """A payload that cannot be read ends the launcher with an internal error in a message box (the
    configuration is not loaded yet) and exit code 1, never with a crash."""

    def expect_internal_error(self, data, reader, name):
        exe = self.make_launcher(data, name=name + ".exe")
        code, caption, text = self.run_with_message_box(exe, env=self.environment(log=False), name=name)
        self.assertEqual((code, caption, text), (1, "", "Internal Error: " + reader))

    def test_the_bare_stub_has_no_payload(self):
        self.expect_internal_error(b"", "magic", "bare-stub")

    def test_bad_magic(self):
        self.expect_internal_error(payload(CONSOLE_APP, magic=0xE8E413D6), "magic", "bad-magic")

    def test_truncated_at_every_field_boundary(self):
        data = payload({101: "Demo"}, {20017: "x"})
        # offset of the first missing field -> the reader that meets the end of the file
        cases = {0: "magic", 4: "readInt", 8: "readInt", 12: "readLong", 20: "readInt",  # header, narrow count
                 24: "readInt", 28: "readInt", 32: "readString",  # narrow id, length, text
                 36: "readInt", 40: "readInt", 44: "readInt", 48: "readWString",  # wide count, id, length, text
                 50: "readInt"}  # language block count
        self.assertEqual(len(data), 54)
        for point, reader in cases.items():
            with self.subTest(truncated_at=point):
                self.expect_internal_error(data[:point], reader, f"truncated-{point}")

    def test_impossible_counts_and_lengths(self):
        header = struct.pack("<IiiQ", 0xE8E413D5, 0, 1220735356, 2431)
        empty_rest = struct.pack("<ii", 0, 0)
        cases = [
            ("negative-narrow-count", header + struct.pack("<i", -1) + empty_rest, "readInt"),
            ("huge-narrow-count", header + struct.pack("<i", 0x7FFFFFFF) + empty_rest, "readInt"),
            ("negative-length", header + struct.pack("<iii", 1, 101, -5) + empty_rest, "readString"),
            ("huge-length", header + struct.pack("<iii", 1, 101, 0x7FFFFFF0) + b"abc" + empty_rest, "readString"),
            ("odd-wide-length", header + struct.pack("<iiii", 0, 1, 20017, 3) + b"abcd" + struct.pack("<i", 0),
             "readWString"),
            ("huge-wide-length", header + struct.pack("<iiii", 0, 1, 20017, 0x7FFFFFFE) + struct.pack("<i", 0),
             "readWString"),
            ("huge-language-count", header + empty_rest + struct.pack("<i", 0x10000000), "readInt"),
        ]
        for name, data, reader in cases:
            with self.subTest(case=name):
                self.expect_internal_error(data, reader, name)


class Demo(LauncherTestCase):
    def test_the_demo_configuration_reaches_the_service_dispatcher(self):
        tool = os.path.join(BUILD, os.pardir, "native", "bin", "launcher-config")
        config = os.path.join(os.path.dirname(__file__), os.pardir, os.pardir, "examples", "demo.json")
        exe = os.path.join(self.dir, "DemoService.exe")
        subprocess.run([tool, "build", "--stub", STUB, "--config", config, "--out", exe], check=True,
                       capture_output=True)
        code, _, _ = self.run_launcher(exe)
        self.assertEqual(code, 0)
        log = self.only_log()
        self.assertIn("change working directory to " + windows_path(BUILD) + "\n", log)
        self.assertIn("StartServiceCtrlDispatcher failed with error 1063\n", log)


class ErrorDisplay(LauncherTestCase):
    def test_windowed_application_types_show_message_boxes(self):
        for app_type in ("1", "5"):
            with self.subTest(app_type=app_type):
                exe = self.make_launcher(payload({**CONSOLE_APP, 107: app_type, 1000: "Fehler"}))
                code, caption, text = self.run_with_message_box(exe, ["/run"], env=self.environment(log=False),
                                                                name=f"windowed-{app_type}")
                self.assertEqual((code, caption, text), (1, "Fehler", "This launcher cannot run Java applications yet."))


if __name__ == "__main__":
    unittest.main()
