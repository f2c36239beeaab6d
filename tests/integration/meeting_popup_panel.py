#!/usr/bin/env python3
"""The meeting popup's panel as a window manager (openbox) sees it: its hints, a click on a button
without focus, and where it comes back after a restart.
Argument: the meeting_popup_preview executable. Run inside tools/test-env.sh (each case brings its
own X server, so the window manager never meets other tests' windows)."""
import contextlib
import json
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
from desktop_session import Desktop, Lines, click, find_button, stop, wait_for  # noqa: E402

PREVIEW = sys.argv[1]


class Panel:
    """The preview tool showing the panel in one phase, with a settings directory of the test's."""

    def __init__(self, desktop, config):
        self.desktop = desktop
        self.process = subprocess.Popen([PREVIEW, "show", "invite"], env=dict(desktop.env, XDG_CONFIG_HOME=config),
                                        stdout=subprocess.PIPE, text=True)
        try:
            line = self.process.stdout.readline().split()
            assert line[:1] == ["window"], line
            self.window = int(line[1], 16)
            self.output = Lines(self.process.stdout)
            # The window manager has framed and placed it once it says which desktop it is on.
            wait_for(lambda: "_NET_WM_DESKTOP" in desktop.xprop("-id", str(self.window)), 10, "the window manager")
        except BaseException:
            stop(self.process)
            raise

    def close(self):
        stop(self.process)


class MeetingPopupPanelTest(unittest.TestCase):
    def setUp(self):
        self.config = tempfile.mkdtemp()
        self.saved = os.path.join(self.config, "OrvanOffice", "kestrin-popup.json")

    def remembered(self):
        try:
            with open(self.saved) as file:
                return json.load(file).get("meetingPopupOrigin")
        except (OSError, ValueError):
            return None

    def test_hints_as_the_window_manager_sees_them(self):
        desktop = Desktop(accessibility=True)
        self.addCleanup(desktop.close)
        panel = Panel(desktop, self.config)
        self.addCleanup(panel.close)
        props = desktop.xprop("-id", str(panel.window))
        # On every desktop: openbox says so with the desktop number "all" rather than a sticky state.
        for expected in ["_NET_WM_STATE_ABOVE", "_NET_WM_STATE_SKIP_TASKBAR",
                         "_NET_WM_STATE_SKIP_PAGER", "_NET_WM_WINDOW_TYPE(ATOM) = _NET_WM_WINDOW_TYPE_UTILITY",
                         "Client accepts input or input focus: False",
                         "_NET_WM_DESKTOP(CARDINAL) = 4294967295"]:
            self.assertIn(expected, props)
        geometry = desktop.xdotool("getwindowgeometry", str(panel.window))
        self.assertIn("Geometry: 340x104", geometry)
        # A real click on "取る" works although the panel never gets the focus.
        click(desktop, find_button(panel.process.pid, "取る"))
        wait_for(lambda: panel.output.saw("action start"), 10, "the start action")
        active = desktop.xprop("-root", "_NET_ACTIVE_WINDOW")
        self.assertNotIn(hex(panel.window), active)

    def test_closed_through_the_window_manager_it_is_turned_down_and_only_hidden(self):
        desktop = Desktop()
        self.addCleanup(desktop.close)
        panel = Panel(desktop, self.config)
        self.addCleanup(panel.close)
        subprocess.run(["wmctrl", "-i", "-c", hex(panel.window)], env=desktop.env, check=True)
        wait_for(lambda: panel.output.saw("action dismiss"), 10, "the invitation turned down")
        state = subprocess.run(["xwininfo", "-id", str(panel.window)], env=desktop.env, capture_output=True, text=True)
        self.assertIn("IsUnMapped", state.stdout, "hidden, not destroyed")
        self.assertIsNone(panel.process.poll())

    def test_where_the_panel_comes_back_after_a_restart(self):
        # Screen it was dragged on, where to (top-left), screen of the restart, where it shows then.
        # (Which remembered places count, and the corner otherwise, is MeetingPopupPlacementTest's.)
        rows = [
            ("same screen", (1920, 1080), (600, 400), (1920, 1080), (600, 400)),
            # Kept at its distance from the bottom of the primary monitor.
            ("taller screen before", (1920, 1200), (200, 300), (1920, 1080), (200, 180)),
        ]
        for name, first, target, second, expected in rows:
            with self.subTest(name), contextlib.ExitStack() as running:
                if os.path.exists(self.saved):
                    os.unlink(self.saved)
                desktop = Desktop(*first)
                running.callback(desktop.close)
                panel = Panel(desktop, self.config)
                running.callback(panel.close)
                x, y = desktop.position(panel.window)
                # Dragged by its background: the top-left corner above the first line.
                desktop.drag((x + 5, y + 5), (target[0] + 5, target[1] + 5))
                wait_for(lambda: desktop.position(panel.window) == target, 10, "the drag")
                bottom_left = f"{{{target[0]}, {first[1] - target[1] - 104}}}"
                wait_for(lambda: self.remembered() == bottom_left, 5, f"{bottom_left} saved")
                running.close()
                desktop = Desktop(*second)
                running.callback(desktop.close)
                panel = Panel(desktop, self.config)
                running.callback(panel.close)
                self.assertEqual(desktop.position(panel.window), expected)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
