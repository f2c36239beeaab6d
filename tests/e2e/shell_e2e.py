#!/usr/bin/env python3
"""The real shell against the stand-in web application: start, menu shortcuts, a second launch, quit.

Run inside tools/test-env.sh (an X server and a private session bus). Arguments: the bundle
directory of the build and the stand-in's executable.
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from e2e_support import StandIn, click_menu, make_bundle, stop, tray_item, tray_panel, wait_for

BUNDLE, WEBAPP = sys.argv[1], sys.argv[2]


class ShellEndToEnd(unittest.TestCase):
    def setUp(self):
        self.webapp = StandIn(WEBAPP)
        self.addCleanup(self.webapp.close)
        bundle = make_bundle(BUNDLE, self.webapp.base + "/")
        self.addCleanup(shutil.rmtree, bundle, True)
        self.executable = os.path.join(bundle, "orvanoffice")
        self.panel = tray_panel(self)
        self.log = tempfile.TemporaryFile(mode="w+")
        self.addCleanup(self.log.close)
        self.shell = subprocess.Popen([self.executable], stderr=self.log, env=dict(os.environ, ORVAN_LOG_STDERR="1"))
        self.addCleanup(stop, self.shell)
        wait_for(lambda: self.webapp.requests("/"), what="the start page")

    def log_lines(self):
        self.log.seek(0)
        return [line.rstrip("\n") for line in self.log if line.startswith("MacShell: ")]

    def press(self, keys, path, count):
        """Presses `keys` until `path` has been loaded `count` times (a window needs a moment to be
        mapped and focused before it hears keys)."""
        def attempt():
            if len(self.webapp.requests(path)) < count:
                subprocess.run(["xdotool", "key", "--clearmodifiers", keys], check=True)
                time.sleep(0.5)
            return len(self.webapp.requests(path)) >= count
        wait_for(attempt, what=f"{keys} to load {path} ({count})")

    def test_start_shortcuts_second_launch_and_quit(self):
        # The tray plug-in loads and its item appears in the panel.
        item = tray_item(self.panel, self.shell.pid)
        self.assertEqual(self.log_lines(), [], "no load failure")

        # Ctrl+5 is the Go menu's "議事録".
        self.press("ctrl+5", "/meeting-notes", 1)

        # "--toggle", as the desktop's keyboard settings run it, reaches the running instance: its window
        # is in front and active, so it hides, and the next one brings it back.
        def shown():
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--class", "jp.tomoriva.OrvanOffice"],
                                   capture_output=True, text=True)
            return found.stdout.split()
        for expected in ([], shown()):
            self.assertEqual(subprocess.run([self.executable, "--toggle"], timeout=30).returncode, 0)
            wait_for(lambda: shown() == expected, 10, f"the windows to be {expected or 'hidden'}")

        # A second launch opens a window in the running instance and ends at once.
        second = subprocess.run([self.executable], timeout=30)
        self.assertEqual(second.returncode, 0)
        wait_for(lambda: len(self.webapp.requests("/")) == 2, what="the second window's start page")
        self.assertIsNone(self.shell.poll(), "the first instance must keep running")
        self.assertEqual(self.log_lines(), [], "a second window does not load the plug-in again")

        # Only the new (key) window follows Ctrl+5: one more request, not two.
        self.press("ctrl+5", "/meeting-notes", 2)
        time.sleep(1.0)
        self.assertEqual(len(self.webapp.requests("/meeting-notes")), 2)

        # The tray menu's "終了" ends the instance with both its windows.
        click_menu(item, "終了")
        self.assertEqual(self.shell.wait(timeout=30), 0)

        # Told to end by the system (a logout, a service manager): the same way out, not cut off.
        self.shell = subprocess.Popen([self.executable], stderr=self.log)
        wait_for(lambda: len(self.webapp.requests("/")) == 3, what="the start page once more")
        self.shell.send_signal(signal.SIGTERM)
        self.assertEqual(self.shell.wait(timeout=30), 0)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
