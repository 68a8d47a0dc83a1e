#!/usr/bin/env python3
"""Two weeks of a migration: a tree is scanned with a record, changed by the
script below (names shortened, a folder moved, long names added, a case-only
rename, a folder made unreadable, a name that now collides), and scanned
again. The diff of the two records holds exactly what the script did; the
report's page holds the records' figures; and DuckDB, the engine a team would
point at a folder of records, reads both records to the same counts.

Needs KESTRAFIN_SCAN naming the scanner. Run as root, the scanner runs as user
nobody so that a folder of mode 000 cannot be read. The DuckDB part installs
the npm package @duckdb/node-api into KESTRAFIN_NPM_CACHE (or a folder of its
own) and skips, saying why, where node or the registry cannot be reached.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

SCAN = os.environ.get("KESTRAFIN_SCAN", "")
NPM_FOLDER = os.environ.get("KESTRAFIN_NPM_CACHE", "")

# Names of fifty units: a top folder and three levels below it put the
# deepest folder past 200 units below a root of ROOT_UNITS, and every folder
# above it short of 200, so that only the deepest folders' files are listed.
ROOT_UNITS = 30


def long_name(stem):
    return (stem + "_" + "x" * 50)[:50]


LEVELS = [long_name("level" + str(i)) for i in range(3)]


def deep(top):
    return os.path.join(top, *LEVELS)


def write(folder, names):
    os.makedirs(folder, exist_ok=True)
    for name in names:
        with open(os.path.join(folder, name), "w") as f:
            f.write("x")


def first_week(root):
    write(deep(os.path.join(root, long_name("kept"))), ["keep1.txt", "keep2.txt", "report.txt"])
    write(deep(os.path.join(root, long_name("shortened"))), ["s1.txt", "s2.txt"])
    write(deep(os.path.join(root, long_name("moved_from"))), ["m1.txt", "m2.txt"])
    write(deep(os.path.join(root, long_name("CaseOnly"))), ["c1.txt", "c2.txt"])
    write(deep(os.path.join(root, long_name("closed"))), ["f1.txt"])


def below(top, name):
    return os.path.join(deep(long_name(top)), name)


def second_week(root):
    """Changes the tree; returns what the diff must say of it: the fixed, the
    new and the still failing entries' paths below the root."""
    fixed, new = set(), set()
    still = {below("kept", n) for n in ("keep1.txt", "keep2.txt", "report.txt")}
    # A name that now collides with report.txt where case does not count.
    write(deep(os.path.join(root, long_name("kept"))), ["REPORT.txt"])
    new.add(below("kept", "REPORT.txt"))
    # The top folder's name shortened: its files fit.
    os.rename(os.path.join(root, long_name("shortened")), os.path.join(root, "s"))
    fixed |= {below("shortened", n) for n in ("s1.txt", "s2.txt")}
    # A folder moved elsewhere, still too deep.
    os.rename(os.path.join(root, long_name("moved_from")), os.path.join(root, long_name("moved_to")))
    fixed |= {below("moved_from", n) for n in ("m1.txt", "m2.txt")}
    new |= {below("moved_to", n) for n in ("m1.txt", "m2.txt")}
    # Long names added.
    write(deep(os.path.join(root, long_name("added"))), ["n1.txt", "n2.txt", "n3.txt"])
    new |= {below("added", n) for n in ("n1.txt", "n2.txt", "n3.txt")}
    # A case-only rename is a rename: every file below it is fixed and new.
    os.rename(os.path.join(root, long_name("CaseOnly")), os.path.join(root, long_name("caseonly")))
    fixed |= {below("CaseOnly", n) for n in ("c1.txt", "c2.txt")}
    new |= {below("caseonly", n) for n in ("c1.txt", "c2.txt")}
    # A folder made unreadable: what lay below it is not fixed but unread,
    # and the folder itself is new, as an error.
    os.chmod(os.path.join(root, long_name("closed"), LEVELS[0]), 0)
    unread = {below("closed", "f1.txt")}
    new.add(os.path.join(long_name("closed"), LEVELS[0]))
    return fixed, new, still, unread


def run_as_nobody(command, **kwargs):
    def as_nobody():
        if os.geteuid() == 0:
            os.setgid(65534)
            os.setuid(65534)

    return subprocess.run(command, capture_output=True, preexec_fn=as_nobody, **kwargs)


def unread_folders(lines):
    return {line["relative_path"] for line in lines if line["kind"] == "error"}


def record_lines(path):
    with open(path, encoding="utf-8") as f:
        return [json.loads(line) for line in f]


DUCKDB_QUERY = r"""
import { DuckDBInstance } from '@duckdb/node-api';
const instance = await DuckDBInstance.create(':memory:');
const connection = await instance.connect();
const folder = process.argv[2];
const rows = await connection.runAndReadAll(`
    select scan_id, kind, count(*) as lines
    from read_json('${folder}/*.jsonl', union_by_name = true)
    group by all order by all`);
const roots = await connection.runAndReadAll(`
    select scan_id, root, entries, unreadable
    from read_json('${folder}/*.jsonl', union_by_name = true)
    where kind = 'root' order by all`);
console.log(JSON.stringify({lines: rows.getRowObjectsJson(), roots: roots.getRowObjectsJson()}));
"""


def duckdb_folder():
    """A folder holding @duckdb/node-api, or the reason there is none."""
    if shutil.which("node") is None or shutil.which("npm") is None:
        return None, "node and npm are not installed"
    folder = NPM_FOLDER or os.path.join(tempfile.gettempdir(), "kestrafin-duckdb")
    if not os.path.isdir(os.path.join(folder, "node_modules", "@duckdb", "node-api")):
        os.makedirs(folder, exist_ok=True)
        installed = subprocess.run(["npm", "install", "--no-audit", "--no-fund", "--prefix", folder,
                                    "@duckdb/node-api@1.5.6-r.1"], capture_output=True, text=True,
                                   timeout=600)
        if installed.returncode != 0:
            return None, "npm could not install @duckdb/node-api: " + installed.stderr[-300:]
    return folder, ""


class TwoWeeks(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.access(SCAN, os.X_OK):
            raise unittest.SkipTest("KESTRAFIN_SCAN names no scanner")
        # The root's length decides which folders pass 200 units: short enough
        # in /tmp whatever TMPDIR says.
        cls.top = tempfile.mkdtemp(dir="/tmp" if len(tempfile.gettempdir()) > 20 else None)
        os.chmod(cls.top, 0o755)
        pad = ROOT_UNITS - len(cls.top) - 1
        if pad < 1:
            raise unittest.SkipTest("the temporary folder's path is longer than %d" % ROOT_UNITS)
        cls.root = os.path.join(cls.top, "r" * pad)
        cls.records = os.path.join(cls.top, "scans")
        os.makedirs(cls.records)
        os.chmod(cls.records, 0o777)
        # Run as nobody, the scanner must lie where nobody may reach it.
        cls.scanner = SCAN
        if os.geteuid() == 0:
            cls.scanner = os.path.join(cls.top, "kestrafin-scan")
            shutil.copy(SCAN, cls.scanner)
            os.chmod(cls.scanner, 0o755)
        first_week(cls.root)
        cls.old = cls.scan("week1")
        cls.fixed, cls.new, cls.still, cls.unread = second_week(cls.root)
        cls.new_record = cls.scan("week2")

    @classmethod
    def scan(cls, name):
        record = os.path.join(cls.records, name + ".jsonl")
        run = run_as_nobody([cls.scanner, "-q", "--check", "windows", "--longer-than", "200",
                             "--record", record, cls.root])
        # The second week holds a folder that cannot be read.
        assert run.returncode in (0, 1), run.stderr
        return record

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["chmod", "-R", "u+rwx", cls.top])
        shutil.rmtree(cls.top, ignore_errors=True)

    def diff(self, *options):
        return subprocess.run([self.scanner, "diff", *options, self.old, self.new_record],
                              capture_output=True)

    def test_the_diff_holds_exactly_what_the_script_did(self):
        run = self.diff("--format", "json")
        self.assertEqual(run.returncode, 1, run.stderr)
        changes = [json.loads(line) for line in run.stdout.splitlines()]
        by_change = {}
        for change in changes:
            self.assertEqual(change["root"], self.root)
            by_change.setdefault(change["change"], set()).add(change["relative_path"])
        self.assertEqual(by_change.get("fixed"), self.fixed)
        self.assertEqual(by_change.get("new"), self.new)
        self.assertEqual(by_change.get("still"), self.still)
        self.assertEqual(by_change.get("unread"), self.unread)
        self.assertEqual(len(changes), len(self.fixed) + len(self.new) + len(self.still) +
                         len(self.unread))
        gained = {c["relative_path"]: c.get("reasons_gained") for c in changes
                  if c["change"] == "still"}
        self.assertEqual(gained[below("kept", "report.txt")], ["collision"])
        self.assertEqual(gained[below("kept", "keep1.txt")], [])

    def test_the_records_say_what_each_scan_saw(self):
        old, new = record_lines(self.old), record_lines(self.new_record)
        for lines in (old, new):
            self.assertEqual([lines[0]["kind"], lines[-2]["kind"], lines[-1]["kind"]],
                             ["scan", "root", "end"])
        entries = lambda lines: {l["relative_path"] for l in lines
                                 if l["kind"] in ("file", "folder", "link")}
        self.assertEqual(entries(old) - entries(new), self.fixed | self.unread)
        self.assertEqual(entries(new) - entries(old) | unread_folders(new), self.new)
        unreadable = sorted(unread_folders(new))
        self.assertEqual(unreadable, [os.path.join(long_name("closed"), LEVELS[0])])
        self.assertEqual(new[-2]["unreadable"], 1)
        self.assertEqual(new[-2]["end"], "incomplete")

    def test_the_report_shows_the_records_figures(self):
        page = os.path.join(self.top, "report.html")
        run = subprocess.run([self.scanner, "report", self.old, self.new_record, "-o", page],
                             capture_output=True)
        self.assertEqual(run.returncode, 0, run.stderr)
        with open(page, encoding="utf-8") as f:
            text = f.read()
        self.assertNotIn("<script", text)
        left = record_lines(self.new_record)[-1]["entries"]
        self.assertIn("entries: <b>%d</b>" % left, text)
        self.assertIn("%d fixed" % len(self.fixed), text)
        self.assertIn("%d new" % len(self.new), text)

    def test_the_report_never_writes_over_one_of_its_records(self):
        with open(self.old, "rb") as f:
            before = f.read()
        second_name = os.path.join(self.top, "second-name.html")
        os.link(self.old, second_name)
        self.addCleanup(os.remove, second_name)
        spelled = os.path.join(self.records, ".", os.path.basename(self.old))
        for output in (spelled, second_name):
            run = subprocess.run([self.scanner, "report", self.old, "-o", output],
                                 capture_output=True)
            self.assertEqual(run.returncode, 2, output)
            self.assertIn(b"is one of the records", run.stderr)
        with open(self.old, "rb") as f:
            self.assertEqual(f.read(), before)

    def test_duckdb_reads_the_records_as_our_reader_does(self):
        folder, reason = duckdb_folder()
        if folder is None:
            self.skipTest(reason)
        script = os.path.join(folder, "count_records.mjs")
        with open(script, "w") as f:
            f.write(DUCKDB_QUERY)
        run = subprocess.run(["node", script, self.records], capture_output=True, text=True,
                             cwd=folder, timeout=300)
        self.assertEqual(run.returncode, 0, run.stderr)
        counted = json.loads(run.stdout)
        ours = {}
        for record in (self.old, self.new_record):
            for line in record_lines(record):
                key = (line["scan_id"], line["kind"])
                ours[key] = ours.get(key, 0) + 1
        theirs = {(row["scan_id"], row["kind"]): int(row["lines"]) for row in counted["lines"]}
        self.assertEqual(theirs, ours)
        # The root lines' totals, which our reader checks against the lines.
        for row in counted["roots"]:
            kinds = [k for (scan, k) in ours if scan == row["scan_id"]]
            entries = sum(ours[(row["scan_id"], k)] for k in kinds if k in ("file", "folder", "link"))
            self.assertEqual(int(row["entries"]), entries)
            self.assertEqual(int(row["unreadable"]), ours.get((row["scan_id"], "error"), 0))
        same = subprocess.run([self.scanner, "diff", self.old, self.old], capture_output=True)
        self.assertEqual(same.returncode, 0, same.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
