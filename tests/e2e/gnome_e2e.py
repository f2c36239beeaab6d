#!/usr/bin/env python3
"""The real shell on GNOME Shell on Wayland, judged by GNOME Shell's own view of its windows: the
meeting popup floats unfocused and kept above at the work area's corner over the shell's window; the
tray item's activation (as the AppIndicator extension sends it) hides the focused window and brings
it back focused; without a tray host, closing the last window ends the shell.
Run inside tools/test-env.sh (the GNOME session is its own). Arguments: the build's bundle directory
and the stand-in's executable. ORVAN_GNOME_SCREENSHOT=FILE keeps a screenshot of the popup."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
from gnome_session import APPINDICATOR, GnomeSession  # noqa: E402
from e2e_support import StandIn, make_bundle, stop, wait_for  # noqa: E402

BUNDLE, WEBAPP = (sys.argv + ["", ""])[1:3]
# The popup's place: 24 px from the work area's right edge and 72 px above its bottom.
RIGHT, BOTTOM = 24, 72

# The shell's windows bottom to top, as GNOME Shell stacks them.
WINDOWS = """global.display.sort_windows_by_stacking(global.get_window_actors().map(a => a.meta_window)
  .filter(w => w.get_pid() == %d)).map(w => { const r = w.get_frame_rect();
  return {utility: w.get_window_type() == 7, above: w.is_above(), focus: w.has_focus(),
          rect: [r.x, r.y, r.width, r.height]}; })"""
WORK_AREA = """(r => [r.x, r.y, r.width, r.height])(global.display.get_workspace_manager()
  .get_active_workspace().get_work_area_for_monitor(0))"""
NOW = "global.display.get_current_time_roundtrip()"
# The shell's main window or popup told to do something, with a real time stamp: mutter refuses the
# focus to a request without one.
WINDOW_DOES = ("global.get_window_actors().map(a => a.meta_window).find(w => w.get_pid() == %d && "
               "(w.get_window_type() == 7) == %s).%s(" + NOW + ")")


class GnomeEndToEnd(unittest.TestCase):
    """One GNOME session and one shell for all three checks, run in their order."""

    @classmethod
    def setUpClass(cls):
        # Class clean-ups run even when this fails half-way.
        cls.gnome = GnomeSession(extensions=(APPINDICATOR,))
        cls.addClassCleanup(cls.gnome.close)
        webapp = StandIn(WEBAPP)
        cls.addClassCleanup(webapp.close)
        bundle = make_bundle(BUNDLE, webapp.base + "/")
        cls.addClassCleanup(shutil.rmtree, bundle, True)
        # A meeting from the start: the process of the native Zoom client's meeting.
        folder = tempfile.mkdtemp()
        cls.addClassCleanup(shutil.rmtree, folder, True)
        shutil.copy("/bin/sleep", os.path.join(folder, "CptHost"))
        cls.addClassCleanup(stop, subprocess.Popen([os.path.join(folder, "CptHost"), "600"]))
        cls.shell = subprocess.Popen([os.path.join(bundle, "orvanoffice")], env=dict(cls.gnome.env, ORVAN_LOG_STDERR="1"))
        cls.addClassCleanup(stop, cls.shell)

    def windows(self):
        return self.gnome.eval(WINDOWS % self.shell.pid)

    def main_windows(self):
        return [w for w in self.windows() if not w["utility"]]

    def window_does(self, popup, action):
        self.gnome.eval(WINDOW_DOES % (self.shell.pid, "true" if popup else "false", action))

    def test_1_popup_floats_unfocused_above_at_the_corner(self):
        wait_for(lambda: len(self.windows()) == 2, 60, "the window and the popup")
        # Mutter gives a new window no focus without a user's action: the test gives it to the main
        # window, then asks for it for the popup as a click on it would.
        self.window_does(False, "activate")
        wait_for(lambda: self.main_windows()[0]["focus"], 10, "the main window to be focused")
        self.window_does(True, "activate")
        main, popup = self.windows()
        self.assertTrue(popup["utility"], "the popup is on top of the main window")
        self.assertFalse(popup["focus"], "the popup never takes the focus")
        self.assertTrue(main["focus"], "the main window keeps it")
        self.assertTrue(popup["above"], "the popup is kept above")
        x, y, width, height = self.gnome.eval(WORK_AREA)
        w, h = popup["rect"][2:]
        self.assertEqual(popup["rect"], [x + width - RIGHT - w, y + height - BOTTOM - h, w, h], "at the corner")
        shot = os.environ.get("ORVAN_GNOME_SCREENSHOT")
        if shot:
            self.gnome.screenshot(os.path.abspath(shot))

    def test_2_tray_activation_hides_and_shows(self):
        wait_for(self.main_windows, 30, "the main window")
        self.window_does(False, "activate")
        wait_for(lambda: self.main_windows()[0]["focus"], 10, "the main window to be focused")
        # A click on the item, once it is in the panel: the token, then Activate.
        item = f"Main.panel.statusArea['appindicator-org.kde.StatusNotifierItem-{self.shell.pid}-1']"
        click = f"(item => !!item && (item._indicator.open(0, 0, {NOW}), true))({item})"
        wait_for(lambda: self.gnome.eval(click), 30, "the tray item")
        wait_for(lambda: self.main_windows() == [], 10, "the window to hide")
        wait_for(lambda: self.gnome.eval(click), 30, "the tray item")
        wait_for(lambda: [w["focus"] for w in self.main_windows()] == [True], 10, "the window back, focused")

    def test_3_without_tray_host_closing_the_last_window_quits(self):
        self.gnome.call("/org/gnome/Shell", "org.gnome.Shell.Extensions", "DisableExtension", "(s)", APPINDICATOR)
        wait_for(lambda: not self.gnome.has_owner("org.kde.StatusNotifierWatcher"), 10, "the tray host to go")
        wait_for(self.main_windows, 30, "the main window")
        self.window_does(False, "delete")
        self.assertEqual(self.shell.wait(timeout=30), 0)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
