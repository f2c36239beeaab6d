#!/usr/bin/env python3
"""Idle memory: OrvanOffice with one window (and its tray companion) against a bare WebKitGTK
window, both showing the same page and left idle for a while (60 s after the later one loaded,
unless --seconds says otherwise). Prints PSS and RSS of each, summed over the UI process and every
process it started (web, network), and the differences.

Run in a desktop session, e.g.: tools/test-env.sh python3 bench/idle_memory.py build
"""
import argparse
import os
import shutil
import tempfile
import time

import startup


def descendants(root):
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as stat:
                parent = int(stat.read().rsplit(")", 1)[1].split()[1])
        except (OSError, IndexError, ValueError):
            continue
        children.setdefault(parent, []).append(int(entry))
    found, todo = [], [root]
    while todo:
        pid = todo.pop()
        found.append(pid)
        todo.extend(children.get(pid, []))
    return found


def memory_kib(pids):
    """PSS and RSS in KiB summed over `pids`, and each process's name and PSS."""
    pss = rss = 0
    each = []
    for pid in pids:
        try:
            with open(f"/proc/{pid}/comm") as comm:
                name = comm.read().strip()
            own = 0
            with open(f"/proc/{pid}/smaps_rollup") as rollup:
                for line in rollup:
                    if line.startswith("Pss:"):
                        own = int(line.split()[1])
                    elif line.startswith("Rss:"):
                        rss += int(line.split()[1])
        except OSError:
            continue
        pss += own
        each.append(f"{name} {own / 1024:.1f}")
    return pss, rss, each


def start_and_wait(command):
    startup.loaded.clear()
    process = startup.subprocess.Popen(command, stdout=startup.subprocess.DEVNULL, stderr=startup.subprocess.DEVNULL)
    if not startup.loaded.wait(60):
        process.terminate()
        raise SystemExit(f"no load event from {command[0]}")
    return process


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default="build")
    parser.add_argument("--seconds", type=float, default=60)
    args = parser.parse_args()
    server = startup.http.server.ThreadingHTTPServer(("127.0.0.1", 0), startup.Handler)
    startup.threading.Thread(target=server.serve_forever, daemon=True).start()
    url = f"http://127.0.0.1:{server.server_address[1]}/"
    bundle = tempfile.mkdtemp(prefix="orvan-bench-")
    try:
        shell = startup.make_bundle(args.build, bundle, url)
        bare = [os.path.join(args.build, "bench", "bare_webview"), url]
        # Side by side, so the pages the two share with each other and with whatever else runs
        # on the machine are shared alike, which keeps their PSS comparable.
        processes = []
        try:
            processes.append(start_and_wait(bare))
            processes.append(start_and_wait(shell))
            # The window that has the focus keeps its rendering buffer while idle; an unfocused
            # one gives it back after a few seconds. Neither keeps the focus, so both idle alike.
            root = startup.subprocess.run(["xdotool", "search", "--maxdepth", "0", "--name", ""], check=True,
                                          capture_output=True, text=True).stdout.split()[0]
            startup.subprocess.run(["xdotool", "windowfocus", root], check=True)
            time.sleep(args.seconds)
            bare_pss, bare_rss, bare_each = memory_kib(descendants(processes[0].pid))
            shell_pss, shell_rss, shell_each = memory_kib(descendants(processes[1].pid))
        finally:
            for process in processes:
                process.terminate()
                process.wait(10)
    finally:
        shutil.rmtree(bundle, ignore_errors=True)
        server.shutdown()

    mib = lambda kib: kib / 1024
    print(f"after {args.seconds:.0f} s idle, UI process and the processes it started together:")
    print(f"orvanoffice: PSS {mib(shell_pss):.1f} MiB, RSS {mib(shell_rss):.1f} MiB "
          f"(PSS MiB: {', '.join(shell_each)})")
    print(f"bare WebKitGTK window: PSS {mib(bare_pss):.1f} MiB, RSS {mib(bare_rss):.1f} MiB "
          f"(PSS MiB: {', '.join(bare_each)})")
    print(f"difference (orvanoffice - bare): PSS {mib(shell_pss - bare_pss):+.1f} MiB, "
          f"RSS {mib(shell_rss - bare_rss):+.1f} MiB; ratio of PSS {shell_pss / bare_pss:.2f}")


if __name__ == "__main__":
    main()
