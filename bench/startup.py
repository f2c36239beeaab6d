#!/usr/bin/env python3
"""Start-up time: process start to the first page's load event, OrvanOffice against a bare
WebKitGTK window loading the same page. Median of 5 runs each; prints both and their ratio.

Run in a desktop session, e.g.: tools/test-env.sh python3 bench/startup.py build
"""
import http.server
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

RUNS = 5
PAGE = b"""<!doctype html><html><head><meta charset="utf-8"><title>bench</title></head>
<body><h1>start</h1><script>addEventListener('load', () => fetch('/loaded'));</script></body></html>"""

loaded = threading.Event()


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        if self.path == "/loaded":
            loaded.set()
        body = PAGE if self.path != "/loaded" else b"ok"
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def time_to_load(command):
    loaded.clear()
    start = time.monotonic()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        if not loaded.wait(60):
            raise SystemExit(f"no load event from {command[0]}")
        return time.monotonic() - start
    finally:
        process.terminate()
        process.wait(10)


def make_bundle(build, bundle, url):
    """A copy of the shell's bundle whose app URL is `url`; returns the command that starts it."""
    shutil.copy2(os.path.join(build, "OrvanOffice.bundle", "orvanoffice"), bundle)
    # With its tray companion and recording engine, as users start it.
    for folder in ("PlugIns", "Frameworks"):
        shutil.copytree(os.path.join(build, "OrvanOffice.bundle", folder), os.path.join(bundle, folder))
    with open(os.path.join(bundle, "Info.plist"), "w") as plist:
        plist.write('<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><dict>'
                    f"<key>OrvanAppURL</key><string>{url}</string></dict></plist>\n")
    return [os.path.join(bundle, "orvanoffice")]


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    url = f"http://127.0.0.1:{server.server_address[1]}/"

    bundle = tempfile.mkdtemp(prefix="orvan-bench-")
    try:
        shell = make_bundle(build, bundle, url)
        bare = [os.path.join(build, "bench", "bare_webview"), url]
        time_to_load(bare)  # warm the file cache for both
        shell_times, bare_times = [], []
        for _ in range(RUNS):  # interleaved, so drift hits both alike
            shell_times.append(time_to_load(shell))
            bare_times.append(time_to_load(bare))
    finally:
        shutil.rmtree(bundle, ignore_errors=True)
        server.shutdown()

    shell_median, bare_median = statistics.median(shell_times), statistics.median(bare_times)
    print(f"orvanoffice start to first load: median {shell_median * 1000:.0f} ms "
          f"({', '.join(f'{t * 1000:.0f}' for t in shell_times)})")
    print(f"bare WebKitGTK window:           median {bare_median * 1000:.0f} ms "
          f"({', '.join(f'{t * 1000:.0f}' for t in bare_times)})")
    print(f"ratio (orvanoffice / bare): {shell_median / bare_median:.2f}")


if __name__ == "__main__":
    main()
