"""kestrafin-latency-fs mounted over a folder for the length of a with-block.

    with Share(tools, source, milliseconds) as root:
        returncode, output, errors = run(command)   # a walker, killed if we are stopped
        share.round_trips()  # served since the last call: {"opendir": 4012, ...}

The mountpoint lies under /tmp and has as many UTF-16 units as the source's
path where it can, so that the same folders pass a length threshold on both.
Leaving the block always takes the share down, also on an exception, Ctrl-C or
SIGTERM (see stop_on_signals): walkers started with run() are killed first,
then the file system is unmounted (lazily when something outside still holds
it, which is then named), its process is waited for (and killed if it does not
end), and the mountpoint is removed. Shares left by an earlier benchmark that
was killed outright are taken down when the next one starts. Anything that
cannot be cleaned up raises ShareError naming what is left.
"""
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

CACHE_SECONDS = 1.1  # kestrafin-latency-fs caches attributes and entries for 1 s
FILE_SYSTEM_TYPE = "fuse.kestrafin-latency-fs"
MOUNT_PARENT = "/tmp"
MOUNT_NAME = re.compile(r"kfshare-(\d+)-")
NAME_UNITS = 200  # folder names along the mountpoint stay below every host's limit


class ShareError(RuntimeError):
    pass


class Interrupted(BaseException):
    """Raised by stop_on_signals' handler, so that every with-block unwinds."""

    def __init__(self, signal_number):
        super().__init__("stopped by signal %d" % signal_number)
        self.signal_number = signal_number


def stop_on_signals():
    """SIGTERM and SIGHUP unwind like Ctrl-C, so that shares are taken down."""

    def handler(signal_number, _frame):
        raise Interrupted(signal_number)

    for signal_number in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(signal_number, handler)


def utf16_units(path):
    return len(path.encode("utf-16-le", "surrogatepass")) // 2


def run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE):
    """Runs a command in a process group of its own; returns (returncode, stdout, stderr).
    When this is stopped (exception, signal), the whole group is killed first."""
    process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=stdout, stderr=stderr,
                               start_new_session=True)
    try:
        output, errors = process.communicate()
    except BaseException:
        kill_group(process)
        raise
    return process.returncode, output, errors


def kill_group(process):
    try:
        os.killpg(process.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    process.wait()


def mounted_shares():
    """Mountpoints of kestrafin-latency-fs file systems, from the mount table."""
    points = []
    with open("/proc/self/mountinfo", "rb") as table:
        for line in table:
            fields = line.split(b" ")
            separator = fields.index(b"-")
            if fields[separator + 1].decode() == FILE_SYSTEM_TYPE:
                # Spaces, tabs, line breaks and backslashes come as octal escapes.
                point = re.sub(rb"\\([0-7]{3})", lambda m: bytes([int(m.group(1), 8)]), fields[4])
                points.append(os.fsdecode(point))
    return points


def is_mounted(mountpoint):
    return mountpoint in mounted_shares()


def holders(mountpoint):
    """Processes with a working folder, root or open file inside mountpoint, as "pid (name)"."""
    inside = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        links = ["/proc/%s/cwd" % pid, "/proc/%s/root" % pid]
        try:
            links += ["/proc/%s/fd/%s" % (pid, fd) for fd in os.listdir("/proc/%s/fd" % pid)]
            name = open("/proc/%s/comm" % pid).read().strip()
        except OSError:
            continue
        for link in links:
            try:
                target = os.readlink(link)
            except OSError:
                continue
            if target == mountpoint or target.startswith(mountpoint + "/"):
                inside.append("%s (%s)" % (pid, name))
                break
    return inside


def alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    return True


def remove_mount_folders(mountpoint):
    """Removes the mountpoint and the folders made for its length, up to MOUNT_PARENT."""
    folder = mountpoint
    while os.path.dirname(folder) != folder and folder != MOUNT_PARENT:
        os.rmdir(folder)
        folder = os.path.dirname(folder)


def remove_stale_shares():
    """Takes down shares and mountpoints whose benchmark process has ended."""
    for point in mounted_shares():
        match = MOUNT_NAME.match(os.path.relpath(point, MOUNT_PARENT))
        if match and not alive(int(match.group(1))):
            print("taking down a share left by process %s: %s" % (match.group(1), point),
                  file=sys.stderr)
            subprocess.run(["fusermount3", "-u", "-z", point], check=False)
    for name in os.listdir(MOUNT_PARENT):
        match = MOUNT_NAME.match(name)
        top = os.path.join(MOUNT_PARENT, name)
        if match and not alive(int(match.group(1))) and not any(
                point == top or point.startswith(top + "/") for point in mounted_shares()):
            for folder, _, _ in sorted(os.walk(top), key=lambda entry: -len(entry[0])):
                try:
                    os.rmdir(folder)
                except OSError:
                    break


def make_mountpoint(source):
    """An empty folder under MOUNT_PARENT whose path has the source's length in UTF-16
    units where that is possible, else the shortest one; returns its path."""
    top = os.path.join(MOUNT_PARENT, "kfshare-%d-" % os.getpid())
    serial = 0
    while os.path.exists(top + str(serial)):
        serial += 1
    path = top + str(serial)
    missing = utf16_units(source) - utf16_units(path)
    os.mkdir(path)
    # Folders of x's bring it to length: at least one unit each for the separator.
    while missing > 1:
        name_units = min(NAME_UNITS, missing - 1)
        path = os.path.join(path, "x" * name_units)
        os.mkdir(path)
        missing -= name_units + 1
    return path


class Share:
    """kestrafin-latency-fs mounted over `source` for the duration of a with-block."""

    def __init__(self, tools, source, milliseconds):
        self.program = os.path.join(tools, "kestrafin-latency-fs")
        self.source = os.path.abspath(source)
        self.milliseconds = milliseconds
        self.mountpoint = None
        self.process = None
        self.log = None  # the file system's standard error

    def __enter__(self):
        remove_stale_shares()
        self.log = tempfile.TemporaryFile()
        self.mountpoint = make_mountpoint(self.source)
        try:
            # A session of its own: Ctrl-C reaches this program, which then
            # takes the share down in order, after the walkers.
            self.process = subprocess.Popen(
                [self.program, self.source, self.mountpoint, str(self.milliseconds)],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=self.log,
                start_new_session=True)
            deadline = time.monotonic() + 10
            while not is_mounted(self.mountpoint):
                if self.process.poll() is not None or time.monotonic() > deadline:
                    raise ShareError("kestrafin-latency-fs did not mount %s (is /dev/fuse "
                                     "usable?)" % self.mountpoint)
                time.sleep(0.02)
        except BaseException:
            self.close()
            raise
        return self.mountpoint

    def round_trips(self):
        """The round trips served since the last call (or the mount), by kind, from the file
        system's report on SIGUSR1; None when it does not report within 5 s."""
        known = os.fstat(self.log.fileno()).st_size
        self.process.send_signal(signal.SIGUSR1)
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            text = os.pread(self.log.fileno(), 1 << 16, known).decode(errors="replace")
            match = re.search(r"round trips: (\d+) lookup or getattr, (\d+) readlink, "
                              r"(\d+) opendir, (\d+) readdir\n", text)
            if match:
                return dict(zip(("getattr", "readlink", "opendir", "readdir"),
                                map(int, match.groups())))
            time.sleep(0.01)
        return None

    def __exit__(self, kind, _value, _traceback):
        try:
            self.close()
        except ShareError:
            if kind is None:
                raise
            # The first failure is the one to see; this one is printed.
            print(sys.exc_info()[1], file=sys.stderr)

    def close(self):
        # A second Ctrl-C waits until the share is down.
        stops = {signal.SIGINT, signal.SIGTERM, signal.SIGHUP}
        blocked = signal.pthread_sigmask(signal.SIG_BLOCK, stops)
        try:
            self.take_down()
        finally:
            signal.pthread_sigmask(signal.SIG_SETMASK, blocked)

    def take_down(self):
        left = []
        if self.mountpoint is not None and is_mounted(self.mountpoint):
            self.unmount()
        if self.process is not None:
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.terminate()
                try:
                    self.process.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    self.process.kill()
                    self.process.wait()
                left.append("kestrafin-latency-fs did not end after the unmount; it was killed")
            self.process = None
        if self.mountpoint is not None:
            if is_mounted(self.mountpoint):
                subprocess.run(["fusermount3", "-u", "-z", self.mountpoint], check=False)
            if is_mounted(self.mountpoint):
                left.append("%s is still mounted" % self.mountpoint)
            else:
                try:
                    remove_mount_folders(self.mountpoint)
                    self.mountpoint = None
                except OSError as error:
                    left.append("could not remove %s: %s" % (self.mountpoint, error))
        if self.log is not None:
            # What the file system said, other than its reports.
            self.log.seek(0)
            for line in self.log.read().decode(errors="replace").splitlines():
                if not line.startswith("round trips: "):
                    print("kestrafin-latency-fs: " + line, file=sys.stderr)
            self.log.close()
            self.log = None
        if left:
            raise ShareError("; ".join(left))

    def unmount(self):
        # The kernel may answer the last walker's closes a moment after it has
        # ended; anything still inside after that is named, and the mount is
        # detached so that it goes when they leave.
        deadline = time.monotonic() + 5
        while True:
            result = subprocess.run(["fusermount3", "-u", self.mountpoint],
                                    stderr=subprocess.PIPE, text=True)
            if result.returncode == 0 or not is_mounted(self.mountpoint):
                return
            if time.monotonic() > deadline:
                break
            time.sleep(0.1)
        inside = holders(self.mountpoint)
        print("%s: %s; still inside: %s; detaching it" %
              (self.mountpoint, result.stderr.strip(), ", ".join(inside) or "nobody"),
              file=sys.stderr)
        subprocess.run(["fusermount3", "-u", "-z", self.mountpoint], check=False)
