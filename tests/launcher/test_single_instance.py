"""Single instance control across processes: numbered semaphores of ordinary instances, and the
second start in single-instance mode ending with 0 after bringing the first instance to the front.
A small holder program plays the running instance: it holds the semaphores, records its process id
where the launcher looks for it and owns a minimised window."""
import os
import re
import subprocess
import time

from harness import BUILD, LauncherTestCase, payload, unix_path, windows_path

HOLDER = os.path.join(BUILD, "tests", "launcher", "InstanceHolder.exe")
CONSOLE_APP = {101: "Demo service", 107: "4", 1000: "Error", 2001: "q"}


class SingleInstanceTestCase(LauncherTestCase):
    def tearDown(self):
        self.doCleanups()  # stop the holder while its directory still exists
        super().tearDown()

    def semaphore_base(self, exe, prefix="Local\\"):
        return prefix + windows_path(exe).lower().replace("\\", "_").replace(" ", "_")

    def start_holder(self, semaphores, pid_value_name="-"):
        """Starts the holder; returns its report file and a function that stops it, once it holds the
        semaphores."""
        report = os.path.join(self.dir, "holder.report")
        stop = os.path.join(self.dir, "holder.stop")
        process = subprocess.Popen(["wine", HOLDER, windows_path(report), windows_path(stop), pid_value_name,
                                    *semaphores], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)

        def stop_holder():
            open(stop, "w").close()
            try:  # a second call finds it ended
                process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                process.kill()
        self.addCleanup(stop_holder)
        for _ in range(300):
            if os.path.exists(report) and os.path.getsize(report) > 0:
                return report, stop_holder
            time.sleep(0.1)
        self.fail("the holder did not start")

    def holder_state(self, report):
        with open(report) as f:
            pid, iconic, foreground = re.match(r"pid (\d+) iconic (\d) foreground (\d)", f.read()).groups()
        return int(pid), iconic == "1", foreground == "1"


class OrdinaryInstances(SingleInstanceTestCase):
    def test_each_running_instance_takes_the_next_number_and_a_free_number_is_taken_again(self):
        exe = self.make_launcher(payload(CONSOLE_APP), name="My App.exe")
        base = self.semaphore_base(exe)
        self.assertIn("my_app.exe", base)
        _, stop_holder = self.start_holder([base + "0", base + "1"])
        self.run_launcher(exe, ["/run"])
        self.assertIn(f"\nsemaphore name {base}2, code 0, value ", self.only_log())

        stop_holder()
        for log in self.log_files():
            os.remove(log)
        self.run_launcher(exe, ["/run"])
        self.assertIn(f"\nsemaphore name {base}0, code 0, value ", self.only_log())


class SecondInstance(SingleInstanceTestCase):
    def test_the_second_start_raises_the_first_instance_and_ends_with_0(self):
        exe = self.make_launcher(payload({**CONSOLE_APP, 2002: "1", 2003: "a.txt", 10005: "1", 10007: "1"},
                                         files=[b"abc"]))
        report, _ = self.start_holder([self.semaphore_base(exe)], windows_path(exe).lower())
        holder_pid, iconic, _ = self.holder_state(report)
        self.assertTrue(iconic)

        code, _, err = self.run_launcher(exe, ["/run"])
        self.assertEqual((code, err), (0, ""))
        log = self.only_log()
        self.assertIn(f"\nsingle instance mode\nsemaphore name {self.semaphore_base(exe)}, code 183, value ", log)
        self.assertIn(f"\nother pid {holder_pid}\nfound window ", log)
        self.assertRegex(log, r"\nrestore\nforeground\npopup\ndone\nexiting\n")
        # The second instance extracted its files too, and removed them when it ended.
        directory = unix_path(re.search(r"Temp dir3: (.*)\n", log).group(1))
        self.assertIn("\\a.txt (size: 3)", log)
        self.assertFalse(os.path.exists(directory))
        time.sleep(0.5)
        _, iconic, foreground = self.holder_state(report)
        self.assertFalse(iconic, "the first instance's window is still minimised")
        self.assertTrue(foreground, "the first instance's window is not in front")

    def test_without_activation_no_window_is_touched(self):
        exe = self.make_launcher(payload({**CONSOLE_APP, 10005: "1", 10007: "0"}))
        report, _ = self.start_holder([self.semaphore_base(exe)], windows_path(exe).lower())
        holder_pid, _, _ = self.holder_state(report)
        code, _, _ = self.run_launcher(exe, ["/run"])
        self.assertEqual(code, 0)
        log = self.only_log()
        self.assertIn(f"\nother pid {holder_pid}\nexiting\n", log)
        self.assertTrue(self.holder_state(report)[1], "the window was restored")

    def test_the_first_instance_records_its_pid_and_goes_on(self):
        exe = self.make_launcher(payload({**CONSOLE_APP, 10005: "1", 158: "1"}))
        code, _, _ = self.run_launcher(exe, ["/run"])
        self.assertEqual(code, 1)  # on to the Java launch, which is not built yet
        log = self.only_log()
        global_name = self.semaphore_base(exe, "Global\\")
        self.assertIn(f"\nsemaphore name {global_name}, code 0, value ", log)
        query = subprocess.run(["wine", "reg", "query", "HKCU\\SOFTWARE\\halvard-systems\\lanyx\\pids",
                                "/v", windows_path(exe).lower()], stdin=subprocess.DEVNULL, capture_output=True,
                               timeout=60)
        self.assertIn(b"REG_DWORD", query.stdout)


if __name__ == "__main__":
    import unittest
    unittest.main()
