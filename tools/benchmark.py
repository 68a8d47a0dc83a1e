#!/usr/bin/env python3
"""Measures kestrafin-scan against its peers on one tree, in one run.

    tools/benchmark.py [--size small|large] [--root FOLDER] [--cold] [--runs N]
                       [--build FOLDER] [--window-only] [--share-delays MS,MS] [--record-only]
                       [--build FOLDER] [--window-only] [--share-delays MS,MS] [--report]
                       [--volume]

Builds the release tools when missing, generates the seeded tree once (kept
under /tmp), installs bfs when missing, then runs each command alternately
N times and prints medians, ratios to the bare counting walk, peak memory,
processor time and the read requests the disk served.
The same walk with 24 threads in no order shows how fast any walker reads
the tree here, against which the scanner and fd are compared too.
--root measures on a folder of the system (such as /usr) instead of the
generated tree. --cold drops the kernel's caches before every run (as the
first search of the day finds the disk); that needs root, and the benchmark
says so and stops when it cannot. Cold runs take the default scan, -j1, fd,
bfs and the bare walk only, since every run reads the disk again.
The window's search (kestrafin-window-bench, when built) takes its turn in the
same alternation; its figure is the time from the click on "Search" to the
full list, as the window measures it. --window-only runs just the window's
search and kestrafin-scan --list; with --share-delays it does so on the
~4,000-folder share tree served by kestrafin-latency-fs at each delay, waiting
for the file system's cached attributes to expire before every run.
The record (--record FILE) is measured against --format json to a file, with
the default rule and with --check sharepoint, and against that file synced to
the disk as the record is before it takes its name; --record-only runs just
those.
--diff times `kestrafin-scan diff` of two records of 1,000,000 entries each
(tools/record_generator.py, kept under /tmp, with a known overlap that the
diff's counts are checked against) in each output format, beside wc -l reading
both files, and prints seconds, ratios to wc -l and peak memory.
--report measures kestrafin-scan report of ten weekly records of 100,000
entries each (tools/record_generator.py, kept under /tmp) against reading
their bytes with wc -l.
--volume measures kestrafin-scan --source volume on an NTFS image of
1,000,000 files in 100,000 folders (made once through ntfs-3g, as root, and
kept under /tmp) against dd of the master file table's extents and against
the walk over an ntfs-3g mount of the image, remounted before each walk so
that the driver and the kernel keep nothing of it; the image's bytes stay in
the page cache throughout (warm) unless --cold drops it before every run.
"""
import argparse
import hashlib
import json
import os
import resource
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


def processor_seconds():
    """User and system time of the children waited for so far."""
    used = resource.getrusage(resource.RUSAGE_CHILDREN)
    return used.ru_utime + used.ru_stime


def disk_reads(root):
    """Read requests the disk holding root has served so far; None where the
    host does not tell (no block device behind it, no /sys)."""
    device = os.stat(root).st_dev
    try:
        with open("/sys/dev/block/%d:%d/stat" % (os.major(device), os.minor(device))) as stat:
            return int(stat.read().split()[0])
    except (OSError, ValueError, IndexError):
        return None


def peak_kib(tools, command, shell=False):
    """Peak resident memory of the command (of the shell's pipeline as a whole: its largest part)."""
    if shell:
        command = ["sh", "-c", command]
    result = subprocess.run([os.path.join(tools, "kestrafin-peak-memory")] + command,
                            capture_output=True, text=True)
    return int(result.stdout.strip() or 0)


def report_window(window_figures, list_times, root, runs):
    """The window's search against kestrafin-scan --list, run alternately;
    window_figures holds (seconds, window thread's processor seconds) pairs."""
    window_times = [seconds for seconds, _ in window_figures]
    window = statistics.median(window_times)
    listing = statistics.median(list_times)
    paired = statistics.median(w / l for w, l in zip(window_times, list_times))
    print("tree: %s, %d runs each, alternating" % (root, runs))
    print("window search: median %.3f s (%s)" % (window, " ".join("%.3f" % t for t in window_times)))
    print("kestrafin-scan --list: median %.3f s (%s)" %
          (listing, " ".join("%.3f" % t for t in list_times)))
    print("window search / kestrafin-scan --list: %.2f (ratio of medians), %.2f (median of the "
          "ratios of each run)" % (window / listing, paired))
    print("window thread's processor time per search: median %.1f ms" %
          (1000 * statistics.median(cpu for _, cpu in window_figures)))


def window_on_share(tools, scan, milliseconds, runs):
    """The window's search and kestrafin-scan --list, alternately, on the share tree."""
    import share_benchmark  # beside this file

    tree = "/tmp/kestrafin-bench-share"
    if not os.path.isdir(tree):
        subprocess.run([os.path.join(tools, "kestrafin-make-tree"), tree, "share"], check=True)
    window = os.path.join(tools, "kestrafin-window-bench")
    list_file = "/tmp/kestrafin-bench-list.dxb"
    window_times, list_times = [], []
    with share_benchmark.Share(tools, tree, milliseconds) as root:
        for _ in range(runs):
            time.sleep(share_benchmark.CACHE_SECONDS)
            list_times.append(run_timed([scan, "-q", "--list", list_file, root]))
            time.sleep(share_benchmark.CACHE_SECONDS)
            output = subprocess.run([window, "--search-only", root], check=True,
                                    capture_output=True, text=True).stdout.split()
            window_times.append((float(output[0]), float(output[1])))
    print("%g ms per request:" % milliseconds)
    report_window(window_times, list_times, tree, runs)


def records_folder():
    """Where the made-up records are kept, made anew when their generator
    changes."""
    with open(os.path.join(HERE, "record_generator.py"), "rb") as source:
        made_by = hashlib.sha256(source.read()).hexdigest()[:12]
    return "/tmp/kestrafin-bench-records-" + made_by


def diff_figures(tools, scan, runs):
    """kestrafin-scan diff of two records of a million entries each."""
    sys.path.insert(0, HERE)
    import record_generator  # beside this file

    folder = records_folder()
    old, new = os.path.join(folder, "old.jsonl"), os.path.join(folder, "new.jsonl")
    entries, turnover = 1000000, 100000
    # Week 1 fixes the first `turnover` entries of week 0 and adds as many.
    if not (os.path.exists(old) and os.path.exists(new)):
        os.makedirs(folder, exist_ok=True)
        for week, record in enumerate((old, new)):
            record_generator.generate(record, "fs01", ["/srv/share/fs01"], entries, week=week,
                                      fixed=turnover, new=turnover)
    expected = {"fixed": turnover, "new": turnover, "still": entries - turnover}
    checked = subprocess.run([scan, "diff", old, new], capture_output=True)
    found = {"fixed": 0, "new": 0, "still": 0}
    for line in checked.stdout.split(b"\n"):
        if line:
            found[line.split(b"\t")[0].decode()] += 1
    if checked.returncode != 1 or found != expected:
        sys.exit("kestrafin-scan diff found %s (exit status %d), the records hold %s"
                 % (found, checked.returncode, expected))
    print("diff of %s and %s: %d fixed, %d new, %d still failing, as made"
          % (old, new, found["fixed"], found["new"], found["still"]))
    commands = {
        "wc -l OLD NEW": ["wc", "-l", old, new],
        "diff --summary": [scan, "diff", "--summary", old, new],
        "diff (lines)": [scan, "diff", old, new],
        "diff --format csv": [scan, "diff", "--format", "csv", old, new],
        "diff --format json": [scan, "diff", "--format", "json", old, new],
    }
    times = {name: [] for name in commands}
    for _ in range(runs):
        for name, command in commands.items():
            times[name].append(run_timed(command))
    floor = statistics.median(times["wc -l OLD NEW"])
    print("%-22s %9s %9s %10s" % ("", "seconds", "vs wc -l", "peak MiB"))
    for name, command in commands.items():
        seconds = statistics.median(times[name])
        print("%-22s %9.2f %9.2f %10.1f" % (name, seconds, seconds / floor,
                                            peak_kib(tools, command) / 1024))
def report_benchmark(tools, scan, runs):
    """kestrafin-scan report of ten weekly records of 100,000 entries each,
    against reading their bytes alone (wc -l), run alternately."""
    import record_generator  # beside this file

    folder = records_folder()
    records = [os.path.join(folder, "fs01-week%d.jsonl" % week) for week in range(10)]
    if not all(os.path.exists(record) for record in records):
        os.makedirs(folder, exist_ok=True)
        for week, record in enumerate(records):
            record_generator.generate(record, "fs01", ["/srv/share"], 100000, week=week,
                                      fixed=3000, new=500)
    page = os.path.join(folder, "report.html")
    report = [scan, "report", *records, "-o", page]
    checked = subprocess.run(report, capture_output=True)
    if checked.returncode != 0:
        sys.exit("kestrafin-scan report failed: %s" % checked.stderr.decode(errors="replace"))
    read = ["wc", "-l", *records]
    report_times, report_processor, read_times = [], [], []
    for _ in range(runs):
        before = processor_seconds()
        report_times.append(run_timed(report))
        report_processor.append(processor_seconds() - before)
        read_times.append(run_timed(read))
    size = sum(os.path.getsize(record) for record in records)
    print("report of 10 records of 100,000 entries each (%.0f MB), %d runs each, alternating" %
          (size / 1e6, runs))
    print("kestrafin-scan report: median %.3f s (%s); goal under 2 s" %
          (statistics.median(report_times), " ".join("%.3f" % t for t in report_times)))
    # On a machine shared with other work the processor time tells more.
    print("kestrafin-scan report: processor time median %.3f s" %
          statistics.median(report_processor))
    print("wc -l of the records: median %.3f s" % statistics.median(read_times))
    print("report / wc -l: %.1f" % (statistics.median(report_times) / statistics.median(read_times)))
    print("kestrafin-scan report: peak memory %d KiB" % peak_kib(tools, report))


VOLUME_FOLDERS, VOLUME_FILES = 100000, 1000000


def volume_image():
    """The benchmark's NTFS image, made anew when its maker changes: 100 top
    folders of 999 folders each, 10 files in each folder; one top folder in
    ten has a name long enough for its files to be listed."""
    import ntfs_image  # beside this file

    import inspect

    # Named by the code that makes it: its own and the image maker's mkntfs.
    maker = hashlib.sha256()
    for made_by in (volume_image, ntfs_image.mkntfs):
        maker.update(inspect.getsource(made_by).encode())
    path = "/tmp/kestrafin-bench-ntfs-%s.img" % maker.hexdigest()[:12]
    if os.path.exists(path):
        return path
    why = ntfs_image.missing_tools()
    if why:
        sys.exit("--volume: " + why)
    print("making %s through ntfs-3g (a few minutes)" % path, flush=True)
    making = path + ".making"
    ntfs_image.mkntfs(making, 8192)
    per_top = VOLUME_FOLDERS // 100 - 1
    files = VOLUME_FILES // VOLUME_FOLDERS
    with ntfs_image.Mount(making, ("noatime",)) as point:
        for top in range(100):
            name = "top%02d-" % top + ("long" * 48 if top % 10 == 0 else "short")
            top_fd = os.open(point, os.O_RDONLY | os.O_DIRECTORY)
            os.mkdir(name, dir_fd=top_fd)
            folder_fd = os.open(name, os.O_RDONLY | os.O_DIRECTORY, dir_fd=top_fd)
            os.close(top_fd)
            for index in range(per_top + 1):
                if index < per_top:
                    sub = "folder-%03d-of-the-tree" % index
                    os.mkdir(sub, dir_fd=folder_fd)
                    into = os.open(sub, os.O_RDONLY | os.O_DIRECTORY, dir_fd=folder_fd)
                else:
                    into = os.dup(folder_fd)
                for number in range(files):
                    os.close(os.open("file-%02d-%s.dat" % (number, "x" * (number * 3)),
                                     os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=into))
                os.close(into)
            os.close(folder_fd)
    os.rename(making, path)
    return path


def volume_benchmark(tools, scan, runs, cold):
    """The volume source against dd of the table's extents and against the
    walk over an ntfs-3g mount of the same image, run alternately."""
    import ntfs_image  # beside this file

    image = volume_image()
    volume = ntfs_image.Volume(image)
    extents = " ; ".join(
        "dd if='%s' of=/dev/null bs=1M iflag=skip_bytes,count_bytes skip=%d count=%d status=none"
        % (image, lcn * volume.cluster_size, clusters * volume.cluster_size)
        for lcn, clusters in volume.mft_runs if lcn is not None)
    table_bytes = sum(clusters for _, clusters in volume.mft_runs) * volume.cluster_size
    records = table_bytes // volume.record_size
    read = [scan, "-q", "--source", "volume", "--volume", image, "/"]
    times = {"dd of the table": [], "scan --source volume": [], "scan of the mount": []}
    if cold and not drop_caches():
        sys.exit("--cold: the caches cannot be dropped here (it needs root)")
    for command, shell in ((extents, True), (read, False)):  # warm the page cache
        run_timed(command, shell)
    mount_times = []
    for _ in range(runs):
        for name, command, shell in (("dd of the table", extents, True),
                                     ("scan --source volume", read, False)):
            if cold:
                drop_caches()
            times[name].append(run_timed(command, shell))
        if cold:
            drop_caches()
        with ntfs_image.Mount(image, ("ro",)) as point:
            mount_times.append(run_timed([scan, "-q", point]))
    times["scan of the mount"] = mount_times
    memory = peak_kib(tools, read)
    checked = subprocess.run(read, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if checked.returncode != 0:
        print("note: the volume source did not read the whole image: %s" % checked.stderr.strip())
    with ntfs_image.Mount(image, ("ro",)) as point:
        walk_memory = peak_kib(tools, [scan, "-q", point])

    print("image: %s, %d folders, %d files, table of %d records (%.0f MB) in %d extents" %
          (image, VOLUME_FOLDERS, VOLUME_FILES, records, table_bytes / 1e6, len(volume.mft_runs)))
    print("%d runs each, alternating; medians; %s" % (runs, "cold: caches dropped before every run"
          if cold else "warm: the image's bytes in the page cache, the mount made anew each run"))
    print("%-22s %10s" % ("command", "seconds"))
    for name, values in times.items():
        print("%-22s %10.3f  (%s)" % (name, statistics.median(values),
                                      " ".join("%.3f" % value for value in values)))
    dd, source, walk = (statistics.median(times[name]) for name in times)
    print("volume / dd: %.2f (goal at most 1.5)" % (source / dd))
    print("walk of the mount / volume: %.1f (goal at least 10)" % (walk / source))
    print("records per second: %.0f" % (records / source))
    print("volume source peak memory: %.1f MiB, %.0f bytes per record (goal under 200)" %
          (memory / 1024, memory * 1024 / records))
    print("walk of the mount peak memory: %.1f MiB" % (walk_memory / 1024))


def ensure_build(build):
    if not os.path.exists(os.path.join(build, "scanner", "kestrafin-scan")):
        subprocess.run(["cmake", "-S", TOP, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                        "-DBUILD_TESTING=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build], check=True, stdout=subprocess.DEVNULL)


def drop_caches():
    """Empties the page, dentry and inode caches; False when this process may not."""
    subprocess.run(["sync"], check=False)
    try:
        with open("/proc/sys/vm/drop_caches", "w") as control:
            control.write("3\n")
        return True
    except OSError:
        return False


def fd_command():
    """Debian installs fd as fdfind."""
    return shutil.which("fdfind") or shutil.which("fd")


def ensure_bfs():
    if shutil.which("bfs"):
        return
    sudo = [] if os.geteuid() == 0 else ["sudo"]
    subprocess.run(sudo + ["apt-get", "update", "-qq"], check=True)
    subprocess.run(sudo + ["apt-get", "install", "-y", "-qq", "bfs"], check=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--size", default="large", choices=["small", "large"])
    parser.add_argument("--root", default="",
                        help="a folder to measure on instead of the generated tree, e.g. /usr")
    parser.add_argument("--cold", action="store_true",
                        help="drop the kernel's caches before every run (needs root)")
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--build", default=os.path.join(TOP, "build", "release"))
    parser.add_argument("--window-only", action="store_true",
                        help="compare only the window's search with kestrafin-scan --list")
    parser.add_argument("--checks-only", action="store_true",
                        help="compare only kestrafin-scan --check sharepoint with "
                        "--files-longer-than 0")
    parser.add_argument("--record-only", action="store_true",
                        help="compare only kestrafin-scan --record FILE with --format json to a "
                        "file")
    parser.add_argument("--diff", action="store_true",
                        help="time kestrafin-scan diff of two records of 1,000,000 entries each")
    parser.add_argument("--report", action="store_true",
                        help="measure only kestrafin-scan report of ten records of 100,000 "
                        "entries each")
    parser.add_argument("--volume", action="store_true",
                        help="measure the volume source on an NTFS image of 1,000,000 files "
                        "against dd of its table and the walk of its ntfs-3g mount (needs root)")
    parser.add_argument("--share-delays", default="",
                        help="with --window-only: milliseconds per request on the share tree, "
                        "comma-separated")
    args = parser.parse_args()

    ensure_build(args.build)
    tools = os.path.join(args.build, "tools")
    scan = os.path.join(args.build, "scanner", "kestrafin-scan")
    if args.diff:
        diff_figures(tools, scan, args.runs)
        return 0
    if args.report:
        report_benchmark(tools, scan, args.runs)
        return 0
    if args.volume:
        volume_benchmark(tools, scan, args.runs, args.cold)
        return 0
    if args.share_delays:
        if not args.window_only:
            sys.exit("--share-delays goes with --window-only")
        for delay in args.share_delays.split(","):
            window_on_share(tools, scan, float(delay), args.runs)
        return 0
    ensure_bfs()
    if args.cold and not drop_caches():
        sys.exit("--cold: the caches cannot be dropped here (it needs root and a writable "
                 "/proc/sys/vm/drop_caches); no cold figures were taken")
    root = args.root or "/tmp/kestrafin-bench-" + args.size
    if not args.root and not os.path.isdir(root):
        subprocess.run([os.path.join(tools, "kestrafin-make-tree"), root, args.size], check=True)

    list_file = "/tmp/kestrafin-bench-list.dxb"
    json_file = "/tmp/kestrafin-bench-%d.json" % os.getpid()
    record_file = "/tmp/kestrafin-bench-%d.jsonl" % os.getpid()
    json_to_file = "'%s' -q --format json %s '%s' > '%s'"
    commands = {
        "count walk": ([os.path.join(tools, "kestrafin-count-walk"), root], False),
        # The same folders read in no order by as many threads as the scanner's
        # readers where reads wait: how far any walker gets here.
        "count walk, 24 threads": ([os.path.join(tools, "kestrafin-count-walk"), "--threads", "24",
                                    root], False),
        "kestrafin-scan": ([scan, "-q", root], False),
        "kestrafin-scan -j1": ([scan, "-q", "-j1", root], False),
        "fd -u -L -j16": ([fd_command() or "fd", "-u", "-L", "-j16", ".", root], False),
        "fd -u -L -j2": ([fd_command() or "fd", "-u", "-L", "-j2", ".", root], False),
        "kestrafin-scan --list": ([scan, "-q", "--list", list_file, root], False),
        "scan --limit windows": ([scan, "-q", "--limit", "windows", root], False),
        "scan --files-longer-than 0": ([scan, "-q", "--files-longer-than", "0", root], False),
        "scan --check sharepoint": ([scan, "-q", "--check", "sharepoint", root], False),
        "scan csv, prefix, summary": ([scan, "-q", "--format", "csv", "--summary", "--target-prefix",
                                       "\\\\srv\\share", root], False),
        "scan json > file": (json_to_file % (scan, "", root, json_file), True),
        "scan --record file": ([scan, "-q", "--record", record_file, root], False),
        # The record reaches the disk before it takes its name; so does this.
        "scan json > file, synced": ((json_to_file + " && sync '%s'") %
                                     (scan, "", root, json_file, json_file), True),
        "json > file, --check sp": (json_to_file % (scan, "--check sharepoint", root, json_file),
                                    True),
        "--record file, --check sp": ([scan, "-q", "--check", "sharepoint", "--record",
                                       record_file, root], False),
        "bfs -L": (["bfs", "-L", root, "!", "-type", "d"], False),
        "find -L": (["find", "-L", root, "!", "-type", "d"], False),
        "find -L | awk": ("find -L '%s' ! -type d 2>/dev/null | awk '%s'" % (root, AWK_FILTER), True),
    }
    if not fd_command():
        commands = {name: command for name, command in commands.items() if not name.startswith("fd")}
    if args.cold:
        commands = {name: command for name, command in commands.items()
                    if name in ("count walk", "count walk, 24 threads", "kestrafin-scan",
                                "kestrafin-scan -j1", "fd -u -L -j16", "fd -u -L -j2", "bfs -L")}
    if args.checks_only:
        commands = {name: command for name, command in commands.items()
                    if name in ("count walk", "scan --files-longer-than 0",
                                "scan --check sharepoint")}
    if args.record_only:
        commands = {name: command for name, command in commands.items()
                    if name in ("count walk", "scan json > file", "scan --record file",
                                "scan json > file, synced",
                                "json > file, --check sp", "--record file, --check sp")}
    window = os.path.join(tools, "kestrafin-window-bench")
    if not os.path.exists(window) or args.cold or args.root or args.checks_only or \
            args.record_only:
        window = None
    if args.window_only:
        if window is None:
            sys.exit("kestrafin-window-bench was not built (it needs Qt)")
        commands = {name: commands[name] for name in ("kestrafin-scan --list",)}

    def window_search():
        """Seconds of one search in the window, and the processor seconds of the
        window's thread, as the window bench reports them."""
        output = subprocess.run([window, "--search-only", root], check=True, capture_output=True,
                                text=True).stdout.split()
        return float(output[0]), float(output[1])

    if not args.cold:
        for command, shell in commands.values():  # warm the cache
            run_timed(command, shell)
        if window:
            window_search()
    times = {name: [] for name in commands}
    processor = {name: [] for name in commands}
    reads = {name: [] for name in commands}
    window_times = []
    for _ in range(args.runs):
        for name, (command, shell) in commands.items():
            if args.cold and not drop_caches():
                sys.exit("--cold: the caches could no longer be dropped; stopped")
            reads_before, used_before = disk_reads(root), processor_seconds()
            times[name].append(run_timed(command, shell))
            processor[name].append(processor_seconds() - used_before)
            reads_after = disk_reads(root)
            if reads_before is not None and reads_after is not None:
                reads[name].append(reads_after - reads_before)
        if window:
            window_times.append(window_search())

    if args.window_only:
        report_window(window_times, times["kestrafin-scan --list"], root, args.runs)
        return 0
    memory = {name: peak_kib(tools, command, shell) for name, (command, shell) in commands.items()}
    # The reference walks say on standard error when they could not read the
    # whole tree; their figures then stand for less than the others'.
    for name in ("count walk", "count walk, 24 threads"):
        if name in commands:
            check = subprocess.run(commands[name][0], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.PIPE, text=True)
            if check.returncode != 0:
                print("note: %s did not read the whole tree: %s" % (name, check.stderr.strip()))

    base = statistics.median(times["count walk"])
    print("tree: %s, %d runs each, alternating; medians; %s" %
          (root, args.runs, "cold: caches dropped before every run" if args.cold else "warm"))
    # From a cold disk every walker makes the same reads; the processor time
    # each spends on them is what sets them apart where the processors are few.
    print("%-26s %10s %10s %12s %12s %12s" %
          ("command", "seconds", "ratio", "peak MiB", "processor s", "disk reads"))
    for name in commands:
        median = statistics.median(times[name])
        print("%-26s %10.3f %10.2f %12.1f %12.3f %12s" %
              (name, median, median / base, memory[name] / 1024,
               statistics.median(processor[name]),
               "%d" % statistics.median(reads[name]) if reads[name] else "-"))
    # The name and collision checks against a walk that hands on every file too.
    if "scan --check sharepoint" in times:
        print("scan --check sharepoint / scan --files-longer-than 0: %.2f" %
              (statistics.median(times["scan --check sharepoint"]) /
               statistics.median(times["scan --files-longer-than 0"])))
    # What writing the record costs over writing the same entries as JSON.
    for record, plain in (("scan --record file", "scan json > file"),
                          ("scan --record file", "scan json > file, synced"),
                          ("--record file, --check sp", "json > file, --check sp")):
        if record in times:
            paired = statistics.median(r / p for r, p in zip(times[record], times[plain]))
            print("%s / %s: %.3f (median of each run's ratio: %.3f; target at most 1.05)" %
                  (record, plain, statistics.median(times[record]) /
                   statistics.median(times[plain]), paired))
    for leftover in (json_file, record_file):
        if os.path.exists(leftover):
            os.remove(leftover)
    if args.checks_only or args.record_only:
        return 0
    serial = statistics.median(times["kestrafin-scan -j1"])

    print("kestrafin-scan / kestrafin-scan -j1: %.2f" %
          (statistics.median(times["kestrafin-scan"]) / serial))
    print("kestrafin-scan / bfs -L: %.2f" %
          (statistics.median(times["kestrafin-scan"]) / statistics.median(times["bfs -L"])))
    # Each run's own ratio as well: from a cold disk, whole rounds run slower
    # or faster together (the host's own cache), which the ratio of medians
    # blurs and the ratios within a round do not.
    def compare(name, peer):
        paired = statistics.median(mine / other for mine, other in zip(times[name], times[peer]))
        print("%s / %s: %.2f (median of each run's ratio: %.2f)" %
              (name, peer, statistics.median(times[name]) / statistics.median(times[peer]), paired))

    for peer in ("fd -u -L -j16", "fd -u -L -j2", "count walk, 24 threads"):
        if peer in times:
            compare("kestrafin-scan", peer)
    if "fd -u -L -j16" in times:
        compare("count walk, 24 threads", "fd -u -L -j16")

    if window:
        report_window(window_times, times["kestrafin-scan --list"], root, args.runs)
        # The list's memory, and Save List and Reload List of a million entries.
        print(subprocess.run([window, root], check=True, capture_output=True, text=True).stdout.strip())


if __name__ == "__main__":
    sys.exit(main())
