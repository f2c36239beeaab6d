"""A throw-away GNOME Shell session on Wayland, headless: its own HOME and XDG directories, a session
bus that activates the desktop's services (dconf, the notification service), a second private bus
standing in for the system bus, an extension of the test's own that lets it ask the shell through
`Eval` and `Screenshot`, and the XWayland display beside the Wayland one. `env` is the environment
of a program in that session. Everything started here, and everything those started, ends with
`close()`. Run on a Python with PyGObject."""
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile

from gi.repository import Gio, GLib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from e2e_support import stop, wait_for  # noqa: E402

APPINDICATOR = "ubuntu-appindicators@ubuntu.com"
UNSAFE = "unsafe@orvan.test"
WAYLAND_DISPLAY = "wayland-orvan"

# Eval and Screenshot answer only a shell in unsafe mode. A session starts in the overview; the tests'
# starts on the desktop, as it is once the user has clicked away.
UNSAFE_EXTENSION = """const Main = imports.ui.main;
function init() {}
function enable() {
    global.context.unsafe_mode = true;
    Main.layoutManager.connect('startup-complete', () => Main.overview.hide());
}
function disable() {}
"""


class GnomeSession:
    def __init__(self, extensions=(APPINDICATOR,)):
        self.root = tempfile.mkdtemp(prefix="orvan-gnome-")
        self.processes = []
        try:
            self._start(extensions)
        except BaseException:
            self.close()
            raise

    def _start(self, extensions):
        home = os.path.join(self.root, "home")
        run = os.path.join(self.root, "run")
        os.makedirs(home)
        os.mkdir(run, 0o700)
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "XAUTHORITY", "GDK_BACKEND", "WAYLAND_DISPLAY") and not k.startswith("XDG_")}
        env.update(HOME=home, XDG_RUNTIME_DIR=run, XDG_CONFIG_HOME=f"{home}/.config",
                   XDG_DATA_HOME=f"{home}/.local/share", XDG_CACHE_HOME=f"{home}/.cache",
                   XDG_STATE_HOME=f"{home}/.local/state", XDG_SESSION_TYPE="wayland")
        # No sound server, and none started on demand.
        env["PULSE_SERVER"] = "unix:" + os.path.join(run, "no-sound-server")
        env["DBUS_SESSION_BUS_ADDRESS"] = self._bus(env, "bus")
        # Without systemd-logind the shell gives up unless some system bus answers.
        env["DBUS_SYSTEM_BUS_ADDRESS"] = self._bus(env, "system-bus")
        self.bus = Gio.DBusConnection.new_for_address_sync(
            env["DBUS_SESSION_BUS_ADDRESS"],
            Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION)
        # The bus starts dconf and the rest with its own environment: give it this session's directories.
        subprocess.run(["dbus-update-activation-environment", "HOME", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME",
                        "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "PULSE_SERVER"], env=env, check=True)

        extension = os.path.join(env["XDG_DATA_HOME"], "gnome-shell", "extensions", UNSAFE)
        os.makedirs(extension)
        with open(os.path.join(extension, "metadata.json"), "w") as metadata:
            json.dump({"uuid": UNSAFE, "name": "unsafe", "description": "tests", "shell-version": ["43"]}, metadata)
        with open(os.path.join(extension, "extension.js"), "w") as script:
            script.write(UNSAFE_EXTENSION)
        for key, value in (("enabled-extensions", str([*extensions, UNSAFE])), ("disable-user-extensions", "false")):
            subprocess.run(["gsettings", "set", "org.gnome.shell", key, value], env=env, check=True)

        self.log = os.path.join(self.root, "shell.log")
        with open(self.log, "w") as log:
            self._spawn(["gnome-shell", "--wayland", "--headless", "--virtual-monitor", "1280x800",
                         f"--wayland-display={WAYLAND_DISPLAY}"], env, stdout=log, stderr=subprocess.STDOUT)
        display = wait_for(self._x_display, 60, "the shell's XWayland display")
        authority = wait_for(lambda: [f for f in os.listdir(run) if f.startswith(".mutter-Xwaylandauth.")], 10,
                             "the X authority file")[0]
        wait_for(self._ready, 30, "the shell to answer Eval, on the desktop")
        self.env = dict(env, WAYLAND_DISPLAY=WAYLAND_DISPLAY, DISPLAY=display,
                        XAUTHORITY=os.path.join(run, authority))

    def _spawn(self, command, env, **kwargs):
        process = subprocess.Popen(command, env=env, **kwargs)
        self.processes.append(process)
        return process

    def _bus(self, env, name):
        """A bus with the distribution's session configuration (its service directories) on a socket of ours."""
        with open(os.path.join(self.root, name + ".log"), "w") as log:
            daemon = self._spawn(["dbus-daemon", "--session", "--nofork", "--print-address=1",
                                  f"--address=unix:path={self.root}/run/{name}"], env,
                                 stdout=subprocess.PIPE, stderr=log, text=True)
        return daemon.stdout.readline().strip()

    def _x_display(self):
        with open(self.log) as log:
            for line in log:
                if "Using public X11 display " in line:
                    return line.split("Using public X11 display ")[1].split(",")[0].strip()
        if self.processes[-1].poll() is not None:
            raise AssertionError("gnome-shell ended:\n" + open(self.log).read())
        return None

    def _ready(self):
        try:
            return self.eval("global.context.unsafe_mode && !Main.overview.visible") is True
        except GLib.Error:
            return False

    def call(self, path, interface, method, signature, *arguments, name="org.gnome.Shell"):
        return self.bus.call_sync(name, path, interface, method, GLib.Variant(signature, arguments), None,
                                  Gio.DBusCallFlags.NONE, 30000, None).unpack()

    def has_owner(self, name):
        return self.call("/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner", "(s)", name,
                         name="org.freedesktop.DBus")[0]

    def eval(self, script):
        """The value of a JavaScript expression in the shell, as JSON would carry it."""
        ok, result = self.call("/org/gnome/Shell", "org.gnome.Shell", "Eval", "(s)", script)
        if not ok:
            raise AssertionError(f"Eval failed: {result}\n{script}")
        return json.loads(result) if result else None

    def screenshot(self, path):
        ok, _ = self.call("/org/gnome/Shell/Screenshot", "org.gnome.Shell.Screenshot", "Screenshot", "(bbs)",
                          False, False, path)
        assert ok, "the screenshot"

    def close(self):
        # The shell first: it ends its XWayland itself, lock files and all.
        for process in reversed(self.processes):
            stop(process)
            if process.stdout:
                process.stdout.close()
        # Then whatever they started that still runs: it names this session's directories.
        pids = _processes_naming(self.root)
        for sig in (signal.SIGTERM, signal.SIGKILL):
            for pid in pids:
                try:
                    os.kill(pid, sig)
                except ProcessLookupError:
                    pass
            try:
                wait_for(lambda: not any(_alive(pid) for pid in pids), 5, "the session to end", every=0.05)
                break
            except AssertionError:
                pids = [pid for pid in pids if _alive(pid)]
        shutil.rmtree(self.root, ignore_errors=True)


def _alive(pid):
    """Running, not a zombie waiting for someone to collect it."""
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] != "Z"
    except (OSError, IndexError):
        return False


def _processes_naming(root):
    found = []
    for pid in (int(entry) for entry in os.listdir("/proc") if entry.isdigit()):
        try:
            with open(f"/proc/{pid}/environ", "rb") as environ:
                if pid != os.getpid() and root.encode() in environ.read():
                    found.append(pid)
        except OSError:
            pass
    return found
