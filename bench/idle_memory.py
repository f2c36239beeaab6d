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
    """Each process's name, PSS and RSS in KiB."""
    found = []
    for pid in pids:
        try:
            with open(f"/proc/{pid}/comm") as comm:
                name = comm.read().strip()
            with open(f"/proc/{pid}/smaps_rollup") as rollup:
                fields = dict(line.split()[:2] for line in rollup if line.startswith(("Pss:", "Rss:")))
        except OSError:
            continue
        found.append((name, int(fields["Pss:"]), int(fields["Rss:"])))
    return found


def totals(processes, leave_out=()):
    kept = [p for p in processes if p[0] not in leave_out]
    return sum(p[1] for p in kept), sum(p[2] for p in kept)


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
            bare = memory_kib(descendants(processes[0].pid))
            shell = memory_kib(descendants(processes[1].pid))
        finally:
            for process in processes:
                process.terminate()
                process.wait(10)
    finally:
        shutil.rmtree(bundle, ignore_errors=True)
        server.shutdown()

    mib = lambda kib: kib / 1024
    print(f"after {args.seconds:.0f} s idle, PSS and RSS in MiB:")
    for name, found in (("orvanoffice", shell), ("bare WebKitGTK window", bare)):
        pss, rss = totals(found)
        each = ", ".join(f"{process} {mib(own):.1f}" for process, own, _ in found)
        print(f"{name}: PSS {mib(pss):.1f}, RSS {mib(rss):.1f} (PSS of each: {each})")
    for title, leave_out in (("UI + web processes", ("WebKitNetworkPr",)), ("all processes", ())):
        shell_pss, shell_rss = totals(shell, leave_out)
        bare_pss, bare_rss = totals(bare, leave_out)
        print(f"difference, {title}: PSS {mib(shell_pss - bare_pss):+.1f} MiB, RSS {mib(shell_rss - bare_rss):+.1f} MiB; "
              f"ratio of PSS {shell_pss / bare_pss:.2f}")

if __name__ == "__main__":
    main()
