#!/usr/bin/env python3
"""The real shell against the stand-in web application: start, menu shortcuts, a second launch.

Run inside tools/test-env.sh (an X server and a private session bus). Arguments: the bundle
directory of the build, the stand-in's executable and the tests' own tray panel.
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

from e2e_support import make_bundle, start_webapp, stop, wait_for

BUNDLE, WEBAPP, PANEL = sys.argv[1], sys.argv[2], sys.argv[3]


class ShellEndToEnd(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.webapp, cls.base = start_webapp(WEBAPP)
        cls.bundle = make_bundle(BUNDLE, cls.base + "/")
        cls.executable = os.path.join(cls.bundle, "orvanoffice")

    @classmethod
    def tearDownClass(cls):
        stop(cls.webapp)
        shutil.rmtree(cls.bundle, ignore_errors=True)

    def setUp(self):
        urllib.request.urlopen(urllib.request.Request(self.base + "/__control/clear", method="POST"))
        self.panel = subprocess.Popen([PANEL], stdout=subprocess.PIPE, text=True)
        self.assertEqual(self.panel.stdout.readline().strip(), "ready")
        self.log = tempfile.TemporaryFile(mode="w+")
        self.start_shell()

    def start_shell(self):
        self.shell = subprocess.Popen([self.executable], stderr=self.log,
                                      env=dict(os.environ, ORVAN_LOG_STDERR="1"))

    def tearDown(self):
        stop(self.shell)
        stop(self.panel)
        self.panel.stdout.close()
        self.log.close()

    def log_lines(self):
        self.log.seek(0)
        return [line.rstrip("\n") for line in self.log if line.startswith("MacShell: ")]

    def requests(self, path):
        with urllib.request.urlopen(self.base + "/__control/requests") as answer:
            return [r for r in json.load(answer) if r["method"] == "GET" and r["path"] == path]

    def key(self, keys):
        subprocess.run(["xdotool", "key", "--clearmodifiers", keys], check=True)

    def test_start_shortcuts_and_second_launch(self):
        wait_for(lambda: self.requests("/"), what="the start page")
        # The tray plug-in loads and its item appears in the panel.
        self.registered_item()
        self.assertEqual(self.log_lines(), [], "no load failure")

        # Ctrl+5 is the Go menu's "議事録".
        wait_for(lambda: self.tryKey("ctrl+5", "/meeting-notes", 1), what="Ctrl+5 to load /meeting-notes")

        # A second launch opens a window in the running instance and ends at once.
        second = subprocess.run([self.executable], timeout=30)
        self.assertEqual(second.returncode, 0)
        wait_for(lambda: len(self.requests("/")) == 2, what="the second window's start page")
        self.assertIsNone(self.shell.poll(), "the first instance must keep running")
        self.assertEqual(self.log_lines(), [], "a second window does not load the plug-in again")

        # Only the new (key) window follows Ctrl+5: one more request, not two.
        wait_for(lambda: self.tryKey("ctrl+5", "/meeting-notes", 2), what="Ctrl+5 in the second window")
        time.sleep(1.0)
        self.assertEqual(len(self.requests("/meeting-notes")), 2)

    def test_the_tray_menu_quits(self):
        wait_for(lambda: self.requests("/"), what="the start page")
        self.click_menu(self.registered_item(), "終了")
        self.assertEqual(self.shell.wait(timeout=30), 0)

    def registered_item(self):
        """The shell's tray item, once the panel has seen it register."""
        item = f"org.kde.StatusNotifierItem-{self.shell.pid}-1"
        while self.panel.stdout.readline().strip() != f"registered {item}":
            pass
        return item

    def click_menu(self, item, label):
        layout = subprocess.run(["gdbus", "call", "--session", "--dest", item, "--object-path", "/MenuBar",
                                 "--method", "com.canonical.dbusmenu.GetLayout", "--", "0", "-1", "[]"],
                                capture_output=True, text=True, check=True).stdout
        row = re.search(r"\((\d+), \{[^}]*'label': <'" + label + "'>", layout)
        self.assertIsNotNone(row, layout)
        subprocess.run(["gdbus", "call", "--session", "--dest", item, "--object-path", "/MenuBar",
                        "--method", "com.canonical.dbusmenu.Event", "--", row.group(1), "clicked", "<0>", "0"],
                       capture_output=True, check=True)

    def tryKey(self, keys, path, count):
        # The window needs a moment to be mapped and focused before it hears keys.
        if len(self.requests(path)) >= count:
            return True
        self.key(keys)
        time.sleep(0.5)
        return len(self.requests(path)) >= count


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
