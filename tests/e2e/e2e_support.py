"""What the end-to-end tests share: waiting, the stand-in in a process of its own, a bundle of the
shell pointed at it, and stopping a process politely."""
import os
import shutil
import subprocess
import tempfile
import time
from xml.sax.saxutils import escape


def wait_for(predicate, timeout=30.0, what="condition", every=0.1):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(every)
    raise AssertionError(f"timed out waiting for {what}")


def start_webapp(executable):
    """Starts the stand-in on a free port; returns the process and its base URL."""
    process = subprocess.Popen([executable, "--port", "0"], stdout=subprocess.PIPE, text=True)
    line = process.stdout.readline().strip()
    assert line.startswith("listening on "), line
    return process, line.removeprefix("listening on ")


def make_bundle(build_bundle, app_url):
    """A bundle directory of our own, with the built plug-ins, whose Info.plist points the shell at `app_url`."""
    bundle = tempfile.mkdtemp(prefix="orvan-bundle-")
    shutil.copy2(os.path.join(build_bundle, "orvanoffice"), bundle)
    shutil.copytree(os.path.join(build_bundle, "PlugIns"), os.path.join(bundle, "PlugIns"))
    with open(os.path.join(bundle, "Info.plist"), "w") as plist:
        plist.write('<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><dict>'
                    f"<key>OrvanAppURL</key><string>{escape(app_url)}</string></dict></plist>\n")
    return bundle


def stop(process, timeout=10):
    process.terminate()
    try:
        process.wait(timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
