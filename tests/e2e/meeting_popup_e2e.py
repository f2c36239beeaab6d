#!/usr/bin/env python3
"""A meeting recorded from the popup, the whole road: a browser window titled like a Google Meet
call appears, the popup offers to record it and "取る" records both sides. The shell is killed; its
next start collects what was left over the way the web application does ("pending", readRecording,
upload, "discard"), about a second short at most. The popup of that shell offers the meeting again:
"取る", "一時停止"/"再開", and "止めて保存" save it: a notification, the meeting-notes page, which
collects, uploads and discards. Each file has what the computer played and what the microphone
heard, each on its own channel. The popup is driven through the accessibility tree and real pointer
clicks, under openbox.
Run inside tools/test-env.sh. Arguments: the build's bundle directory and the stand-in's executable.
Notifications go to python3-dbusmock's notification daemon."""
import math
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import dbusmock

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
from desktop_session import Desktop, click, find_button, find_label  # noqa: E402
from e2e_support import (StandIn, assert_both_sides, make_bundle, play_tones, recording_sessions, stop,  # noqa: E402
                         wait_for)

BUNDLE, WEBAPP = (sys.argv + ["", ""])[1:3]
RECORD_PATH = "/meeting-notes/record"

# A window as the browser names a Meet tab: class "Google-chrome", the page title and the browser's suffix.
MEETING_WINDOW = """
import gi
gi.require_version("Gtk", "3.0")
from gi.repository import Gtk
window = Gtk.Window(title="abc-defg-hij - Google Meet - Google Chrome")
window.set_wmclass("google-chrome", "Google-chrome")
window.set_default_size(640, 480)
window.connect("destroy", Gtk.main_quit)
window.show_all()
Gtk.main()
"""


class MeetingPopupEndToEnd(unittest.TestCase):
    def setUp(self):
        self.desktop = Desktop(accessibility=True)
        self.addCleanup(self.desktop.close)
        self.webapp = StandIn(WEBAPP)
        self.addCleanup(self.webapp.close)
        # The shell starts on the meeting-notes page, which reports the recording flag.
        self.bundle = make_bundle(BUNDLE, self.webapp.base + RECORD_PATH + "?mode=desktop-app")
        self.addCleanup(shutil.rmtree, self.bundle, True)
        server, self.notifications = dbusmock.DBusTestCase.spawn_server_template(
            "notification_daemon", {"capabilities": "actions body sound"}, stdout=subprocess.DEVNULL)
        self.addCleanup(stop, server)
        play_tones(self)

    def notified(self):
        """Summary and body of each notification sent."""
        return [list(args[3:5]) for _, args in self.notifications.GetMethodCalls("Notify", dbus_interface=dbusmock.MOCK_IFACE)]

    def flags(self):
        return [r["query"] for r in self.webapp.requests("/api/recording-flag", "POST")]

    def press(self, label):
        click(self.desktop, find_button(self.shell.pid, label))

    def shows(self, text):
        return find_label(self.shell.pid, text)

    def start_shell(self, log):
        collected = len(self.webapp.requests("/api/recordings"))
        self.shell = subprocess.Popen([os.path.join(self.bundle, "orvanoffice")], stderr=log,
                                      env=dict(self.desktop.env, ORVAN_LOG_STDERR="1"))
        self.addCleanup(stop, self.shell)
        wait_for(lambda: len(self.webapp.requests("/api/recordings")) > collected,
                 what="the meeting-notes page to collect")

    def take(self):
        # The watch runs every ten seconds.
        self.assertTrue(find_label(self.shell.pid, "Google Meet の会議が始まりました", timeout=40))
        self.press("取る")
        wait_for(lambda: len(recording_sessions()) == 1, what="a recording to start")
        self.shows("● 記録しています")

    def test_record_a_meeting_from_the_popup_after_a_killed_one(self):
        log = tempfile.TemporaryFile("w+")
        self.addCleanup(log.close)
        self.start_shell(log)
        meeting = subprocess.Popen([sys.executable, "-W", "ignore", "-c", MEETING_WINDOW], env=self.desktop.env)
        self.addCleanup(stop, meeting)

        self.take()
        session = os.path.join(os.environ["XDG_DATA_HOME"], "OrvanOffice", "recordings", recording_sessions()[0])
        # The tracks' time zero is the first sound of either device, which here comes up to two
        # seconds after the start, later on a loaded machine. So the loss is judged by what the raw
        # tracks on disk hold: when their time zero was, as seen from here, is the earliest estimate
        # of now less what they hold.
        origin = math.inf

        def on_disk():
            """Seconds held by each raw track (float samples at 16 kHz)."""
            nonlocal origin
            tracks = [os.path.join(session, name) for name in ("system.f32", "mic.f32")]
            seconds = [os.path.getsize(path) / 4 / 16000 if os.path.exists(path) else 0 for path in tracks]
            if max(seconds) > 0:
                origin = min(origin, time.monotonic() - max(seconds))
            return seconds

        # Killed a second after both tracks are written (each device's first seconds are held until
        # its time stamps settle).
        wait_for(lambda: min(on_disk()) >= 3.0, 30, "both raw tracks to hold three seconds", every=0.05)
        for _ in range(20):
            on_disk()
            time.sleep(0.05)
        held = max(on_disk())
        self.shell.kill()
        killed = time.monotonic() - origin
        self.shell.wait()
        self.assertTrue(os.path.exists(os.path.join(session, "system.f32")))
        self.assertFalse(os.path.exists(os.path.join(session, "meeting.m4a")))

        # The next start's page collects what was left over: the raw tracks are mixed and sent.
        self.start_shell(log)
        wait_for(lambda: self.webapp.uploads(), what="the killed recording to be uploaded")
        wait_for(lambda: recording_sessions() == [], what="the killed session to be discarded")
        seconds = assert_both_sides(self, self.webapp.get("/api/recordings/0"))
        print(f"killed {killed:.2f} s into the tracks, {held:.2f} s of them on disk: {seconds:.2f} s came back",
              file=sys.stderr)
        self.assertGreaterEqual(seconds, held - 0.05)
        self.assertGreater(seconds, killed - 1.0)
        self.assertLess(seconds, killed + 0.5)

        self.take()
        wait_for(lambda: self.flags() == ["active=true"] * 2, what="the page's flag to become true")
        first = self.shows("Google Meet ・ 00:0").get_name()
        wait_for(lambda: find_label(self.shell.pid, "Google Meet ・ 00:0").get_name() != first, 5, "the clock")
        self.press("一時停止")
        self.shows("一時停止しています")
        self.press("再開")
        self.shows("● 記録しています")
        time.sleep(5.0)

        self.press("止めて保存")
        wait_for(lambda: ["会議の録音を保存しました", "トモリバで議事録への保存を始めます。"] in self.notified(), 60,
                 "the notification")
        wait_for(lambda: [r["query"] for r in self.webapp.requests(RECORD_PATH)] == ["mode=desktop-app"] * 3,
                 30, "the meeting-notes page to open again")
        wait_for(lambda: len(self.webapp.uploads()) == 2, 30, "the recording to be uploaded")
        wait_for(lambda: recording_sessions() == [], 30, "the session directory to be discarded")
        self.assertEqual(self.flags(), ["active=true", "active=true", "active=false"])
        assert_both_sides(self, self.webapp.get("/api/recordings/1"))
        log.seek(0)
        self.assertNotIn("保存できません", log.read())


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
