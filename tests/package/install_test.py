#!/usr/bin/env python3
"""The Debian package as a distribution would check it, and as a user would install and start it.

Builds the package with CPack from the build tree, runs the distribution's validators on it,
installs it with dpkg into a throw-away root (the runtime libraries are this machine's), starts the
installed command against the stand-in web application, and removes it again.

Run inside tools/test-env.sh. Arguments: the build directory and the stand-in's executable.
"""
import configparser
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from e2e_support import StandIn, click_menu, stop, tray_item, tray_panel, wait_for, write_plist  # noqa: E402

BUILD, WEBAPP = sys.argv[1], sys.argv[2]
APP_ID = "jp.tomoriva.OrvanOffice"
BUNDLE = "usr/lib/orvanoffice/OrvanOffice.bundle"
MAX_PACKAGE_BYTES = 15 * 1024 * 1024


def run(*command, **options):
    return subprocess.run(command, capture_output=True, text=True, **options)


class DebianPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="orvan-package-")
        made = run("cpack", "-G", "DEB", "--config", os.path.join(BUILD, "CPackConfig.cmake"), "-B", cls.work)
        assert made.returncode == 0, made.stdout + made.stderr
        cls.deb = next(os.path.join(cls.work, f) for f in os.listdir(cls.work) if f.endswith(".deb"))
        cls.root = os.path.join(cls.work, "root")
        for folder in ("info", "updates", "triggers"):
            os.makedirs(os.path.join(cls.root, "var/lib/dpkg", folder))
        open(os.path.join(cls.root, "var/lib/dpkg/status"), "w").close()

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def dpkg(self, *arguments):
        force = ["--force-not-root"] if os.getuid() != 0 else []
        done = run("dpkg", f"--root={self.root}", "--log=/dev/null", *force, *arguments)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)

    def test_passes_the_distribution_checks(self):
        self.assertLessEqual(os.path.getsize(self.deb), MAX_PACKAGE_BYTES)
        # Dependencies come from the shared libraries the binaries link.
        depends = run("dpkg-deb", "-f", self.deb, "Depends").stdout
        self.assertIn("libwebkit2gtk-4.1-0", depends)
        # Only the recording engine's module links FFmpeg: without it, no recording.
        self.assertIn("libavcodec", depends)
        unpacked = os.path.join(self.work, "unpacked")
        run("dpkg-deb", "-x", self.deb, unpacked, check=True)
        for command in (["desktop-file-validate", f"usr/share/applications/{APP_ID}.desktop"],
                        # The tree: the metainfo, and the desktop entry it launches, as installed.
                        ["appstreamcli", "validate-tree", "--no-net", "."],
                        ["lintian", "--fail-on", "error", self.deb]):
            checked = run(*command, cwd=unpacked)
            self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)

    def test_installs_starts_and_removes_cleanly(self):
        self.dpkg("--force-depends", "-i", self.deb)
        bundle = os.path.join(self.root, BUNDLE)
        with open(os.path.join(bundle, "Info.plist")) as plist:
            self.assertNotIn("OrvanAppURL", plist.read(), "the package opens the production origin")
        entry = configparser.ConfigParser(interpolation=None)
        entry.optionxform = str
        entry.read(os.path.join(self.root, f"usr/share/applications/{APP_ID}.desktop"), encoding="utf-8")
        wm_class = entry["Desktop Entry"]["StartupWMClass"]

        webapp = StandIn(WEBAPP)
        panel = tray_panel(self)
        shell = None
        try:
            # This tree's Info.plist points at the stand-in instead.
            write_plist(bundle, webapp.base + "/")
            bin_dir = os.path.join(self.root, "usr/bin")
            share = os.path.join(self.root, "usr/share")
            # Started through the /usr/bin link, as the desktop entry's Exec does.
            shell = subprocess.Popen([os.path.join(bin_dir, "orvanoffice")],
                                     env=dict(os.environ, PATH=bin_dir + os.pathsep + os.environ["PATH"],
                                              XDG_DATA_DIRS=share + os.pathsep + "/usr/share"))
            # The page loaded and the shell's page script runs in it.
            wait_for(lambda: webapp.requests("/api/badges"), what="the page and its shell script")
            # The tray plug-in was found inside the installed bundle.
            item = tray_item(panel, shell.pid)
            # Docks match windows to the desktop entry by WM_CLASS.
            for part in ("--classname", "--class"):
                found = run("xdotool", "search", "--onlyvisible", part, f"^{wm_class}$").stdout.split()
                self.assertTrue(found, f"no window whose WM_CLASS {part} is {wm_class}")
            # The window carries the installed icon, found through the icon theme.
            icon = run("xprop", "-id", found[0], "_NET_WM_ICON").stdout
            self.assertTrue(icon.startswith("_NET_WM_ICON(CARDINAL)"), icon[:200])
            # Launch at login starts the installed command. (Other tests of the session leave
            # entries of their own behind.)
            autostart = os.path.join(os.environ["XDG_CONFIG_HOME"], "autostart", f"{APP_ID}.desktop")
            if os.path.exists(autostart):
                os.remove(autostart)
            click_menu(item, "ログイン時に起動")
            wait_for(lambda: os.path.exists(autostart), what="the autostart entry")
            with open(autostart) as written:
                self.assertIn(f'Exec="{os.path.join(bin_dir, "orvanoffice")}"', written.read())
            os.remove(autostart)
        finally:
            if shell is not None:
                stop(shell)
            webapp.close()

        self.dpkg("-r", "orvanoffice")
        left = [os.path.relpath(os.path.join(folder, name), self.root)
                for folder, _, names in os.walk(self.root) for name in names]
        self.assertEqual([path for path in left if not path.startswith("var/lib/dpkg/")], [])
        self.assertFalse(os.path.exists(os.path.join(self.root, "usr")), "no directory of ours is left")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
