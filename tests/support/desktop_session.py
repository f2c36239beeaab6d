"""A small desktop for tests that need a window manager: an X server of its own, openbox as the
EWMH window manager, the accessibility bus, and pressing buttons as a user would (through the
accessibility tree, or a real pointer click at the button). Run on a Python with PyGObject."""
import atexit
import os
import subprocess
import sys
import tempfile
import threading

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from e2e_support import stop, wait_for  # noqa: E402,F401 (also for the tests that use this desktop)


class Lines:
    """Every line a stream gives, collected as it comes, so a test waits for one without blocking."""

    def __init__(self, stream):
        self.lines = []
        self._reader = threading.Thread(target=lambda: self.lines.extend(line.rstrip("\n") for line in stream),
                                        daemon=True)
        self._reader.start()

    def saw(self, text):
        return any(text in line for line in self.lines)


class Desktop:
    """Xvfb of the given size with openbox on it; `env` is the environment of its programs."""

    def __init__(self, width=1920, height=1080, accessibility=False):
        self.processes = []
        read, write = os.pipe()
        self.processes.append(subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-nolisten", "tcp", "-screen", "0", f"{width}x{height}x24"],
            pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        os.close(write)
        with os.fdopen(read) as displayfd:
            self.display = ":" + displayfd.readline().strip()
        self.env = dict(os.environ, DISPLAY=self.display, GDK_BACKEND="x11")
        self.env.pop("NO_AT_BRIDGE", None)
        self.config = None
        try:
            self._start_window_manager(accessibility)
        except BaseException:
            self.close()
            raise

    def _start_window_manager(self, accessibility):
        config = tempfile.NamedTemporaryFile("w", suffix=".xml", delete=False)
        # Two desktops, so that "on every desktop" means something; no margins: the work area is the screen.
        config.write('<openbox_config xmlns="http://openbox.org/3.4/rc"><desktops><number>2</number></desktops>'
                     '<margins><top>0</top><bottom>0</bottom><left>0</left><right>0</right></margins></openbox_config>')
        config.close()
        self.config = config.name
        self.processes.append(subprocess.Popen(["openbox", "--config-file", self.config], env=self.env,
                                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        wait_for(lambda: "_NET_SUPPORTING_WM_CHECK(WINDOW)" in self.xprop("-root"), 10, "openbox")
        if accessibility:
            start_accessibility_bus()

    def close(self):
        for process in reversed(self.processes):
            stop(process)
        if self.config:
            os.unlink(self.config)
            self.config = None

    def xprop(self, *arguments):
        return subprocess.run(["xprop", "-display", self.display, *arguments], capture_output=True, text=True).stdout

    def xdotool(self, *arguments):
        return subprocess.run(["xdotool", *arguments], env=self.env, check=True, capture_output=True,
                              text=True).stdout

    def position(self, window):
        """The window's top-left corner on the root window."""
        out = self.xdotool("getwindowgeometry", "--shell", str(window))
        values = dict(line.split("=", 1) for line in out.split())
        return int(values["X"]), int(values["Y"])

    def drag(self, start, end):
        """Presses the left button at `start`, moves to `end` in steps and lets go."""
        self.xdotool("mousemove", str(start[0]), str(start[1]), "sleep", "0.2", "mousedown", "1")
        for step in range(1, 11):
            x = start[0] + (end[0] - start[0]) * step // 10
            y = start[1] + (end[1] - start[1]) * step // 10
            self.xdotool("mousemove", str(x), str(y), "sleep", "0.05")
        self.xdotool("sleep", "0.2", "mouseup", "1")


_accessibility_bus = []


def start_accessibility_bus():
    """The session's accessibility bus, once for this whole process (whose accessibility library
    stays connected to the first bus it found), outliving every X server: it is found through the
    session bus alone."""
    if _accessibility_bus:
        return
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    launcher = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher"], env=env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
    _accessibility_bus.append(launcher)
    atexit.register(stop, launcher)
    wait_for(lambda: "true" in subprocess.run(
        ["gdbus", "call", "--session", "--dest", "org.freedesktop.DBus", "--object-path", "/org/freedesktop/DBus",
         "--method", "org.freedesktop.DBus.NameHasOwner", "org.a11y.Bus"],
        capture_output=True, text=True).stdout, 10, "the accessibility bus")


def find_button(application_pid, label, timeout=20.0):
    """The accessible push button with this label in the application of that process."""
    return _find(application_pid, lambda node: node.get_role() == Atspi.Role.PUSH_BUTTON and node.get_name() == label,
                 timeout, f"the button {label}")


def find_label(application_pid, text, timeout=20.0):
    """A shown label of that application whose text starts with `text`."""
    return _find(application_pid, lambda node: node.get_role() == Atspi.Role.LABEL and
                 (node.get_name() or "").startswith(text), timeout, f"the text {text}")


def _find(application_pid, matches, timeout, what):

    def search():
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            try:
                if app is None or app.get_process_id() != application_pid:
                    continue
            except gi.repository.GLib.Error:
                continue
            found = _node_in(app, matches)
            if found:
                return found
        return None
    return wait_for(search, timeout, what, every=0.3)


def _node_in(node, matches):
    try:
        if matches(node) and node.get_state_set().contains(Atspi.StateType.SHOWING):
            return node
        for i in range(node.get_child_count()):
            found = _node_in(node.get_child_at_index(i), matches)
            if found:
                return found
    except gi.repository.GLib.Error:
        return None
    return None


def click(desktop, button):
    """A real pointer click in the middle of the accessible button."""
    extents = button.get_extents(Atspi.CoordType.SCREEN)
    x, y = extents.x + extents.width // 2, extents.y + extents.height // 2
    desktop.xdotool("mousemove", str(x), str(y), "sleep", "0.1", "click", "1")
