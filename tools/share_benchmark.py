#!/usr/bin/env python3
"""Measures kestrafin-scan against its peers on folder trees served like a network share.

    tools/share_benchmark.py [--trees share,large] [--source FOLDER]... [--delays 1,5]
                             [--runs N] [--build FOLDER] [--prebuilt] [--skip-slow] [--no-window]
                             [--threads N]... [--many-roots N]

Builds the release tools (with --prebuilt, takes them as they are), installs
bfs and fd-find when missing, generates the seeded trees once (kept under
/tmp); --source adds folders of one's own (with --source alone, no seeded tree
is used unless --trees names one). For each folder and delay (milliseconds per round trip) it mounts
kestrafin-latency-fs over the folder and:
  - checks that `kestrafin-scan -0` on the share writes exactly what it writes
    on the folder behind it, the mountpoint read as the folder, and stops with
    the first difference when it does not (on the folder itself, the default
    must also equal -j1, the serial walk);
  - runs each command alternately N times, waiting between two runs until the
    file system's cached attributes have expired so that every run pays its
    round trips: kestrafin-scan (its default), kestrafin-scan -j1, fd -u -L
    -j16, bfs -L, kestrafin-scan --list and the window's search;
  - prints medians, ratios to fd and to -j1, peak memory, the round trips
    the share served (median per run) and how many of them waited at once on
    average ("in flight"), and the window's search against kestrafin-scan
    --list.
--stop-latency SECONDS measures Escape instead: on each share it starts the
window's walk (kestrafin-stop-latency), asks it to stop after SECONDS and
prints the time from that request to the walk's end, natively and, with
--windows-build FOLDER, for the Windows build under Wine (the share as Z:\...).
--many-roots N measures several roots in one run instead: N copies of each
tree (made once beside it) as N roots, first all on one share (read one after
another) and then each on a share of its own (N servers, read at once), each
time against one root alone, alternately; it prints each run's time per root
over one root's (targets: at most 1.1 on one share, 0.5 on N shares), after
checking that the N roots write what each root alone writes, in their order.
--skip-slow leaves out the one-thread walkers (kestrafin-scan -j1 and bfs),
which take minutes on large trees; --no-window leaves out the window's search
and kestrafin-scan --list; --threads N adds kestrafin-scan -jN. The share is always taken down, also on Ctrl-C,
SIGTERM or a failure.
"""
import argparse
import contextlib
import itertools
import os
import re
import resource
import shutil
import statistics
import subprocess
import sys
import time

from latency_share import (CACHE_SECONDS, Interrupted, Share, ShareError, run, stop_on_signals,
                           utf16_units)

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(HERE)
THRESHOLD = 200  # the scanner's and the window's default folder length
SCAN, SERIAL, FD, BFS, LIST, WINDOW = ("kestrafin-scan", "kestrafin-scan -j1", "fd -u -L -j16",
                                       "bfs -L", "kestrafin-scan --list", "window search")


class OutputMismatch(Exception):
    pass


def ensure_build(build):
    if not os.path.exists(os.path.join(build, "build.ninja")):
        subprocess.run(["cmake", "-S", TOP, "-B", build, "-G", "Ninja",
                        "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF"], check=True,
                       stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "--target", "kestrafin-scan", "kestrafin-latency-fs",
                    "kestrafin-make-tree", "kestrafin-peak-memory"], check=True,
                   stdout=subprocess.DEVNULL)
    # Only where Qt is found; without it the window's search is left out.
    subprocess.run(["cmake", "--build", build, "--target", "kestrafin-window-bench"],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def ensure_packages():
    missing = [package for package, program in (("bfs", "bfs"), ("fd-find", "fdfind"))
               if not shutil.which(program)]
    if not missing:
        return
    sudo = [] if os.geteuid() == 0 else ["sudo"]
    subprocess.run(sudo + ["apt-get", "update", "-qq"], check=True)
    subprocess.run(sudo + ["apt-get", "install", "-y", "-qq"] + missing, check=True)


def seeded_tree(tools, size):
    """The generated tree of that size, made once; an interrupted build is never taken for one."""
    tree = "/tmp/kestrafin-bench-" + size
    if not os.path.isdir(tree):
        partial = tree + ".partial-%d" % os.getpid()
        returncode, _, errors = run([os.path.join(tools, "kestrafin-make-tree"), partial, size])
        if returncode != 0:
            shutil.rmtree(partial, ignore_errors=True)
            sys.exit("kestrafin-make-tree %s failed: %s" % (size, errors.decode(errors="replace")))
        os.rename(partial, tree)
    return tree


def first_difference(expected, actual, separator=b"\0"):
    """None when the two listings are equal, else a line naming where they part."""
    if expected == actual:
        return None
    expected_records, actual_records = expected.split(separator), actual.split(separator)
    for number, (wanted, got) in enumerate(itertools.zip_longest(expected_records, actual_records),
                                           1):
        if wanted != got:
            return "entry %d: expected %s, got %s" % (number, describe(wanted), describe(got))
    return None


def describe(record):
    return "nothing more" if record in (None, b"") else repr(record)


def as_on_folder(listing, root, source):
    """A NUL-ended listing made on the share, with each entry's mountpoint read as the folder.
    An entry outside the share stays as it is, so that it shows as a difference."""
    share_prefix, folder_prefix = os.fsencode(root) + b"/", os.fsencode(source) + b"/"
    return b"\0".join(folder_prefix + record[len(share_prefix):]
                      if record.startswith(share_prefix) else record
                      for record in listing.split(b"\0"))


def listing(command):
    """(exit status, standard output, standard error) of a run that must end normally."""
    returncode, output, errors = run(command)
    if returncode not in (0, 1):  # 1: some folder could not be read, and says so
        raise OutputMismatch("%s ended with status %d: %s" %
                             (" ".join(command), returncode, errors.decode(errors="replace")))
    return returncode, output, errors


# Every entry, and every folder not entered and why.
CHECK_OPTIONS = ["-0", "-v"]


def check_share(scan, source, reference, root, threshold_options):
    """Stops with OutputMismatch unless the share lists what the folder behind it lists."""
    time.sleep(CACHE_SECONDS)
    returncode, output, errors = listing([scan] + CHECK_OPTIONS + threshold_options + [root])
    if returncode != reference[0]:
        raise OutputMismatch("kestrafin-scan ended with %d on the share and %d on the folder" %
                             (returncode, reference[0]))
    # Diagnostics name paths within their lines.
    errors = errors.replace(os.fsencode(root) + b"/", os.fsencode(source) + b"/")
    for name, difference in (
            ("output", first_difference(reference[1], as_on_folder(output, root, source))),
            ("diagnostics", first_difference(reference[2], errors, b"\n"))):
        if difference:
            raise OutputMismatch("%s of kestrafin-scan -0 on the share differs from the "
                                 "folder's: %s" % (name, difference))
    print("output on the share: identical to the folder's (%d entries, %d bytes)" %
          (output.count(b"\0"), len(output)))


def folder_reference(scan, source):
    """The default walk's exit status, listing and diagnostics on the folder itself, checked
    against -j1's."""
    reference = listing([scan] + CHECK_OPTIONS + [source])
    serial = listing([scan] + CHECK_OPTIONS + ["-j1", source])
    if reference != serial:
        raise OutputMismatch("on %s the default and -j1 differ: %s" %
                             (source, first_difference(serial[1], reference[1]) or
                              "in exit status or diagnostics"))
    return reference


def window_command(window, root):
    """The window bench's command and a reader of its seconds from its output."""
    usage = subprocess.run([window, "--help"], capture_output=True, text=True).stdout
    if "--search-only" in usage:
        return [window, "--search-only", root], lambda text: float(text.split()[0])
    # "window search: X s, ..." on its first line.
    return [window, root], lambda text: float(text.split()[2])


def timed_runs(share, commands, runs):
    """Runs the commands alternately; returns per command its seconds, peak KiB and round
    trips per run and, per command, the exit statuses other than 0 with their runs."""
    times = {name: [] for name in commands}
    memory = {name: [] for name in commands}
    trips = {name: [] for name in commands}
    failures = {}
    share.round_trips()  # from here on, each report is one run's
    for number in range(1, runs + 1):
        for name, (command, read_seconds) in commands.items():
            time.sleep(CACHE_SECONDS)
            start = time.perf_counter()
            returncode, output, _ = run(command, stderr=subprocess.DEVNULL)
            elapsed = time.perf_counter() - start
            served = share.round_trips()
            if served:
                trips[name].append(sum(served.values()))
            if returncode != 0:
                failures.setdefault((name, returncode), []).append(str(number))
            if read_seconds:
                times[name].append(read_seconds(output.decode()))
            else:
                times[name].append(elapsed)
                memory[name].append(int(output.decode().strip() or 0))
            # Long runs show where they are.
            print("  run %d of %d: %-22s %.3f s, %s" %
                  (number, runs, name, times[name][-1], served), file=sys.stderr, flush=True)
    return times, memory, trips, failures


def ratio(numerator, denominator):
    return "%.2f" % (numerator / denominator) if denominator else "-"


def measure(paths, source, reference, milliseconds, runs, options):
    scan, tools = paths["scan"], paths["tools"]
    peak = os.path.join(tools, "kestrafin-peak-memory")
    list_file = "/tmp/kestrafin-share-bench-%d.dxb" % os.getpid()
    share = Share(tools, source, milliseconds)
    with share as root:
        print("tree: %s, %g ms per request, share at %s, %d runs each, alternating" %
              (source, milliseconds, root, runs))
        # The mountpoint has the folder's length where it can; else the scanner's
        # threshold moves with it, which the window's cannot.
        shift = utf16_units(root) - utf16_units(source)
        threshold = ["--longer-than", str(THRESHOLD + shift)] if shift else []
        if shift:
            print("note: the share's path is %d units longer than the folder's; kestrafin-scan "
                  "runs with --longer-than %d, the window with %d" %
                  (shift, THRESHOLD + shift, THRESHOLD))
        check_share(scan, source, reference, root, threshold)

        commands = {
            SCAN: ([peak, scan, "-q"] + threshold + [root], None),
            SERIAL: ([peak, scan, "-q", "-j1"] + threshold + [root], None),
            FD: ([peak, "fdfind", "-u", "-L", "-j16", ".", root], None),
            BFS: ([peak, "bfs", "-L", root, "!", "-type", "d"], None),
            LIST: ([peak, scan, "-q", "--list", list_file] + threshold + [root], None),
        }
        for threads in options.threads:
            commands["kestrafin-scan -j%d" % threads] = (
                [peak, scan, "-q", "-j%d" % threads] + threshold + [root], None)
        if options.skip_slow:
            del commands[SERIAL], commands[BFS]
        if paths["window"] and not options.no_window:
            commands[WINDOW] = window_command(paths["window"], root)
        else:
            del commands[LIST]
        try:
            times, memory, trips, failures = timed_runs(share, commands, runs)
        finally:
            if os.path.exists(list_file):
                os.remove(list_file)
    return report(times, memory, trips, failures, milliseconds)


def report(times, memory, trips, failures, milliseconds):
    """Prints the table of one tree and delay; returns its figures for the summary."""
    medians = {name: statistics.median(values) for name, values in times.items()}
    fd, serial = medians[FD], medians.get(SERIAL)
    # Round trips times their delay over the time taken: how many waited at once.
    print("%-22s %9s %7s %7s %9s %11s %9s  %s" % ("command", "median s", "/ fd", "/ -j1",
                                                  "peak MiB", "round trips", "in flight",
                                                  "each run, s"))
    for name, median in medians.items():
        served = statistics.median(trips[name]) if trips[name] else None
        print("%-22s %9.3f %7s %7s %9s %11s %9s  %s" % (
            name, median, ratio(median, fd), ratio(median, serial) if serial else "-",
            "%.1f" % (max(memory[name]) / 1024) if memory[name] else "-",
            "%d" % served if served is not None else "-",
            "%.1f" % (served * milliseconds / 1000 / median) if served and median else "-",
            " ".join("%.3f" % seconds for seconds in times[name])))
    summary = {"scan": medians[SCAN], "fd": fd, "memory": max(memory[SCAN]) / 1024}
    if serial:
        summary["faster than -j1"] = serial / medians[SCAN]
        print("kestrafin-scan -j1 / kestrafin-scan: %.1f" % summary["faster than -j1"])
    print("kestrafin-scan / fd -u -L -j16: %.2f" % (medians[SCAN] / fd))
    if WINDOW in medians:
        summary["window / list"] = medians[WINDOW] / medians[LIST]
        print("window search / kestrafin-scan --list: %.2f" % summary["window / list"])
    for (name, returncode), numbers in failures.items():
        print("note: %s ended with status %d in run %s" % (name, returncode, ", ".join(numbers)))
    print(flush=True)
    return summary


def wine_environment(windows_build):
    environment = dict(os.environ, WINEPREFIX=os.path.join(os.path.abspath(windows_build), "wine"),
                       WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=", LC_ALL="C.UTF-8")
    return environment


def stop_latencies(paths, source, milliseconds, runs, after, windows_build):
    """Seconds from the stop request to the walk's end, per host, one per run."""
    hosts = [("Linux", [os.path.join(paths["tools"], "kestrafin-stop-latency")], None, lambda r: r)]
    if windows_build:
        program = os.path.join(windows_build, "tools", "kestrafin-stop-latency.exe")
        hosts.append(("Wine", ["wine", program], wine_environment(windows_build),
                      lambda root: "Z:" + root.replace("/", "\\")))
    figures = {host: [] for host, _, _, _ in hosts}
    with Share(paths["tools"], source, milliseconds) as root:
        for _ in range(runs):
            for host, command, environment, as_root in hosts:
                time.sleep(CACHE_SECONDS)
                result = subprocess.run(command + ["--after", str(after), as_root(root)],
                                        capture_output=True, env=environment, check=False)
                text = result.stdout.decode(errors="replace").strip()
                match = re.search(r"(\d+) folders done: walk ended ([\d.]+) s later", text)
                if not match:
                    print("  %s: %s %s" % (host, text, result.stderr.decode(errors="replace")[-300:]))
                    continue
                figures[host].append((float(match.group(2)), int(match.group(1))))
    for host, values in figures.items():
        if values:
            print("  %-5s stop after %.0f s at %g ms: walk ended %s s later (median %.3f; %s folders done)"
                  % (host, after, milliseconds, ", ".join("%.3f" % v for v, _ in values),
                     statistics.median(v for v, _ in values),
                     ", ".join(str(f) for _, f in values)))


def copies_of(tree, count):
    """`count` copies of the tree in one folder beside it, made once; their paths."""
    top = "%s-%d-copies" % (tree, count)
    if not os.path.isdir(top):
        partial = top + ".partial-%d" % os.getpid()
        os.makedirs(partial)
        for number in range(1, count + 1):
            subprocess.run(["cp", "-a", tree, os.path.join(partial, str(number))], check=True)
        os.rename(partial, top)
    return top, [os.path.join(top, str(number)) for number in range(1, count + 1)]


def processor_seconds(pid):
    """User and system time a running process has used."""
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def children_seconds():
    used = resource.getrusage(resource.RUSAGE_CHILDREN)
    return used.ru_utime + used.ru_stime


def alternate(commands, runs, shares):
    """Seconds of each command, run alternately, each run paying its round trips; with the
    processor seconds the scanner and the shares' servers spent, per command, summed."""
    times = {name: [] for name in commands}
    processor = {name: [0.0, 0.0] for name in commands}
    for number in range(1, runs + 1):
        for name, command in commands.items():
            time.sleep(CACHE_SECONDS)
            servers = sum(processor_seconds(share.process.pid) for share in shares)
            scanner = children_seconds()
            start = time.perf_counter()
            returncode, _, _ = run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            times[name].append(time.perf_counter() - start)
            processor[name][0] += (children_seconds() - scanner) / runs
            processor[name][1] += (sum(processor_seconds(share.process.pid)
                                       for share in shares) - servers) / runs
            if returncode not in (0, 1):
                raise OutputMismatch("%s ended with status %d" % (" ".join(command), returncode))
            print("  run %d of %d: %-28s %.3f s" % (number, runs, name, times[name][-1]),
                  file=sys.stderr, flush=True)
    return times, processor


def check_roots_in_order(scan, roots):
    """Stops with OutputMismatch unless the roots together write each root's output in turn."""
    alone = b"".join(listing([scan, "-0", "-q", root])[1] for root in roots)
    together = listing([scan, "-0", "-q"] + roots)[1]
    difference = first_difference(alone, together)
    if difference:
        raise OutputMismatch("%d roots in one run differ from each alone: %s" %
                             (len(roots), difference))


def many_roots(paths, source, milliseconds, runs, count):
    """Prints the time per root of `count` roots in one run over one root's, on one share and
    on a share each."""
    scan, tools = paths["scan"], paths["tools"]
    top, copies = copies_of(source, count)
    print("tree: %s, %d copies as %d roots, %g ms per request, %d runs each, alternating" %
          (source, count, count, milliseconds, runs))
    ratios = {}
    share = Share(tools, top, milliseconds)
    with share as mountpoint:
        roots = [os.path.join(mountpoint, str(number)) for number in range(1, count + 1)]
        check_roots_in_order(scan, roots)
        ratios["one share"] = alternate(
            {"one root": [scan, "-q", roots[0]],
             "%d roots on one share" % count: [scan, "-q"] + roots}, runs, [share])
    with contextlib.ExitStack() as stack:
        shares = [Share(tools, copy, milliseconds) for copy in copies]
        roots = [stack.enter_context(share) for share in shares]
        check_roots_in_order(scan, roots)
        ratios["%d shares" % count] = alternate(
            {"one root": [scan, "-q", roots[0]],
             "%d roots on %d shares" % (count, count): [scan, "-q"] + roots}, runs, shares)
    # The servers run on this machine's processors too, where a share's would not.
    print("%-28s %9s %9s %11s %11s  %s" % ("command", "median s", "per root", "scanner cpu",
                                           "servers cpu", "each run, s"))
    for where, (times, processor) in ratios.items():
        (one_name, one), (many_name, many) = times.items()
        for name, values, key in ((one_name + ", " + where, one, one_name),
                                  (many_name, many, many_name)):
            print("%-28s %9.3f %9.3f %11.3f %11.3f  %s" % (
                name, statistics.median(values),
                statistics.median(values) / (1 if values is one else count),
                processor[key][0], processor[key][1],
                " ".join("%.3f" % value for value in values)))
        paired = [m / count / o for m, o in zip(many, one)]
        print("time per root / one root's, %s: %.2f (median of each run's: %.2f; target %s)" %
              (where, statistics.median(many) / count / statistics.median(one),
               statistics.median(paired), "1.1" if where == "one share" else "0.5"))
    needed = sum(ratios["%d shares" % count][1]["%d roots on %d shares" % (count, count)])
    print("processors here: %d; %d roots' scanner and servers need %.2f processor s, so at "
          "least %.2f s of wall time" % (os.cpu_count(), count, needed, needed / os.cpu_count()))
    print(flush=True)


def print_summary(rows):
    print("summary (medians):")
    print("%-40s %8s %9s %9s %9s %9s %9s" % ("tree", "ms", "scan s", "scan/fd", "-j1/scan",
                                             "peak MiB", "win/list"))
    for tree, milliseconds, summary in rows:
        print("%-40s %8g %9.3f %9.2f %9s %9.1f %9s" % (
            tree[-40:], milliseconds, summary["scan"], summary["scan"] / summary["fd"],
            "%.1f" % summary["faster than -j1"] if "faster than -j1" in summary else "-",
            summary["memory"],
            "%.2f" % summary["window / list"] if "window / list" in summary else "-"))


def main():
    parser = argparse.ArgumentParser(
        description="kestrafin-scan against fd and bfs on a folder served like a network share")
    parser.add_argument("--trees", default=None,
                        help="seeded trees, comma-separated: share (~4,000 folders), large "
                        "(~50,000); default share unless --source is given")
    parser.add_argument("--source", action="append", default=[],
                        help="a folder of one's own to serve as the share (repeatable)")
    parser.add_argument("--delays", default="1,5",
                        help="milliseconds per round trip, comma-separated, e.g. 0.2,1,5,20")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--build", default=os.path.join(TOP, "build", "release"))
    parser.add_argument("--prebuilt", action="store_true",
                        help="take the programs in --build as they are, without building")
    parser.add_argument("--skip-slow", action="store_true",
                        help="leave out kestrafin-scan -j1 and bfs -L")
    parser.add_argument("--threads", type=int, action="append", default=[],
                        help="also run kestrafin-scan -jN (repeatable)")
    parser.add_argument("--no-window", action="store_true",
                        help="leave out the window's search and kestrafin-scan --list")
    parser.add_argument("--stop-latency", type=float, default=None, metavar="SECONDS",
                        help="measure the time from a stop request SECONDS into the walk to its end")
    parser.add_argument("--many-roots", type=int, default=None, metavar="N",
                        help="measure N copies of each tree as N roots, on one share and on N")
    parser.add_argument("--windows-build", default=None,
                        help="with --stop-latency: also the Windows build in FOLDER, under Wine")
    args = parser.parse_args()
    try:
        delays = [float(delay) for delay in args.delays.split(",")]
    except ValueError:
        parser.error("--delays takes milliseconds, comma-separated: %s" % args.delays)
    if args.runs < 1 or any(delay < 0 for delay in delays):
        parser.error("--runs must be 1 or more and delays 0 or more")
    for source in args.source:
        if not os.path.isdir(source):
            parser.error("not a folder: %s" % source)
    trees = args.trees if args.trees is not None else ("" if args.source else "share")

    stop_on_signals()
    try:
        if not args.prebuilt:
            ensure_build(args.build)
        ensure_packages()
        tools = os.path.join(args.build, "tools")
        if not os.path.exists(os.path.join(tools, "kestrafin-latency-fs")):
            sys.exit("kestrafin-latency-fs was not built: install libfuse3-dev and fuse3")
        window = os.path.join(tools, "kestrafin-window-bench")
        paths = {"tools": tools, "scan": os.path.join(args.build, "scanner", "kestrafin-scan"),
                 "window": window if os.path.exists(window) else None}
        sources = [seeded_tree(tools, size) for size in trees.split(",") if size]
        sources += [os.path.abspath(source).rstrip("/") or "/" for source in args.source]
        if args.many_roots is not None:
            for source in sources:
                for delay in delays:
                    many_roots(paths, source, delay, args.runs, args.many_roots)
            return 0
        if args.stop_latency is not None:
            for source in sources:
                for delay in delays:
                    print("%s, %g ms per round trip:" % (source, delay))
                    stop_latencies(paths, source, delay, args.runs, args.stop_latency,
                                   args.windows_build)
            return 0
        rows = []
        for source in sources:
            reference = folder_reference(paths["scan"], source)
            for delay in delays:
                rows.append((source, delay, measure(paths, source, reference, delay, args.runs,
                                                    args)))
        print_summary(rows)
    except OutputMismatch as error:
        print("FAILED: %s" % error, file=sys.stderr)
        return 1
    except ShareError as error:
        print("FAILED to take the share down: %s" % error, file=sys.stderr)
        return 1
    except Interrupted as error:
        print("stopped; the share is down", file=sys.stderr)
        return 128 + error.signal_number
    except KeyboardInterrupt:
        print("stopped; the share is down", file=sys.stderr)
        return 130
    return 0


if __name__ == "__main__":
    sys.exit(main())
