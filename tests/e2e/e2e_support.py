"""What the end-to-end and package tests share: waiting, stopping a process politely, the stand-in
in a process of its own, a bundle of the shell pointed at it, a tray panel and the menu over D-Bus, the test
sound server's tones and what a recording sounds like (decoded by the ffmpeg command line, not by
our own code)."""
import array
import cmath
import json
import math
import os
import re
import shutil
import subprocess
import tempfile
import time
import urllib.request
from xml.sax.saxutils import escape

import dbusmock

RATE = 16000


def wait_for(predicate, timeout=30.0, what="condition", every=0.1):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(every)
    raise AssertionError(f"timed out waiting for {what}")


def stop(process, timeout=10):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class StandIn:
    """The stand-in on a free port, and what the tests ask it."""

    def __init__(self, executable):
        self.process = subprocess.Popen([executable, "--port", "0"], stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline().strip()
        assert line.startswith("listening on "), line
        self.base = line.removeprefix("listening on ")

    def close(self):
        stop(self.process)
        self.process.stdout.close()

    def get(self, path):
        with urllib.request.urlopen(self.base + path) as answer:
            return answer.read()

    def requests(self, path, method="GET"):
        return [r for r in json.loads(self.get("/__control/requests")) if r["method"] == method and r["path"] == path]

    def uploads(self):
        return json.loads(self.get("/api/recordings"))


def write_plist(bundle, app_url):
    with open(os.path.join(bundle, "Info.plist"), "w") as plist:
        plist.write('<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><dict>'
                    f"<key>OrvanAppURL</key><string>{escape(app_url)}</string></dict></plist>\n")


def make_bundle(build_bundle, app_url):
    """A bundle directory of our own, with the built plug-ins, whose Info.plist points the shell at `app_url`."""
    bundle = tempfile.mkdtemp(prefix="orvan-bundle-")
    try:
        shutil.copy2(os.path.join(build_bundle, "orvanoffice"), bundle)
        for folder in ("PlugIns", "Frameworks"):
            shutil.copytree(os.path.join(build_bundle, folder), os.path.join(bundle, folder))
        write_plist(bundle, app_url)
    except BaseException:
        shutil.rmtree(bundle, True)
        raise
    return bundle


def recording_sessions():
    """The shell's recording session directories, in name order."""
    folder = os.path.join(os.environ["XDG_DATA_HOME"], "OrvanOffice", "recordings")
    return sorted(os.listdir(folder)) if os.path.isdir(folder) else []


def tray_panel(test):
    """A panel for the test's time: python3-dbusmock as the StatusNotifierWatcher, taking registrations."""
    watcher = "org.kde.StatusNotifierWatcher"
    server = dbusmock.DBusTestCase.spawn_server(watcher, "/StatusNotifierWatcher", watcher, stdout=subprocess.DEVNULL)
    test.addCleanup(stop, server)
    panel = dbusmock.DBusTestCase.get_dbus().get_object(watcher, "/StatusNotifierWatcher")
    panel.AddMethod("", "RegisterStatusNotifierItem", "s", "", "", dbus_interface=dbusmock.MOCK_IFACE)
    return panel


def tray_item(panel, pid):
    """The tray item of the shell with that process id, once it has registered with the panel."""
    item = f"org.kde.StatusNotifierItem-{pid}-1"
    wait_for(lambda: [item] in [list(args) for _, args in panel.GetMethodCalls("RegisterStatusNotifierItem",
                                                                             dbus_interface=dbusmock.MOCK_IFACE)],
             what=f"{item} to register")
    return item


def click_menu(item, label):
    """Clicks the tray menu's row with this label, as a panel does."""
    def dbusmenu(method, *arguments):
        return subprocess.run(["gdbus", "call", "--session", "--dest", item, "--object-path", "/MenuBar", "--method",
                               f"com.canonical.dbusmenu.{method}", "--", *arguments],
                              capture_output=True, text=True, check=True).stdout
    layout = dbusmenu("GetLayout", "0", "-1", "[]")
    row = re.search(r"\((\d+), \{[^}]*'label': <'" + label + "'>", layout)
    assert row, layout
    dbusmenu("Event", row.group(1), "clicked", "<0>", "0")


def pactl(*arguments):
    return subprocess.run(["pactl", *arguments], check=True, capture_output=True, text=True).stdout.strip()


def play_tones(test):
    """The test microphone hears 440 Hz and the default output plays 880 Hz until the test ends."""
    for sink, frequency in (("micsink", 440), ("spk", 880)):
        test.addCleanup(pactl, "unload-module", pactl("load-module", "module-sine", f"sink={sink}", f"frequency={frequency}"))


def decode(data, channel):
    """Float samples at 16 kHz of one channel, and the file's channel count."""
    with tempfile.NamedTemporaryFile(suffix=".m4a") as file:
        file.write(data)
        file.flush()
        probed = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                                 "stream=channels,duration", "-of", "csv=p=0", file.name],
                                check=True, capture_output=True, text=True).stdout.strip().split(",")
        raw = subprocess.run(["ffmpeg", "-v", "error", "-i", file.name, "-af", f"pan=mono|c0=c{channel}", "-f", "f32le",
                              "-ar", str(RATE), "-"], check=True, capture_output=True).stdout
    samples = array.array("f")
    samples.frombytes(raw)
    # The command line keeps the encoder's padding after the end that the file itself declares.
    return samples[:round(float(probed[1]) * RATE)], int(probed[0])


def tone_share(samples, start, count, frequency):
    """Share of the window's energy in the tone at `frequency` (a single-bin DFT, as a Goertzel filter)."""
    window = samples[start:start + count]
    energy = sum(x * x for x in window) / len(window)
    if energy == 0:
        return 0.0
    step = -2j * math.pi * frequency / RATE
    amplitude = sum(x * cmath.exp(step * (start + i)) for i, x in enumerate(window)) / len(window)
    return min(1.0, 2 * abs(amplitude) ** 2 / energy)


def assert_both_sides(test, data):
    """Two channels: what the computer played (880 Hz) on the first, the microphone (440 Hz) on the
    second, each alone in windows of 0.1 s across the file past its first two and a half seconds (each
    device, woken from its idle suspension, delivers its first sound up to two seconds after the
    capture starts) and before its last half second (the stop, or a kill, ends the two tracks a few
    buffers apart, more on a loaded machine: the shorter track is padded with silence to the file's
    end, so each channel is judged up to its own sound's end). Returns the length in seconds."""
    until = 0.5
    length = 0
    for channel, (frequency, other, since) in enumerate(((880, 440, 2.5), (440, 880, 2.5))):
        samples, channels = decode(data, channel)
        length = len(samples)
        test.assertEqual(channels, 2)
        test.assertGreater(len(samples), RATE, "at least a second of audio")
        end = len(samples)
        while end > 0 and abs(samples[end - 1]) < 1e-3:
            end -= 1
        test.assertGreater(end, len(samples) - RATE, f"channel {channel} sounds until its last second")
        for start in range(int(since * RATE), end - int(until * RATE), RATE // 2):
            at = f"channel {channel} at {start / RATE:.2f} s of {end / RATE:.2f} s sounding, {len(samples) / RATE:.2f} s in all"
            test.assertGreater(tone_share(samples, start, RATE // 10, frequency), 0.9, f"{frequency} Hz, {at}")
            test.assertLess(tone_share(samples, start, RATE // 10, other), 0.05, f"no {other} Hz, {at}")
    return length / RATE
