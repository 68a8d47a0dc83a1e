#!/usr/bin/env python3
"""Makes NTFS images for the volume reader's tests, and damaged copies of them.

    tools/ntfs_image.py --out FOLDER [--shape NAME]... [--together] [--damage KIND]...
    tools/ntfs_image.py --out FOLDER --from IMAGE --damage KIND...

Each image is made with Debian's ntfs-3g tools, as root: mkntfs on a sparse
file, filled through an ntfs-3g mount under a private folder in /tmp (always
unmounted, the driver waited for, so that the image is whole on return).
Every shape fills a folder of its own name below the volume's root; without
--shape every shape is made, each in its own image, or with --together all
in one image (all.img). --damage writes a damaged copy of each image made (or
of --from IMAGE) for each kind. What was made is printed as JSON on stdout:

    {"images": [{"shapes": [...], "path": ..., "mft_runs": N}],
     "damaged": [{"kind": ..., "path": ..., "from": ..., "detail": ...}]}

Needs root, /dev/fuse, mkntfs and ntfs-3g; exits 77 naming what is missing.
"""
import argparse
import json
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import time

SKIP = 77


# ---------------------------------------------------------------- making

def mkntfs(path, megabytes):
    with open(path, "wb") as image:
        image.truncate(megabytes << 20)
    subprocess.run(["mkntfs", "-F", "-Q", "-q", path], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class Mount:
    """An ntfs-3g mount of an image, run in the foreground so that its end
    (the driver's last write to the image) can be waited for."""

    def __init__(self, image, options=()):
        self.image = image
        self.point = tempfile.mkdtemp(prefix="kestrafin-ntfs-", dir="/tmp")
        command = ["ntfs-3g", "-o", ",".join(("no_detach", "big_writes") + tuple(options)),
                   image, self.point]
        self.driver = subprocess.Popen(command, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.PIPE)
        while not os.path.ismount(self.point):
            if self.driver.poll() is not None:
                os.rmdir(self.point)
                with self.driver.stderr:
                    raise RuntimeError("ntfs-3g did not mount %s: %s" %
                                       (image, self.driver.stderr.read().decode(errors="replace")))
            time.sleep(0.01)

    def __enter__(self):
        return self.point

    def __exit__(self, *_):
        subprocess.run(["fusermount", "-u", self.point], check=False)
        self.driver.wait()
        self.driver.stderr.close()
        os.rmdir(self.point)


def write(path, data=b""):
    with open(path, "wb") as out:
        out.write(data)


def reparse_junction(target):
    """Mount-point reparse data for a folder junction to `target` ("C:\\x")."""
    substitute = ("\\??\\" + target).encode("utf-16-le")
    printed = target.encode("utf-16-le")
    body = struct.pack("<HHHH", 0, len(substitute), len(substitute) + 2, len(printed))
    body += substitute + b"\0\0" + printed + b"\0\0"
    return struct.pack("<IHH", 0xA0000003, len(body), 0) + body


def reparse_symlink(target, relative):
    printed = target.encode("utf-16-le")
    substitute = printed if relative else ("\\??\\" + target).encode("utf-16-le")
    body = struct.pack("<HHHHI", 0, len(substitute), len(substitute), len(printed),
                       1 if relative else 0)
    body += substitute + printed
    return struct.pack("<IHH", 0xA000000C, len(body), 0) + body


def set_reparse(path, data):
    os.setxattr(path, "system.ntfs_reparse_data", data)


def fill_long_path(top):
    # Folders of long names down to a file whose path from the volume's root
    # is 506 units; a file in every folder past 200 units, a 255-unit name.
    shape = "\\" + os.path.basename(top)
    folder, used = top, len(shape)
    for level in range(4):
        name = ("L%d" % level) + "x" * 118
        folder = os.path.join(folder, name)
        os.mkdir(folder)
        used += 1 + len(name)
        write(os.path.join(folder, "at%d.txt" % level))
    last = "f" * (506 - used - 1 - 4) + ".txt"
    write(os.path.join(folder, last))
    os.mkdir(os.path.join(folder, "n" * 255))
    write(os.path.join(folder, "n" * 255, "m" * 255))


def fill_past_32767(top):
    # A path past what Windows can name (32,767 units), made a level at a
    # time through folder handles: Linux's own path limit is 4,096 bytes.
    fd = os.open(top, os.O_RDONLY | os.O_DIRECTORY)
    for level in range(130):
        name = "%03d" % level + "d" * 252
        os.mkdir(name, dir_fd=fd)
        below = os.open(name, os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
        os.close(fd)
        fd = below
        if level % 16 == 15:
            os.close(os.open("file%03d" % level, os.O_WRONLY | os.O_CREAT, dir_fd=fd))
    os.close(os.open("deepest.txt", os.O_WRONLY | os.O_CREAT, dir_fd=fd))
    os.close(fd)


def long_folder(top, label):
    folder = os.path.join(top, label + "_" + "w" * 200)
    os.mkdir(folder)
    return folder


def fill_big_folder(top):
    # 3,000 names: far past what a record's index root holds, so the index
    # lies in index blocks; mixed case and digits, so that the orders differ.
    folder = long_folder(top, "big")
    rng = random.Random(3000)
    for number in range(3000):
        stem = "".join(rng.choice("abcXYZ_09") for _ in range(rng.randint(1, 12)))
        write(os.path.join(folder, "%s-%04d.dat" % (stem, number)))
    os.mkdir(os.path.join(folder, "sub"))
    write(os.path.join(folder, "sub", "inner.txt"))


def fill_hard_links(top):
    # 41 names of one file: more $FILE_NAME attributes than one record holds,
    # so its names move to extension records behind an $ATTRIBUTE_LIST.
    folder = long_folder(top, "links")
    other = os.path.join(folder, "other")
    os.mkdir(other)
    first = os.path.join(folder, "name-00-" + "h" * 40)
    write(first, b"41 names")
    for number in range(1, 41):
        where = other if number % 4 == 0 else folder
        os.link(first, os.path.join(where, "name-%02d-" % number + "h" * 40))


def fill_shrunk_index(top):
    # A folder's index grown to several levels in a random order of names,
    # then emptied but for a few: its freed index blocks keep their old
    # entries, which only the index's bitmap tells from live ones.
    folder = long_folder(top, "shrunk")
    rng = random.Random(6000)
    names = ["%08x-%s" % (rng.getrandbits(32), "s" * rng.randint(0, 40)) for _ in range(6000)]
    for name in names:
        write(os.path.join(folder, name))
    for name in names[50:]:
        os.unlink(os.path.join(folder, name))


def fill_moves(top):
    # Names moved after they were made: between folders, in case alone, a
    # folder with what it holds, and hard links dropped from a file that had
    # more than one record holds.
    folder = long_folder(top, "moves")
    first, second = os.path.join(folder, "first"), os.path.join(folder, "second")
    os.mkdir(first)
    os.mkdir(second)
    for number in range(30):
        write(os.path.join(first, "moved-%02d.txt" % number))
    for number in range(0, 30, 3):
        os.rename(os.path.join(first, "moved-%02d.txt" % number),
                  os.path.join(second, "arrived-%02d.txt" % number))
    os.rename(os.path.join(first, "moved-01.txt"), os.path.join(first, "MOVED-01.txt"))
    os.mkdir(os.path.join(first, "carried"))
    write(os.path.join(first, "carried", "inside.txt"))
    os.rename(os.path.join(first, "carried"), os.path.join(second, "carried here"))
    linked = os.path.join(folder, "linked-" + "k" * 40)
    write(linked)
    for number in range(45):
        os.link(linked, os.path.join(first if number % 2 else second, "link-%02d-" % number + "k" * 40))
    for number in range(0, 45, 4):
        os.unlink(os.path.join(first if number % 2 else second, "link-%02d-" % number + "k" * 40))


def fill_dos_names(top):
    folder = long_folder(top, "dos")
    for number, (name, short) in enumerate([
            ("Long File Name Number One.txt", "LONGFI~1.TXT"),
            ("long file name number two.text", "LONGFI~2.TEX"),
            ("Folder With A Long Name", "FOLDER~1"),
            ("short.txt", "SHORT.TXT")]):
        path = os.path.join(folder, name)
        if name.startswith("Folder"):
            os.mkdir(path)
            write(os.path.join(path, "inside.txt"))
        else:
            write(path, b"%d" % number)
        os.setxattr(path, "system.ntfs_dos_name", short.encode())
    write(os.path.join(folder, "no short name here.txt"))


def fill_posix_names(top):
    # Names Windows refuses, written in the POSIX namespace.
    folder = long_folder(top, "posix")
    for name in ["CON", "nul.txt", "Aux", "COM1.log", "trailing dot.", "trailing space ",
                 "case", "Case", "CASE", "a<b>c", "what?", "star*", "pipe|", 'quote"']:
        write(os.path.join(folder, name))
    os.mkdir(os.path.join(folder, "Dir"))
    os.mkdir(os.path.join(folder, "dir"))
    write(os.path.join(folder, "Dir", "upper.txt"))
    write(os.path.join(folder, "dir", "lower.txt"))


def fill_reparse_links(top):
    # Windows links: junctions and symbolic links as reparse points, the
    # links a Windows volume holds.
    folder = long_folder(top, "reparse")
    target = os.path.join(folder, "target")
    os.mkdir(target)
    write(os.path.join(target, "in-target.txt"))
    inside = "C:\\" + os.path.relpath(target, os.path.dirname(top)).replace("/", "\\")
    for name, data in [("junction", reparse_junction(inside)),
                       ("junction-elsewhere", reparse_junction("D:\\elsewhere")),
                       ("junction-up", reparse_junction(inside.rsplit("\\", 1)[0])),
                       ("symlink-relative", reparse_symlink("target", True)),
                       ("symlink-absolute", reparse_symlink(inside, False))]:
        os.mkdir(os.path.join(folder, name))
        set_reparse(os.path.join(folder, name), data)
    write(os.path.join(folder, "file-symlink"))
    set_reparse(os.path.join(folder, "file-symlink"), reparse_symlink("target\\in-target.txt", True))


def fill_interix_links(top):
    # ntfs-3g's own symbolic links: plain system files on Windows.
    folder = long_folder(top, "interix")
    os.mkdir(os.path.join(folder, "target"))
    write(os.path.join(folder, "target", "t.txt"))
    os.symlink("target", os.path.join(folder, "to-folder"))
    os.symlink("target/t.txt", os.path.join(folder, "to-file"))


def fill_deleted(top):
    # Deleted records, and records reused by other names (a new sequence
    # number), beside names that stay.
    folder = long_folder(top, "deleted")
    for number in range(600):
        write(os.path.join(folder, "gone-%03d" % number))
    for number in range(600):
        if number % 10:
            os.unlink(os.path.join(folder, "gone-%03d" % number))
    for number in range(100):
        write(os.path.join(folder, "reborn-%03d" % number))
    os.mkdir(os.path.join(folder, "emptied"))
    for number in range(50):
        write(os.path.join(folder, "emptied", "x%02d" % number))
        os.unlink(os.path.join(folder, "emptied", "x%02d" % number))


def fill_fragmented_mft(top):
    # Free space cut in holes, then the table made to grow into them.
    folder = long_folder(top, "frag")
    space = os.path.join(top, "space")
    os.mkdir(space)
    chunk = b"\xa5" * (64 << 10)
    number = 0
    while True:
        try:
            write(os.path.join(space, "%05d" % number), chunk)
        except OSError:
            break
        number += 1
    for gone in range(0, number, 2):
        os.unlink(os.path.join(space, "%05d" % gone))
    for index in range(4000):
        write(os.path.join(folder, "grow-%04d" % index))


def fill_spread_mft(top):
    # Free space cut into single clusters, then the table grown into them:
    # so many runs that the table's own record needs an attribute list and
    # moves its name into an extension record.
    space = os.path.join(top, "space")
    folder = long_folder(top, "spread")
    os.mkdir(space)
    number = 0
    try:
        while True:
            write(os.path.join(space, "%05d" % number), b"\x5a" * 4096)
            number += 1
    except OSError:
        pass
    for gone in range(0, number, 2):
        os.unlink(os.path.join(space, "%05d" % gone))
    for index in range(5000):
        write(os.path.join(folder, "g%05d" % index))


def fill_unicode(top):
    folder = long_folder(top, "unicode")
    for name in ["caf\u00e9", "cafe\u0301", "\u4e2d\u6587\u540d\u5b57", "\U0001f600 smile",
                 "\u05e9\u05dc\u05d5\u05dd.txt", "\u0645\u0631\u062d\u0628\u0627",
                 "mixed \u05d0\u05d1 abc \u0627\u0628", "\u00c5ngstr\u00f6m", "\u00e5ngstr\u00f6m",
                 "\u0130stanbul", "stra\u00dfe", "STRASSE", "\u03a3\u03af\u03c3\u03c5\u03c6\u03bf\u03c2"]:
        write(os.path.join(folder, name))
    deep = os.path.join(folder, "\U0001f4c1" * 60)
    os.mkdir(deep)
    write(os.path.join(deep, "\u00e9" * 200))


def set_attributes(path, attributes):
    os.setxattr(path, "system.ntfs_attrib_be", struct.pack(">I", attributes))


def fill_attributes(top):
    # What Windows marks on files and folders: hidden and system folders
    # (as profiles' junctions and "System Volume Information" are), offline
    # ones, read-only and sparse files, and named data streams.
    folder = long_folder(top, "attributes")
    for name, attributes in [("hidden and system", 0x16), ("$RECYCLE.BIN", 0x16),
                             ("System Volume Information", 0x16), ("hidden", 0x12),
                             ("offline", 0x1010), ("read-only folder", 0x11)]:
        os.mkdir(os.path.join(folder, name))
        write(os.path.join(folder, name, "inside.txt"))
        set_attributes(os.path.join(folder, name), attributes)
    write(os.path.join(folder, "read-only.txt"))
    set_attributes(os.path.join(folder, "read-only.txt"), 0x21)
    with open(os.path.join(folder, "sparse.bin"), "wb") as sparse:
        sparse.truncate(1 << 30)
    write(os.path.join(folder, "streams.txt"), b"main")
    for stream in ("user.Zone.Identifier", "user.second"):
        os.setxattr(os.path.join(folder, "streams.txt"), stream, b"[ZoneTransfer]")
    write(os.path.join(folder, "large.bin"), b"\x5a" * (1 << 20))


SHAPES = {
    "long-path": fill_long_path,
    "past-32767": fill_past_32767,
    "big-folder": fill_big_folder,
    "shrunk-index": fill_shrunk_index,
    "hard-links": fill_hard_links,
    "moves": fill_moves,
    "dos-names": fill_dos_names,
    "posix-names": fill_posix_names,
    "reparse-links": fill_reparse_links,
    "interix-links": fill_interix_links,
    "deleted": fill_deleted,
    "fragmented-mft": fill_fragmented_mft,
    "spread-mft": fill_spread_mft,
    "unicode": fill_unicode,
    "attributes": fill_attributes,
}
# The fragmented table needs a small volume, filled to the brim quickly.
MEGABYTES = {"fragmented-mft": 24, "spread-mft": 40}


def make(path, shapes):
    mkntfs(path, max(MEGABYTES.get(shape, 64) for shape in shapes))
    with Mount(path) as point:
        for shape in shapes:
            top = os.path.join(point, shape)
            os.mkdir(top)
            SHAPES[shape](top)
    volume = Volume(path)
    return {"shapes": shapes, "path": path, "mft_runs": len(volume.mft_runs)}


# ---------------------------------------------------------------- reading
# Just enough NTFS to find the bytes to damage; images here are our own.

def runs_of(data):
    """Decodes mapping pairs into [(lcn or None, clusters)]."""
    runs, at, lcn = [], 0, 0
    while at < len(data) and data[at]:
        header = data[at]
        size_length, offset_length = header & 15, header >> 4
        at += 1
        clusters = int.from_bytes(data[at:at + size_length], "little")
        at += size_length
        if offset_length:
            lcn += int.from_bytes(data[at:at + offset_length], "little", signed=True)
            runs.append((lcn, clusters))
        else:
            runs.append((None, clusters))
        at += offset_length
    return runs


def encode_runs(runs):
    def signed_bytes(value):
        length = 1
        while not -(1 << (8 * length - 1)) <= value < (1 << (8 * length - 1)):
            length += 1
        return value.to_bytes(length, "little", signed=True)

    out, previous = b"", 0
    for lcn, clusters in runs:
        size = clusters.to_bytes((clusters.bit_length() + 7) // 8 or 1, "little")
        offset = b"" if lcn is None else signed_bytes(lcn - previous)
        if lcn is not None:
            previous = lcn
        out += bytes([len(offset) << 4 | len(size)]) + size + offset
    return out + b"\0"


class Record:
    """One file record with its fixups undone; save() writes it back."""

    def __init__(self, volume, number):
        self.volume, self.number = volume, number
        self.offset = volume.record_offset(number)
        with open(volume.path, "rb") as image:
            image.seek(self.offset)
            self.data = bytearray(image.read(volume.record_size))
        usa, count = struct.unpack_from("<HH", self.data, 4)
        self.usa, self.count = usa, count
        for index in range(1, count):
            end = index * volume.sector_size - 2
            self.data[end:end + 2] = self.data[usa + 2 * index:usa + 2 * index + 2]

    def in_use(self):
        return self.data[:4] == b"FILE" and struct.unpack_from("<H", self.data, 0x16)[0] & 1

    def base(self):
        return struct.unpack_from("<Q", self.data, 0x20)[0] & ((1 << 48) - 1)

    def sequence(self):
        return struct.unpack_from("<H", self.data, 0x10)[0]

    def attributes(self):
        """(offset, type, length) of each attribute."""
        at = struct.unpack_from("<H", self.data, 0x14)[0]
        while at + 8 <= len(self.data):
            kind, length = struct.unpack_from("<II", self.data, at)
            if kind == 0xFFFFFFFF or length == 0:
                return
            yield at, kind, length
            at += length

    def value(self, at):
        """A resident attribute's value's offset and length."""
        length, offset = struct.unpack_from("<IH", self.data, at + 0x10)
        return at + offset, length

    def names(self):
        """(parent, name, namespace, value offset) of each $FILE_NAME."""
        for at, kind, _ in self.attributes():
            if kind == 0x30 and not self.data[at + 8]:
                start, _ = self.value(at)
                parent = struct.unpack_from("<Q", self.data, start)[0] & ((1 << 48) - 1)
                length, space = self.data[start + 0x40], self.data[start + 0x41]
                name = self.data[start + 0x42:start + 0x42 + 2 * length].decode("utf-16-le", "replace")
                yield parent, name, space, start

    def save(self, image_path, torn=False):
        data = bytearray(self.data)
        usn = struct.unpack_from("<H", data, self.usa)[0]
        for index in range(1, self.count):
            end = index * self.volume.sector_size - 2
            data[self.usa + 2 * index:self.usa + 2 * index + 2] = data[end:end + 2]
            data[end:end + 2] = struct.pack("<H", usn ^ (0x5A5A if torn and index == 1 else 0))
        with open(image_path, "r+b") as image:
            image.seek(self.offset)
            image.write(data)


class Volume:
    def __init__(self, path):
        self.path = path
        with open(path, "rb") as image:
            boot = image.read(512)
        if boot[3:11] != b"NTFS    ":
            raise ValueError("%s is not an NTFS volume" % path)
        self.sector_size = struct.unpack_from("<H", boot, 0x0B)[0]
        per_cluster = boot[0x0D]
        per_cluster = 1 << (256 - per_cluster) if per_cluster > 0x80 else per_cluster
        self.cluster_size = self.sector_size * per_cluster
        self.clusters = struct.unpack_from("<Q", boot, 0x28)[0] // per_cluster
        self.mft_cluster = struct.unpack_from("<Q", boot, 0x30)[0]
        per_record = struct.unpack_from("<b", boot, 0x40)[0]
        self.record_size = 1 << -per_record if per_record < 0 else per_record * self.cluster_size
        self.mft_runs = [(self.mft_cluster, 1)]
        table = Record(self, 0)
        self.mft_runs = runs_of(self.runs_bytes(table, 0x80))
        self.records = sum(clusters for _, clusters in self.mft_runs) * self.cluster_size // self.record_size

    def runs_bytes(self, record, kind):
        for at, found, length in record.attributes():
            if found == kind and record.data[at + 8]:
                start = at + struct.unpack_from("<H", record.data, at + 0x20)[0]
                return bytes(record.data[start:at + length])
        raise ValueError("record %d has no non-resident attribute 0x%x" % (record.number, kind))

    def record_offset(self, number):
        at = number * self.record_size
        for lcn, clusters in self.mft_runs:
            if at < clusters * self.cluster_size:
                return lcn * self.cluster_size + at
            at -= clusters * self.cluster_size
        raise ValueError("record %d lies past the table" % number)

    def each_record(self):
        for number in range(self.records):
            record = Record(self, number)
            if record.in_use():
                yield record

    def find(self, parent, name):
        for record in self.each_record():
            if any(p == parent and n == name for p, n, _, _ in record.names()):
                return record
        raise ValueError("no %r in record %d" % (name, parent))


# ---------------------------------------------------------------- damage

def damage_torn_fixup(volume, copy):
    # A user file's record whose second sector did not reach the disk.
    record = next(r for r in volume.each_record()
                  if r.number >= 64 and r.base() == 0 and not r.data[0x16] & 2
                  and any(n[2] != 2 for n in r.names()))
    record.save(copy, torn=True)
    return "record %d (%s) torn" % (record.number, next(record.names())[1])


def damage_mft_past_end(volume, copy):
    # The table's last run moved past the volume's last cluster.
    table = Record(volume, 0)
    for at, kind, length in table.attributes():
        if kind == 0x80 and table.data[at + 8]:
            runs_at = struct.unpack_from("<H", table.data, at + 0x20)[0]
            runs = runs_of(bytes(table.data[at + runs_at:at + length]))
            runs[-1] = (volume.clusters + 16, runs[-1][1])
            encoded = encode_runs(runs)
            encoded += b"\0" * (-(runs_at + len(encoded)) % 8)
            attribute = table.data[at:at + runs_at] + encoded
            struct.pack_into("<I", attribute, 4, len(attribute))
            table.data[at:at + length] = attribute
            used = struct.unpack_from("<I", table.data, 0x18)[0] + len(attribute) - length
            struct.pack_into("<I", table.data, 0x18, used)
            table.data[:] = table.data[:volume.record_size].ljust(volume.record_size, b"\0")
            table.save(copy)
            return "the last of %d runs at cluster %d of %d" % (len(runs), runs[-1][0], volume.clusters)
    raise ValueError("the table has no $DATA runs")


def damage_parent_loop(volume, copy):
    # A folder made the child of its own child: the two name each other.
    shape = next(r for r in volume.each_record()
                 if any(p == 5 for p, _, _, _ in r.names()) and r.number >= 64)
    child = next(r for r in volume.each_record()
                 if r.data[0x16] & 2 and any(p == shape.number for p, _, _, _ in r.names()))
    for _, _, _, start in shape.names():
        struct.pack_into("<Q", shape.data, start, child.number | child.sequence() << 48)
    shape.save(copy)
    return "records %d and %d name each other as parent" % (shape.number, child.number)


def damage_attribute_list_loop(volume, copy):
    # Every entry of a file's attribute list sent back to the file's own
    # record, which holds the list: reading the list leads to the list.
    for record in sorted(volume.each_record(), key=lambda r: r.data[0x16] & 2):
        for at, kind, length in record.attributes():
            if kind != 0x20:
                continue
            if record.data[at + 8]:
                runs = runs_of(volume.runs_bytes(record, 0x20))
                size = struct.unpack_from("<Q", record.data, at + 0x30)[0]
                with open(copy, "r+b") as image:
                    lcn, clusters = runs[0]
                    image.seek(lcn * volume.cluster_size)
                    entries = bytearray(image.read(size))
                    loop(entries, record)
                    image.seek(lcn * volume.cluster_size)
                    image.write(entries)
                where = "its non-resident list"
            else:
                start, size = record.value(at)
                entries = record.data[start:start + size]
                loop(entries, record)
                record.data[start:start + size] = entries
                record.save(copy)
                where = "its resident list"
            return "record %d: every entry of %s names the record itself" % (record.number, where)
    raise ValueError("no record has an attribute list")


def loop(entries, record):
    at = 0
    while at + 0x20 <= len(entries):
        length = struct.unpack_from("<H", entries, at + 4)[0]
        if length < 0x20:
            break
        struct.pack_into("<Q", entries, at + 0x10, record.number | record.sequence() << 48)
        at += length


def damage_truncated(volume, copy):
    size = os.path.getsize(copy)
    keep = volume.record_offset(0) + 16 * volume.record_size + volume.record_size // 2
    os.truncate(copy, keep)
    return "cut from %d to %d bytes, in the middle of record 16" % (size, keep)


def damage_random(volume, copy):
    size = os.path.getsize(copy)
    rng = random.Random(size)
    with open(copy, "wb") as image:
        image.write(bytes(rng.getrandbits(8) for _ in range(1 << 20)))
    return "1 MiB of random bytes"


DAMAGE = {
    "torn-fixup": damage_torn_fixup,
    "mft-past-end": damage_mft_past_end,
    "parent-loop": damage_parent_loop,
    "attribute-list-loop": damage_attribute_list_loop,
    "truncated": damage_truncated,
    "random": damage_random,
}


def damage(image, kind, out):
    copy = os.path.join(out, "%s.%s.img" % (os.path.splitext(os.path.basename(image))[0], kind))
    shutil.copyfile(image, copy)
    detail = DAMAGE[kind](Volume(image), copy)
    return {"kind": kind, "path": copy, "from": image, "detail": detail}


def missing_tools():
    if os.geteuid() != 0:
        return "making NTFS images needs root"
    if not os.path.exists("/dev/fuse"):
        return "there is no /dev/fuse"
    for tool in ("mkntfs", "ntfs-3g", "fusermount"):
        if not shutil.which(tool, path=os.environ.get("PATH", "") + ":/usr/sbin:/sbin"):
            return "%s is not installed (Debian: ntfs-3g, fuse3)" % tool
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--out", required=True, help="the folder the images are written to")
    parser.add_argument("--shape", action="append", choices=sorted(SHAPES))
    parser.add_argument("--together", action="store_true", help="every shape in one image")
    parser.add_argument("--damage", action="append", choices=sorted(DAMAGE), default=[])
    parser.add_argument("--from", dest="source", help="damage this image instead of making one")
    options = parser.parse_args()
    os.environ["PATH"] = os.environ.get("PATH", "") + ":/usr/sbin:/sbin"

    os.makedirs(options.out, exist_ok=True)
    made = {"images": [], "damaged": []}
    if options.source:
        bases = [options.source]
    else:
        why = missing_tools()
        if why:
            print("skipped: " + why, file=sys.stderr)
            return SKIP
        shapes = options.shape or sorted(SHAPES)
        groups = [shapes] if options.together else [[shape] for shape in shapes]
        for group in groups:
            name = "all" if options.together else group[0]
            made["images"].append(make(os.path.join(options.out, name + ".img"), group))
        bases = [image["path"] for image in made["images"]]
    for base in bases:
        for kind in options.damage:
            made["damaged"].append(damage(base, kind, options.out))
    json.dump(made, sys.stdout, indent=1)
    print()
    return 0


if __name__ == "__main__":
    sys.exit(main())
