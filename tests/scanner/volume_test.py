#!/usr/bin/env python3
"""kestrafin-scan reading an NTFS image's master file table lists exactly what
it lists walking the ntfs-3g mount of the same image: the same bytes on
standard output, the same words on standard error (but the line naming the
source) and the same exit status, for every rule, profile and output, from
the volume's root and from a folder below it. Damaged copies of an image are
refused with a message and never crash the scanner.

Images come from tools/ntfs_image.py. Needs KESTRAFIN_SCAN naming the
scanner, root, /dev/fuse, mkntfs and ntfs-3g; exits 77 saying which is missing.
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(TOP, "tools"))
import ntfs_image  # noqa: E402

SCAN = os.environ.get("KESTRAFIN_SCAN", "")

VARIANTS = [
    [],
    ["--longer-than", "100"],
    ["--files-longer-than", "150"],
    ["--limit", "windows"],
    ["--limit", "sharepoint"],
    ["--check", "windows"],
    ["--check", "sharepoint", "--format", "csv"],
    ["--check", "onedrive", "--format", "json"],
    ["--check", "windows", "--check", "onedrive", "--longer-than", "50", "--format", "json"],
    ["--format", "json", "--longer-than", "0"],
    ["--summary", "--longer-than", "20"],
    ["--exclude", "*.dat", "--exclude", "L1*", "--longer-than", "0"],
    ["--no-follow", "--longer-than", "0"],
    ["-0", "--files-longer-than", "0"],
    ["--count"],
]
# ntfs-3g's own symbolic links are plain system files to Windows, and so to
# the table; its mount shows them as links.
NOT_COMPARED = {"interix-links"}
# Damage the reader must refuse as a whole; damage to one record, which leaves
# the rest of the volume listed and is reported; damage to what the reader
# need not read (the names an attribute list points to are found by their
# records' base reference), which lists what the whole image lists.
WHOLE = {"mft-past-end", "truncated", "random"}
HARMLESS = {"attribute-list-loop"}
SANITIZERS = re.compile(rb"ERROR: AddressSanitizer|runtime error:|ERROR: LeakSanitizer")
SOURCE_LINE = re.compile(rb"^[Ss]ource: .*\n", re.MULTILINE)


def scan(*arguments):
    done = subprocess.run([SCAN, *arguments], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=600)
    return done.returncode, done.stdout, SOURCE_LINE.sub(b"", done.stderr)


class VolumeAgainstWalk(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="kestrafin-volume-test-", dir="/tmp")
        cls.images = []
        # Each shape in an image of its own, and all in one, whose table the
        # fragmenting shape spreads over many runs.
        compared = [word for shape in sorted(ntfs_image.SHAPES) if shape not in NOT_COMPARED
                    for word in ("--shape", shape)]
        for together in ([], ["--together", *compared]):
            made = subprocess.run([sys.executable, os.path.join(TOP, "tools", "ntfs_image.py"),
                                   "--out", cls.folder, *together], stdout=subprocess.PIPE,
                                  check=True)
            cls.images += json.loads(made.stdout)["images"]
        assert len(cls.images) == len(ntfs_image.SHAPES) + 1, cls.images
        assert cls.images[-1]["mft_runs"] > 1, "the table of all shapes is in one run"

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder, ignore_errors=True)

    def test_every_shape_lists_the_same_through_the_table_as_through_the_mount(self):
        for image in self.images:
            shape = image["shapes"][0]
            if shape in NOT_COMPARED:
                continue
            with ntfs_image.Mount(image["path"], ("ro",)) as point:
                for root in (point, os.path.join(point, shape)):
                    for variant in VARIANTS:
                        with self.subTest(shape=shape, root=root[len(point):] or "/",
                                          variant=" ".join(variant)):
                            walked = scan(*variant, root)
                            read = scan("--source", "volume", "--volume", image["path"],
                                        "--volume-root", point, *variant, root)
                            self.assertFalse(SANITIZERS.search(read[2]), read[2][-2000:])
                            self.assertEqual(read[0], walked[0], read[2][-2000:])
                            self.assertEqual(read[2], walked[2])
                            self.assertEqual(read[1], walked[1])
                # Where the root lies on a local NTFS volume the scanner may
                # read, it chooses the table itself.
                with self.subTest(shape=shape, source="auto"):
                    self.assertEqual(scan("--source", "auto", point), scan(point))
                    chosen = subprocess.run([SCAN, "--source", "auto", "--summary", point],
                                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
                    self.assertRegex(chosen.stderr, re.compile(
                        rb"^[Ss]ource: .*" + re.escape(image["path"].encode()), re.MULTILINE))

    def test_a_damaged_copy_is_refused_or_reported_and_never_crashes_the_scanner(self):
        # Every kind on a file with 41 names; the list loop also on the
        # table's own record, whose runs crowd its name out behind a list.
        for shape, kinds in (("hard-links", sorted(ntfs_image.DAMAGE)),
                             ("spread-mft", ["attribute-list-loop"])):
            base = next(image["path"] for image in self.images if image["shapes"] == [shape])
            whole = scan("--source", "volume", "--volume", base, "--longer-than", "0", "/")
            self.assertEqual(whole[0], 0, whole[2])
            for kind in kinds:
                with self.subTest(shape=shape, damage=kind):
                    copy = ntfs_image.damage(base, kind, self.folder)
                    read = scan("--source", "volume", "--volume", copy["path"], "--longer-than",
                                "0", "/")
                    status, errors = read[0], read[2]
                    self.assertFalse(SANITIZERS.search(errors), errors[-2000:])
                    if kind in HARMLESS:
                        self.assertEqual(read, whole)
                    elif kind in WHOLE:
                        self.assertEqual(status, 2, errors[-2000:])
                        self.assertIn(os.path.basename(copy["path"]).encode(), errors)
                    else:
                        self.assertEqual(status, 1, errors[-2000:])
                        self.assertIn(b"damaged volume", errors)

if __name__ == "__main__":
    why = ntfs_image.missing_tools()
    if not SCAN:
        why = "KESTRAFIN_SCAN names no scanner"
    if why:
        print("skipped: " + why)
        sys.exit(77)
    os.environ["PATH"] = os.environ.get("PATH", "") + ":/usr/sbin:/sbin"
    unittest.main()
