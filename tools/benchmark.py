#!/usr/bin/env python3
"""Measures kestrafin-scan against its peers on one warm tree, in one run.

    tools/benchmark.py [--size small|large] [--runs N] [--build FOLDER]

Builds the release tools when missing, generates the seeded tree once (kept
under /tmp), installs bfs when missing, then runs each command alternately
N times and prints medians, ratios to the bare counting walk and peak memory.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(HERE)

# Keeps find's output lines whose folder is longer than 200 characters.
AWK_FILTER = r'{ folder = $0; sub(/\/[^\/]*$/, "", folder); if (length(folder) > 200) print }'


def run_timed(command, shell=False):
    """Runs a command with its output thrown away; returns seconds."""
    start = time.perf_counter()
    subprocess.run(command, shell=shell, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def peak_kib(tools, command, shell=False):
    """Peak resident memory of the command (of the shell's pipeline as a whole: its largest part)."""
    if shell:
        command = ["sh", "-c", command]
    result = subprocess.run([os.path.join(tools, "kestrafin-peak-memory")] + command,
                            capture_output=True, text=True)
    return int(result.stdout.strip() or 0)


def ensure_build(build):
    if not os.path.exists(os.path.join(build, "scanner", "kestrafin-scan")):
        subprocess.run(["cmake", "-S", TOP, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                        "-DBUILD_TESTING=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build], check=True, stdout=subprocess.DEVNULL)


def ensure_bfs():
    if shutil.which("bfs"):
        return
    sudo = [] if os.geteuid() == 0 else ["sudo"]
    subprocess.run(sudo + ["apt-get", "update", "-qq"], check=True)
    subprocess.run(sudo + ["apt-get", "install", "-y", "-qq", "bfs"], check=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--size", default="large", choices=["small", "large"])
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--build", default=os.path.join(TOP, "build", "release"))
    args = parser.parse_args()

    ensure_build(args.build)
    ensure_bfs()
    tools = os.path.join(args.build, "tools")
    scan = os.path.join(args.build, "scanner", "kestrafin-scan")
    root = "/tmp/kestrafin-bench-" + args.size
    if not os.path.isdir(root):
        subprocess.run([os.path.join(tools, "kestrafin-make-tree"), root, args.size], check=True)

    list_file = "/tmp/kestrafin-bench-list.dxb"
    commands = {
        "count walk": ([os.path.join(tools, "kestrafin-count-walk"), root], False),
        "kestrafin-scan": ([scan, "-q", root], False),
        "kestrafin-scan -j1": ([scan, "-q", "-j1", root], False),
        "kestrafin-scan --list": ([scan, "-q", "--list", list_file, root], False),
        "scan --limit windows": ([scan, "-q", "--limit", "windows", root], False),
        "scan csv, prefix, summary": ([scan, "-q", "--format", "csv", "--summary", "--target-prefix",
                                       "\\\\srv\\share", root], False),
        "bfs -L": (["bfs", "-L", root, "!", "-type", "d"], False),
        "find -L": (["find", "-L", root, "!", "-type", "d"], False),
        "find -L | awk": ("find -L '%s' ! -type d 2>/dev/null | awk '%s'" % (root, AWK_FILTER), True),
    }
    for command, shell in commands.values():  # warm the cache
        run_timed(command, shell)
    times = {name: [] for name in commands}
    for _ in range(args.runs):
        for name, (command, shell) in commands.items():
            times[name].append(run_timed(command, shell))
    memory = {name: peak_kib(tools, command, shell) for name, (command, shell) in commands.items()}

    base = statistics.median(times["count walk"])
    serial = statistics.median(times["kestrafin-scan -j1"])
    print("tree: %s, %d runs each, alternating; medians" % (root, args.runs))
    print("%-24s %10s %10s %12s" % ("command", "seconds", "ratio", "peak MiB"))
    for name in commands:
        median = statistics.median(times[name])
        print("%-24s %10.3f %10.2f %12.1f" % (name, median, median / base, memory[name] / 1024))

    print("kestrafin-scan / kestrafin-scan -j1: %.2f" %
          (statistics.median(times["kestrafin-scan"]) / serial))
    print("kestrafin-scan / bfs -L: %.2f" %
          (statistics.median(times["kestrafin-scan"]) / statistics.median(times["bfs -L"])))

    window = os.path.join(tools, "kestrafin-window-bench")
    if os.path.exists(window):
        output = subprocess.run([window, root], check=True, capture_output=True, text=True).stdout.strip()
        print(output)
        seconds = float(output.split()[2])
        print("window search / kestrafin-scan --list: %.2f" %
              (seconds / statistics.median(times["kestrafin-scan --list"])))


if __name__ == "__main__":
    sys.exit(main())
