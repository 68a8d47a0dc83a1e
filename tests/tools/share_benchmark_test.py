#!/usr/bin/env python3
"""The share benchmark lists the same on the share as on its folder, fails loudly
when they differ, and never leaves a mount, a mountpoint or a process behind:
not when it ends, fails, is stopped by Ctrl-C or SIGTERM, nor when it is killed
outright (the next one takes that share down).

Needs root, /dev/fuse, fusermount3, bfs and fdfind, and KESTRAFIN_BUILD naming a
build folder with the scanner and the tools; elsewhere it exits 77 (skipped)
and says why.
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(TOP, "tools"))
import latency_share  # noqa: E402

BENCHMARK = os.path.join(TOP, "tools", "share_benchmark.py")
BUILD = os.environ.get("KESTRAFIN_BUILD", "")


def why_not_here():
    if os.geteuid() != 0:
        return "mounting a FUSE share for the benchmark needs root here"
    if not os.access("/dev/fuse", os.R_OK | os.W_OK):
        return "/dev/fuse cannot be used here"
    for program in ("fusermount3", "bfs", "fdfind"):
        if not shutil.which(program):
            return "%s is not installed" % program
    for program in ("tools/kestrafin-latency-fs", "tools/kestrafin-peak-memory",
                    "scanner/kestrafin-scan"):
        if not os.access(os.path.join(BUILD, program), os.X_OK):
            return "KESTRAFIN_BUILD has no %s" % program
    return None


def make_tree(top):
    """Folders past the 200-unit threshold, with absolute and relative links that close
    cycles, an absolute link across the tree, and names with a line break and non-ASCII."""
    source = os.path.join(top, "source")
    deep = os.path.join(source, "a" * 100, "b" * 100)
    side = os.path.join(source, "d" * 100, "é" * 60)
    for folder in (os.path.join(deep, "c"), side):
        os.makedirs(folder)
    for folder in (deep, os.path.join(deep, "c"), side):
        for name in ("one", "two\nlines", "drei ü"):
            open(os.path.join(folder, name), "w").close()
    os.symlink(os.path.join(source, "a" * 100), os.path.join(deep, "up absolute"))
    os.symlink("../..", os.path.join(deep, "up relative"))
    os.symlink(os.path.join(source, "d" * 100), os.path.join(deep, "c", "across"))
    return source


def processes_naming(text):
    """Pids of processes whose command line holds text."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as line:
                if os.fsencode(text) in line.read():
                    found.append(int(pid))
        except OSError:
            pass
    return found


def shares_of(pid):
    top = os.path.join(latency_share.MOUNT_PARENT, "kfshare-%d-" % pid)
    return [point for point in latency_share.mounted_shares() if point.startswith(top)]


def benchmark(arguments, **options):
    return subprocess.Popen([sys.executable, BENCHMARK, "--build", BUILD, "--prebuilt",
                             "--no-window", "--skip-slow"] + arguments,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, **options)


def wait_for_walker(process, seconds=60):
    """The share of the running benchmark once a walker is inside it."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline and process.poll() is None:
        for point in shares_of(process.pid):
            if len(processes_naming(point)) > 1:  # the file system and a walker
                return point
        time.sleep(0.05)
    raise AssertionError("no walker ran on a share of the benchmark")


class ShareBenchmarkTest(unittest.TestCase):
    def setUp(self):
        self.top = tempfile.mkdtemp(prefix="kestrafin-test.")
        self.source = make_tree(self.top)

    def tearDown(self):
        shutil.rmtree(self.top)

    def assert_nothing_left(self, pid, point):
        deadline = time.monotonic() + 10
        while processes_naming(point) and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertEqual(processes_naming(point), [], "processes left on " + point)
        self.assertEqual(shares_of(pid), [])
        self.assertEqual([name for name in os.listdir(latency_share.MOUNT_PARENT)
                          if name.startswith("kfshare-%d-" % pid)], [])

    def test_the_share_lists_what_its_folder_holds_through_every_kind_of_link(self):
        # The tree must list entries reached through a link for this to test them.
        listed = subprocess.run([os.path.join(BUILD, "scanner", "kestrafin-scan"), "-0",
                                 self.source], capture_output=True).stdout.split(b"\0")
        self.assertIn(os.fsencode(os.path.join(self.source, "a" * 100, "b" * 100, "c", "across",
                                               "é" * 60, "one")), listed)
        run = benchmark(["--source", self.source, "--delays", "0,0.2", "--runs", "1"])
        output, errors = run.communicate(timeout=240)
        self.assertEqual(run.returncode, 0, errors.decode())
        identical = "output on the share: identical to the folder's (%d entries" % (len(listed) - 1)
        self.assertEqual(output.decode().count(identical), 2, output.decode())
        self.assertEqual(shares_of(run.pid), [])

    def test_the_share_reports_the_round_trips_of_each_walk_and_serves_on(self):
        share = latency_share.Share(os.path.join(BUILD, "tools"), self.source, 0)
        with share as root:
            share.round_trips()
            folders = sum(1 for _ in os.walk(root))  # without following links
            served = share.round_trips()
            self.assertEqual(served["opendir"], folders)
            self.assertGreaterEqual(served["readdir"], folders)
            self.assertEqual(share.round_trips(), dict.fromkeys(served, 0))
            self.assertEqual(sum(1 for _ in os.walk(root)), folders)

    def test_a_share_that_lists_otherwise_fails_loudly_and_is_taken_down(self):
        fake = os.path.join(self.top, "build")
        os.makedirs(os.path.join(fake, "scanner"))
        os.symlink(os.path.join(BUILD, "tools"), os.path.join(fake, "tools"))
        scanner = os.path.join(fake, "scanner", "kestrafin-scan")
        with open(scanner, "w") as script:
            script.write('#!/bin/sh\n# One entry more on a share.\nfor last; do :; done\n'
                         'case "$last" in */kfshare-*) printf "%%s/extra\\0" "$last";; esac\n'
                         'exec "%s" "$@"\n' % os.path.join(BUILD, "scanner", "kestrafin-scan"))
        os.chmod(scanner, 0o755)
        run = subprocess.Popen([sys.executable, BENCHMARK, "--build", fake, "--prebuilt",
                                "--no-window", "--source", self.source, "--delays", "0", "--runs",
                                "1"], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        _, errors = run.communicate(timeout=120)
        self.assertEqual(run.returncode, 1, errors.decode())
        self.assertIn(b"FAILED: output of kestrafin-scan -0 on the share differs", errors)
        self.assertIn(b"/extra", errors)
        self.assertEqual(shares_of(run.pid), [])

    def test_ctrl_c_and_sigterm_take_the_share_down_after_the_walker(self):
        for stop, status in ((signal.SIGINT, 130), (signal.SIGTERM, 128 + signal.SIGTERM)):
            # As from a terminal: the benchmark leads its group and Ctrl-C reaches the group.
            run = benchmark(["--source", self.source, "--delays", "20", "--runs", "1000"],
                            start_new_session=True,
                            preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
            point = wait_for_walker(run)
            os.killpg(run.pid, stop)
            _, errors = run.communicate(timeout=60)
            self.assertEqual(run.returncode, status, errors.decode())
            self.assertIn(b"stopped; the share is down", errors)
            self.assert_nothing_left(run.pid, point)

    def test_a_share_left_by_a_killed_benchmark_is_taken_down_by_the_next(self):
        run = benchmark(["--source", self.source, "--delays", "20", "--runs", "1000"])
        point = wait_for_walker(run)
        run.kill()
        run.wait()  # its pipes stay open in the file system and walker it leaves
        run.stdout.close()
        run.stderr.close()
        left = processes_naming(point)
        try:
            self.assertIn(point, latency_share.mounted_shares())
            with latency_share.Share(os.path.join(BUILD, "tools"), self.source, 0) as root:
                self.assertNotIn(point, latency_share.mounted_shares())
                self.assertTrue(os.path.isdir(os.path.join(root, "a" * 100)))
        finally:
            for pid in left:  # the orphaned walker and file system this test started
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
        self.assert_nothing_left(run.pid, point)


if __name__ == "__main__":
    reason = why_not_here()
    if reason:
        print("skipped: " + reason)
        sys.exit(77)
    unittest.main()
