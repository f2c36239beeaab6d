#!/usr/bin/env python3
"""A meeting recording through the real shell and the stand-in's meeting-notes page.

The page records what the computer plays (the private sound server's default sink "spk", fed one
tone) and the microphone ("mic", fed another), stops, and collects the file the way the web
application does: "pending", readRecording, upload, "discard". The two end on their own channels.
Run inside tools/test-env.sh. Arguments: the bundle directory of the build and the stand-in's
executable.
"""
import array
import cmath
import json
import math
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

from e2e_support import make_bundle, start_webapp, stop, wait_for

BUNDLE, WEBAPP = sys.argv[1], sys.argv[2]
RECORD_PATH = "/meeting-notes/record?mode=desktop-app"
RATE = 16000


def pactl(*arguments):
    return subprocess.run(["pactl", *arguments], check=True, capture_output=True, text=True).stdout.strip()


def probe(data, entry):
    with tempfile.NamedTemporaryFile(suffix=".m4a") as file:
        file.write(data)
        file.flush()
        return subprocess.run(["ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries", f"stream={entry}",
                               "-of", "csv=p=0", file.name], check=True, capture_output=True, text=True).stdout.strip()


def channels(data):
    return int(probe(data, "channels"))


def decode(data, channel=None):
    """Float samples at 16 kHz of one channel (or of a mono file), decoded by the ffmpeg command line
    (not by our own code)."""
    pick = ["-ac", "1"] if channel is None else ["-af", f"pan=mono|c0=c{channel}"]
    with tempfile.NamedTemporaryFile(suffix=".m4a") as file:
        file.write(data)
        file.flush()
        raw = subprocess.run(["ffmpeg", "-v", "error", "-i", file.name, *pick, "-f", "f32le", "-ar", str(RATE), "-"],
                             check=True, capture_output=True).stdout
    samples = array.array("f")
    samples.frombytes(raw)
    # The command line keeps the encoder's padding after the end that the file itself declares.
    return samples[:round(float(probe(data, "duration")) * RATE)]


def tone_share(samples, start, count, frequency):
    """Share of the window's energy in the tone at `frequency` (a single-bin DFT, as a Goertzel filter)."""
    window = samples[start:start + count]
    energy = sum(x * x for x in window) / len(window)
    if energy == 0:
        return 0.0
    step = -2j * math.pi * frequency / RATE
    amplitude = sum(x * cmath.exp(step * (start + i)) for i, x in enumerate(window)) / len(window)
    return min(1.0, 2 * abs(amplitude) ** 2 / energy)


class RecordingEndToEnd(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.webapp, cls.base = start_webapp(WEBAPP)
        # The shell opens the meeting-notes page at once: it is its app URL.
        cls.bundle = make_bundle(BUNDLE, cls.base + RECORD_PATH)
        cls.recordings = os.path.join(os.environ["XDG_DATA_HOME"], "OrvanOffice", "recordings")

    @classmethod
    def tearDownClass(cls):
        stop(cls.webapp)
        shutil.rmtree(cls.bundle, ignore_errors=True)

    def setUp(self):
        self.heard = pactl("load-module", "module-sine", "sink=micsink", "frequency=440")
        self.played = pactl("load-module", "module-sine", "sink=spk", "frequency=880")
        self.shell = None

    def tearDown(self):
        if self.shell:
            stop(self.shell)
        pactl("unload-module", self.heard)
        pactl("unload-module", self.played)

    def start_shell(self):
        self.shell = subprocess.Popen([os.path.join(self.bundle, "orvanoffice")])
        wait_for(lambda: self.requests("/meeting-notes/record"), what="the meeting-notes page")

    def requests(self, path, method="GET"):
        with urllib.request.urlopen(self.base + "/__control/requests") as answer:
            return [r for r in json.load(answer) if r["method"] == method and r["path"] == path]

    def uploads(self):
        with urllib.request.urlopen(self.base + "/api/recordings") as answer:
            return json.load(answer)

    def upload(self, index):
        with urllib.request.urlopen(f"{self.base}/api/recordings/{index}") as answer:
            return answer.read()

    def sessions(self):
        return sorted(os.listdir(self.recordings)) if os.path.isdir(self.recordings) else []

    def press(self, key, done, what):
        """Presses `key` in the shell's window until `done` holds (the window needs a moment before it hears keys)."""
        def attempt():
            if done():
                return True
            subprocess.run(["xdotool", "key", "--clearmodifiers", key], check=True)
            time.sleep(0.4)
            return done()
        wait_for(attempt, what=what)

    def assert_tone(self, data, frequency, other, channel=None, since=0.1, until=0.1):
        samples = decode(data, channel)
        self.assertGreater(len(samples), RATE, "at least a second of audio")
        # Windows of 0.1 s across the file, past the encoder's first frames.
        for start in range(int(since * RATE), len(samples) - int(until * RATE), RATE // 2):
            self.assertGreater(tone_share(samples, start, RATE // 10, frequency), 0.9, f"{frequency} Hz at {start / RATE:.2f} s")
            self.assertLess(tone_share(samples, start, RATE // 10, other), 0.05, f"no {other} Hz at {start / RATE:.2f} s")
        return len(samples) / RATE

    def test_record_stop_collect_upload_discard(self):
        before = len(self.uploads())
        self.start_shell()
        # On load the page asks for anything left over; there is nothing.
        wait_for(lambda: self.requests("/api/recordings"), what="the page's list of uploads")
        self.assertEqual(self.sessions(), [])

        self.press("r", lambda: len(self.sessions()) == 1, "a recording to start")
        session = self.sessions()[0]
        # The test microphone, woken from its idle suspension like the output's monitor, delivers its
        # first sound up to two seconds after the capture starts.
        time.sleep(6.0)
        self.press("s", lambda: len(self.uploads()) > before, "the recording to be uploaded")

        # Uploaded, then discarded: the session directory is gone.
        wait_for(lambda: self.sessions() == [], what="the session directory to be discarded")
        uploaded = self.uploads()[before]
        self.assertTrue(uploaded["name"].endswith(".m4a"), uploaded)
        data = self.upload(before)
        self.assertEqual(len(data), uploaded["size"])
        self.assertEqual(channels(data), 2)
        # The output's monitor delivers its first sound up to two seconds after the capture starts.
        seconds = self.assert_tone(data, 880, 440, channel=0, since=2.5)
        self.assert_tone(data, 440, 880, channel=1)
        self.assertGreater(seconds, 4.0)
        self.assertLess(seconds, 8.0)
        self.assertNotIn(session, self.sessions())

    def test_a_killed_recording_comes_back_when_the_shell_starts_again(self):
        before = len(self.uploads())
        self.start_shell()
        wait_for(lambda: self.requests("/api/recordings"), what="the page's list of uploads")
        self.press("r", lambda: len(self.sessions()) == 1, "a recording to start")
        started = time.monotonic()
        session = os.path.join(self.recordings, self.sessions()[0])
        time.sleep(6.0)
        self.shell.kill()
        killed = time.monotonic() - started
        self.shell.wait()
        self.shell = None
        self.assertTrue(os.path.exists(os.path.join(session, "system.f32")))
        self.assertFalse(os.path.exists(os.path.join(session, "meeting.m4a")))

        # The page of the next start asks for what was left over; the raw tracks are mixed and sent.
        self.start_shell()
        wait_for(lambda: len(self.uploads()) > before, what="the killed recording to be uploaded")
        wait_for(lambda: self.sessions() == [], what="the killed session to be discarded")
        data = self.upload(before)
        self.assertEqual(channels(data), 2)
        # The kill cuts the two tracks a few buffers apart: the shorter one ends before the file does.
        seconds = self.assert_tone(data, 880, 440, channel=0, since=2.5, until=0.5)
        self.assert_tone(data, 440, 880, channel=1, until=0.5)
        print(f"killed {killed:.2f} s after the start: {seconds:.2f} s came back", file=sys.stderr)
        # Written as it was captured: at most about a second is lost to the kill.
        self.assertGreater(seconds, killed - 1.5)
        self.assertLess(seconds, killed + 0.5)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
