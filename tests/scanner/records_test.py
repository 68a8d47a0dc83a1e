#!/usr/bin/env python3
"""kestrafin-scan --check writes CSV and JSON records that Python's csv and json
modules read back to exactly what a small reference of our own expects: every
file and folder a destination refuses, its kind and its reasons, and a record
of kind error for each folder that cannot be read, on a tree of hostile names.
Its --record file holds the lines docs/record-format.md gives, each key of its
type, in the order given, with counts that agree with the lines.

Needs KESTRAFIN_SCAN naming the scanner. Run as root, the scanner runs as user
nobody so that a folder of mode 000 cannot be read.
"""
import base64
import csv
import io
import json
import os
import re
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


TEXT, INT, BOOL, LIST, DICT, NUMBER = str, int, bool, list, dict, (int, float)
ENTRY = {"root": TEXT, "relative_path": TEXT, "path": TEXT, "folder_length": INT,
         "path_length": INT, "reasons": LIST}
# kind: (keys every line of it has, keys it may have)
LINES = {
    "scan": ({"format": INT, "program": TEXT, "version": TEXT, "host": TEXT, "user": TEXT,
              "started": TEXT, "roots": LIST, "rules": DICT, "checks": LIST, "reasons": LIST,
              "excludes": LIST, "threads": INT, "follow_links": BOOL, "one_file_system": BOOL,
              "include_offline": BOOL}, {"target_prefix": TEXT}),
    "file": (ENTRY, {"target_path": TEXT}),
    "folder": (ENTRY, {"target_path": TEXT}),
    "link": (ENTRY, {"target_path": TEXT}),
    "error": (dict(ENTRY, error=TEXT, error_number=INT), {"target_path": TEXT}),
    "root": ({"root": TEXT, "end": TEXT, "exit_status": INT, "folders_read": INT,
              "files_seen": INT, "entries": INT, "entries_by_reason": DICT, "unreadable": INT,
              "not_entered": DICT, "folders_to_act_on": LIST, "seconds": NUMBER},
             {"error": TEXT}),
    "end": ({"finished": TEXT, "seconds": NUMBER, "stopped": BOOL, "entries": INT,
             "unreadable": INT, "exit_status": INT}, {}),
}
NOT_ENTERED = {"cycle", "link_web", "kernel_file_system", "other_machine", "offline", "link",
               "other_volume", "system_folder", "too_many_links"}
TIME = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")


def exact(line, key):
    """The exact bytes of a text key."""
    if key + "_base64" in line:
        return base64.b64decode(line[key + "_base64"])
    return line[key].encode()


class CheckRecordFile(unittest.TestCase):
    setUp = CheckRecords.setUp
    tearDown = CheckRecords.tearDown

    def check_types(self, line):
        required, optional = LINES[line["kind"]]
        self.assertRegex(line["scan_id"], "^[0-9a-f]{32}$")
        for key, kind in required.items():
            self.assertIn(key, line, line)
            # JSON's true is no integer here.
            self.assertTrue(isinstance(line[key], kind) and
                            (kind is BOOL or not isinstance(line[key], bool)), (key, line))
        allowed = set(required) | set(optional) | {"kind", "scan_id"}
        for key in list(allowed):
            allowed.add(key + "_base64")
        self.assertLessEqual(set(line), allowed, line)
        for key, kind in optional.items():
            if key in line:
                self.assertIsInstance(line[key], kind)

    def test_record_lines_match_the_format(self):
        missing = os.path.join(self.top, b"missing")
        other = os.path.join(self.top, b"other")
        os.makedirs(os.path.join(other, b"x" * 120, b"y" * 100))
        open(os.path.join(other, b"x" * 120, b"y" * 100, b"deep.txt"), "wb").close()
        records = os.path.join(self.top, b"records")
        os.makedirs(records)
        os.chmod(records, 0o777)
        prefix = "https://contoso.sharepoint.com/sites/HR/Shared%20Documents"
        run = run_scanner(["--check", "onedrive", "--longer-than", "200", "--target-prefix",
                           prefix, "--exclude", "*.tmp", "--record",
                           os.path.join(records, b"scan-{root}.jsonl"), self.root, missing,
                           other], self.scanner)
        self.assertEqual(run.returncode, 2, run.stderr)
        name = b"scan-" + self.root.strip(b"/").replace(b"/", b"_") + b"+2.jsonl"
        self.assertEqual(os.listdir(records), [name])
        data = open(os.path.join(records, name), "rb").read()
        self.assertFalse(data.startswith(b"\xef\xbb\xbf"))
        text = data.decode("utf-8")
        self.assertTrue(text.endswith("\n"))
        lines = [json.loads(line) for line in text[:-1].split("\n")]
        for line in lines:
            self.check_types(line)
        scan, end = lines[0], lines[-1]
        self.assertEqual((scan["kind"], end["kind"]), ("scan", "end"))
        self.assertEqual({line["scan_id"] for line in lines}, {scan["scan_id"]})
        self.assertEqual((scan["format"], scan["program"]), (1, "kestrafin-scan"))
        self.assertRegex(scan["started"], TIME)
        self.assertRegex(end["finished"], TIME)
        roots = [self.root, missing, other]
        self.assertEqual([root.encode() for root in scan["roots"]], roots)
        self.assertEqual(scan["rules"], {"folder_longer_than": 200, "path_longer_than": 400})
        self.assertEqual(scan["checks"], ["onedrive"])
        self.assertEqual(scan["target_prefix"], prefix)
        self.assertEqual(scan["excludes"], ["*.tmp"])
        self.assertEqual(scan["reasons"][-1], "unreadable")

        # Each root's lines together, in the order of the roots, its root line last.
        groups, group = [], []
        for line in lines[1:-1]:
            group.append(line)
            if line["kind"] == "root":
                groups.append(group)
                group = []
        self.assertEqual(group, [])
        self.assertEqual([exact(group[-1], "root") for group in groups], roots)
        got = set()
        for root, group in zip(roots, groups):
            closing = group[-1]
            entries = [line for line in group[:-1] if line["kind"] != "error"]
            errors = [line for line in group[:-1] if line["kind"] == "error"]
            self.assertEqual(closing["entries"], len(entries))
            self.assertEqual(closing["unreadable"], len(errors))
            self.assertEqual(set(closing["entries_by_reason"]), set(scan["reasons"]))
            for code, count in closing["entries_by_reason"].items():
                self.assertEqual(count, sum(code in line["reasons"] for line in entries), code)
            self.assertEqual(set(closing["not_entered"]), NOT_ENTERED)
            for folder in closing["folders_to_act_on"]:
                self.assertEqual(set(folder), {"relative_path", "entries", "units_to_lose"})
            for line in group[:-1]:
                self.assertEqual(exact(line, "root"), root)
                relative = exact(line, "relative_path")
                self.assertEqual(exact(line, "path"), root + (b"/" + relative if relative else b""))
                self.assertFalse(relative.startswith(b"/"))
                order = [scan["reasons"].index(code) for code in line["reasons"]]
                self.assertEqual(order, sorted(order), line)
                self.assertIn("target_path", line)
                if root == self.root:
                    got.add((exact(line, "path"), line["kind"], tuple(sorted(line["reasons"]))))
        self.assertEqual(got, self.expected)
        ends = [group[-1]["end"] for group in groups]
        self.assertEqual(ends, ["incomplete", "not_walked", "complete"])
        self.assertEqual([group[-1]["exit_status"] for group in groups], [1, 2, 0])
        self.assertIn("error", groups[1][-1])
        self.assertNotIn("error", groups[0][-1])
        self.assertEqual(groups[2][-1]["entries_by_reason"]["folder_length"], 1)
        self.assertEqual(groups[2][-1]["files_seen"], 1)
        self.assertEqual(end["entries"], sum(group[-1]["entries"] for group in groups))
        self.assertEqual(end["unreadable"], sum(group[-1]["unreadable"] for group in groups))
        self.assertEqual((end["exit_status"], end["stopped"]), (2, False))

    def test_files_seen_are_the_summarys_without_every_file_handed_on(self):
        records = os.path.join(self.top, b"records")
        os.makedirs(records)
        os.chmod(records, 0o777)
        record = os.path.join(records, b"plain.jsonl")
        for excludes in ([], ["--exclude", "*.txt"]):
            run_scanner(excludes + ["--record", record, self.root], self.scanner)
            closing = [json.loads(line) for line in open(record, "rb")][-2]
            summary = run_scanner(excludes + ["--summary", "--count", self.root],
                                  self.scanner).stdout.decode("utf-8", "replace")
            seen = int(re.search(r"^files seen: (\d+)$", summary, re.M).group(1))
            self.assertEqual(closing["files_seen"], seen, excludes)
            self.assertGreater(seen, 0)


if __name__ == "__main__":
    unittest.main()
