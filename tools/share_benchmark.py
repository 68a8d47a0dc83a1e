#!/usr/bin/env python3
"""Measures kestrafin-scan against its peers on a folder tree served like a network share.

    tools/share_benchmark.py [--trees share,large] [--delays 1,5] [--runs N] [--build FOLDER]
                             [--skip-slow]

Builds the release tools when missing, installs bfs and fd-find when missing,
generates the seeded trees once (kept under /tmp), and for each tree and delay
mounts kestrafin-latency-fs over it, then runs each command alternately N times
and prints medians, ratios to fd and kestrafin-scan's peak memory. Between two
runs it waits until the file system's cached attributes have expired, so that
every run pays its round trips. --skip-slow leaves out the one-thread walkers
(kestrafin-scan -j1 and bfs), which take minutes on the large tree.
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
CACHE_SECONDS = 1.1  # the attribute and entry timeout of kestrafin-latency-fs, and a little


def run_timed(command):
    """Runs a command with its output thrown away; returns seconds."""
    start = time.perf_counter()
    subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def peak_mib(tools, command):
    result = subprocess.run([os.path.join(tools, "kestrafin-peak-memory")] + command,
                            capture_output=True, text=True)
    return int(result.stdout.strip() or 0) / 1024


def ensure_build(build):
    if not os.path.exists(os.path.join(build, "build.ninja")):
        subprocess.run(["cmake", "-S", TOP, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                        "-DBUILD_TESTING=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build], check=True, stdout=subprocess.DEVNULL)
    if not os.path.exists(os.path.join(build, "tools", "kestrafin-latency-fs")):
        sys.exit("kestrafin-latency-fs was not built: install libfuse3-dev and fuse3")


def ensure_packages():
    missing = [package for package, program in (("bfs", "bfs"), ("fd-find", "fdfind"))
               if not shutil.which(program)]
    if not missing:
        return
    sudo = [] if os.geteuid() == 0 else ["sudo"]
    subprocess.run(sudo + ["apt-get", "update", "-qq"], check=True)
    subprocess.run(sudo + ["apt-get", "install", "-y", "-qq"] + missing, check=True)


class Share:
    """kestrafin-latency-fs mounted over `source` for the duration of a with-block."""

    def __init__(self, tools, source, milliseconds):
        self.program = os.path.join(tools, "kestrafin-latency-fs")
        self.source = source
        self.milliseconds = milliseconds
        self.mountpoint = "/tmp/kestrafin-share-%d" % os.getpid()
        self.process = None

    def __enter__(self):
        os.makedirs(self.mountpoint, exist_ok=True)
        self.process = subprocess.Popen([self.program, self.source, self.mountpoint,
                                         str(self.milliseconds)])
        deadline = time.time() + 10
        while not os.path.ismount(self.mountpoint):
            if self.process.poll() is not None or time.time() > deadline:
                sys.exit("kestrafin-latency-fs did not mount %s (is /dev/fuse usable?)" %
                         self.mountpoint)
            time.sleep(0.05)
        return self.mountpoint

    def __exit__(self, *_):
        # A walker that has just ended may still hold the mount for a moment.
        for _ in range(20):
            if subprocess.run(["fusermount3", "-u", self.mountpoint],
                              stderr=subprocess.DEVNULL).returncode == 0:
                break
            time.sleep(0.5)
        else:
            subprocess.run(["fusermount3", "-u", "-z", self.mountpoint], check=False)
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        try:
            os.rmdir(self.mountpoint)
        except OSError as error:
            print("could not remove %s: %s" % (self.mountpoint, error), file=sys.stderr)


def measure(tools, scan, tree, milliseconds, runs, skip_slow):
    with Share(tools, tree, milliseconds) as root:
        commands = {
            "kestrafin-scan": [scan, "-q", root],
            "kestrafin-scan -j1": [scan, "-q", "-j1", root],
            "fd -u -L -j16": ["fdfind", "-u", "-L", "-j16", ".", root],
            "bfs -L": ["bfs", "-L", root, "!", "-type", "d"],
        }
        if skip_slow:
            del commands["kestrafin-scan -j1"], commands["bfs -L"]
        times = {name: [] for name in commands}
        for _ in range(runs):
            for name, command in commands.items():
                time.sleep(CACHE_SECONDS)
                times[name].append(run_timed(command))
        time.sleep(CACHE_SECONDS)
        memory = peak_mib(tools, commands["kestrafin-scan"])

    medians = {name: statistics.median(values) for name, values in times.items()}
    print("tree: %s, %g ms per request, %d runs each, alternating; medians" %
          (tree, milliseconds, runs))
    print("%-22s %10s %12s" % ("command", "seconds", "ratio to fd"))
    for name, median in medians.items():
        print("%-22s %10.3f %12.2f" % (name, median, median / medians["fd -u -L -j16"]))
    if "kestrafin-scan -j1" in medians:
        print("kestrafin-scan -j1 / kestrafin-scan: %.1f" %
              (medians["kestrafin-scan -j1"] / medians["kestrafin-scan"]))
    print("kestrafin-scan peak memory: %.1f MiB" % memory)
    print(flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--trees", default="share", help="comma-separated: share, large")
    parser.add_argument("--delays", default="1,5", help="milliseconds per request, comma-separated")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--build", default=os.path.join(TOP, "build", "release"))
    parser.add_argument("--skip-slow", action="store_true")
    args = parser.parse_args()

    ensure_build(args.build)
    ensure_packages()
    tools = os.path.join(args.build, "tools")
    scan = os.path.join(args.build, "scanner", "kestrafin-scan")
    for size in args.trees.split(","):
        tree = "/tmp/kestrafin-bench-" + size
        if not os.path.isdir(tree):
            subprocess.run([os.path.join(tools, "kestrafin-make-tree"), tree, size], check=True)
        for delay in args.delays.split(","):
            measure(tools, scan, tree, float(delay), args.runs, args.skip_slow)


if __name__ == "__main__":
    sys.exit(main())
