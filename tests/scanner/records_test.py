#!/usr/bin/env python3
"""kestrafin-scan --check writes CSV and JSON records that Python's csv and json
modules read back to exactly what a small reference of our own expects: every
file and folder a destination refuses, its kind and its reasons, and a record
of kind error for each folder that cannot be read, on a tree of hostile names.

Needs KESTRAFIN_SCAN naming the scanner. Run as root, the scanner runs as user
nobody so that a folder of mode 000 cannot be read.
"""
import base64
import csv
import io
import json
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import unicodedata
import unittest

SCAN = os.environ.get("KESTRAFIN_SCAN", "")

# The reference: what the onedrive profile (the sharepoint rules and the
# windows name rules) refuses in a name, as the README states it.
INVALID = set('<>:"/\\|?*') | {chr(code) for code in range(1, 32)}
DEVICES = {"CON", "PRN", "AUX", "NUL"} | {
    port + digit for port in ("COM", "LPT") for digit in "0123456789\u00b9\u00b2\u00b3"}


def units(text):
    return sum(2 if ord(c) > 0xFFFF else 1 for c in text)


def name_reasons(name, folder_in_root):
    reasons = set()
    if any(c in INVALID for c in name):
        reasons.add("invalid_character")
    if name.endswith((" ", ".")):
        reasons.add("trailing_space_or_period")
    if name.startswith(" "):
        reasons.add("leading_space")
    if units(name) > 255:
        reasons.add("name_length")
    lower = name.lower()
    if (name.split(".")[0].rstrip(" ").upper() in DEVICES or lower in (".lock", "desktop.ini")
            or name.startswith("~$") or "_vti_" in lower
            or (folder_in_root and lower == "forms")):
        reasons.add("reserved_name")
    return reasons


def fold(name):
    """Names equal at a destination that ignores case and Unicode form."""
    composed = unicodedata.normalize("NFC", name)
    return "".join(c.upper() if len(c.upper()) == 1 else c for c in composed)


def expected_records(root):
    """(path, kind, reasons) of every entry and unreadable folder below root."""
    records = set()

    def walk(folder, in_root):
        if stat.S_IMODE(os.stat(folder).st_mode) == 0:
            records.add((folder, "error", ("unreadable",)))
            return
        entries = sorted(os.scandir(folder), key=lambda entry: entry.name)
        folded = {}
        for entry in entries:
            name = entry.name.decode("utf-8", "surrogateescape")
            folded.setdefault(fold(name), []).append(entry.name)
        for entry in entries:
            name = entry.name.decode("utf-8", "surrogateescape")
            is_folder = entry.is_dir(follow_symlinks=True)
            reasons = name_reasons(name, in_root and is_folder)
            if len(folded[fold(name)]) > 1:
                reasons.add("collision")
            kind = "link" if is_folder and entry.is_symlink() else (
                "folder" if is_folder else "file")
            if reasons:
                records.add((entry.path, kind, tuple(sorted(reasons))))
            if is_folder:
                walk(entry.path, False)

    walk(root, True)
    return records


def make_tree(top):
    root = os.path.join(top, b"tree")
    hostile = [b'quote"d.txt', b"com,ma.txt", b"line\nbreak", b"cr\r\nlf", b"tab\there",
               "\u00fcml\u00e9".encode(), b"bad\xff\xfe bytes", b"=1+2", b" lead space",
               b"CON.txt", b"trail.", b"Desktop.ini", b"~$Budget.xlsx", b"a_vti_b",
               b"Report.docx", b"report.DOCX", "Caf\u00e9".encode(), "Cafe\u0301".encode(),
               b"ok.txt"]
    for folder in (root, os.path.join(root, b"sub, \"quoted\""),
                   os.path.join(root, b"bad?folder")):
        os.makedirs(folder)
        for name in hostile:
            open(os.path.join(folder, name), "wb").close()
    os.makedirs(os.path.join(root, b"Forms", b"forms"))
    os.makedirs(os.path.join(root, b"REPORT.docx"))
    os.symlink(b"sub, \"quoted\"", os.path.join(root, b"link:"))
    for name in (b"closed", b"shut."):
        os.makedirs(os.path.join(root, name))
        os.chmod(os.path.join(root, name), 0)
    return root


def run_scanner(arguments, scanner=SCAN):
    def as_nobody():
        if os.geteuid() == 0:
            os.setgid(65534)
            os.setuid(65534)

    return subprocess.run([scanner, "-q"] + arguments, capture_output=True, preexec_fn=as_nobody)


class CheckRecords(unittest.TestCase):
    def setUp(self):
        if not os.access(SCAN, os.X_OK):
            self.skipTest("KESTRAFIN_SCAN names no scanner")
        self.top = tempfile.mkdtemp().encode()
        os.chmod(self.top, 0o755)
        # Run as nobody, the scanner must lie where nobody may reach it; a
        # build inside root's home (a checkout in /root) does not.
        self.scanner = SCAN
        if os.geteuid() == 0:
            self.scanner = os.path.join(self.top, b"kestrafin-scan")
            shutil.copy(SCAN, self.scanner)
            os.chmod(self.scanner, 0o755)
        self.root = make_tree(self.top)
        self.expected = expected_records(self.root)

    def tearDown(self):
        subprocess.run(["chmod", "-R", "u+rwx", self.top])
        subprocess.run(["rm", "-rf", self.top])

    def test_csv_reads_back_to_the_reference(self):
        run = run_scanner(["--check", "onedrive", "--format", "csv", self.root], self.scanner)
        self.assertEqual(run.returncode, 1, run.stderr)
        self.assertTrue(run.stdout.startswith(b"\xef\xbb\xbf"))
        text = run.stdout.decode("utf-8-sig", "surrogateescape")
        rows = list(csv.reader(io.StringIO(text, newline=""), strict=True))
        self.assertEqual(rows[0], ["path", "folder_length", "path_length", "kind", "reasons",
                                   "error"])
        got = set()
        for path, folder_length, path_length, kind, reasons, error in rows[1:]:
            self.assertEqual(bool(error), kind == "error", path)
            got.add((path.encode("utf-8", "surrogateescape"), kind,
                     tuple(sorted(reasons.split(" ")))))
        self.assertEqual(len(got), len(rows) - 1, "no record twice")
        self.assertEqual(got, self.expected)

    def test_json_reads_back_to_the_reference(self):
        run = run_scanner(["--check", "onedrive", "--format", "json", self.root], self.scanner)
        self.assertEqual(run.returncode, 1, run.stderr)
        lines = run.stdout.split(b"\n")
        self.assertEqual(lines[-1], b"")
        got = set()
        for line in lines[:-1]:
            record = json.loads(line)
            path = (base64.b64decode(record["path_base64"]) if "path_base64" in record
                    else record["path"].encode())
            self.assertEqual("error" in record, record["kind"] == "error", record)
            got.add((path, record["kind"], tuple(sorted(record["reasons"]))))
        self.assertEqual(len(got), len(lines) - 1, "no record twice")
        self.assertEqual(got, self.expected)


if __name__ == "__main__":
    unittest.main()
