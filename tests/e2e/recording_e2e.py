#!/usr/bin/env python3
"""A recording through the real shell that is killed, and comes back when the shell starts again.

The stand-in's meeting-notes page starts the recording ("r"): what the computer plays (the private
sound server's default sink "spk", fed one tone) and the microphone ("mic", fed another). The shell
is killed; on the next start the page asks for what was left over and collects it the way the web
application does: "pending", readRecording, upload, "discard". (The whole road through the popup,
stop and save included, is meeting_popup_e2e.py.)
Run inside tools/test-env.sh. Arguments: the bundle directory of the build and the stand-in's
executable.
"""
import os
import shutil
import subprocess
import sys
import time
import unittest

from e2e_support import StandIn, assert_both_sides, make_bundle, play_tones, recording_sessions, stop, wait_for

BUNDLE, WEBAPP = sys.argv[1], sys.argv[2]


class RecordingEndToEnd(unittest.TestCase):
    def setUp(self):
        self.webapp = StandIn(WEBAPP)
        self.addCleanup(self.webapp.close)
        # The shell opens the meeting-notes page at once: it is its app URL.
        bundle = make_bundle(BUNDLE, self.webapp.base + "/meeting-notes/record?mode=desktop-app")
        self.addCleanup(shutil.rmtree, bundle, True)
        self.executable = os.path.join(bundle, "orvanoffice")
        play_tones(self)

    def start_shell(self):
        shell = subprocess.Popen([self.executable])
        self.addCleanup(stop, shell)
        # On load the page asks for anything left over.
        wait_for(lambda: self.webapp.requests("/api/recordings"), what="the page's list of uploads")
        return shell

    def test_a_killed_recording_comes_back_when_the_shell_starts_again(self):
        shell = self.start_shell()
        self.assertEqual(recording_sessions(), [])

        def press_r():
            # The window needs a moment before it hears keys.
            if not recording_sessions():
                subprocess.run(["xdotool", "key", "--clearmodifiers", "r"], check=True)
                time.sleep(0.4)
            return recording_sessions()
        wait_for(press_r, what="a recording to start")
        started = time.monotonic()
        session = os.path.join(os.environ["XDG_DATA_HOME"], "OrvanOffice", "recordings", recording_sessions()[0])
        # The test microphone, woken from its idle suspension like the output's monitor, delivers its
        # first sound up to two seconds after the capture starts.
        time.sleep(6.0)
        shell.kill()
        killed = time.monotonic() - started
        shell.wait()
        self.assertTrue(os.path.exists(os.path.join(session, "system.f32")))
        self.assertFalse(os.path.exists(os.path.join(session, "meeting.m4a")))

        # The page of the next start asks for what was left over; the raw tracks are mixed and sent.
        self.start_shell()
        wait_for(lambda: self.webapp.uploads(), what="the killed recording to be uploaded")
        wait_for(lambda: recording_sessions() == [], what="the killed session to be discarded")
        # The kill cuts the two tracks a few buffers apart: the shorter one ends before the file does.
        seconds = assert_both_sides(self, self.webapp.get("/api/recordings/0"), until=0.5)
        print(f"killed {killed:.2f} s after the start: {seconds:.2f} s came back", file=sys.stderr)
        # Written as it was captured: at most about a second is lost to the kill.
        self.assertGreater(seconds, killed - 1.5)
        self.assertLess(seconds, killed + 0.5)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
